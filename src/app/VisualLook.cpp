#include "app/VisualLook.h"

#include "platform/ui/CommandIds.h"

namespace {

int g_office2007 = ID_VIEW_APPLOOK_OFF_2007_BLUE;

QPalette MakePalette(const QColor& window, const QColor& base, const QColor& text, const QColor& button,
                     const QColor& highlight) {
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, base.darker(104));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe1));
    p.setColor(QPalette::ToolTipText, Qt::black);
    p.setColor(QPalette::Link, highlight.darker(120));
    p.setColor(QPalette::Disabled, QPalette::WindowText, text.lighter(260));
    p.setColor(QPalette::Disabled, QPalette::Text, text.lighter(260));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, text.lighter(260));
    return p;
}

// The ribbon colours of a light look derived from its page colour.
CVisualLook Light(int id, const QColor& frame, const QColor& pageTop, const QColor& pageBottom,
                  const QColor& border, const QColor& highlight) {
    CVisualLook look;
    look.id = id;
    look.frame = frame;
    look.tabText = QColor(0x15, 0x42, 0x8b);
    look.activeTab = pageTop;
    look.pageTop = pageTop;
    look.pageBottom = pageBottom;
    look.panelBorder = border;
    look.panelCaption = border.lighter(125);
    look.panelCaptionText = QColor(0x15, 0x42, 0x8b);
    look.appButton = highlight;
    look.hoverBorder = QColor(0xdb, 0xce, 0x99);
    look.hoverTop = QColor(0xff, 0xfb, 0xe6);
    look.hoverBottom = QColor(0xff, 0xe0, 0x8a);
    look.pressed = QColor(0xfb, 0xb2, 0x5c);
    look.palette = MakePalette(pageBottom, Qt::white, Qt::black, pageTop, highlight);
    return look;
}

}  // namespace

