#include "platform/cad/CadDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/ui/Interaction.h"

using namespace cad;

namespace {

constexpr double kPi = 3.14159265358979323846;
const char* const kVaries = "*VARIES*";

struct Named {
    const char* name;
    long long value;
};

const Named kLineTypes[] = {
    {"Continuous", CAD_LTYPE_CONTINUOUS},
    {"Dashed", CAD_LTYPE_DASHED},
    {"Dotted", CAD_LTYPE_DOTTED},
    {"DashDot", CAD_LTYPE_DASHDOT},
};

// Line weights in hundredths of a millimetre.
const int kLineWeights[] = {0,  5,  9,  13, 15, 18,  20,  25,  30,  35,  40,  50,
                            53, 60, 70, 80, 90, 100, 106, 120, 140, 158, 200, 211};

QString ColourName(int index) {
    static const char* const kNames[8] = {"ByBlock", "Red",  "Yellow",  "Green",
                                          "Cyan",    "Blue", "Magenta", "White"};
    if (index == CAD_COLOR_BYLAYER)
        return QStringLiteral("ByLayer");
    if (index >= 0 && index < 8)
        return QString::fromUtf8(kNames[index]);
    return QStringLiteral("Colour %1").arg(index);
}

QIcon Swatch(int index) {
    QPixmap pm(12, 12);
    const uint32_t c = CadColorGetRGB(index);
    pm.fill(QColor(int(c & 255), int((c >> 8) & 255), int((c >> 16) & 255)));
    return QIcon(pm);
}

QString LineTypeName(uint32_t type) {
    if (type == CAD_LTYPE_BYLAYER)
        return QStringLiteral("ByLayer");
    for (const Named& n : kLineTypes)
        if (uint32_t(n.value) == type)
            return QString::fromUtf8(n.name);
    return QStringLiteral("0x%1").arg(type, 8, 16, QLatin1Char('0'));
}

QString LineWeightName(int weight) {
    switch (weight) {
        case CAD_LWEIGHT_BYLAYER:
            return QStringLiteral("ByLayer");
        case CAD_LWEIGHT_BYBLOCK:
            return QStringLiteral("ByBlock");
        case CAD_LWEIGHT_DEFAULT:
            return QStringLiteral("Default");
        default:
            return QStringLiteral("%1 mm").arg(weight / 100.0, 0, 'f', 2);
    }
}

// The choices of a colour, line type or line weight; byLayer adds the "by layer" (and "by
// block") values that entities may have and layers may not.
void FillColours(QComboBox* box, bool byLayer) {
    if (byLayer) {
        box->addItem(ColourName(CAD_COLOR_BYLAYER), CAD_COLOR_BYLAYER);
        box->addItem(ColourName(CAD_COLOR_BYBLOCK), CAD_COLOR_BYBLOCK);
    }
    for (int i = 1; i < 256; ++i)
        box->addItem(Swatch(i), ColourName(i), i);
}

void FillLineTypes(QComboBox* box, bool byLayer) {
    if (byLayer)
        box->addItem(LineTypeName(CAD_LTYPE_BYLAYER), qlonglong(CAD_LTYPE_BYLAYER));
    for (const Named& n : kLineTypes)
        box->addItem(QString::fromUtf8(n.name), qlonglong(n.value));
}

void FillLineWeights(QComboBox* box, bool byLayer) {
    if (byLayer) {
        box->addItem(LineWeightName(CAD_LWEIGHT_BYLAYER), CAD_LWEIGHT_BYLAYER);
        box->addItem(LineWeightName(CAD_LWEIGHT_BYBLOCK), CAD_LWEIGHT_BYBLOCK);
    }
    box->addItem(LineWeightName(CAD_LWEIGHT_DEFAULT), CAD_LWEIGHT_DEFAULT);
    for (int w : kLineWeights)
        box->addItem(LineWeightName(w), w);
}

// Selects the entry of that value, adding it (with its label) when the list lacks it.
void Choose(QComboBox* box, const QVariant& value, const QString& label) {
    int i = box->findData(value);
    if (i < 0) {
        box->addItem(label, value);
        i = box->count() - 1;
    }
    box->setCurrentIndex(i);
}

// Shows "*VARIES*" selected: the value stays as it is on each entity.
void ChooseVaries(QComboBox* box) {
    box->insertItem(0, QString::fromUtf8(kVaries), QVariant());
    box->setCurrentIndex(0);
}

QPushButton* Button(QWidget* parent, const QString& text, const char* name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setAutoDefault(false);
    return b;
}

// The OK and Cancel row at the bottom of a dialog.
QHBoxLayout* OkCancelRow(KvDialog* dlg) {
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    QPushButton* ok = Button(dlg, QStringLiteral("OK"), "ok");
    QPushButton* cancel = Button(dlg, QStringLiteral("Cancel"), "cancel");
    ok->setDefault(true);
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(ok, &QPushButton::clicked, dlg, &KvDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dlg, &KvDialog::reject);
    return row;
}

QListWidgetItem* AddListItem(QListWidget* list, const QString& text, const QVariant& value, bool current) {
    auto* item = new QListWidgetItem(text, list);
    item->setData(Qt::UserRole, value);
    if (current)
        list->setCurrentItem(item);
    return item;
}

bool ParseNumber(const QLineEdit* edit, double& v) {
    bool ok = false;
    v = edit->text().trimmed().toDouble(&ok);
    return ok && std::isfinite(v);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Layers

CadLayersDlg::CadLayersDlg(CadDrawing* drawing, QWidget* parent) : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Layers"));
    auto* box = new QVBoxLayout(this);
    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("layers"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Current"), QStringLiteral("Name"), QStringLiteral("On"), QStringLiteral("Locked"),
         QStringLiteral("Colour"), QStringLiteral("Line type"), QStringLiteral("Line weight")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    box->addWidget(table_, 1);
    auto* row = new QHBoxLayout();
    QPushButton* add = Button(this, QStringLiteral("New"), "new");
    QPushButton* remove = Button(this, QStringLiteral("Delete"), "delete");
    QPushButton* current = Button(this, QStringLiteral("Set Current"), "current");
    row->addWidget(add);
    row->addWidget(remove);
    row->addWidget(current);
    row->addStretch(1);
    box->addLayout(row);
    box->addLayout(OkCancelRow(this));
    connect(add, &QPushButton::clicked, this, [this] { OnNew(); });
    connect(remove, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(current, &QPushButton::clicked, this, [this] { OnSetCurrent(); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int r, int c) {
        if (c == kCurrent) {
            table_->selectRow(r);
            OnSetCurrent();
        }
    });
    resize(640, 360);
}

bool CadLayersDlg::OnInitDialog() {
    CadLayer* current = CadGetCurLayer(drawing_);
    for (CadLayer* l : drawing_->layers) {
        if (l->deleted)
            continue;
        if (l == current)
            currentRow_ = table_->rowCount();
        AddRow(l, QString::fromStdString(l->name), l->colour, l->lineType, l->lineWeight, l->visible,
               l->locked);
    }
    MarkCurrent(currentRow_);
    table_->selectRow(currentRow_);
    return true;
}

void CadLayersDlg::AddRow(CadLayer* layer, const QString& name, int colour, uint32_t lineType, int lineWeight,
                          bool on, bool locked) {
    const int r = table_->rowCount();
    table_->insertRow(r);
    rowLayer_.push_back(layer);
    auto* mark = new QTableWidgetItem();
    mark->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table_->setItem(r, kCurrent, mark);
    auto* nameItem = new QTableWidgetItem(name);
    // Layer "0" keeps its name.
    if (layer && layer->id == 0)
        nameItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table_->setItem(r, kName, nameItem);
    for (int c : {int(kOn), int(kLocked)}) {
        auto* check = new QTableWidgetItem();
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        check->setCheckState((c == kOn ? on : locked) ? Qt::Checked : Qt::Unchecked);
        table_->setItem(r, c, check);
    }
    auto* colours = new QComboBox(table_);
    FillColours(colours, false);
    Choose(colours, colour, ColourName(colour));
    table_->setCellWidget(r, kColour, colours);
    auto* types = new QComboBox(table_);
    FillLineTypes(types, false);
    Choose(types, qlonglong(lineType), LineTypeName(lineType));
    table_->setCellWidget(r, kLineType, types);
    auto* weights = new QComboBox(table_);
    FillLineWeights(weights, false);
    Choose(weights, lineWeight, LineWeightName(lineWeight));
    table_->setCellWidget(r, kLineWeight, weights);
}

void CadLayersDlg::MarkCurrent(int row) {
    currentRow_ = row;
    for (int r = 0; r < table_->rowCount(); ++r)
        table_->item(r, kCurrent)->setText(r == row ? QString::fromUtf8("\u2713") : QString());
}

void CadLayersDlg::OnNew() {
    std::set<QString> names;
    for (int r = 0; r < table_->rowCount(); ++r)
        names.insert(table_->item(r, kName)->text());
    QString name;
    for (int k = 1;
         name.isEmpty() || names.count(name) || CadGetLayerByName(drawing_, name.toUtf8().constData()); ++k)
        name = QStringLiteral("Layer%1").arg(k);
    AddRow(nullptr, name, CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT, true, false);
    const int r = table_->rowCount() - 1;
    table_->selectRow(r);
    if (isVisible())
        table_->editItem(table_->item(r, kName));
}

void CadLayersDlg::OnDelete() {
    const int r = table_->currentRow();
    if (r < 0)
        return;
    CadLayer* l = rowLayer_[size_t(r)];
    if (l && l->id == 0) {
        KvMessageBox(QStringLiteral("Layer \"0\" cannot be deleted."), MB_OK | MB_ICONWARNING);
        return;
    }
    if (r == currentRow_) {
        KvMessageBox(QStringLiteral("The current layer cannot be deleted."), MB_OK | MB_ICONWARNING);
        return;
    }
    if (l) {
        int count = 0;
        for (CadEntity* e = CadLayerGetFirstEntity(l); e; e = CadLayerGetNextEntity(l, e))
            ++count;
        if (count > 0 && KvMessageBox(QStringLiteral("Layer \"%1\" holds %2 entities: delete it with them?")
                                          .arg(QString::fromStdString(l->name))
                                          .arg(count),
                                      MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        deleted_.push_back(l);
    }
    table_->removeRow(r);
    rowLayer_.erase(rowLayer_.begin() + r);
    if (currentRow_ > r)
        --currentRow_;
}

void CadLayersDlg::OnSetCurrent() {
    const int r = table_->currentRow();
    if (r >= 0)
        MarkCurrent(r);
}

void CadLayersDlg::OnOK() {
    // Names first: none empty, none twice.
    std::set<QString> names;
    for (int r = 0; r < table_->rowCount(); ++r) {
        const QString name = table_->item(r, kName)->text().trimmed();
        if (name.isEmpty()) {
            KvMessageBox(QStringLiteral("A layer needs a name."), MB_OK | MB_ICONWARNING);
            return;
        }
        if (CadLayer* l = rowLayer_[size_t(r)]; l && l->id == 0 && name != QStringLiteral("0")) {
            KvMessageBox(QStringLiteral("Layer \"0\" cannot be renamed."), MB_OK | MB_ICONWARNING);
            return;
        }
        if (!names.insert(name).second) {
            KvMessageBox(QStringLiteral("A layer named \"%1\" already exists.").arg(name),
                         MB_OK | MB_ICONWARNING);
            return;
        }
    }
    CadDrawing* d = drawing_;
    for (CadLayer* l : deleted_)
        CadDeleteLayer(d, l);
    // Names change in two passes, so that two layers may swap names; a deleted layer (kept until
    // a purge) gives up a name that a row wants.
    for (int r = 0; r < table_->rowCount(); ++r)
        if (CadLayer* l = rowLayer_[size_t(r)];
            l && QString::fromStdString(l->name) != table_->item(r, kName)->text().trimmed())
            l->name.clear();
    for (int r = 0; r < table_->rowCount(); ++r) {
        const std::string name = table_->item(r, kName)->text().trimmed().toStdString();
        CadLayer* other = CadGetLayerByName(d, name.c_str());
        if (other && other->deleted)
            other->name = "*deleted " + std::to_string(other->id);
        if (CadLayer* l = rowLayer_[size_t(r)])
            l->name = name;
    }
    d->dirty = true;
    for (int r = 0; r < table_->rowCount(); ++r) {
        const QString name = table_->item(r, kName)->text().trimmed();
        const int colour = static_cast<QComboBox*>(table_->cellWidget(r, kColour))->currentData().toInt();
        const auto lineType =
            uint32_t(static_cast<QComboBox*>(table_->cellWidget(r, kLineType))->currentData().toLongLong());
        const int lineWeight =
            static_cast<QComboBox*>(table_->cellWidget(r, kLineWeight))->currentData().toInt();
        CadLayer* l = rowLayer_[size_t(r)];
        if (!l) {
            l = CadAddLayer(d, name.toUtf8().constData(), colour, lineType, lineWeight);
            if (!l)
                continue;
        }
        if (l->colour != colour)
            CadLayerPutColor(l, colour);
        if (l->lineType != lineType)
            CadLayerPutLineType(l, lineType);
        if (l->lineWeight != lineWeight)
            CadLayerPutLineWeight(l, lineWeight);
        CadLayerPutVisible(l, table_->item(r, kOn)->checkState() == Qt::Checked);
        CadLayerPutLock(l, table_->item(r, kLocked)->checkState() == Qt::Checked);
        if (r == currentRow_)
            CadSetCurLayer(d, l);
    }
    CadUpdate(d);
    EndDialog(IDOK);
}

// ---------------------------------------------------------------------------------------------
// Line type and line weight

CadLineTypeDlg::CadLineTypeDlg(CadDrawing* drawing, QWidget* parent) : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Line Type"));
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(QStringLiteral("Line type of new entities:"), this));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("types"));
    const uint32_t current = drawing->drawStyle.lineType;
    AddListItem(list_, LineTypeName(CAD_LTYPE_BYLAYER), qlonglong(CAD_LTYPE_BYLAYER),
                current == CAD_LTYPE_BYLAYER);
    for (const Named& n : kLineTypes)
        AddListItem(list_, QString::fromUtf8(n.name), n.value, uint32_t(n.value) == current);
    box->addWidget(list_, 1);
    box->addLayout(OkCancelRow(this));
}

void CadLineTypeDlg::OnOK() {
    if (QListWidgetItem* item = list_->currentItem())
        drawing_->drawStyle.lineType = uint32_t(item->data(Qt::UserRole).toLongLong());
    EndDialog(IDOK);
}

CadLineWeightDlg::CadLineWeightDlg(CadDrawing* drawing, QWidget* parent)
    : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Line Weight"));
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(QStringLiteral("Line weight of new entities:"), this));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("weights"));
    const int current = drawing->drawStyle.lineWeight;
    for (int w : {int(CAD_LWEIGHT_BYLAYER), int(CAD_LWEIGHT_BYBLOCK), int(CAD_LWEIGHT_DEFAULT)})
        AddListItem(list_, LineWeightName(w), w, w == current);
    for (int w : kLineWeights)
        AddListItem(list_, LineWeightName(w), w, w == current);
    box->addWidget(list_, 1);
    display_ = new QCheckBox(QStringLiteral("Display line weights"), this);
    display_->setObjectName(QStringLiteral("display"));
    display_->setChecked(CadGetLwDisplay(drawing));
    box->addWidget(display_);
    box->addLayout(OkCancelRow(this));
}

