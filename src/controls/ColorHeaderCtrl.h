// The header of a list whose columns each show a colour: a coloured column is painted in its
// colour with its title in black or white, whichever contrasts; other columns look as usual.
// The list sets a column's colour when the operator picks one and removes it with the column.
#pragma once

#include <QHeaderView>
#include <map>

#include "controls/ColorRef.h"

class CColorHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CColorHeaderCtrl(QWidget* parent = nullptr);

    // Stores the colour of the column and repaints; a negative column is ignored.
    void SetColumnColor(int column, COLORREF color);
    // Removes the column's colour, the colours of the columns after it moving down by one, as the
    // columns themselves do when the column is deleted. Non-zero when an entry was removed; a
    // column beyond the highest coloured one, or a negative one, removes nothing.
    int RemoveColumnColor(int column);
    // The column's colour, 0 when it has none.
    COLORREF GetColumnColor(int column) const;
    bool HasColumnColor(int column) const { return m_colors.count(column) != 0; }
    // The colour of the column's title: black on a light colour (R + G + B >= 384), else white.
    COLORREF GetTitleColor(int column) const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    virtual void DrawItem(QPainter& painter, const QRect& rect, int logicalIndex) const;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::map<int, COLORREF> m_colors;
    int m_nPressed = -1;
};