CVisualLook KvVisualLook(int id) {
    switch (id) {
        case ID_VIEW_APPLOOK_WIN_2000: {
            CVisualLook l =
                Light(id, QColor(0xd4, 0xd0, 0xc8), QColor(0xe8, 0xe6, 0xe1), QColor(0xd4, 0xd0, 0xc8),
                      QColor(0x9d, 0x9a, 0x93), QColor(0x0a, 0x24, 0x6a));
            l.tabText = l.panelCaptionText = Qt::black;
            l.hoverBorder = QColor(0x0a, 0x24, 0x6a);
            l.hoverTop = l.hoverBottom = QColor(0xb6, 0xbd, 0xd2);
            l.pressed = QColor(0x85, 0x92, 0xb5);
            return l;
        }
        case ID_VIEW_APPLOOK_OFF_XP: {
            CVisualLook l =
                Light(id, QColor(0xee, 0xed, 0xe8), QColor(0xfa, 0xfa, 0xf8), QColor(0xe9, 0xe8, 0xe2),
                      QColor(0xa7, 0xa6, 0xaa), QColor(0x31, 0x6a, 0xc5));
            l.hoverBorder = QColor(0x31, 0x6a, 0xc5);
            l.hoverTop = l.hoverBottom = QColor(0xc1, 0xd2, 0xee);
            l.pressed = QColor(0x98, 0xb5, 0xe2);
            return l;
        }
        case ID_VIEW_APPLOOK_WIN_XP:
            return Light(id, QColor(0xec, 0xe9, 0xd8), QColor(0xfb, 0xfa, 0xf3), QColor(0xe5, 0xe1, 0xcc),
                         QColor(0xa5, 0x9f, 0x85), QColor(0x31, 0x6a, 0xc5));
        case ID_VIEW_APPLOOK_OFF_2003:
            return Light(id, QColor(0x9e, 0xbe, 0xf5), QColor(0xe3, 0xef, 0xff), QColor(0xc4, 0xda, 0xfa),
                         QColor(0x7a, 0x96, 0xdf), QColor(0x2a, 0x59, 0xc4));
        case ID_VIEW_APPLOOK_VS_2005:
            return Light(id, QColor(0xd8, 0xd6, 0xc9), QColor(0xfc, 0xfc, 0xfa), QColor(0xec, 0xea, 0xe0),
                         QColor(0xa8, 0xa5, 0x97), QColor(0x31, 0x6a, 0xc5));
        case ID_VIEW_APPLOOK_VS_2008:
            return Light(id, QColor(0xbf, 0xcd, 0xdf), QColor(0xf5, 0xf8, 0xfc), QColor(0xdd, 0xe6, 0xf1),
                         QColor(0x9d, 0xb1, 0xcb), QColor(0x33, 0x66, 0xb0));
        case ID_VIEW_APPLOOK_OFF_2007_BLUE:
        case ID_VIEW_APPLOOK_OFF_2007_BLACK:
        case ID_VIEW_APPLOOK_OFF_2007_SILVER:
        case ID_VIEW_APPLOOK_OFF_2007_AQUA:
            g_office2007 = id;
            break;
        case ID_VIEW_APPLOOK_WINDOWS_7: {
            CVisualLook l =
                Light(id, QColor(0xdf, 0xe9, 0xf5), QColor(0xff, 0xff, 0xff), QColor(0xf5, 0xf6, 0xf7),
                      QColor(0xda, 0xdb, 0xdc), QColor(0x19, 0x6e, 0xc7));
            l.flat = true;
            l.tabText = l.panelCaptionText = QColor(0x1e, 0x39, 0x5b);
            l.panelCaption = QColor(0xf5, 0xf6, 0xf7);
            l.hoverBorder = QColor(0xa8, 0xca, 0xec);
            l.hoverTop = l.hoverBottom = QColor(0xe5, 0xf1, 0xfb);
            l.pressed = QColor(0xc4, 0xdd, 0xf5);
            return l;
        }
        default:
            break;
    }
    switch (g_office2007) {
        case ID_VIEW_APPLOOK_OFF_2007_BLACK: {
            CVisualLook l =
                Light(ID_VIEW_APPLOOK_OFF_2007_BLACK, QColor(0x53, 0x53, 0x53), QColor(0xf0, 0xf0, 0xf0),
                      QColor(0xd3, 0xd3, 0xd3), QColor(0x9a, 0x9a, 0x9a), QColor(0x4b, 0x4b, 0x4b));
            l.tabText = Qt::white;
            l.panelCaptionText = QColor(0x30, 0x30, 0x30);
            l.appButton = QColor(0x2e, 0x2e, 0x2e);
            l.palette = MakePalette(QColor(0xd3, 0xd3, 0xd3), Qt::white, Qt::black, QColor(0xe6, 0xe6, 0xe6),
                                    QColor(0x4b, 0x6e, 0xaf));
            return l;
        }
        case ID_VIEW_APPLOOK_OFF_2007_SILVER: {
            CVisualLook l =
                Light(ID_VIEW_APPLOOK_OFF_2007_SILVER, QColor(0xd0, 0xd4, 0xdd), QColor(0xf8, 0xf9, 0xfa),
                      QColor(0xdd, 0xe1, 0xe7), QColor(0xa4, 0xa9, 0xb3), QColor(0x5d, 0x6b, 0x85));
            l.tabText = l.panelCaptionText = QColor(0x3b, 0x3b, 0x3b);
            return l;
        }
        case ID_VIEW_APPLOOK_OFF_2007_AQUA: {
            CVisualLook l =
                Light(ID_VIEW_APPLOOK_OFF_2007_AQUA, QColor(0xb0, 0xc8, 0xd8), QColor(0xf0, 0xf6, 0xfa),
                      QColor(0xcb, 0xdc, 0xe8), QColor(0x8b, 0xa8, 0xbf), QColor(0x2f, 0x7a, 0x9e));
            l.tabText = l.panelCaptionText = QColor(0x1d, 0x4a, 0x63);
            return l;
        }
        default: {
            CVisualLook l =
                Light(ID_VIEW_APPLOOK_OFF_2007_BLUE, QColor(0xbf, 0xdb, 0xff), QColor(0xf0, 0xf6, 0xff),
                      QColor(0xc7, 0xdc, 0xf5), QColor(0x8d, 0xb2, 0xe3), QColor(0x1f, 0x5b, 0xb3));
            return l;
        }
    }
}