void CadLineWeightDlg::OnOK() {
    if (QListWidgetItem* item = list_->currentItem())
        drawing_->drawStyle.lineWeight = item->data(Qt::UserRole).toInt();
    CadPutLwDisplay(drawing_, display_->isChecked() ? 1 : 0);
    EndDialog(IDOK);
}

// ---------------------------------------------------------------------------------------------
// Dimension and point styles

CadDimStyleDlg::CadDimStyleDlg(CadDrawing* drawing, QWidget* parent) : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Dimension Style"));
    auto* form = new QFormLayout();
    auto spin = [this](const char* name, double value) {
        auto* s = new QDoubleSpinBox(this);
        s->setObjectName(QString::fromUtf8(name));
        s->setDecimals(4);
        s->setRange(0, 1e9);
        s->setValue(value);
        return s;
    };
    const DimStyle& st = drawing->dimStyle;
    textHeight_ = spin("textHeight", st.textHeight);
    textHeight_->setSpecialValueText(QStringLiteral("Screen size"));
    arrowSize_ = spin("arrowSize", st.arrowSize);
    arrowSize_->setSpecialValueText(QStringLiteral("Screen size"));
    decimals_ = new QSpinBox(this);
    decimals_->setObjectName(QStringLiteral("decimals"));
    decimals_->setRange(0, 8);
    decimals_->setValue(st.decimals);
    form->addRow(QStringLiteral("Text height:"), textHeight_);
    form->addRow(QStringLiteral("Arrow size:"), arrowSize_);
    form->addRow(QStringLiteral("Decimal places:"), decimals_);
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(OkCancelRow(this));
}

