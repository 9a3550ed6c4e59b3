#include "controls/ReportCtrl.h"

#include <QBitmap>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "controls/KvIcons.h"

namespace {

constexpr int kImageWidth = 16;

// Non-empty and made only of the digits 0-9 and a-f (either case); the value saturates.
bool ParseHex(const QString& text, quint64* value) {
    if (text.isEmpty()) {
        return false;
    }
    quint64 v = 0;
    bool saturated = false;
    for (const QChar ch : text) {
        const int digit = ch.isDigit() && ch.unicode() < 128 ? ch.unicode() - '0'
                          : (ch >= 'a' && ch <= 'f')         ? ch.unicode() - 'a' + 10
                          : (ch >= 'A' && ch <= 'F')         ? ch.unicode() - 'A' + 10
                                                             : -1;
        if (digit < 0) {
            return false;
        }
        if (v > (std::numeric_limits<quint64>::max() - static_cast<quint64>(digit)) / 16) {
            saturated = true;
        } else {
            v = v * 16 + static_cast<quint64>(digit);
        }
    }
    *value = saturated ? std::numeric_limits<quint64>::max() : v;
    return true;
}

// A decimal number, optionally followed by one "%" and nothing else.
bool ParseDecimal(const QString& text, double* value) {
    static const QRegularExpression number(
        QStringLiteral("^([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)%?$"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch()) {
        return false;
    }
    bool ok = false;
    *value = m.captured(1).toDouble(&ok);
    return ok;
}

// A date, or a date with a time, in the user's locale or in ISO form.
bool ParseDate(const QString& text, QDateTime* value) {
    if (text.isEmpty()) {
        return false;
    }
    const QLocale locale;
    for (QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        QDateTime dt = locale.toDateTime(text, format);
        if (dt.isValid()) {
            *value = dt;
            return true;
        }
        const QDate d = locale.toDate(text, format);
        if (d.isValid()) {
            *value = d.startOfDay();
            return true;
        }
    }
    QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        if (d.isValid()) {
            dt = d.startOfDay();
        }
    }
    if (dt.isValid()) {
        *value = dt;
        return true;
    }
    return false;
}

template <typename T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

// One row: the list's own data (texts, check state) lives in the tree item; the row also holds
// the images of its cells and the colour record with the caller's pointer.
class CReportCtrl::Row : public QTreeWidgetItem {
public:
    struct Record {
        void* data = nullptr;
        std::vector<COLORREF> textColors;
        std::vector<COLORREF> backColors;
    };

    Row() : QTreeWidgetItem(UserType) {}

    QVariant data(int column, int role) const override {
        if (role == Qt::ForegroundRole || role == Qt::BackgroundRole) {
            if (const COLORREF* c = ColorAt(role == Qt::ForegroundRole, column)) {
                return QBrush(kv::ToQColor(*c));
            }
        }
        if (role == Qt::DecorationRole) {
            const int image = Image(column);
            const auto* list = static_cast<const CReportCtrl*>(treeWidget());
            if (list != nullptr && image >= 0 && image < list->m_images.size()) {
                return list->m_images[image];
            }
        }
        return QTreeWidgetItem::data(column, role);
    }

    // The text or background colour the record holds for the column, null when it holds none.
    const COLORREF* ColorAt(bool text, int column) const {
        if (!record || column < 0) {
            return nullptr;
        }
        const std::vector<COLORREF>& colors = text ? record->textColors : record->backColors;
        return static_cast<size_t>(column) < colors.size() ? &colors[static_cast<size_t>(column)] : nullptr;
    }

    int Image(int column) const {
        return column >= 0 && static_cast<size_t>(column) < images.size()
                   ? images[static_cast<size_t>(column)]
                   : -1;
    }

    // Repaints the row after its record or images changed.
    void Changed() { emitDataChanged(); }

    std::unique_ptr<Record> record;
    std::vector<int> images;
};

CReportCtrl::CReportCtrl(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setIconSize(QSize(kImageWidth, kImageWidth));
    setColumnCount(0);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &CReportCtrl::OnColumnClick);
}

