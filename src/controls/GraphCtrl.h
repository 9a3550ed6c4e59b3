// A simple vertical bar chart: a light background, a value axis on the left with major and minor
// ticks and integer labels, a category axis along the bottom, one coloured bar per entry with a
// label under it, and the unit caption ("%s =>") written upwards. The owner sets the range, the
// step, the colours and the label switch, fills the bars and calls DrawGraph.
//
// A range smaller than one step, or fewer than 2 pixels per step, draws the axes only.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "controls/ColorRef.h"

struct BAR_DATA {
    int value = 0;
    COLORREF color = 0;
    QString label;  // at most 255 characters
};

class CGraphCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CGraphCtrl(QWidget* parent = nullptr);

    // Appends a bar; returns the number of bars.
    int AddBar(int value, COLORREF color, const QString& label);
    void RemoveAllBars() { m_Bars.clear(); }
    const std::vector<BAR_DATA>& Bars() const { return m_Bars; }

    // The unit caption (at most 15 characters).
    void SetTitle(const QString& title);
    QString GetTitle() const { return m_strUnit; }
    void SetRange(int minimum, int maximum);
    void SetStep(int step) { m_nStep = step; }
    void SetShowLabels(int show) { m_bShowLabels = show; }
    void SetBackgroundColor(COLORREF color) { m_crBackground = color; }
    void SetAxisColor(COLORREF color) { m_crAxis = color; }
    void SetTextColor(COLORREF color) { m_crText = color; }

    // Pixels per step for a chart of that height (even); 0 when the chart draws the axes only.
    int PixelsPerStep(int height) const;

    // Repaints the control.
    void DrawGraph();
    // Paints the chart, size pixels large, into the painter.
    void DrawGraph(QPainter& painter, const QSize& size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<BAR_DATA> m_Bars;
    QString m_strUnit = QStringLiteral("cm");
    int m_nStep = 5;
    int m_nLeftMargin = 50;
    int m_nBottomMargin = 40;
    int m_bShowLabels = 1;
    int m_nMin = 0;
    int m_nMax = 100;
    COLORREF m_crBackground = kv::Rgb(224, 231, 240);
    COLORREF m_crAxis = kv::Rgb(0, 0, 0);
    COLORREF m_crText = kv::Rgb(0, 0, 0);
};