void CadDimStyleDlg::OnOK() {
    DimStyle& st = drawing_->dimStyle;
    st.textHeight = textHeight_->value();
    st.arrowSize = arrowSize_->value();
    st.decimals = decimals_->value();
    drawing_->dirty = true;
    NotifyRepaint(drawing_);
    EndDialog(IDOK);
}

CadPointStyleDlg::CadPointStyleDlg(CadDrawing* drawing, QWidget* parent)
    : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Point Style"));
    mark_ = new QComboBox(this);
    mark_->setObjectName(QStringLiteral("mark"));
    mark_->addItem(QStringLiteral("Cross"), kPointCross);
    mark_->addItem(QStringLiteral("Dot"), kPointDot);
    mark_->addItem(QStringLiteral("X"), kPointX);
    mark_->addItem(QStringLiteral("Circle"), kPointCircle);
    mark_->addItem(QStringLiteral("Square"), kPointSquare);
    mark_->setCurrentIndex(std::max(0, mark_->findData(drawing->pointStyle.mark)));
    size_ = new QSpinBox(this);
    size_->setObjectName(QStringLiteral("size"));
    size_->setRange(1, 64);
    size_->setSuffix(QStringLiteral(" px"));
    size_->setValue(drawing->pointStyle.size);
    auto* form = new QFormLayout();
    form->addRow(QStringLiteral("Mark:"), mark_);
    form->addRow(QStringLiteral("Size:"), size_);
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(OkCancelRow(this));
}

