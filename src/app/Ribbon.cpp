#include "app/Ribbon.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/AppIcons.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/MainWindowService.h"

namespace {

constexpr int kTabRowHeight = 25;
constexpr int kSmallHeight = 22;
constexpr int kSmallRows = 3;
constexpr int kCaptionHeight = 16;
constexpr int kPageHeight = kSmallRows * kSmallHeight + kCaptionHeight + 14;
constexpr int kLargeIcon = 32;
constexpr int kSmallIcon = 16;

// A large button's caption goes on two lines when one would be much wider than the icon.
QString WrapLargeCaption(const QString& text, const QFontMetrics& fm) {
    if (fm.horizontalAdvance(text) <= 56 || !text.contains(' ')) {
        return text;
    }
    int best = -1;
    int bestWidth = 1 << 30;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != ' ') {
            continue;
        }
        int w = qMax(fm.horizontalAdvance(text.left(i)), fm.horizontalAdvance(text.mid(i + 1)));
        if (w < bestWidth) {
            bestWidth = w;
            best = i;
        }
    }
    return best < 0 ? text : text.left(best) + '\n' + text.mid(best + 1);
}

int IdOf(const QJsonObject& o, QString* error) {
    QString name = o.value(QLatin1String("id")).toVariant().toString();
    int id = kv::CommandIdFromName(name);
    if (id == 0 && error) {
        *error = QStringLiteral("unknown command id \"%1\"").arg(name);
    }
    return id;
}

