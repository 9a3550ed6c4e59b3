// A push button that shows a colour on its face; a click lets the operator choose another one in
// the colour chooser, which runs through the interaction service (so a test answers it as it
// answers any modal dialog).
//
//     KvColorButton m_btnColor;
//     m_btnColor.SetColor(kv::Rgb(0, 0, 255));
//     connect(&m_btnColor, &KvColorButton::ColorChanged, this, [](COLORREF c) { ... });
//     COLORREF chosen = m_btnColor.GetColor();
//
// Colours are COLORREF values 0x00BBGGRR; the high byte is always 0.
#pragma once

#include <QPushButton>

#include "controls/ColorRef.h"

class KvColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit KvColorButton(QWidget* parent = nullptr);

    COLORREF GetColor() const { return m_color; }
    // Shows the colour; the program's own change does not emit ColorChanged.
    void SetColor(COLORREF colour);
    // Opens the colour chooser on the colour shown; on OK the chosen colour is shown and, when it
    // differs, ColorChanged is emitted. A click runs this. Answers true when the chooser was
    // confirmed.
    bool ChooseColor();

    QSize sizeHint() const override;

signals:
    // The operator chose a colour other than the one shown.
    void ColorChanged(COLORREF colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    COLORREF m_color = 0;
};
