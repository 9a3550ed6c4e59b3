#include "analysis/ProfileDlg.h"

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

#include "analysis/ProfileCommand.h"
#include "analysis/ProfileGraph.h"
#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

const char* const kSection = "Profile";

CadLayer* FindOrAddLayer(CadDrawing* drawing, const QString& name, int colour, int lineWeight) {
    const QByteArray utf8 = name.toUtf8();
    CadLayer* layer = CadGetLayerByName(drawing, utf8.constData());
    if (!layer) {
        layer = CadAddLayer(drawing, utf8.constData(), colour, CAD_LTYPE_CONTINUOUS, lineWeight);
    }
    if (layer) {
        CadLayerPutDeleted(layer, 0);
    }
    return layer;
}

// Empties the drawing: every entity erased, and the erased ones unlinked.
void EraseAll(CadDrawing* drawing) {
    for (CadEntity* e = CadGetFirstEntity(drawing); e; e = CadGetNextEntity(drawing, e)) {
        CadEntityErase(e, 1);
    }
    CadPurge(drawing, CAD_PURGE_ENTITIES);
}

}  // namespace

CProfileDlg::CProfileDlg(QWidget* parent)
    : KvDialog(parent),
      m_hostProfile(this),
      m_hostPlan(this),
      m_frame(this),
      m_lblReference(QStringLiteral("Reference Z:"), this),
      m_editReference(this),
      m_lblZScale(QStringLiteral("Z Scale:"), this),
      m_editZScale(this),
      m_chkBreak(QStringLiteral("Break on 'no Data' values"), this),
      m_btnUpdate(QStringLiteral("Update"), this),
      m_btnExport(QStringLiteral("Export"), this),
      m_btnClose(QStringLiteral("Close"), this) {
    setWindowTitle(QStringLiteral("Profile"));
    setSizeGripEnabled(true);
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_hostProfile, IDC_PROFILE_HOST, {7, 7, 392, 220}},
        {&m_hostPlan, IDC_PLAN_HOST, {405, 7, 221, 220}},
        {&m_frame, IDC_FRAME, {7, 232, 619, 28}},
        {&m_lblReference, IDC_REFERENCE_LABEL, {14, 242, 44, 8}},
        {&m_editReference, IDC_REFERENCE, {60, 239, 60, 14}},
        {&m_lblZScale, IDC_ZSCALE_LABEL, {130, 242, 30, 8}},
        {&m_editZScale, IDC_ZSCALE, {162, 239, 40, 14}},
        {&m_chkBreak, IDC_BREAK_ON_NO_DATA, {212, 240, 110, 12}},
        {&m_btnUpdate, IDC_UPDATE, {330, 238, 60, 16}},
        {&m_btnExport, IDC_EXPORT, {396, 238, 60, 16}},
        {&m_btnClose, IDC_CLOSE, {559, 238, 60, 16}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        item.widget->setObjectName(QString::number(item.id));
    }
    resize(kv::DluSize(this, 633, 267));
    // The layout is recorded at the size it was drawn for; the dialog then opens at least at its
    // smallest size, with the windows' hosts at their final size before the windows are made.
    LayoutControls(true);
    setMinimumSize(kMinWidth, kMinHeight);
    LayoutControls(false);
    m_hostProfile.setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_hostPlan.setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_frame.setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    m_frame.lower();
    m_btnClose.setDefault(true);

    // Zooming is all the graph and the plan view offer on a right click.
    CadMenuClear(CAD_MENU_DEFAULT);
    CadMenuAdd(CAD_MENU_DEFAULT, "Zoom Extents", CAD_CMD_ZOOM_EXTENTS);
    CadMenuAdd(CAD_MENU_DEFAULT, "Zoom Window", CAD_CMD_ZOOM_WINDOW);
    CadMenuAdd(CAD_MENU_DEFAULT, "Zoom Previous", CAD_CMD_ZOOM_PREVIOUS);
    m_profileLayer = FindOrAddLayer(m_profile.Drawing(), QStringLiteral("Profile"), CAD_COLOR_GREEN, 30);

    m_profile.drawCursor = [this](QPainter* dc, int x, int y) { OnCadDrawCursor(dc, x, y); };
    m_profile.mouseMove = [this](int flags, double x, double y) { OnCadMouseMove(flags, x, y); };
    m_plan.drawImage = [this](QPainter* dc, const CadWinRect* update, int id, int left, int bottom, int w,
                              int h) { return OnCadDrawImage(dc, update, id, left, bottom, w, h); };

    connect(&m_btnUpdate, &QPushButton::clicked, this, [this] { OnBnClickedUpdate(); });
    connect(&m_chkBreak, &QCheckBox::clicked, this, [this] { OnBnClickedBreakOnNoData(); });
    connect(&m_btnExport, &QPushButton::clicked, this, [this] { OnBnClickedExport(); });
    connect(&m_btnClose, &QPushButton::clicked, this, [this] { OnBnClickedClose(); });
}