QString ButtonStyleSheet(const CVisualLook& l) {
    return QStringLiteral(
               "QToolButton { background: transparent; border: 1px solid transparent; border-radius: 3px;"
               " padding: 1px 2px; color: #1f1f1f; }"
               "QToolButton:hover { border-color: %1; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
               " stop:0 %2, stop:1 %3); }"
               "QToolButton:pressed, QToolButton:checked { border-color: %1; background: %4; }"
               "QToolButton:disabled { color: #8a8a8a; }"
               "QToolButton::menu-indicator { subcontrol-origin: padding; subcontrol-position: bottom right; "
               "}")
        .arg(l.hoverBorder.name(), l.hoverTop.name(), l.hoverBottom.name(), l.pressed.name());
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CRibbonButton::CRibbonButton(int id, const QString& text, const QString& iconName, bool large,
                             QWidget* parent)
    : QToolButton(parent), CRibbonBaseElement(id), m_text(text), m_large(large) {
    QString shown = text;
    shown.remove('&');
    setIcon(KvAppIcon(iconName));
    setToolTip(shown);
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    if (large) {
        setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        setIconSize(QSize(kLargeIcon, kLargeIcon));
        setText(WrapLargeCaption(shown, fontMetrics()));
        setMinimumWidth(44);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    } else {
        setToolButtonStyle(icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextBesideIcon);
        setIconSize(QSize(kSmallIcon, kSmallIcon));
        setText(shown);
        setFixedHeight(kSmallHeight);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    // The check mark is the update handler's business: a click sends the command and the next
    // update shows the state the handler gives.
    connect(this, &QToolButton::clicked, this, [this] {
        setChecked(!isChecked());
        emit CommandInvoked(GetID());
    });
}

QList<int> CRibbonButton::GetIds() const {
    QList<int> ids{GetID()};
    if (m_menu) {
        for (QAction* a : m_menu->actions()) {
            if (!a->isSeparator()) {
                ids << a->data().toInt();
            }
        }
    }
    return ids;
}

void CRibbonButton::SetCommandState(int id, bool enabled, bool checked) {
    if (id == GetID()) {
        setEnabled(enabled);
        setChecked(checked);
        return;
    }
    if (QAction* a = FindSubItem(id)) {
        a->setEnabled(enabled);
        a->setCheckable(checked || a->isChecked());
        a->setChecked(checked);
    }
}

void CRibbonButton::AddSubItem(int id, const QString& text, const QString& iconName) {
    if (!m_menu) {
        m_menu = new QMenu(this);
        setMenu(m_menu);
        setPopupMode(QToolButton::InstantPopup);
    }
    QAction* a = m_menu->addAction(KvAppIcon(iconName), text);
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { emit CommandInvoked(id); });
}

QAction* CRibbonButton::FindSubItem(int id) const {
    if (!m_menu) {
        return nullptr;
    }
    for (QAction* a : m_menu->actions()) {
        if (!a->isSeparator() && a->data().toInt() == id) {
            return a;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

CRibbonSlider::CRibbonSlider(int id, int minimum, int maximum, int pos, int width, bool zoomButtons,
                             QWidget* parent)
    : QWidget(parent), CRibbonBaseElement(id), m_slider(new QSlider(Qt::Horizontal, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(1);
    m_slider->setRange(minimum, maximum);
    m_slider->setValue(pos);
    m_slider->setFixedWidth(width);
    m_slider->setPageStep(10);
    m_slider->setFocusPolicy(Qt::NoFocus);
    auto zoom = [this](const QString& text, int step) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setAutoRaise(true);
        b->setFixedSize(16, 16);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this,
                [this, step] { m_slider->setValue(m_slider->value() + step); });
        return b;
    };
    if (zoomButtons) {
        layout->addWidget(zoom(QStringLiteral("\u2212"), -m_slider->pageStep()));
    }
    layout->addWidget(m_slider);
    if (zoomButtons) {
        layout->addWidget(zoom(QStringLiteral("+"), m_slider->pageStep()));
    }
    setFixedHeight(kSmallHeight);
    setToolTip(QStringLiteral("%1 %").arg(pos));
    connect(m_slider, &QSlider::valueChanged, this, &CRibbonSlider::OnValueChanged);
}

void CRibbonSlider::SetCommandState(int, bool enabled, bool) {
    setEnabled(enabled);
}

int CRibbonSlider::GetPos() const {
    return m_slider->value();
}

void CRibbonSlider::SetPos(int pos) {
    m_settingPos = true;
    m_slider->setValue(pos);
    m_settingPos = false;
}

int CRibbonSlider::GetRangeMin() const {
    return m_slider->minimum();
}

int CRibbonSlider::GetRangeMax() const {
    return m_slider->maximum();
}

void CRibbonSlider::OnValueChanged(int value) {
    setToolTip(QStringLiteral("%1 %").arg(value));
    if (m_settingPos) {
        return;
    }
    emit PosChanged(value);
    emit CommandInvoked(GetID());
}

// ---------------------------------------------------------------------------------------------

CRibbonPanel::CRibbonPanel(const QString& name, QWidget* parent) : QWidget(parent), m_name(name) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(3, 3, 3, 0);
    outer->setSpacing(0);
    m_content = new QWidget(this);
    m_columns = new QHBoxLayout(m_content);
    m_columns->setContentsMargins(0, 0, 0, 0);
    m_columns->setSpacing(1);
    outer->addWidget(m_content, 1);
    m_collapsedButton = new QToolButton(this);
    m_collapsedButton->setText(WrapLargeCaption(name, m_collapsedButton->fontMetrics()));
    m_collapsedButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_collapsedButton->setIconSize(QSize(kLargeIcon, kLargeIcon));
    m_collapsedButton->setArrowType(Qt::NoArrow);
    m_collapsedButton->setFocusPolicy(Qt::NoFocus);
    m_collapsedButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_collapsedButton->hide();
    connect(m_collapsedButton, &QToolButton::clicked, this, &CRibbonPanel::ShowPopup);
    outer->addWidget(m_collapsedButton, 1);
    m_caption = new QLabel(name, this);
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setFixedHeight(kCaptionHeight);
    outer->addWidget(m_caption);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    m_popup = new QWidget(this, Qt::Popup);
    m_popup->setAutoFillBackground(true);
    auto* popupLayout = new QVBoxLayout(m_popup);
    popupLayout->setContentsMargins(4, 4, 4, 4);
}

CRibbonPanel::~CRibbonPanel() {
    // The element widgets are children of the panel and go with it.
    m_elements.clear();
}

CRibbonBaseElement* CRibbonPanel::GetElement(int index) const {
    return index >= 0 && index < m_elements.size() ? m_elements[index] : nullptr;
}

void CRibbonPanel::Add(CRibbonBaseElement* element) {
    element->GetWidget()->setParent(m_content);
    m_elements << element;
    if (auto* button = dynamic_cast<CRibbonButton*>(element)) {
        // A command chosen from the drop-down of a collapsed panel closes it.
        connect(button, &CRibbonButton::CommandInvoked, m_popup, &QWidget::hide);
        if (m_collapsedButton->icon().isNull()) {
            m_collapsedButton->setIcon(button->icon());
        }
    }
    Relayout();
}

void CRibbonPanel::SetCollapsed(bool collapsed) {
    if (collapsed == m_collapsed) {
        return;
    }
    m_collapsed = collapsed;
    auto* outer = static_cast<QVBoxLayout*>(layout());
    if (collapsed) {
        outer->removeWidget(m_content);
        m_popup->layout()->addWidget(m_content);
        m_collapsedButton->show();
    } else {
        m_popup->hide();
        m_popup->layout()->removeWidget(m_content);
        m_content->setParent(this);
        outer->insertWidget(0, m_content, 1);
        m_content->show();
        m_collapsedButton->hide();
    }
    updateGeometry();
}

void CRibbonPanel::SetCollapsedIcon(const QString& iconName) {
    if (!iconName.isEmpty()) {
        m_collapsedButton->setIcon(KvAppIcon(iconName));
    }
}

int CRibbonPanel::ExpandedWidth() const {
    int captionWidth = m_caption->fontMetrics().horizontalAdvance(m_name) + 12;
    return qMax(m_content->sizeHint().width(), captionWidth) + 6;
}

int CRibbonPanel::CollapsedWidth() const {
    return qMax(m_collapsedButton->sizeHint().width(), 48) + 6;
}

void CRibbonPanel::ShowPopup() {
    m_popup->setPalette(palette());
    m_popup->adjustSize();
    m_popup->move(mapToGlobal(QPoint(0, height())));
    m_popup->show();
}

void CRibbonPanel::Remove(int index) {
    if (index < 0 || index >= m_elements.size()) {
        return;
    }
    CRibbonBaseElement* element = m_elements.takeAt(index);
    delete element->GetWidget();
    Relayout();
}

void CRibbonPanel::Relayout() {
    while (QLayoutItem* item = m_columns->takeAt(0)) {
        if (QLayout* column = item->layout()) {
            while (QLayoutItem* inner = column->takeAt(0)) {
                delete inner;
            }
        }
        delete item;
    }
    QVBoxLayout* smallColumn = nullptr;
    int rows = 0;
    for (CRibbonBaseElement* e : m_elements) {
        QWidget* w = e->GetWidget();
        if (e->IsLarge()) {
            auto* column = new QVBoxLayout();
            column->setSpacing(0);
            column->addWidget(w);
            m_columns->addLayout(column);
            smallColumn = nullptr;
            continue;
        }
        if (!smallColumn || rows == kSmallRows) {
            smallColumn = new QVBoxLayout();
            smallColumn->setSpacing(0);
            m_columns->addLayout(smallColumn);
            rows = 0;
        }
        smallColumn->addWidget(w, 0, Qt::AlignLeft);
        ++rows;
    }
    // Small columns keep their buttons at the top.
    for (int i = 0; i < m_columns->count(); ++i) {
        if (auto* column = qobject_cast<QVBoxLayout*>(m_columns->itemAt(i)->layout());
            column && column->count() > 0) {
            auto* first = column->itemAt(0)->widget();
            bool large = false;
            for (CRibbonBaseElement* e : m_elements) {
                if (e->GetWidget() == first) {
                    large = e->IsLarge();
                }
            }
            if (!large) {
                column->addStretch(1);
            }
        }
    }
    updateGeometry();
}

void CRibbonPanel::SetLook(const CVisualLook& look) {
    m_look = look;
    QPalette p = m_caption->palette();
    p.setColor(QPalette::WindowText, look.panelCaptionText);
    m_caption->setPalette(p);
    update();
}

void CRibbonPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_look.flat) {
        // Windows 7: no frames, a thin separator at the right.
        p.setPen(m_look.panelBorder);
        p.drawLine(QPointF(r.right(), r.top() + 4), QPointF(r.right(), r.bottom() - 4));
        return;
    }
    QPainterPath frame;
    frame.addRoundedRect(r, 3, 3);
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, m_look.pageTop.lighter(103));
    body.setColorAt(1, m_look.pageBottom);
    p.fillPath(frame, body);
    // The caption band along the bottom.
    QRectF band(r.left(), r.bottom() - kCaptionHeight, r.width(), kCaptionHeight);
    QPainterPath bandPath;
    bandPath.addRoundedRect(band, 3, 3);
    p.save();
    p.setClipPath(frame);
    p.fillRect(band, m_look.panelCaption);
    p.restore();
    p.setPen(QPen(m_look.panelBorder, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(frame);
    p.setPen(QPen(QColor(255, 255, 255, 140), 1));
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 2, 2);
}

