#include "products/HeaderColorListCtrl.h"

#include <QColorDialog>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>

#include <charconv>

#include "controls/InputValueDlg.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/MapData.h"

namespace {

// The number a text starts with, as the C library's atof reads it in the "C" locale. False when
// the text does not start with a number at all.
bool LeadingNumber(const QString& text, double* value) {
    QByteArray bytes = text.trimmed().toLatin1();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto result = std::from_chars(first, last, *value);
    return result.ec == std::errc() && result.ptr != first;
}

}  // namespace

CHeaderColorListCtrl::CHeaderColorListCtrl(QWidget* parent) : QTableWidget(parent) {
    m_pHeader = new CColorHeaderCtrl(this);
    setHorizontalHeader(m_pHeader);
    verticalHeader()->hide();
    setRowCount(0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pHeader->setSectionResizeMode(QHeaderView::Interactive);
    m_pHeader->setStretchLastSection(false);
    m_pHeader->setMinimumSectionSize(0);
    m_pHeader->setHighlightSections(false);
    m_pHeader->setSectionsMovable(false);
    m_pHeader->setSectionsClickable(true);
    m_pHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Where Tahoma is not installed the header falls back to DejaVu Sans.
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(12);
    m_pHeader->setFont(font);
    m_pHeader->setMouseTracking(true);
    m_pHeader->viewport()->setMouseTracking(true);
    m_pHeader->viewport()->installEventFilter(this);
    connect(m_pHeader, &QHeaderView::sectionResized, this, &CHeaderColorListCtrl::OnSectionResized);
}

CHeaderColorListCtrl::~CHeaderColorListCtrl() {
    delete m_pTooltip.data();
}

void CHeaderColorListCtrl::Init(CMapData* map, std::function<void()> changed, QWidget* owner) {
    m_pMap = map;
    m_pOwner = owner;
    m_model.Bind(map ? &map->m_colors : nullptr, std::move(changed), width());
    if (owner && !m_pTooltip) {
        m_pTooltip = new CTooltipDlg(owner);
        m_pTooltip->Create();
        m_pTooltip->SetBackgroundColor(kTooltipColor);
    }
}

void CHeaderColorListCtrl::SetRange(float minimum, float maximum) {
    m_model.SetRange(minimum, maximum);
    SyncColumns();
}

void CHeaderColorListCtrl::DeleteAllColumns() {
    m_model.DeleteAllColumns();
    SyncColumns();
}

int CHeaderColorListCtrl::AddRange(const QPoint* point) {
    if (!m_pMap) {
        return 0;
    }
    m_model.AddRange(point ? point->x() : -1);
    SyncColumns();
    return 1;
}

int CHeaderColorListCtrl::AddThresholdRange(const ColorClassEntry& entry) {
    const int added = m_model.AddThresholdRange(entry);
    SyncColumns();
    return added;
}

void CHeaderColorListCtrl::RemoveRange(int index, bool normalise) {
    if (index < 0 || index >= m_model.Count()) {
        return;
    }
    m_pHeader->RemoveColumnColor(index);
    m_model.RemoveRange(index, normalise);
    SyncColumns();
}

void CHeaderColorListCtrl::SetColors(const CAGColors& palette) {
    m_model.SetColors(palette);
    SyncColumns();
}

void CHeaderColorListCtrl::SetRangeColor(int index, const COLORREF* color) {
    if (index < 0 || index >= m_model.Count()) {
        return;
    }
    COLORREF chosen = 0;
    if (color) {
        chosen = *color;
    } else {
        QColorDialog dialog(kv::ToQColor(m_model.Colors()[size_t(index)]), m_pOwner ? m_pOwner : this);
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        if (kv::GetInteraction().RunModal(dialog) != QDialog::Accepted) {
            return;
        }
        chosen = kv::ToColorRef(dialog.currentColor());
    }
    m_model.SetRangeColor(index, chosen);
    SyncColumns();
}

void CHeaderColorListCtrl::ShowOnlyRange(int index) {
    m_model.ShowOnlyRange(index);
}

void CHeaderColorListCtrl::ShowAllRanges() {
    m_model.ShowAllRanges();
}

bool CHeaderColorListCtrl::ScaleColumnWidths(double factor, int newWidth) {
    const bool scaled = m_model.ScaleColumnWidths(factor, newWidth);
    if (scaled) {
        SyncColumns();
    }
    return scaled;
}

void CHeaderColorListCtrl::OnResize() {
    const int W = m_model.Width();
    ScaleColumnWidths(W > 0 ? double(width()) / W : 1.0, width());
}

std::vector<ColorRangeModel::MenuItem> CHeaderColorListCtrl::ContextMenuAt(const QPoint& client) {
    HideTooltip();
    m_menuPoint = client;
    const int column = ColumnAtPixel(client.x());
    m_nMenuColumn = column < 0 ? 0 : column;
    return m_model.ContextMenuItems(client.x());
}

void CHeaderColorListCtrl::OnContextCommand(int id) {
    switch (id) {
        case ColorRangeModel::ID_ADD_RANGE:
            OnAddRangeHere();
            break;
        case ColorRangeModel::ID_ADD_THRESHOLD:
            OnAddThresholdByValue();
            break;
        case ColorRangeModel::ID_CHANGE_COLOR:
            OnChangeRangeColor();
            break;
        case ColorRangeModel::ID_VIEW_ONLY:
            OnViewThisRangeOnly();
            break;
        case ColorRangeModel::ID_VIEW_ALL:
            OnViewAll();
            break;
        case ColorRangeModel::ID_REMOVE_RANGE:
            OnRemoveThisRange();
            break;
        default:
            break;
    }
}

void CHeaderColorListCtrl::OnAddRangeHere() {
    AddRange(&m_menuPoint);
}

void CHeaderColorListCtrl::OnAddThresholdByValue() {
    CInputValueDlg dialog(QString(), m_pOwner);
    dialog.m_strCaption = QStringLiteral("Insert trashold value");
    if (dialog.DoModal() != IDOK) {
        return;
    }
    double value = 0.0;
    // A text that holds no number at all adds nothing (rather than a threshold at 0).
    if (!ZQT_StringToDouble(dialog.GetValue(), &value) && !LeadingNumber(dialog.GetValue(), &value)) {
        return;
    }
    ColorClassEntry entry;
    entry.lowerLimit = static_cast<float>(value);
    entry.visible = 1;
    AddThresholdRange(entry);
}

void CHeaderColorListCtrl::OnChangeRangeColor() {
    SetRangeColor(m_nMenuColumn);
}

void CHeaderColorListCtrl::OnViewThisRangeOnly() {
    ShowOnlyRange(m_nMenuColumn);
}

void CHeaderColorListCtrl::OnViewAll() {
    ShowAllRanges();
}

void CHeaderColorListCtrl::OnRemoveThisRange() {
    if (m_model.Count() >= 2) {
        RemoveRange(m_nMenuColumn, true);
    }
}

void CHeaderColorListCtrl::HideTooltip() {
    if (m_pTooltip) {
        m_pTooltip->hide();
    }
}

int CHeaderColorListCtrl::DividerAt(const QPoint& client) const {
    // The grip the header itself resizes with: a few pixels either side of a section's edge.
    const int x = client.x();
    int visual = m_pHeader->visualIndexAt(x);
    if (visual < 0) {
        return -1;
    }
    const int logical = m_pHeader->logicalIndex(visual);
    const int left = m_pHeader->sectionViewportPosition(logical);
    const int grip = m_pHeader->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, m_pHeader);
    if (x < left + grip) {
        return visual > 0 ? m_pHeader->logicalIndex(visual - 1) : -1;
    }
    if (x > left + m_pHeader->sectionSize(logical) - grip) {
        return logical;
    }
    return -1;
}

