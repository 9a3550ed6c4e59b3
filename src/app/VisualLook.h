// The visual styles the operator picks from (command ids 205 to 219): each is the Fusion style of
// Qt with a palette of its own and the colours the ribbon paints itself with.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

struct CVisualLook {
    int id = 0;  // the look actually applied (an unknown id becomes an Office 2007 look)
    QPalette palette;
    QColor frame;  // behind the category tabs and around the page
    QColor tabText;
    QColor activeTab;  // the selected tab, joined to the page
    QColor pageTop;
    QColor pageBottom;
    QColor panelBorder;
    QColor panelCaption;  // the band with the panel's name
    QColor panelCaptionText;
    QColor appButton;  // the application button ("File")
    QColor hoverBorder;
    QColor hoverTop;
    QColor hoverBottom;
    QColor pressed;
    bool flat = false;  // the Windows 7 ribbon: flat panels, no gradients
};

// The look of a command id. Ids outside 205 to 210 and 215 to 219 give the Office 2007 look of
// the Office 2007 colour last used (blue until one is picked).
CVisualLook KvVisualLook(int id);