// ---------------------------------------------------------------------------------------------

CRibbonCategory::CRibbonCategory(const QString& name, QWidget* parent) : QWidget(parent), m_name(name) {
    m_layout = new QHBoxLayout(this);
    // A page wider than the window is cut at the right instead of widening the window.
    m_layout->setSizeConstraint(QLayout::SetNoConstraint);
    m_layout->setContentsMargins(4, 3, 4, 3);
    m_layout->setSpacing(3);
    m_layout->addStretch(1);
}

CRibbonPanel* CRibbonCategory::GetPanel(int index) const {
    return index >= 0 && index < m_panels.size() ? m_panels[index] : nullptr;
}

CRibbonPanel* CRibbonCategory::AddPanel(const QString& name) {
    auto* panel = new CRibbonPanel(name, this);
    panel->SetLook(m_look);
    m_layout->insertWidget(m_layout->count() - 1, panel);
    m_panels << panel;
    return panel;
}

void CRibbonCategory::RemovePanel(int index) {
    if (index < 0 || index >= m_panels.size()) {
        return;
    }
    delete m_panels.takeAt(index);
}

void CRibbonCategory::SetLook(const CVisualLook& look) {
    m_look = look;
    for (CRibbonPanel* panel : m_panels) {
        panel->SetLook(look);
    }
    update();
}