void CHeaderColorListCtrl::OnLeftButtonDown(const QPoint& client) {
    const int divider = DividerAt(client);
    if (divider >= 0) {
        m_bPressed = false;
        m_nTrackedDivider = divider;
        ShowAllRanges();
        return;
    }
    const int column = ColumnAtPixel(client.x());
    if (column < 0) {
        return;
    }
    if (m_pTooltip && m_pMap) {
        const std::vector<ColorClassEntry>& classes = m_pMap->m_colors.m_classes;
        if (column < static_cast<int>(classes.size()) && !classes[size_t(column)].tooltip.isEmpty()) {
            m_pTooltip->SetText(classes[size_t(column)].tooltip);
            m_pTooltip->show();
        }
    }
    ShowOnlyRange(column);
    m_bPressed = true;
}

void CHeaderColorListCtrl::OnLeftButtonUp() {
    ShowAllRanges();
    HideTooltip();
    m_bPressed = false;
    m_nTrackedDivider = -1;
}

void CHeaderColorListCtrl::OnMouseMove(const QPoint& client, const QPoint& global) {
    if (m_nTrackedDivider >= 0) {
        m_model.TrackDivider(m_nTrackedDivider, client.x());
    }
    if (m_pTooltip && global.x() != m_nLastScreenX) {
        if (!m_bPressed) {
            m_pTooltip->SetText(QString::asprintf("%lf", m_model.PixelToValue(client.x())));
        }
        m_pTooltip->move(global.x() + 10, global.y() - 15);
        m_pTooltip->show();
    }
    m_nLastScreenX = global.x();
}