void CadPointStyleDlg::OnOK() {
    drawing_->pointStyle.mark = mark_->currentData().toInt();
    drawing_->pointStyle.size = size_->value();
    drawing_->dirty = true;
    NotifyRepaint(drawing_);
    EndDialog(IDOK);
}

// ---------------------------------------------------------------------------------------------
// Object snaps

CadOsnapDlg::CadOsnapDlg(CadDrawing* drawing, QWidget* parent) : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Object Snap"));
    auto* box = new QVBoxLayout(this);
    on_ = new QCheckBox(QStringLiteral("Object snap on (F3)"), this);
    on_->setObjectName(QStringLiteral("on"));
    on_->setChecked(CadSnapGetOn(drawing));
    box->addWidget(on_);
    static const struct {
        const char* name;
        const char* caption;
        int bit;
    } kSnaps[] = {
        {"end", "Endpoint", CAD_SNAP_END},
        {"mid", "Midpoint", CAD_SNAP_MID},
        {"center", "Center", CAD_SNAP_CENTER},
        {"node", "Node", CAD_SNAP_NODE},
        {"intersection", "Intersection", CAD_SNAP_INTERSECTION},
        {"perpendicular", "Perpendicular", CAD_SNAP_PERPENDICULAR},
        {"nearest", "Nearest", CAD_SNAP_NEAREST},
        {"image", "Image surface", CAD_SNAP_IMAGEPLACE},
    };
    const int mode = CadSnapGetMode(drawing);
    for (const auto& s : kSnaps) {
        auto* check = new QCheckBox(QString::fromUtf8(s.caption), this);
        check->setObjectName(QString::fromUtf8(s.name));
        check->setChecked(mode & s.bit);
        box->addWidget(check);
        bits_.push_back({check, s.bit});
    }
    auto* row = new QHBoxLayout();
    QPushButton* all = Button(this, QStringLiteral("Select All"), "all");
    QPushButton* none = Button(this, QStringLiteral("Clear All"), "clear");
    row->addWidget(all);
    row->addWidget(none);
    box->addLayout(row);
    box->addLayout(OkCancelRow(this));
    auto setAll = [this](bool on) {
        for (auto& [check, bit] : bits_)
            check->setChecked(on);
    };
    connect(all, &QPushButton::clicked, this, [setAll] { setAll(true); });
    connect(none, &QPushButton::clicked, this, [setAll] { setAll(false); });
}

