#include "mosaic/TilesGenerationDlg.h"

#include <QWidget>

#include <cfloat>
#include <cmath>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

constexpr char kSection[] = "Tile";
// What a field holds when its text is no number.
constexpr double kUnparsed = -1234567890.0;

double ParseField(const QLineEdit& edit) {
    double value = kUnparsed;
    ZQT_StringToDouble(edit.text(), &value);
    return value;
}

QString Profile(const char* key, const char* fallback) {
    return ZQT_GetUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(key),
                                    QString::fromLatin1(fallback));
}

void WriteProfile(const char* key, const QString& value) {
    ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(key), value);
}

// An overlap from the profile: 0 for a negative value.
double StoredOverlap(const char* key) {
    return std::max(0.0, Profile(key, "0.0").toDouble());
}

// A tile size from the profile: 1000 when it is missing, no number or not above 0.
double StoredSize(const char* key) {
    double value = 0.0;
    if (!ZQT_StringToDouble(Profile(key, ""), &value) || !(value > 0.0)) {
        value = 1000.0;
    }
    return value;
}

void Refuse(const char* message) {
    KvMessageBox(QString::fromLatin1(message), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CTilesGenerationDlg::CTilesGenerationDlg(CKelvaroDoc* doc, QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_lblOriginX(QStringLiteral("Origin X:"), this),
      m_editOriginX(this),
      m_lblOriginY(QStringLiteral("Origin Y:"), this),
      m_editOriginY(this),
      m_lblOverlapX(QStringLiteral("Overlap X (m):"), this),
      m_editOverlapX(this),
      m_lblOverlapY(QStringLiteral("Overlap Y (m):"), this),
      m_editOverlapY(this),
      m_lblWidth(QStringLiteral("Width (m):"), this),
      m_editWidth(this),
      m_lblHeight(QStringLiteral("Height (m):"), this),
      m_editHeight(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_btnPreview(QStringLiteral("Preview"), this),
      m_btnPick(QStringLiteral("Pick"), this) {
    setWindowTitle(QStringLiteral("Tiles Setup"));
    setFixedSize(kv::DluSize(this, 232, 104));
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_lblOriginX, 0, {7, 9, 50, 10}},
        {&m_editOriginX, IDC_ORIGIN_X, {60, 7, 70, 14}},
        {&m_btnPick, IDC_PICK, {136, 7, 50, 14}},
        {&m_lblOriginY, 0, {7, 27, 50, 10}},
        {&m_editOriginY, IDC_ORIGIN_Y, {60, 25, 70, 14}},
        {&m_lblWidth, 0, {7, 45, 50, 10}},
        {&m_editWidth, IDC_WIDTH, {60, 43, 50, 14}},
        {&m_lblHeight, 0, {118, 45, 50, 10}},
        {&m_editHeight, IDC_HEIGHT, {172, 43, 53, 14}},
        {&m_lblOverlapX, 0, {7, 63, 50, 10}},
        {&m_editOverlapX, IDC_OVERLAP_X, {60, 61, 50, 14}},
        {&m_lblOverlapY, 0, {118, 63, 50, 10}},
        {&m_editOverlapY, IDC_OVERLAP_Y, {172, 61, 53, 14}},
        {&m_btnPreview, IDC_PREVIEW, {7, 83, 56, 14}},
        {&m_btnOK, IDOK, {115, 83, 52, 14}},
        {&m_btnCancel, IDCANCEL, {173, 83, 52, 14}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        if (item.id) {
            item.widget->setObjectName(QString::number(item.id));
        }
    }
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnBnClickedOk(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnBnClickedCancel(); });
    connect(&m_btnPreview, &QPushButton::clicked, this, [this] { OnBnClickedPreview(); });
    connect(&m_btnPick, &QPushButton::clicked, this, [this] { OnBnClickedPick(); });
}

bool CTilesGenerationDlg::OnInitDialog() {
    if (!m_pDoc) {
        EndDialog(IDCANCEL);
        return true;
    }
    CadDrawing* drawing = m_pDoc->m_pCad;
    CadLayer* tiles = GetTileLayer(drawing, kTilesLayer);
    CadLayer* preview = GetTileLayer(drawing, kTempTilesLayer);
    if (!tiles || !preview) {
        EndDialog(IDCANCEL);
        return true;
    }
    CadLayerPutLock(tiles, 1);
    CadLayerPutVisible(preview, 1);
    CadLayerPutLock(preview, 1);
    SetCadLayerOrder(drawing, preview);

    m_dMinX = m_dMinY = DBL_MAX;
    m_dMaxX = m_dMaxY = -DBL_MAX;
    m_footprint = TileFootprint(*m_pDoc);
    if (m_footprint.GetNumContours() == 0) {
        EndDialog(IDCANCEL);
        return true;
    }
    Wml::Point2 low, high;
    m_footprint.GetBoundingBox(low, high);
    m_dMinX = low.X();
    m_dMinY = low.Y();
    m_dMaxX = high.X();
    m_dMaxY = high.Y();

    const bool picking = Profile("Picking", "0").toInt() != 0;
    WriteProfile("Picking", QStringLiteral("0"));
    double originX = std::trunc(m_dMinX);
    double originY = std::trunc(m_dMinY);
    if (picking) {
        originX = Profile("MinX", "0.0").toDouble();
        originY = Profile("MinY", "0.0").toDouble();
    }
    m_editOriginX.setText(QString::asprintf("%.1lf", originX));
    m_editOriginY.setText(QString::asprintf("%.1lf", originY));
    m_editOverlapX.setText(QString::asprintf("%.3lf", StoredOverlap("OverlapX")));
    m_editOverlapY.setText(QString::asprintf("%.3lf", StoredOverlap("OverlapY")));
    m_editWidth.setText(QString::asprintf("%.3lf", StoredSize("Width")));
    m_editHeight.setText(QString::asprintf("%.3lf", StoredSize("Height")));

    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnPreview.SetIcon(IDI_PREVIEW, IDI_PREVIEW_DISABLED);
    m_btnPick.SetIcon(IDI_PICK, IDI_PICK_DISABLED);
    return true;
}

void CTilesGenerationDlg::hideEvent(QHideEvent* event) {
    // The next opening sets the dialog up again; the layout layers are the operator's again.
    InitAgainOnNextShow();
    if (m_pDoc) {
        for (const char* name : {kTilesLayer, kTempTilesLayer}) {
            if (CadLayer* layer = CadGetLayerByName(m_pDoc->m_pCad, name)) {
                CadLayerPutLock(layer, 0);
            }
        }
    }
    KvDialog::hideEvent(event);
}

bool CTilesGenerationDlg::CheckFields(TileGrid& grid, bool store) {
    grid.originX = ParseField(m_editOriginX);
    if (grid.originX == kUnparsed || !(grid.originX < std::trunc(m_dMaxX) + 1.0)) {
        Refuse("Invalid Min X value!");
        return false;
    }
    grid.originY = ParseField(m_editOriginY);
    if (grid.originY == kUnparsed || !(grid.originY < std::trunc(m_dMaxY) + 1.0)) {
        Refuse("Invalid Min Y value!");
        return false;
    }
    // A size of 0 or less would lay no tile or a grid that never advances.
    grid.width = ParseField(m_editWidth);
    if (grid.width == kUnparsed || !(grid.width > 0.0)) {
        Refuse("Invalid Size X value!");
        return false;
    }
    if (store) {
        WriteProfile("Width", m_editWidth.text());
    }
    grid.height = ParseField(m_editHeight);
    if (grid.height == kUnparsed || !(grid.height > 0.0)) {
        Refuse("Invalid Size Y value!");
        return false;
    }
    if (store) {
        WriteProfile("Height", m_editHeight.text());
    }
    grid.overlapX = ParseField(m_editOverlapX);
    if (grid.overlapX == kUnparsed || !(grid.overlapX < 0.25 * grid.width)) {
        Refuse("Invalid Overlap X value!");
        return false;
    }
    if (store) {
        WriteProfile("OverlapX", m_editOverlapX.text());
    }
    grid.overlapY = ParseField(m_editOverlapY);
    if (grid.overlapY == kUnparsed || !(grid.overlapY < 0.25 * grid.height)) {
        Refuse("Invalid Overlap Y value!");
        return false;
    }
    if (store) {
        WriteProfile("OverlapY", m_editOverlapY.text());
    }
    return true;
}

void CTilesGenerationDlg::ErasePreview() {
    for (CadEntity* entity : m_previewHandles) {
        CadEntityErase(entity, 1);
    }
    m_previewHandles.clear();
}

void CTilesGenerationDlg::OnBnClickedPreview() {
    TileGrid grid;
    if (!m_pDoc || !CheckFields(grid, false)) {
        return;
    }
    ErasePreview();
    CadDrawing* drawing = m_pDoc->m_pCad;
    CadLayer* preview = GetTileLayer(drawing, kTempTilesLayer);
    for (const GridTile& tile : LayTileGrid(m_footprint, grid, ZQT_PumpMessages)) {
        const std::vector<Wml::Point3> outline = {{tile.x, tile.y, 0.0},
                                                  {tile.x + grid.width, tile.y, 0.0},
                                                  {tile.x + grid.width, tile.y + grid.height, 0.0},
                                                  {tile.x, tile.y + grid.height, 0.0}};
        const TileHandleStruct added = AddTile(drawing, preview, tile.name, outline, kPreviewTileColour);
        m_previewHandles.push_back(added.outline);
        m_previewHandles.push_back(added.label);
    }
    CadPurge(drawing, CAD_PURGE_ALL);
    kv::DocExecute(drawing, CadGetWindow(drawing), CAD_CMD_ZOOM_EXTENTS);
}

void CTilesGenerationDlg::OnBnClickedOk() {
    if (m_previewHandles.empty()) {
        Refuse("No tiles to add!");
        return;
    }
    TileGrid grid;
    if (!m_pDoc || !CheckFields(grid, true)) {
        return;
    }
    CadDrawing* drawing = m_pDoc->m_pCad;
    CadLayer* tiles = GetTileLayer(drawing, kTilesLayer);
    std::vector<CadEntity*> old;
    for (CadEntity* e = CadLayerGetFirstEntity(tiles); e; e = CadLayerGetNextEntity(tiles, e)) {
        old.push_back(e);
    }
    for (CadEntity* e : old) {
        CadEntityErase(e, 1);
    }
    CadUpdate(drawing);
    const int layerId = CadLayerGetID(tiles);
    for (CadEntity* e : m_previewHandles) {
        CadEntityPutLayerID(e, layerId);
        CadEntityPutColor(e, kTileColour);
    }
    m_previewHandles.clear();
    CadLayerPutVisible(tiles, 1);
    CadUpdate(drawing);
    EndDialog(IDOK);
}

void CTilesGenerationDlg::OnBnClickedPick() {
    WriteProfile("Width", m_editWidth.text());
    WriteProfile("Height", m_editHeight.text());
    WriteProfile("MinX", m_editOriginX.text());
    WriteProfile("MinY", m_editOriginY.text());
    WriteProfile("OverlapX", m_editOverlapX.text());
    WriteProfile("OverlapY", m_editOverlapY.text());
    WriteProfile("Picking", QStringLiteral("1"));
    EndDialog(IDC_PICK_RESULT);
}

void CTilesGenerationDlg::OnBnClickedCancel() {
    ErasePreview();
    if (m_pDoc) {
        CadPurge(m_pDoc->m_pCad, CAD_PURGE_ALL);
    }
    EndDialog(IDCANCEL);
}
