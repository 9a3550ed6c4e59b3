// A text that looks and acts like a web link: hand cursor, a colour change and an underline under
// the mouse, the target as its tooltip, and on click the target opened with the desktop's
// handler, after which clicked() tells the owner (also when there is no target). A disabled link
// paints greyed and neither opens nor notifies. It sizes itself to its text when first shown.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include "controls/ColorRef.h"

class CHyperLink : public QWidget {
    Q_OBJECT
public:
    explicit CHyperLink(QWidget* parent = nullptr);
    CHyperLink(const QString& text, QWidget* parent = nullptr);

    void InitLink();
    // Replaces the target (an empty text clears it); it is also the tooltip.
    void SetURL(const QString& url);
    QString GetURL() const { return m_strURL; }
    void setText(const QString& text);
    QString text() const { return m_strCaption; }
    // The colour the text paints in now.
    COLORREF CurrentTextColor() const;
    bool IsHovering() const { return m_bHover != 0; }
    bool IsPressed() const { return m_bPressed != 0; }

    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void StartHover(bool leftButtonDown);
    bool IsDisabled() const { return !isEnabled(); }

    QString m_strCaption;
    QString m_strURL;
    int m_bUnderlineAlways = 0;
    int m_bOpenOnClick = 1;
    int m_bTextOffset = 0;
    QFont m_Font;
    COLORREF m_crLink = 0;
    COLORREF m_crHover = 0;
    COLORREF m_crPressed = 0;
    COLORREF m_crBackground = 0;
    int m_nIconFlags = 0;
    int m_bHover = 0;
    int m_bPressed = 0;
    int m_bSizePending = 1;
};