CProfileDlg::~CProfileDlg() {
    OnDestroy();
}

bool CProfileDlg::OnInitDialog() {
    LayoutControls(false);
    m_profile.Create(&m_hostProfile);
    m_plan.Create(&m_hostPlan);
    m_btnClose.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnExport.SetIcon(IDI_EXPORT, IDI_EXPORT_DISABLED);
    m_btnUpdate.SetIcon(IDI_UPDATE, IDI_UPDATE_DISABLED);

    int breakOnNoData = 1;
    ZQT_StringToBoolean(ZQT_GetUserProfileString(kSection, "BreakOnNoDataValue", "1"), &breakOnNoData);
    m_chkBreak.setChecked(breakOnNoData != 0);
    m_editZScale.setText(ZQT_GetUserProfileString(kSection, "ZScale", "1.0"));
    ZScaleOfField();

    m_events.emplace(std::vector<HostedCadView*>{&m_profile, &m_plan});
    UpdateProfile(true);
    if (!ProfileState().dem || !DrawPlanView()) {
        EndDialog(IDCANCEL);
        return true;
    }
    m_hoverDot = Wml::Point2(0.0, 0.0);
    m_current = true;
    ProfileState().current = this;
    return true;
}

double CProfileDlg::ZScaleOfField() {
    double scale = 1.0;
    if (!ZQT_StringToDouble(m_editZScale.text().left(256), &scale) || !(scale > 0.0) ||
        !std::isfinite(scale)) {
        scale = 1.0;
        m_editZScale.setText(QString::asprintf("%.3lf", scale));
    }
    return scale;
}

void CProfileDlg::UpdateProfile(bool zoomToExtents) {
    CadDrawing* drawing = m_profile.Drawing();
    if (!drawing) {
        return;
    }
    m_updating = 1;
    QWidget* window = m_profile.Window();
    double left = 0.0, bottom = 0.0, right = 0.0, top = 0.0;
    const bool haveView = window && CadGetViewRect(window, &left, &bottom, &right, &top);
    EraseAll(drawing);
    m_profileLayer = FindOrAddLayer(drawing, QStringLiteral("Profile"), CAD_COLOR_GREEN, 30);
    CadSetCurLayerByName(drawing, "0");

    const ProfileCommandState& state = ProfileState();
    if (state.line.size() < 2 || !state.dem) {
        CadRegen(drawing);
        m_updating = 0;
        return;
    }
    double reference = -9999.0;
    if (!ZQT_StringToDouble(m_editReference.text().left(256), &reference) || !std::isfinite(reference)) {
        reference = -9999.0;
    }
    const double zScale = ZScaleOfField();
    ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QStringLiteral("ZScale"), m_editZScale.text());

    const ProfileSection section = SampleProfile(
        *state.dem, state.line, std::fabs(state.dem->m_geoTransform[1]), m_chkBreak.isChecked());
    if (!section.empty) {
        if (reference == -9999.0) {
            reference = section.minElevation;
            m_editReference.setText(QString::asprintf("%.3lf", reference));
        }
        m_referenceZ = reference;
        DrawProfileGraph(drawing, m_profileLayer, section, reference, zScale);
        CadRegen(drawing);
        if (window) {
            if (zoomToExtents || !haveView) {
                CadExecute(drawing, window, CAD_CMD_ZOOM_EXTENTS);
            } else {
                // Only the vertical scale changes: the view keeps its width, and so its scale,
                // and follows the graph's heights at its middle.
                const double middle = (bottom + top) / 2.0 * (zScale / m_zScale);
                const double half = (top - bottom) / 2.0;
                CadViewRect(window, left, middle - half, right, middle + half);
            }
        }
        m_zScale = zScale;
    } else {
        CadRegen(drawing);
    }
    m_updating = 0;
}