bool CHeaderColorListCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pHeader->viewport()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                const QPoint client = mouse->position().toPoint();
                if (mouse->button() == Qt::LeftButton) {
                    OnLeftButtonDown(client);
                } else if (mouse->button() == Qt::RightButton) {
                    const std::vector<ColorRangeModel::MenuItem> items = ContextMenuAt(client);
                    QMenu menu(this);
                    for (const ColorRangeModel::MenuItem& item : items) {
                        if (item.id == 0) {
                            menu.addSeparator();
                        } else {
                            menu.addAction(item.text)->setData(item.id);
                        }
                    }
                    if (QAction* chosen = menu.exec(mouse->globalPosition().toPoint())) {
                        OnContextCommand(chosen->data().toInt());
                    }
                    return true;
                }
                break;
            }
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                    OnLeftButtonUp();
                }
                break;
            case QEvent::MouseMove: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                OnMouseMove(mouse->position().toPoint(), mouse->globalPosition().toPoint());
                break;
            }
            case QEvent::Leave:
                HideTooltip();
                break;
            default:
                break;
        }
    }
    return QTableWidget::eventFilter(watched, event);
}

void CHeaderColorListCtrl::SyncColumns() {
    m_bUpdating = true;
    const int n = m_model.Count();
    setColumnCount(n);
    for (int i = 0; i < n; ++i) {
        QTableWidgetItem* item = horizontalHeaderItem(i);
        if (!item) {
            item = new QTableWidgetItem();
            setHorizontalHeaderItem(i, item);
        }
        item->setText(m_model.HeaderText(i));
        m_pHeader->resizeSection(i, m_model.Widths()[size_t(i)]);
        m_pHeader->SetColumnColor(i, m_model.Colors()[size_t(i)]);
    }
    while (m_pHeader->RemoveColumnColor(n)) {
    }
    m_bUpdating = false;
}

void CHeaderColorListCtrl::OnSectionResized(int logicalIndex, int /*oldSize*/, int newSize) {
    if (m_bUpdating) {
        return;
    }
    m_model.SetColumnWidth(logicalIndex, newSize);
    m_model.NormalizeColumnWidths(logicalIndex);
    SyncColumns();
}