void CadOsnapDlg::OnOK() {
    // Bits the pane does not show stay as they are.
    int mode = CadSnapGetMode(drawing_);
    for (const auto& [check, bit] : bits_)
        mode = check->isChecked() ? (mode | bit) : (mode & ~bit);
    CadSnapPutMode(drawing_, mode);
    CadSnapPutOn(drawing_, on_->isChecked() ? 1 : 0);
    EndDialog(IDOK);
}

// ---------------------------------------------------------------------------------------------
// Properties

CadPropertiesDlg::CadPropertiesDlg(CadDrawing* drawing, QWidget* parent)
    : KvDialog(parent), drawing_(drawing) {
    setWindowTitle(QStringLiteral("Properties"));
    for (CadEntity* e : drawing->selection) {
        CadLayer* l = LayerOf(e);
        if (Alive(e) && !(l && l->locked))
            entities_.push_back(e);
    }
    const bool defaults = entities_.empty();
    auto* form = new QFormLayout();
    auto combo = [this](const char* name) {
        auto* c = new QComboBox(this);
        c->setObjectName(QString::fromUtf8(name));
        return c;
    };
    layer_ = combo("layer");
    for (CadLayer* l : drawing->layers)
        if (!l->deleted)
            layer_->addItem(QString::fromStdString(l->name), l->id);
    colour_ = combo("colour");
    FillColours(colour_, true);
    lineType_ = combo("lineType");
    FillLineTypes(lineType_, true);
    lineWeight_ = combo("lineWeight");
    FillLineWeights(lineWeight_, true);

    // Each list shows the value all entities share, or "*VARIES*".
    auto show = [this](QComboBox* box, auto value, auto label) {
        bool same = true;
        for (CadEntity* e : entities_)
            same = same && value(e) == value(entities_.front());
        if (same)
            Choose(box, value(entities_.front()), label(value(entities_.front())));
        else
            ChooseVaries(box);
    };
    if (defaults) {
        const DrawStyle& st = drawing->drawStyle;
        Choose(layer_, CadGetCurLayer(drawing)->id, QString());
        Choose(colour_, st.colour, ColourName(st.colour));
        Choose(lineType_, qlonglong(st.lineType), LineTypeName(st.lineType));
        Choose(lineWeight_, st.lineWeight, LineWeightName(st.lineWeight));
        form->addRow(
            new QLabel(QStringLiteral("Nothing selected: the current layer and the properties of new "
                                      "entities."),
                       this));
    } else {
        show(
            layer_, [](CadEntity* e) { return e->layerId; }, [](int) { return QString(); });
        show(
            colour_, [](CadEntity* e) { return e->colour; }, ColourName);
        show(
            lineType_, [](CadEntity* e) { return qlonglong(e->lineType); },
            [](qlonglong t) { return LineTypeName(uint32_t(t)); });
        show(
            lineWeight_, [](CadEntity* e) { return e->lineWeight; }, LineWeightName);
        form->addRow(new QLabel(QStringLiteral("%1 selected").arg(entities_.size()), this));
    }
    form->addRow(QStringLiteral("Layer:"), layer_);
    form->addRow(QStringLiteral("Colour:"), colour_);
    form->addRow(QStringLiteral("Line type:"), lineType_);
    form->addRow(QStringLiteral("Line weight:"), lineWeight_);
    if (entities_.size() == 1 && entities_.front()->type == CAD_ENT_TEXT) {
        CadEntity* t = entities_.front();
        auto edit = [this](const char* name, const QString& value) {
            auto* e = new QLineEdit(value, this);
            e->setObjectName(QString::fromUtf8(name));
            return e;
        };
        text_ = edit("text", QString::fromStdString(t->text));
        height_ = edit("height", QString::number(CadTextGetHeight(t), 'g', 10));
        angle_ = edit("angle", QString::number(CadTextGetAngle(t) * 180 / kPi, 'g', 10));
        form->addRow(QStringLiteral("Text:"), text_);
        form->addRow(QStringLiteral("Height:"), height_);
        form->addRow(QStringLiteral("Rotation:"), angle_);
    }
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(OkCancelRow(this));
}

