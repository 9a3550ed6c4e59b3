// Plain Qt stand-ins for the owner-drawn button and the hyperlink of the controls library, with
// the calls the About and User Data dialogs make. They live in a namespace of their own so that
// they never meet the real classes in one program; a dialog takes them with a using-declaration.
#pragma once

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace kvstandin {

class CButtonST : public QPushButton {
public:
    using QPushButton::QPushButton;

    // Returns 0 on success, 1 (and no icon) when the normal icon is missing.
    int SetIcon(const QPixmap& normal, const QPixmap& disabled = QPixmap()) {
        if (normal.isNull()) {
            setIcon(QIcon());
            return 1;
        }
        QIcon icon(normal);
        if (!disabled.isNull()) {
            icon.addPixmap(disabled, QIcon::Disabled);
        }
        setIcon(icon);
        setIconSize(normal.size());
        return 0;
    }
};

class CHyperLink : public QLabel {
public:
    explicit CHyperLink(QWidget* parent = nullptr) : QLabel(parent) {
        setTextFormat(Qt::RichText);
        setOpenExternalLinks(true);
    }

    void SetURL(const QString& url) {
        m_url = url;
        Refresh();
    }
    QString GetURL() const { return m_url; }
    void setText(const QString& text) {
        m_text = text;
        Refresh();
    }
    QString text() const { return m_text; }

private:
    void Refresh() {
        QLabel::setText(
            QStringLiteral("<a href=\"%1\">%2</a>").arg(m_url.toHtmlEscaped(), m_text.toHtmlEscaped()));
        setToolTip(m_url);
    }

    QString m_url;
    QString m_text;
};

}  // namespace kvstandin
