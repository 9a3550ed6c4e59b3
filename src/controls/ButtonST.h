// The push button of every dialog: drawn flat with an icon beside its caption, its edge raised
// while the mouse is over it and sunk while it is pressed, with an optional tooltip.
//
// Icons are given as pixmaps or by the resource numbers of KvIcons.h. The second icon is the one
// shown while the button is disabled; without it the normal icon shows in every state, undimmed.
// A checkable button (Qt's check-box mode) toggles on each click and draws itself sunk while
// checked. A double click acts as two clicks.
#pragma once

#include <QPixmap>
#include <QPushButton>

#include "controls/ColorRef.h"

class CButtonST : public QPushButton {
    Q_OBJECT
public:
    explicit CButtonST(QWidget* parent = nullptr);
    explicit CButtonST(const QString& text, QWidget* parent = nullptr);

    // Replaces the icons; returns 0 on success, 1 (and no icon at all) when the normal icon is
    // missing. A null disabled icon leaves the normal icon for every state.
    int SetIcon(const QPixmap& normal, const QPixmap& disabled = QPixmap());
    // The icons of those numbers (KvIcons.h); disabledId 0 gives none. An unknown number fails.
    int SetIcon(int normalId, int disabledId = 0);
    // Sets the tooltip text; a null text is ignored.
    void SetTooltipText(const QString& text);
    // The flat look draws an edge only under the mouse or while pressed; the other look always
    // draws the edge and shows the focus.
    void SetFlat(bool flat);
    bool IsFlat() const { return m_bIsFlat; }
    bool IsMouseOver() const { return m_bMouseOnButton; }
    const QPixmap& NormalIcon() const { return m_icons[0]; }
    // The icon the button draws in its present state (null when it has none).
    const QPixmap& CurrentIcon() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

    virtual void OnDrawBackground(QPainter& painter, const QRect& rect);
    virtual void OnDrawBorder(QPainter& painter, const QRect& rect);
    virtual void PaintIcon(QPainter& painter, const QRect& rect, QRect* captionRect);
    virtual void PaintText(QPainter& painter, const QRect& captionRect);

private:
    enum ColorIndex { BK_HOT, FG_HOT, BK_FOCUS, FG_FOCUS, BK_PLAIN, FG_PLAIN, COLOR_COUNT };

    void Init();
    void SetDefaultColors();
    void MouseLeft();
    void MoveFocusAway();
    bool IsPressedLook() const;
    COLORREF BackColor() const;
    COLORREF TextColor() const;

    bool m_bIsFlat = true;
    bool m_bDrawBorder = true;
    bool m_bMouseOnButton = false;
    COLORREF m_crColors[COLOR_COUNT] = {};
    QPoint m_ptPressedOffset{1, 1};
    int m_nIconMargin = 3;
    QPixmap m_icons[2];
};