int CProfileDlg::DrawPlanView() {
    const ProfileCommandState& state = ProfileState();
    CDEM* dem = state.dem;
    CadDrawing* plan = m_plan.Drawing();
    if (!dem) {
        return 0;
    }
    const QString name = QFileInfo(dem->m_path.toLower()).fileName();
    const int width = dem->Width();
    const int height = dem->Height();
    const double* gt = dem->m_geoTransform;
    CadLayer* demLayer = FindOrAddLayer(plan, name, CAD_COLOR_FOREGROUND, CAD_LWEIGHT_DEFAULT);
    if (!demLayer || !(gt[1] != 0.0)) {
        return 0;
    }
    CadSetCurLayer(plan, demLayer);
    m_planPlace = CadAddImagePlace(plan, kPlanImageId, width, height, gt[0], gt[3] + height * gt[5], 0.0,
                                   1.0 / std::fabs(gt[1]));
    if (m_planPlace) {
        CadEntityPutLayerID(m_planPlace, CadLayerGetID(demLayer));
        CadImagePutFile(m_planPlace, name.toUtf8().constData());
    }

    CadLayer* lineLayer = FindOrAddLayer(plan, QStringLiteral("ProfileDem"), CAD_COLOR_FOREGROUND, 30);
    OrderLayers(plan, lineLayer);
    CadSetCurLayer(plan, lineLayer);
    CadClearVertices();
    for (const Wml::Point3& v : state.line) {
        CadAddVertex(v.X(), v.Y(), 0.0);
    }
    CadEntity* polyline = CadAddPolyline(plan, 0, 0);
    CadClearVertices();
    if (polyline) {
        CadEntityPutLayerID(polyline, CadLayerGetID(lineLayer));
    }
    CadRegen(plan);
    CadRegen(plan);
    if (QWidget* window = m_plan.Window()) {
        if (polyline) {
            const double l = CadEntityGetLeft(polyline), r = CadEntityGetRight(polyline);
            const double t = CadEntityGetTop(polyline), b = CadEntityGetBottom(polyline);
            const double dx = (r - l) * 0.2, dy = (t - b) * 0.2;
            CadViewRect(window, l - dx, b - dy, r + dx, t + dy);
        } else {
            CadExecute(plan, window, CAD_CMD_ZOOM_EXTENTS);
        }
    }
    return 1;
}

void CProfileDlg::OrderLayers(CadDrawing* drawing, CadLayer* top) {
    SetCadLayerOrder(drawing, top);
}

int CProfileDlg::OnCadDrawImage(QPainter* dc, const CadWinRect* update, int imageId, int placeLeft,
                                int placeBottom, int placeWidth, int placeHeight) {
    CDEM* dem = ProfileState().dem;
    if (!m_current || !dem || !dem->m_imageEntity || imageId < 1000 || imageId > 1999) {
        return 0;
    }
    const int drawn = DrawDemImage(m_plan.Drawing(), m_planPlace, *dem, m_planCache, dc, update, placeLeft,
                                   placeBottom, placeWidth, placeHeight);
    QWidget* window = m_plan.Window();
    int x = 0, y = 0;
    if (window && CadCoordModelToWin(window, m_hoverDot.X(), m_hoverDot.Y(), &x, &y) &&
        window->rect().contains(x, y)) {
        dc->save();
        dc->setRenderHint(QPainter::Antialiasing);
        dc->setPen(QPen(Qt::black, 1));
        dc->setBrush(Qt::white);
        dc->drawEllipse(QPoint(x, y), 5, 5);
        dc->restore();
    }
    return drawn;
}

void CProfileDlg::OnCadMouseMove(int keyFlags, double x, double) {
    if (!m_current || m_updating || (keyFlags & CAD_KEY_SHIFT)) {
        return;
    }
    double left = 0.0, bottom = 0.0, right = 0.0, top = 0.0;
    CadGetViewRect(m_profile.Window(), &left, &bottom, &right, &top);
    m_hoverDot = Wml::Point2(0.0, 0.0);
    if (CutProfile(m_profileLayer, x, top, bottom)) {
        m_hoverDot = PointAtDistance(ProfileState().line, x).value_or(Wml::Point2(0.0, 0.0));
    }
    if (QWidget* plan = m_plan.Window()) {
        CadWndRedraw(plan);
    }
}