void CRibbonCategory::FitPanels() {
    const QMargins m = m_layout->contentsMargins();
    const int available = width() - m.left() - m.right();
    int needed = 0;
    for (CRibbonPanel* panel : m_panels) {
        needed += panel->ExpandedWidth() + m_layout->spacing();
    }
    // The panels that give the most room collapse first, so the fewest panels hide their buttons.
    QList<CRibbonPanel*> order = m_panels;
    std::stable_sort(order.begin(), order.end(), [](CRibbonPanel* a, CRibbonPanel* b) {
        return a->ExpandedWidth() - a->CollapsedWidth() > b->ExpandedWidth() - b->CollapsedWidth();
    });
    for (CRibbonPanel* panel : order) {
        bool collapse = needed > available;
        if (collapse) {
            needed -= panel->ExpandedWidth() - panel->CollapsedWidth();
        }
        panel->SetCollapsed(collapse);
    }
}

void CRibbonCategory::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitPanels();
}

void CRibbonCategory::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, m_look.pageTop);
    g.setColorAt(1, m_look.flat ? m_look.pageTop : m_look.pageBottom);
    p.fillRect(rect(), g);
}

// ---------------------------------------------------------------------------------------------

CRibbonBar::CRibbonBar(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, kTabRowHeight, 0, 0);
    layout->setSpacing(0);
    m_pages = new QStackedWidget(this);
    m_pages->setFixedHeight(kPageHeight);
    layout->addWidget(m_pages);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_appButton = new QToolButton(this);
    m_appButton->setObjectName(QStringLiteral("ribbonApplicationButton"));
    m_appButton->setPopupMode(QToolButton::InstantPopup);
    m_appButton->setFocusPolicy(Qt::NoFocus);
    m_appMenu = new QMenu(m_appButton);
    m_appButton->setMenu(m_appMenu);
    SetLook(KvVisualLook(ID_VIEW_APPLOOK_OFF_2007_BLUE));
}