CReportCtrl::Row* CReportCtrl::RowAt(int row) const {
    if (row < 0 || row >= topLevelItemCount()) {
        return nullptr;
    }
    return static_cast<Row*>(topLevelItem(row));
}

COLORREF CReportCtrl::DefaultTextColor() const {
    return kv::ToColorRef(palette().color(QPalette::Text));
}

COLORREF CReportCtrl::DefaultBkColor() const {
    return kv::ToColorRef(palette().color(QPalette::Base));
}

int CReportCtrl::InsertColumn(int column, const QString& heading, int width) {
    const int count = columnCount();
    column = std::clamp(column, 0, count);
    setColumnCount(count + 1);
    QTreeWidgetItem* head = headerItem();
    for (int c = count; c > column; --c) {
        head->setText(c, head->text(c - 1));
        setColumnWidth(c, columnWidth(c - 1));
    }
    head->setText(column, heading);
    for (int r = 0; r < topLevelItemCount(); ++r) {
        Row* row = RowAt(r);
        for (int c = count; c > column; --c) {
            row->setText(c, row->text(c - 1));
        }
        row->setText(column, QString());
        if (static_cast<size_t>(column) < row->images.size()) {
            row->images.insert(row->images.begin() + column, -1);
        }
    }
    if (width >= 0) {
        setColumnWidth(column, width);
    }
    return column;
}

int CReportCtrl::InsertItem(int row, const QString& text) {
    EndEdit(true);
    m_nSortColumn = -1;
    m_bSortAscending = true;
    if (row < 0) {
        return -1;
    }
    row = std::min(row, topLevelItemCount());
    auto* item = new Row;
    item->setText(0, text);
    if (m_bCheckboxes) {
        item->setCheckState(0, Qt::Unchecked);
    }
    insertTopLevelItem(row, item);
    InitItemColors(row);
    return row;
}

int CReportCtrl::DeleteAllItems() {
    const int count = topLevelItemCount();
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    clear();
    setUpdatesEnabled(updates);
    return count;
}

QString CReportCtrl::GetItemText(int row, int column) const {
    const Row* r = RowAt(row);
    return r != nullptr && column >= 0 && column < columnCount() ? r->text(column) : QString();
}

int CReportCtrl::SetItemText(int row, int column, const QString& text) {
    Row* r = RowAt(row);
    if (r == nullptr || column < 0 || column >= columnCount()) {
        return 0;
    }
    r->setText(column, text);
    return 1;
}

int CReportCtrl::SetItemImage(int row, int column, int image) {
    Row* r = RowAt(row);
    if (r == nullptr || column < 0 || column >= columnCount()) {
        return 0;
    }
    if (r->images.size() <= static_cast<size_t>(column)) {
        r->images.resize(static_cast<size_t>(column) + 1, -1);
    }
    r->images[static_cast<size_t>(column)] = image;
    r->Changed();
    return 1;
}

int CReportCtrl::GetItemImage(int row, int column) const {
    const Row* r = RowAt(row);
    return r != nullptr ? r->Image(column) : -1;
}

void CReportCtrl::SetCheckboxes(bool on) {
    m_bCheckboxes = on;
    for (int r = 0; r < topLevelItemCount(); ++r) {
        if (on) {
            RowAt(r)->setCheckState(0, Qt::Unchecked);
        } else {
            RowAt(r)->setData(0, Qt::CheckStateRole, QVariant());
        }
    }
}

int CReportCtrl::GetCheck(int row) const {
    const Row* r = RowAt(row);
    return r != nullptr && r->checkState(0) == Qt::Checked ? 1 : 0;
}

int CReportCtrl::SetCheck(int row, bool checked) {
    Row* r = RowAt(row);
    if (r == nullptr || !m_bCheckboxes) {
        return 0;
    }
    r->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return 1;
}

void CReportCtrl::InitItemColors(int row) {
    Row* r = RowAt(row);
    if (r == nullptr) {
        return;
    }
    auto record = std::make_unique<Row::Record>();
    if (r->record) {
        record->data = r->record->data;
    }
    const auto columns = static_cast<size_t>(columnCount());
    record->textColors.assign(columns, DefaultTextColor());
    record->backColors.assign(columns, DefaultBkColor());
    r->record = std::move(record);
    r->Changed();
}