void CadPropertiesDlg::OnOK() {
    double height = 0, angle = 0;
    if (text_ && (!ParseNumber(height_, height) || !(height > 0) || !ParseNumber(angle_, angle))) {
        KvMessageBox(QStringLiteral("The height must be a positive number and the rotation a number."),
                     MB_OK | MB_ICONWARNING);
        return;
    }
    const QVariant layer = layer_->currentData(), colour = colour_->currentData(),
                   lineType = lineType_->currentData(), lineWeight = lineWeight_->currentData();
    if (entities_.empty()) {
        DrawStyle& st = drawing_->drawStyle;
        CadSetCurLayer(drawing_, CadGetLayerByID(drawing_, layer.toInt()));
        st.colour = colour.toInt();
        st.lineType = uint32_t(lineType.toLongLong());
        st.lineWeight = lineWeight.toInt();
        EndDialog(IDOK);
        return;
    }
    // "*VARIES*" carries no value: each entity keeps its own.
    for (CadEntity* e : entities_) {
        if (!Alive(e))
            continue;
        if (layer.isValid() && e->layerId != layer.toInt())
            CadEntityPutLayerID(e, layer.toInt());
        if (colour.isValid())
            CadEntityPutColor(e, colour.toInt());
        if (lineType.isValid())
            CadEntityPutLineType(e, uint32_t(lineType.toLongLong()));
        if (lineWeight.isValid())
            CadEntityPutLineWeight(e, lineWeight.toInt());
    }
    if (text_ && Alive(entities_.front())) {
        CadEntity* t = entities_.front();
        CadTextPutText(t, text_->text().toUtf8().constData());
        CadTextPutHeight(t, height);
        CadTextPutAngle(t, angle * kPi / 180);
    }
    EndDialog(IDOK);
}

// ---------------------------------------------------------------------------------------------

namespace cad {

bool RunDialogCommand(CadDrawing* d, QWidget* window, int command) {
    QWidget* parent = window ? window : CadGetWindow(d);
    switch (command) {
        case CAD_CMD_LAYERS: {
            CadLayersDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        case CAD_CMD_LINETYPES: {
            CadLineTypeDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        case CAD_CMD_LINEWEIGHTS: {
            CadLineWeightDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        case CAD_CMD_DIMSTYLES: {
            CadDimStyleDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        case CAD_CMD_POINTSTYLE: {
            CadPointStyleDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        case CAD_CMD_SNAP_PANE: {
            CadOsnapDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        case CAD_CMD_PROPERTIES: {
            CadPropertiesDlg dlg(d, parent);
            dlg.DoModal();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace cad