bool CRibbonBar::LoadFromDefinition(const QByteArray& json, QString* error) {
    QJsonParseError parseError{};
    QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull() || !doc.isObject()) {
        if (error) {
            *error = parseError.errorString();
        }
        return false;
    }
    QJsonObject root = doc.object();

    QJsonObject app = root.value(QLatin1String("applicationButton")).toObject();
    m_appButton->setText(app.value(QLatin1String("caption")).toString(QStringLiteral("File")));
    auto readItems = [error](const QJsonArray& array, QList<MenuItem>* out) {
        for (const QJsonValue& v : array) {
            QJsonObject o = v.toObject();
            int id = IdOf(o, error);
            if (id == 0) {
                return false;
            }
            out->append({id, o.value(QLatin1String("caption")).toString(),
                         o.value(QLatin1String("icon")).toString()});
        }
        return true;
    };
    if (!readItems(app.value(QLatin1String("items")).toArray(), &m_appItems) ||
        !readItems(app.value(QLatin1String("bottomItems")).toArray(), &m_appBottomItems)) {
        return false;
    }
    m_recentLabel = app.value(QLatin1String("recentLabel")).toString();
    m_recentWidth = app.value(QLatin1String("recentWidth")).toInt(300);
    RebuildApplicationMenu();

    for (const QJsonValue& cv : root.value(QLatin1String("categories")).toArray()) {
        QJsonObject c = cv.toObject();
        auto* category = new CRibbonCategory(c.value(QLatin1String("name")).toString(), m_pages);
        category->SetLook(m_look);
        m_pages->addWidget(category);
        m_categories << category;
        for (const QJsonValue& pv : c.value(QLatin1String("panels")).toArray()) {
            QJsonObject po = pv.toObject();
            CRibbonPanel* panel = category->AddPanel(po.value(QLatin1String("name")).toString());
            panel->SetCollapsedIcon(po.value(QLatin1String("icon")).toString());
            for (const QJsonValue& ev : po.value(QLatin1String("elements")).toArray()) {
                QJsonObject e = ev.toObject();
                int id = IdOf(e, error);
                if (id == 0) {
                    return false;
                }
                QString type = e.value(QLatin1String("type")).toString(QStringLiteral("button"));
                if (type == QLatin1String("slider")) {
                    auto* slider = new CRibbonSlider(
                        id, e.value(QLatin1String("min")).toInt(0), e.value(QLatin1String("max")).toInt(100),
                        e.value(QLatin1String("pos")).toInt(0), e.value(QLatin1String("width")).toInt(80),
                        e.value(QLatin1String("zoomButtons")).toBool(), panel);
                    connect(slider, &CRibbonSlider::CommandInvoked, this, &CRibbonBar::CommandInvoked);
                    panel->Add(slider);
                    continue;
                }
                if (type != QLatin1String("button")) {
                    if (error) {
                        *error = QStringLiteral("unknown element type \"%1\"").arg(type);
                    }
                    return false;
                }
                auto* button = new CRibbonButton(
                    id, e.value(QLatin1String("caption")).toString(),
                    e.value(QLatin1String("icon")).toString(),
                    e.value(QLatin1String("size")).toString() == QLatin1String("large"), panel);
                for (const QJsonValue& sv : e.value(QLatin1String("items")).toArray()) {
                    QJsonObject s = sv.toObject();
                    int subId = IdOf(s, error);
                    if (subId == 0) {
                        return false;
                    }
                    button->AddSubItem(subId, s.value(QLatin1String("caption")).toString(),
                                       s.value(QLatin1String("icon")).toString());
                }
                connect(button, &CRibbonButton::CommandInvoked, this, &CRibbonBar::CommandInvoked);
                panel->Add(button);
            }
        }
    }

    // Elements of the tab row, outside the categories (the style menu).
    for (const QJsonValue& tv : root.value(QLatin1String("tabRow")).toArray()) {
        QJsonObject t = tv.toObject();
        auto* button = new QToolButton(this);
        button->setText(t.value(QLatin1String("caption")).toString());
        button->setIcon(KvAppIcon(t.value(QLatin1String("icon")).toString()));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setIconSize(QSize(kSmallIcon, kSmallIcon));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setPopupMode(QToolButton::InstantPopup);
        auto* menu = new QMenu(button);
        auto* group = new QActionGroup(menu);
        for (const QJsonValue& sv : t.value(QLatin1String("items")).toArray()) {
            QJsonObject s = sv.toObject();
            int id = IdOf(s, error);
            if (id == 0) {
                return false;
            }
            QAction* a = menu->addAction(s.value(QLatin1String("caption")).toString());
            a->setData(id);
            a->setCheckable(true);
            group->addAction(a);
            connect(a, &QAction::triggered, this, [this, id] { emit CommandInvoked(id); });
            m_menuActions << a;
        }
        button->setMenu(menu);
        m_rowButtons << button;
    }
    if (!m_categories.isEmpty()) {
        SetActiveCategory(m_categories.first());
    }
    PlaceTabRow();
    return true;
}