void CReportCtrl::InsertColumnColors(int column) {
    if (column < 0) {
        return;
    }
    for (int i = 0; i < topLevelItemCount(); ++i) {
        Row* r = RowAt(i);
        if (!r->record) {
            continue;
        }
        auto& text = r->record->textColors;
        auto& back = r->record->backColors;
        text.insert(text.begin() + std::min(static_cast<size_t>(column), text.size()), DefaultTextColor());
        back.insert(back.begin() + std::min(static_cast<size_t>(column), back.size()), DefaultBkColor());
        r->Changed();
    }
}

void CReportCtrl::ResetColumnColors() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        InitItemColors(i);
    }
}

void CReportCtrl::SetItemTextColor(int row, COLORREF color) {
    const bool all = RowAt(row) == nullptr;
    for (int i = all ? 0 : row; i < (all ? topLevelItemCount() : row + 1); ++i) {
        Row* r = RowAt(i);
        if (!r->record) {
            InitItemColors(i);
        }
        auto& text = r->record->textColors;
        if (text.empty()) {
            text.push_back(color);
        } else {
            text[0] = color;
        }
        r->Changed();
    }
    viewport()->repaint();
}

COLORREF CReportCtrl::GetItemTextColor(int row, int column) const {
    const Row* r = RowAt(row);
    const COLORREF* c = r != nullptr ? r->ColorAt(true, column) : nullptr;
    return c != nullptr ? *c : DefaultTextColor();
}

COLORREF CReportCtrl::GetItemBkColor(int row, int column) const {
    const Row* r = RowAt(row);
    const COLORREF* c = r != nullptr ? r->ColorAt(false, column) : nullptr;
    return c != nullptr ? *c : DefaultBkColor();
}

void CReportCtrl::SetRowDataPointer(int row, void* data) {
    Row* r = RowAt(row);
    if (r == nullptr) {
        return;
    }
    if (!r->record) {
        InitItemColors(row);
    }
    r->record->data = data;
}

void* CReportCtrl::GetItemDataPtr(int row) const {
    const Row* r = RowAt(row);
    return r != nullptr && r->record ? r->record->data : nullptr;
}

void CReportCtrl::SetImageListFromBitmap() {
    const QPixmap strip = KvLoadBitmap(IDB_REPORT_IMAGES);
    m_images.clear();
    for (int x = 0; x + kImageWidth <= strip.width(); x += kImageWidth) {
        QPixmap image = strip.copy(x, 0, kImageWidth, strip.height());
        image.setMask(image.createMaskFromColor(Qt::black, Qt::MaskInColor));
        m_images.append(image);
    }
    viewport()->update();
}

int CReportCtrl::EndEdit(bool) {
    return 0;
}

void CReportCtrl::OnColumnClick(int column) {
    const bool ascending = column != m_nSortColumn || !m_bSortAscending;
    SortItems(column, ascending);
}

void CReportCtrl::SortItems(int column, bool ascending) {
    EndEdit(true);
    if (column < 0 || column >= columnCount() || isHeaderHidden() || !header()->sectionsClickable()) {
        return;
    }
    m_nSortColumn = column;
    m_bSortAscending = ascending;
    SortRange(0, topLevelItemCount() - 1);
    emit Sorted(column, ascending ? 1 : 0);
}