void CProfileDlg::OnCadDrawCursor(QPainter* dc, int x, int y) {
    QWidget* window = m_profile.Window();
    if (!m_current || m_updating || !window || !dc || (CadGetKeyFlags() & CAD_KEY_SHIFT)) {
        return;
    }
    double mx = 0.0, my = 0.0;
    double left = 0.0, bottom = 0.0, right = 0.0, top = 0.0;
    if (!CadCoordWinToModel(window, x, y, &mx, &my) ||
        !CadGetViewRect(window, &left, &bottom, &right, &top)) {
        return;
    }
    const std::optional<Wml::Point2> cut = CutProfile(m_profileLayer, mx, top, bottom);
    int cx = 0, cy = 0;
    if (!cut || !CadCoordModelToWin(window, cut->X(), cut->Y(), &cx, &cy)) {
        return;
    }
    const ProfileReadout readout = ReadoutAt(cut->Y(), m_zScale, m_referenceZ);
    dc->save();
    dc->setPen(QPen(QColor(200, 200, 200), 3, Qt::SolidLine));
    dc->drawLine(x - 5, cy - 5, x + 5, cy + 5);
    dc->drawLine(x - 5, cy + 5, x + 5, cy - 5);
    QFont font(QStringLiteral("Curier New"));
    font.setPixelSize(15);
    font.setWeight(QFont::Medium);
    font.setStyleStrategy(QFont::PreferAntialias);
    dc->setFont(font);
    dc->setPen(readout.below ? QColor(255, 50, 50) : QColor(50, 255, 50));
    dc->drawText(QPoint(x + 20, y + 20), readout.relative);
    dc->setPen(Qt::white);
    dc->drawText(QPoint(x + 20, y - 10), readout.absolute);
    dc->restore();
}

void CProfileDlg::LayoutControls(bool record) {
    QWidget* const controls[] = {&m_hostProfile,   &m_hostPlan,  &m_frame,      &m_lblReference,
                                 &m_editReference, &m_lblZScale, &m_editZScale, &m_chkBreak,
                                 &m_btnUpdate,     &m_btnExport, &m_btnClose};
    if (record) {
        m_recordedClient = size();
        for (QWidget* control : controls) {
            m_recorded[control] = control->geometry();
        }
        return;
    }
    if (m_recorded.empty()) {
        return;
    }
    const int dw = width() - m_recordedClient.width();
    const int dh = height() - m_recordedClient.height();
    for (QWidget* control : controls) {
        QRect r = m_recorded[control];
        if (control == &m_hostProfile) {
            r.setHeight(r.height() + dh);  // keeps its width, grows down to the band
        } else if (control == &m_hostPlan) {
            r.setSize(r.size() + QSize(dw, dh));  // takes all the added width and height
        } else if (control == &m_frame) {
            r.translate(0, dh);
            r.setWidth(r.width() + dw);
        } else if (control == &m_btnClose) {
            r.translate(dw, dh);  // keeps its margins to the bottom-right corner
        } else {
            r.translate(0, dh);  // the band's controls keep their bottom margin
        }
        control->setGeometry(r);
    }
    update();
}

void CProfileDlg::resizeEvent(QResizeEvent* event) {
    KvDialog::resizeEvent(event);
    LayoutControls(false);
}

void CProfileDlg::OnBnClickedUpdate() {
    UpdateProfile(false);
}

void CProfileDlg::OnBnClickedBreakOnNoData() {
    ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QStringLiteral("BreakOnNoDataValue"),
                               QString::number(m_chkBreak.isChecked() ? 1 : 0));
    UpdateProfile(false);
}

void CProfileDlg::OnBnClickedExport() {
    // The drawing converter writes DXF only.
    const QString path = ChooseOutputFile(QStringLiteral("DXF File (*.dxf)"), QStringLiteral("dxf"));
    if (path.isEmpty()) {
        return;
    }
    const QString drawing = ZQT_GetRandomFilePath(ZQT_GetSpecialFolder(35), QStringLiteral("vec"));
    const bool saved = CadFileSaveAs(m_profile.Drawing(), 0, drawing.toUtf8().constData()) &&
                       RunDrawingConverter(drawing, path, QStringLiteral("Save..."));
    QFile::remove(drawing);
    if (!saved) {
        KvMessageBox(QStringLiteral("Unable to save file!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CProfileDlg::OnBnClickedClose() {
    EndDialog(IDOK);
}

void CProfileDlg::done(int result) {
    OnDestroy();
    KvDialog::done(result);
}

void CProfileDlg::OnDestroy() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_current = false;
    if (ProfileState().current == this) {
        ProfileState().current = nullptr;
    }
    m_events.reset();
    m_profile.Destroy();
    m_plan.Destroy();
    CKelvaroDoc::FillContextMenus();
}