CRibbonCategory* CRibbonBar::GetCategory(int index) const {
    return index >= 0 && index < m_categories.size() ? m_categories[index] : nullptr;
}

CRibbonCategory* CRibbonBar::GetActiveCategory() const {
    return qobject_cast<CRibbonCategory*>(m_pages->currentWidget());
}

void CRibbonBar::SetActiveCategory(CRibbonCategory* category) {
    if (category && m_categories.contains(category)) {
        m_pages->setCurrentWidget(category);
        update();
    }
}

CRibbonBaseElement* CRibbonBar::FindByID(int id) const {
    for (CRibbonCategory* c : m_categories) {
        for (int p = 0; p < c->GetPanelCount(); ++p) {
            CRibbonPanel* panel = c->GetPanel(p);
            for (int i = 0; i < panel->GetCount(); ++i) {
                if (panel->GetElement(i)->GetID() == id) {
                    return panel->GetElement(i);
                }
            }
        }
    }
    return nullptr;
}

QString CRibbonBar::GetApplicationButtonText() const {
    return m_appButton->text();
}

void CRibbonBar::SetRecentFiles(const QStringList& paths) {
    m_recentFiles = paths;
    RebuildApplicationMenu();
}

void CRibbonBar::RebuildApplicationMenu() {
    for (QAction* a : m_appMenu->actions()) {
        m_menuActions.removeAll(a);
    }
    m_appMenu->clear();
    auto add = [this](const MenuItem& item) {
        QAction* a = m_appMenu->addAction(KvAppIcon(item.icon), item.text);
        a->setData(item.id);
        const int id = item.id;
        connect(a, &QAction::triggered, this, [this, id] { emit CommandInvoked(id); });
        m_menuActions << a;
    };
    for (const MenuItem& item : m_appItems) {
        add(item);
    }
    if (!m_recentLabel.isEmpty()) {
        m_appMenu->addSection(m_recentLabel);
        for (int i = 0; i < m_recentFiles.size(); ++i) {
            QString text = QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(m_recentFiles[i]).fileName());
            QAction* a = m_appMenu->addAction(text);
            a->setToolTip(m_recentFiles[i]);
            a->setData(ID_FILE_MRU_FILE1 + i);
            const int id = ID_FILE_MRU_FILE1 + i;
            connect(a, &QAction::triggered, this, [this, id] { emit CommandInvoked(id); });
            m_menuActions << a;
        }
    }
    m_appMenu->addSeparator();
    for (const MenuItem& item : m_appBottomItems) {
        add(item);
    }
    m_appMenu->setMinimumWidth(m_recentWidth);
}

void CRibbonBar::UpdateCommandStates(const std::function<void(kv::CommandUI&)>& query) {
    for (CRibbonCategory* c : m_categories) {
        for (int p = 0; p < c->GetPanelCount(); ++p) {
            CRibbonPanel* panel = c->GetPanel(p);
            for (int i = 0; i < panel->GetCount(); ++i) {
                CRibbonBaseElement* e = panel->GetElement(i);
                for (int id : e->GetIds()) {
                    kv::CommandUI ui;
                    ui.id = id;
                    query(ui);
                    e->SetCommandState(id, ui.enabled, ui.checked);
                }
            }
        }
    }
    for (QAction* a : m_menuActions) {
        kv::CommandUI ui;
        ui.id = a->data().toInt();
        query(ui);
        a->setEnabled(ui.enabled);
        if (a->isCheckable()) {
            a->setChecked(ui.checked);
        }
    }
}