void CReportCtrl::SortRange(int first, int last) {
    if (first < 0 || first >= last || last >= topLevelItemCount()) {
        return;
    }
    const int column = m_nSortColumn;
    const int sign = m_bSortAscending ? 1 : -1;
    std::vector<QString> keys;
    std::vector<int> order;
    for (int r = first; r <= last; ++r) {
        keys.push_back(RowAt(r)->text(column));
        order.push_back(r - first);
    }
    auto compare = [&](int index, const QString& pivot) {
        return sign * CompareTexts(keys[size_t(index)], pivot);
    };

    // Quicksort with the middle element as pivot. The comparison is not a strict ordering across
    // kinds of text (hexadecimal, decimal, date, plain), so it must not go to a library sort;
    // this partition only needs each text to compare equal to itself, which stops both cursors
    // at the pivot, and the bounds keep them inside the range regardless.
    struct Range {
        int lo;
        int hi;
    };
    std::vector<Range> pending{{0, int(order.size()) - 1}};
    while (!pending.empty()) {
        Range range = pending.back();
        pending.pop_back();
        while (range.lo < range.hi) {
            const QString pivot = keys[size_t(order[size_t((range.lo + range.hi) / 2)])];
            int i = range.lo;
            int j = range.hi;
            while (i <= j) {
                while (i <= range.hi && compare(order[size_t(i)], pivot) < 0) {
                    ++i;
                }
                while (j >= range.lo && compare(order[size_t(j)], pivot) > 0) {
                    --j;
                }
                if (i <= j) {
                    std::swap(order[size_t(i)], order[size_t(j)]);
                    ++i;
                    --j;
                }
            }
            if (i <= range.lo || j >= range.hi) {
                break;  // no progress: only possible with a broken comparison
            }
            if (range.lo < j) {
                pending.push_back({range.lo, j});
            }
            range.lo = i;
        }
    }

    // Put the rows back in sorted order, keeping which are selected and which has the focus.
    QTreeWidgetItem* current = currentItem();
    std::vector<QTreeWidgetItem*> rows;
    std::vector<bool> selected;
    for (int r = first; r <= last; ++r) {
        rows.push_back(topLevelItem(r));
        selected.push_back(topLevelItem(r)->isSelected());
    }
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    const QSignalBlocker block(selectionModel());
    for (int r = first; r <= last; ++r) {
        takeTopLevelItem(first);
    }
    for (size_t k = 0; k < order.size(); ++k) {
        insertTopLevelItem(first + int(k), rows[size_t(order[k])]);
    }
    for (size_t k = 0; k < rows.size(); ++k) {
        rows[k]->setSelected(selected[k]);
    }
    if (current != nullptr) {
        selectionModel()->setCurrentIndex(indexFromItem(current), QItemSelectionModel::NoUpdate);
    }
    setUpdatesEnabled(updates);
}

int CReportCtrl::CompareTexts(const QString& a, const QString& b) {
    if (!a.isEmpty() && !b.isEmpty()) {
        quint64 x = 0;
        quint64 y = 0;
        if (ParseHex(a, &x) && ParseHex(b, &y)) {
            return Order(x, y);
        }
        double u = 0.0;
        double v = 0.0;
        if (ParseDecimal(a, &u) && ParseDecimal(b, &v)) {
            return Order(u, v);
        }
    }
    QDateTime d1;
    QDateTime d2;
    if (ParseDate(a, &d1) && ParseDate(b, &d2)) {
        return Order(d1, d2);
    }
    const QByteArray s1 = a.toUtf8();
    const QByteArray s2 = b.toUtf8();
    const int c = std::strcmp(s1.constData(), s2.constData());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Records the check state of the row under the mouse, lets the list handle the event and, when
// the row's check box changed, selects and focuses that row alone and tells the owner.
void CReportCtrl::TrackCheck(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    const int row = item != nullptr ? indexOfTopLevelItem(item) : -1;
    const Qt::CheckState before = item != nullptr ? item->checkState(0) : Qt::Unchecked;
    if (event->type() != QEvent::MouseButtonRelease) {
        EndEdit(true);
        m_lastButton = event->button();
        m_bLastDouble = event->type() == QEvent::MouseButtonDblClick;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            QTreeWidget::mousePressEvent(event);
            break;
        case QEvent::MouseButtonRelease:
            QTreeWidget::mouseReleaseEvent(event);
            break;
        default:
            QTreeWidget::mouseDoubleClickEvent(event);
            break;
    }
    if (row >= 0 && topLevelItem(row) == item && item->checkState(0) != before) {
        clearSelection();
        selectionModel()->setCurrentIndex(indexFromItem(item),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        emit CheckChangedByClick(row, m_lastButton, m_bLastDouble);
    }
}

void CReportCtrl::mousePressEvent(QMouseEvent* event) {
    TrackCheck(event);
}

void CReportCtrl::mouseReleaseEvent(QMouseEvent* event) {
    TrackCheck(event);
}

void CReportCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    TrackCheck(event);
}

// The space bar neither toggles a check box nor reaches the list.
void CReportCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