void CRibbonBar::SetLook(const CVisualLook& look) {
    m_look = look;
    setStyleSheet(ButtonStyleSheet(look));
    m_appButton->setStyleSheet(
        QStringLiteral("QToolButton { color: white; font-weight: bold; border: 1px solid %1;"
                       " border-top-left-radius: 3px; border-top-right-radius: 3px; padding: 2px 14px;"
                       " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %2, stop:1 %3); }"
                       "QToolButton:hover { background: %2; }"
                       "QToolButton::menu-indicator { image: none; width: 0px; }")
            .arg(look.appButton.darker(130).name(), look.appButton.lighter(125).name(),
                 look.appButton.name()));
    for (CRibbonCategory* c : m_categories) {
        c->SetLook(look);
    }
    for (QToolButton* b : m_rowButtons) {
        QPalette p = b->palette();
        p.setColor(QPalette::ButtonText, look.tabText);
        b->setPalette(p);
    }
    update();
}

QRect CRibbonBar::TabRect(int index) const {
    QFontMetrics fm = fontMetrics();
    int x = m_appButton->geometry().right() + 6;
    for (int i = 0; i < m_categories.size(); ++i) {
        int w = fm.horizontalAdvance(m_categories[i]->GetName()) + 22;
        if (i == index) {
            return QRect(x, 3, w, kTabRowHeight - 3);
        }
        x += w + 1;
    }
    return QRect();
}

void CRibbonBar::PlaceTabRow() {
    m_appButton->adjustSize();
    m_appButton->setGeometry(2, 2, m_appButton->sizeHint().width(), kTabRowHeight - 2);
    int x = width() - 4;
    for (int i = static_cast<int>(m_rowButtons.size()) - 1; i >= 0; --i) {
        QToolButton* b = m_rowButtons[i];
        QSize s = b->sizeHint();
        x -= s.width();
        b->setGeometry(x, (kTabRowHeight - s.height()) / 2 + 1, s.width(), s.height());
        x -= 2;
    }
}

void CRibbonBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceTabRow();
}

void CRibbonBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient strip(0, 0, 0, kTabRowHeight);
    strip.setColorAt(0, m_look.flat ? m_look.frame : m_look.frame.lighter(108));
    strip.setColorAt(1, m_look.frame);
    p.fillRect(QRect(0, 0, width(), kTabRowHeight), strip);
    // A line under the page separates the ribbon from the windows.
    p.fillRect(QRect(0, height() - 1, width(), 1), m_look.panelBorder);

    QFont bold = font();
    for (int i = 0; i < m_categories.size(); ++i) {
        QRect r = TabRect(i);
        bool active = m_categories[i] == GetActiveCategory();
        if (active) {
            QPainterPath tab;
            QRectF rf = QRectF(r).adjusted(0.5, 0.5, -0.5, 1);
            tab.moveTo(rf.bottomLeft());
            tab.lineTo(rf.left(), rf.top() + 3);
            tab.quadTo(rf.topLeft(), QPointF(rf.left() + 3, rf.top()));
            tab.lineTo(rf.right() - 3, rf.top());
            tab.quadTo(rf.topRight(), QPointF(rf.right(), rf.top() + 3));
            tab.lineTo(rf.bottomRight());
            p.fillPath(tab, m_look.activeTab);
            p.setPen(QPen(m_look.panelBorder, 1));
            p.drawPath(tab);
        }
        p.setPen(active ? m_look.panelCaptionText : m_look.tabText);
        p.setFont(bold);
        p.drawText(r, Qt::AlignCenter, m_categories[i]->GetName());
    }
}

void CRibbonBar::mousePressEvent(QMouseEvent* event) {
    for (int i = 0; i < m_categories.size(); ++i) {
        if (TabRect(i).contains(event->position().toPoint())) {
            SetActiveCategory(m_categories[i]);
            return;
        }
    }
    QWidget::mousePressEvent(event);
}
