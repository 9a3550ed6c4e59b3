#include "analysis/RefineContourElevationDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

#include <vtkCellArray.h>
#include <vtkIdList.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <opencv2/imgcodecs.hpp>

#include "analysis/ContourElevation.h"
#include "controls/DialogUnits.h"
#include "controls/SingleProgressDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "view/RasterRendering.h"

namespace {

CRefineContourElevationDlg* g_current = nullptr;

const char* const kSection = "RefineElevation";
// The image-definition id of the image places of the three views.
constexpr int kImageId = 100;
constexpr int kMarkerRadius = 12;

// The pixel size of an image file as GDAL reads its header; false when it cannot be opened.
bool ImageFileSize(const QString& path, int& width, int& height) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return false;
    }
    width = GDALGetRasterXSize(ds);
    height = GDALGetRasterYSize(ds);
    GDALClose(ds);
    return true;
}

// Mean of a projected contour's vertices.
bool ContourMean(CadEntity* contour, Wml::Point2& mean) {
    const int n = contour ? CadPlineGetNumVers(contour) : 0;
    if (n <= 0) {
        return false;
    }
    double sx = 0.0, sy = 0.0;
    for (int i = 0; i < n; ++i) {
        double x = 0.0, y = 0.0, z = 0.0;
        CadPlineGetVer(contour, i, &x, &y, &z);
        sx += x;
        sy += y;
    }
    mean = Wml::Point2(sx / n, sy / n);
    return true;
}

double DistanceFromCentre(const OrientedImageEntry& e) {
    Wml::Point2 mean;
    if (!ContourMean(e.contour, mean)) {
        return 1e300;
    }
    const Wml::Point2 centre(e.orientation.GetImageWidth() / 2.0, e.orientation.GetImageHeight() / 2.0);
    return (mean - centre).Length();
}

}  // namespace

bool CompareImagesByDistance(const OrientedImageEntry& a, const OrientedImageEntry& b) {
    const int na = a.contour ? CadPlineGetNumVers(a.contour) : 0;
    const int nb = b.contour ? CadPlineGetNumVers(b.contour) : 0;
    if (na != nb) {
        return false;
    }
    return DistanceFromCentre(a) < DistanceFromCentre(b);
}

CRefineContourElevationDlg* CRefineContourElevationDlg::Current() {
    return g_current;
}

CRefineContourElevationDlg::CRefineContourElevationDlg(CKelvaroDoc* doc, QWidget* parent)
    : KvDialog(parent), m_pDoc(doc) {
    setWindowTitle(QStringLiteral("Refine Contour Elevation"));
    setSizeGripEnabled(true);
    resize(kv::DluSize(this, 517, 298));
    // The smallest size the three views stay usable at.
    setMinimumSize(800, 504);

    auto frame = [this](int x, int y, int w, int h) {
        auto* f = new QFrame(this);
        f->setFrameShape(QFrame::Box);
        f->setFrameShadow(QFrame::Sunken);
        f->setGeometry(kv::DluRect(this, x, y, w, h));
        return f;
    };
    m_views[1].host = frame(7, 7, 160, 118);
    m_views[2].host = frame(7, 130, 160, 118);
    m_views[0].host = frame(174, 7, 336, 238);
    for (int i = 0; i < 3; ++i) {
        m_imageChecks[i] = new QCheckBox(QStringLiteral("Check%1").arg(i + 1), this);
        m_imageChecks[i]->setGeometry(kv::DluRect(this, 174 + 104 * i, 250, 100, 10));
    }
    m_viewIndex = new QCheckBox(QStringLiteral("View Vertex Index"), this);
    m_viewIndex->setGeometry(kv::DluRect(this, 7, 254, 120, 10));
    m_viewElevation = new QCheckBox(QStringLiteral("View Vertex Elevation"), this);
    m_viewElevation->setGeometry(kv::DluRect(this, 7, 266, 120, 10));
    m_info =
        new QLabel(QStringLiteral("Info: spacebar to select next image, pagUP and pagDown to change current "
                                  "vertex.\nKeep Shift pressed to disable current vertex auto selection"),
                   this);
    m_info->setGeometry(kv::DluRect(this, 7, 279, 336, 17));
    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    m_apply->setGeometry(kv::DluRect(this, 350, 280, 50, 14));
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setGeometry(kv::DluRect(this, 404, 280, 50, 14));
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setGeometry(kv::DluRect(this, 458, 280, 52, 14));
    for (QPushButton* b : {m_apply, m_ok, m_cancel}) {
        b->setAutoDefault(false);
    }
    // The keys of the views must not press a button.
    for (QWidget* w : std::initializer_list<QWidget*>{m_apply, m_ok, m_cancel, m_viewIndex, m_viewElevation,
                                                      m_imageChecks[0], m_imageChecks[1], m_imageChecks[2]}) {
        w->setFocusPolicy(Qt::NoFocus);
    }

    connect(m_imageChecks[0], &QCheckBox::clicked, this, &CRefineContourElevationDlg::OnBnClickedCheck1);
    connect(m_imageChecks[1], &QCheckBox::clicked, this, &CRefineContourElevationDlg::OnBnClickedCheck2);
    connect(m_imageChecks[2], &QCheckBox::clicked, this, &CRefineContourElevationDlg::OnBnClickedCheck3);
    connect(m_viewIndex, &QCheckBox::clicked, this, &CRefineContourElevationDlg::OnBnClickedViewVertexIndex);
    connect(m_viewElevation, &QCheckBox::clicked, this,
            &CRefineContourElevationDlg::OnBnClickedViewVertexElevation);
    connect(m_apply, &QPushButton::clicked, this, &CRefineContourElevationDlg::OnBnClickedApply);
    connect(m_ok, &QPushButton::clicked, this, [this] { EndDialog(IDOK); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { EndDialog(IDCANCEL); });

    // The layout as the template places it; every later size moves the controls from here.
    m_layout.dialog = kv::DluSize(this, 517, 298);
    m_layout.view0 = m_views[0].host->geometry();
    m_layout.apply = m_apply->geometry();
    m_layout.ok = m_ok->geometry();
    m_layout.cancel = m_cancel->geometry();
    for (int i = 0; i < 3; ++i) {
        m_layout.checks[i] = m_imageChecks[i]->geometry();
    }
    m_layout.info = m_info->geometry();
    m_layout.recorded = true;
}

CRefineContourElevationDlg::~CRefineContourElevationDlg() {
    OnDestroy();
}

bool CRefineContourElevationDlg::OnInitDialog() {
    LayoutControls();
    if (!m_pDoc || !CreateViews()) {
        EndDialog(IDCANCEL);
        return true;
    }
    m_viewIndex->setChecked(ZQT_GetUserProfileString(kSection, "ViewIndex", "1").toInt() != 0);
    m_viewElevation->setChecked(ZQT_GetUserProfileString(kSection, "ViewElevation", "1").toInt() != 0);

    m_setup = m_pDoc->m_ObjectElevationSetup;
    CadEntity* contour = m_setup.contour;
    if (!contour || CadEntityGetType(contour) != CAD_ENT_POLYLINE || !CadPlineGetClosed(contour) ||
        CadPlineGetNumVers(contour) < 1) {
        EndDialog(IDCANCEL);
        return true;
    }
    m_nVertexCount = CadPlineGetNumVers(contour);
    m_nCurrentVertex = 0;
    if (!LoadCandidates()) {
        EndDialog(IDCANCEL);
        return true;
    }
    for (int i = 0; i < 3; ++i) {
        m_imageChecks[i]->setText(QFileInfo(m_entries[size_t(i)].path).completeBaseName());
        m_orientations.push_back(m_entries[size_t(i)].orientation);
    }
    m_pIntersection = std::make_unique<zqc::CMultiImageIntersection>(3, m_orientations.data());

    g_current = this;
    RegisterProcedures();
    ShowImage(0);
    CadWinSetFocus(m_views[0].Window());
    return true;
}

bool CRefineContourElevationDlg::CreateViews() {
    for (View& v : m_views) {
        QWidget* window = v.hosted.Create(v.host);
        if (!window) {
            return false;
        }
        // One model unit is one window pixel, the origin in the middle.
        CadViewRect(window, -window->width() / 2.0, -window->height() / 2.0, window->width() / 2.0,
                    window->height() / 2.0);
        CadLayer* image =
            CadAddLayer(v.Cad(), "Image", CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
        CadLayer* contours =
            CadAddLayer(v.Cad(), "Contours", CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
        if (!image || !contours) {
            return false;
        }
        CadLayerPutLock(image, 1);
        CadLayerPutLock(contours, 1);
        v.imageLayerId = CadLayerGetID(image);
        v.contourLayerId = CadLayerGetID(contours);
    }
    return true;
}

bool CRefineContourElevationDlg::LoadCandidates() {
    std::vector<OrientedImageEntry> loaded;
    m_nFailedImages = 0;
    const QDir folder(m_setup.imagesFolder);
    const QFileInfoList files = m_setup.imagesFolder.isEmpty()
                                    ? QFileInfoList()
                                    : folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& file : files) {
        // Cameras write ".JPG" as often as ".jpg".
        if (file.suffix().compare(QStringLiteral("jpg"), Qt::CaseInsensitive) != 0) {
            continue;
        }
        OrientedImageEntry entry;
        entry.path = file.filePath();
        int width = 0, height = 0;
        // An orientation made for an image of another size would put every measure in the wrong place.
        if (entry.orientation.Load(QFile::encodeName(entry.path).constData()) &&
            ImageFileSize(entry.path, width, height) && width == entry.orientation.GetImageWidth() &&
            height == entry.orientation.GetImageHeight()) {
            loaded.push_back(std::move(entry));
        } else {
            ++m_nFailedImages;
        }
    }
    if (loaded.empty()) {
        KvMessageBox(QStringLiteral("No oriented image available"), MB_OK | MB_ICONINFORMATION);
        return false;
    }
    if (m_nFailedImages > 0) {
        KvMessageBox(
            QString::asprintf("Warning\n%d images are not loaded\nCheck their orientations", m_nFailedImages),
            MB_OK | MB_ICONEXCLAMATION);
    }
    const OrientedImageEntry& first = loaded.front();
    m_bLargeImages =
        double(first.orientation.GetImageWidth()) * first.orientation.GetImageHeight() > kLargeImagePixels
            ? 1
            : 0;

    // The projection centres, and the ones nearest to the contour's mean vertex.
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToDouble();
    auto vertices = vtkSmartPointer<vtkCellArray>::New();
    for (const OrientedImageEntry& e : loaded) {
        const Wml::Point3& c = e.orientation.GetProjectionCenter();
        const vtkIdType id = points->InsertNextPoint(c.X(), c.Y(), c.Z());
        vertices->InsertNextCell(1, &id);
    }
    m_cameraPoints = vtkSmartPointer<vtkPolyData>::New();
    m_cameraPoints->SetPoints(points);
    m_cameraPoints->SetVerts(vertices);
    m_cameraLocator = vtkSmartPointer<vtkPointLocator>::New();
    m_cameraLocator->SetDataSet(m_cameraPoints);
    m_cameraLocator->BuildLocator();

    std::vector<Wml::Point3> contour(static_cast<size_t>(m_nVertexCount));
    double mean[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < m_nVertexCount; ++i) {
        double x = 0.0, y = 0.0, z = 0.0;
        CadPlineGetVer(m_setup.contour, i, &x, &y, &z);
        contour[size_t(i)] = Wml::Point3(x, y, z);
        mean[0] += x;
        mean[1] += y;
        mean[2] += z;
    }
    for (double& m : mean) {
        m /= m_nVertexCount;
    }
    auto nearest = vtkSmartPointer<vtkIdList>::New();
    m_cameraLocator->FindClosestNPoints(std::min<int>(kCandidates, int(loaded.size())), mean, nearest);

    View& view0 = m_views[0];
    for (vtkIdType k = 0; k < nearest->GetNumberOfIds(); ++k) {
        const vtkIdType id = nearest->GetId(k);
        if (id < 0 || id >= vtkIdType(loaded.size())) {
            continue;
        }
        OrientedImageEntry entry = loaded[size_t(id)];
        const int height = entry.orientation.GetImageHeight();
        CadClearVertices();
        for (const Wml::Point3& p : contour) {
            const Wml::Point2 pix = entry.orientation.Pt3dToPix(p);
            CadAddVertex(pix.X(), height - pix.Y(), 0.0);
        }
        entry.contour = CadAddPolyline(view0.Cad(), 0, 1);
        if (entry.contour) {
            CadEntityPutLayerID(entry.contour, view0.contourLayerId);
            CadEntityPutVisible(entry.contour, 0);
        }
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.size() <= 2) {
        return false;
    }
    std::stable_sort(m_entries.begin(), m_entries.end(), CompareImagesByDistance);
    return true;
}

void CRefineContourElevationDlg::RegisterProcedures() {
    for (int i = 0; i < 3; ++i) {
        m_views[i].hosted.drawImage = [this, i](QPainter* dc, const CadWinRect* update, int imageId, int left,
                                                int bottom, int width, int height) {
            return OnCadDrawImage(m_views[i].Cad(), dc, update, imageId, left, bottom, width, height);
        };
    }
    m_views[0].hosted.mouseMove = [this](int keyFlags, double x, double y) {
        OnCadMouseMove(m_views[0].Cad(), keyFlags, x, y);
    };
    m_views[0].hosted.drawCursor = [this](QPainter* dc, int x, int y) {
        OnCadDrawCursor(m_views[0].Cad(), dc, x, y);
    };
    m_events.emplace(std::vector<HostedCadView*>{&m_views[0].hosted, &m_views[1].hosted, &m_views[2].hosted});
    CadOnEventKeyDown(OnCadKeyDown);
    CadOnEventMouseDown(OnCadMouseDown);
}

int CRefineContourElevationDlg::ViewOf(CadDrawing* drawing) const {
    for (int i = 0; i < 3; ++i) {
        if (drawing && m_views[i].Cad() == drawing) {
            return i;
        }
    }
    return -1;
}

bool CRefineContourElevationDlg::EntryPosition(int entry, int vertex, Wml::Point2& position) const {
    if (entry < 0 || entry >= int(m_entries.size()) || vertex < 0 || vertex >= m_nVertexCount) {
        return false;
    }
    CadEntity* contour = m_entries[size_t(entry)].contour;
    double x = 0.0, y = 0.0, z = 0.0;
    if (!contour || !CadPlineGetVer(contour, vertex, &x, &y, &z)) {
        return false;
    }
    position = Wml::Point2(x, y);
    return true;
}

bool CRefineContourElevationDlg::PixelOf(int entry, const Wml::Point2& position, Wml::Point2& pixel) const {
    if (entry < 0 || entry >= int(m_entries.size())) {
        return false;
    }
    const zqc::COrientation& o = m_entries[size_t(entry)].orientation;
    const double column = position.X();
    const double row = o.GetImageHeight() - position.Y();
    if (!(column >= 0.0 && column < o.GetImageWidth() && row >= 0.0 && row < o.GetImageHeight())) {
        return false;
    }
    pixel = Wml::Point2(column, row);
    return true;
}

bool CRefineContourElevationDlg::PrepareImage(OrientedImageEntry& entry) {
    try {
        if (m_bLargeImages) {
            if (!entry.dataset) {
                entry.dataset = GDALOpen(QFile::encodeName(entry.path).constData(), GA_ReadOnly);
            }
            return entry.dataset != nullptr;
        }
        if (entry.picture.empty()) {
            entry.picture = cv::imread(QFile::encodeName(entry.path).toStdString(), cv::IMREAD_COLOR);
        }
        return !entry.picture.empty();
    } catch (const cv::Exception&) {
        return false;
    }
}

int CRefineContourElevationDlg::ShowImage(int index) {
    if (index < 0 || index >= 3 || m_entries.size() < 3 || m_nCurrentVertex < 0 ||
        m_nCurrentVertex >= m_nVertexCount) {
        return 0;
    }
    for (View& v : m_views) {
        if (v.imagePlace) {
            CadEntityErase(v.imagePlace, 1);
            v.imagePlace = nullptr;
        }
        if (v.Cad()) {
            CadPurge(v.Cad(), CAD_PURGE_ALL);
        }
        v.entry = -1;
    }
    m_nCurrentImage = index;
    for (int i = 0; i < 3; ++i) {
        if (!m_entries[size_t(EntryOfView(i))].contour) {
            return 0;
        }
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool loaded = true;
    for (int i = 0; i < 3 && loaded; ++i) {
        loaded = PrepareImage(m_entries[size_t(EntryOfView(i))]);
    }
    QApplication::restoreOverrideCursor();
    if (!loaded) {
        for (int i = 0; i < 3; ++i) {
            RedrawView(i);
        }
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        View& v = m_views[i];
        v.entry = EntryOfView(i);
        // Each image place takes its own image's size.
        const zqc::COrientation& o = m_entries[size_t(v.entry)].orientation;
        CadSetCurLayer(v.Cad(), CadGetLayerByID(v.Cad(), v.imageLayerId));
        v.imagePlace =
            CadAddImagePlace(v.Cad(), kImageId, o.GetImageWidth(), o.GetImageHeight(), 0.0, 0.0, 0.0, 1.0);
    }
    for (size_t e = 0; e < m_entries.size(); ++e) {
        if (m_entries[e].contour) {
            CadEntityPutVisible(m_entries[e].contour, int(e) == m_nCurrentImage ? 1 : 0);
        }
    }
    for (int i = 0; i < 3; ++i) {
        CentreView(i);
    }
    for (int i = 0; i < 3; ++i) {
        m_imageChecks[i]->setChecked(i == index);
    }
    return 1;
}

void CRefineContourElevationDlg::CentreView(int view) {
    View& v = m_views[view];
    if (!v.Window()) {
        return;
    }
    Wml::Point2 at;
    if (!EntryPosition(EntryOfView(view), m_nCurrentVertex, at)) {
        return;
    }
    const double w = v.Window()->width();
    const double h = v.Window()->height();
    CadViewRect(v.Window(), at.X() - w / 2.0, at.Y() - h / 2.0, at.X() + w / 2.0, at.Y() + h / 2.0);
    CadRegen(v.Cad());
}

void CRefineContourElevationDlg::RedrawView(int view) {
    if (m_views[view].Cad()) {
        CadRegen(m_views[view].Cad());
    }
}

void CRefineContourElevationDlg::ShowNextImage() {
    if (m_entries.size() < 3) {
        return;
    }
    if (CadEntity* contour = m_entries[size_t(m_nCurrentImage)].contour) {
        CadEntityPutVisible(contour, 0);
    }
    ShowImage((m_nCurrentImage + 1) % 3);
}

void CRefineContourElevationDlg::OnBnClickedCheck1() {
    if (m_nCurrentImage == 0) {
        m_imageChecks[0]->setChecked(true);
        return;
    }
    ShowImage(0);
}

void CRefineContourElevationDlg::OnBnClickedCheck2() {
    if (m_nCurrentImage == 1) {
        m_imageChecks[1]->setChecked(true);
        return;
    }
    ShowImage(1);
}

void CRefineContourElevationDlg::OnBnClickedCheck3() {
    if (m_nCurrentImage == 2) {
        m_imageChecks[2]->setChecked(true);
        return;
    }
    ShowImage(2);
}

void CRefineContourElevationDlg::StoreViewOptions() {
    ZQT_WriteUserProfileString(kSection, "ViewIndex", m_viewIndex->isChecked() ? "1" : "0");
    ZQT_WriteUserProfileString(kSection, "ViewElevation", m_viewElevation->isChecked() ? "1" : "0");
    if (m_views[0].Window()) {
        CadWndRedraw(m_views[0].Window());
    }
}

void CRefineContourElevationDlg::OnBnClickedViewVertexIndex() {
    StoreViewOptions();
}

void CRefineContourElevationDlg::OnBnClickedViewVertexElevation() {
    StoreViewOptions();
}

// ---------------------------------------------------------------------------------------------
// Measured vertices

int CRefineContourElevationDlg::IsVertexMeasured(int vertex, int image) const {
    if (vertex < 0 || vertex >= m_nVertexCount || image < 0 || image >= int(m_entries.size())) {
        return 0;
    }
    const std::vector<int>& m = m_entries[size_t(image)].measured;
    return std::find(m.begin(), m.end(), vertex) != m.end() ? 1 : 0;
}

int CRefineContourElevationDlg::CountVertexMeasures(int vertex) const {
    if (vertex < 0 || vertex >= m_nVertexCount) {
        return 0;
    }
    int count = 0;
    for (int i = 0; i < int(m_entries.size()); ++i) {
        count += IsVertexMeasured(vertex, i);
    }
    return count;
}

void CRefineContourElevationDlg::SetVertexMeasured(int vertex, int image) {
    if (vertex < 0 || vertex >= m_nVertexCount || image < 0 || image >= int(m_entries.size()) ||
        IsVertexMeasured(vertex, image)) {
        return;
    }
    m_entries[size_t(image)].measured.push_back(vertex);
}

void CRefineContourElevationDlg::ClearVertexMeasured(int vertex, int image) {
    if (vertex < 0 || vertex >= m_nVertexCount || image < 0 || image >= int(m_entries.size())) {
        return;
    }
    std::vector<int>& m = m_entries[size_t(image)].measured;
    m.erase(std::remove(m.begin(), m.end(), vertex), m.end());
}

int CRefineContourElevationDlg::IntersectVertex(int vertex) {
    if (!m_pIntersection || m_entries.size() < 3 || CountVertexMeasures(vertex) < 2) {
        return 0;
    }
    Wml::Point2 pixels[3];
    const Wml::Point2* used[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        Wml::Point2 position;
        if (IsVertexMeasured(vertex, i) && EntryPosition(i, vertex, position) &&
            PixelOf(i, position, pixels[i])) {
            used[i] = &pixels[i];
        }
    }
    Wml::Point3 point;
    if (m_pIntersection->Intersect(used, point, 0)) {
        CadPlinePutVer(m_setup.contour, vertex, point.X(), point.Y(), point.Z());
        for (int i = 0; i < 3; ++i) {
            if (IsVertexMeasured(vertex, i)) {
                continue;
            }
            const OrientedImageEntry& e = m_entries[size_t(i)];
            const Wml::Point2 pix = e.orientation.Pt3dToPix(point);
            CadPlinePutVer(e.contour, vertex, pix.X(), e.orientation.GetImageHeight() - pix.Y(), 0.0);
        }
    }
    RedrawView(0);
    return 1;
}

void CRefineContourElevationDlg::MeasureCurrentVertex(const Wml::Point2& position) {
    CadEntity* contour = m_entries[size_t(m_nCurrentImage)].contour;
    if (!contour) {
        return;
    }
    CadPlinePutVer(contour, m_nCurrentVertex, position.X(), position.Y(), 0.0);
    SetVertexMeasured(m_nCurrentVertex, m_nCurrentImage);
    IntersectVertex(m_nCurrentVertex);
    RedrawView(0);
}

// ---------------------------------------------------------------------------------------------
// Keys

int CRefineContourElevationDlg::HandleKey(int virtualKey) {
    if (m_entries.size() < 3 || m_nVertexCount <= 0) {
        return 0;
    }
    switch (virtualKey) {
        case CAD_VK_SPACE:
            ShowNextImage();
            return 1;
        case CAD_VK_PRIOR:
            m_nCurrentVertex = m_nCurrentVertex > 0 ? m_nCurrentVertex - 1 : m_nVertexCount - 1;
            ShowImage(m_nCurrentImage);
            return 1;
        case CAD_VK_NEXT:
            m_nCurrentVertex = m_nCurrentVertex < m_nVertexCount - 1 ? m_nCurrentVertex + 1 : 0;
            ShowImage(m_nCurrentImage);
            return 1;
        case CAD_VK_INSERT:
            if (IsVertexMeasured(m_nCurrentVertex, m_nCurrentImage)) {
                ClearVertexMeasured(m_nCurrentVertex, m_nCurrentImage);
            } else {
                SetVertexMeasured(m_nCurrentVertex, m_nCurrentImage);
                IntersectVertex(m_nCurrentVertex);
            }
            RedrawView(0);
            return 1;
        case CAD_VK_ADD:
        case CAD_VK_SUBTRACT:
            for (View& v : m_views) {
                if (v.Cad() && v.Window()) {
                    CadExecute(v.Cad(), v.Window(),
                               virtualKey == CAD_VK_ADD ? CAD_CMD_ZOOM_IN : CAD_CMD_ZOOM_OUT);
                }
            }
            return 1;
        default:
            break;
    }
    // The keypad digits move the vertex by one window pixel: 1 down-left ... 9 up-right.
    const int digit = virtualKey - CAD_VK_NUMPAD0;
    if (digit < 1 || digit > 9 || digit == 5) {
        return 0;
    }
    const int dx = (digit - 1) % 3 - 1;
    const int dy = 1 - (digit - 1) / 3;
    QWidget* window = m_views[0].Window();
    Wml::Point2 at;
    int wx = 0, wy = 0;
    double mx = 0.0, my = 0.0;
    if (!window || !EntryPosition(m_nCurrentImage, m_nCurrentVertex, at) ||
        !CadCoordModelToWin(window, at.X(), at.Y(), &wx, &wy) ||
        !CadCoordWinToModel(window, wx + dx, wy + dy, &mx, &my)) {
        return 1;
    }
    MeasureCurrentVertex(Wml::Point2(mx, my));
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Event procedures

int CRefineContourElevationDlg::OnCadDrawImage(CadDrawing* drawing, QPainter* dc, const CadWinRect* update,
                                               int imageId, int placeLeft, int placeBottom, int placeWidth,
                                               int placeHeight) {
    CRefineContourElevationDlg* dlg = g_current;
    const int view = dlg ? dlg->ViewOf(drawing) : -1;
    if (view < 0 || imageId != kImageId) {
        return 0;
    }
    const int entry = dlg->m_views[view].entry;
    if (!dc || entry < 0 || entry >= int(dlg->m_entries.size())) {
        return 0;
    }
    OrientedImageEntry& e = dlg->m_entries[size_t(entry)];
    RasterDrawTarget t;
    if (!LayoutPlace(update, placeLeft, placeBottom, placeWidth, placeHeight, e.orientation.GetImageWidth(),
                     e.orientation.GetImageHeight(), t)) {
        return 0;
    }
    t.dc = dc;
    t.opacity = 1.0;
    if (dlg->m_bLargeImages) {
        if (!e.dataset) {
            return 0;
        }
        cv::Mat colour;
        return ExtractRasterToImage(e.dataset, t, RasterClip{}, colour);
    }
    if (e.picture.empty()) {
        return 0;
    }
    // The read window, padded with black where it runs past the picture's edge, so that every
    // pixel lands where the image place puts it.
    cv::Mat region(t.visibleHeight, t.ReadWidth(), CV_8UC3, cv::Scalar::all(0));
    const cv::Rect source = t.ReadRect() & cv::Rect(0, 0, e.picture.cols, e.picture.rows);
    if (source.empty()) {
        return 0;
    }
    e.picture(source).copyTo(region(source - t.ReadRect().tl()));
    return DrawImageGdiPlus(region, t);
}

int CRefineContourElevationDlg::OnCadMouseMove(CadDrawing* drawing, int, double, double) {
    CRefineContourElevationDlg* dlg = g_current;
    const int view = dlg ? dlg->ViewOf(drawing) : -1;
    if (view < 0) {
        return 0;
    }
    QWidget* window = dlg->m_views[0].Window();
    if (view == 0 && window && QApplication::focusWidget() != window) {
        CadWinSetFocus(window);
    }
    return 0;
}

int CRefineContourElevationDlg::OnCadKeyDown(CadDrawing* drawing, int virtualKey, int) {
    CRefineContourElevationDlg* dlg = g_current;
    if (!dlg || dlg->ViewOf(drawing) != 0) {
        return 0;
    }
    return dlg->HandleKey(virtualKey);
}

int CRefineContourElevationDlg::OnCadMouseDown(CadDrawing* drawing, int button, double x, double y) {
    CRefineContourElevationDlg* dlg = g_current;
    if (!dlg || dlg->ViewOf(drawing) != 0 || button != CAD_BUTTON_LEFT || !dlg->m_views[0].imagePlace ||
        dlg->m_nCurrentImage < 0 || dlg->m_nCurrentImage >= int(dlg->m_entries.size()) ||
        dlg->m_nCurrentVertex < 0 || dlg->m_nCurrentVertex >= dlg->m_nVertexCount) {
        return 0;
    }
    dlg->MeasureCurrentVertex(Wml::Point2(x, y));
    return 0;
}

int CRefineContourElevationDlg::OnCadDrawCursor(CadDrawing* drawing, QPainter* dc, int x, int y) {
    CRefineContourElevationDlg* dlg = g_current;
    const int view = dlg ? dlg->ViewOf(drawing) : -1;
    if (view < 0) {
        return 0;
    }
    QWidget* window = dlg->m_views[0].Window();
    if (view != 0 || !dc || !window || !dlg->m_pDoc || dlg->m_nCurrentImage < 0 ||
        dlg->m_nCurrentImage >= int(dlg->m_entries.size()) || dlg->m_nCurrentVertex < 0 ||
        dlg->m_nCurrentVertex >= dlg->m_nVertexCount) {
        return 0;
    }
    CadEntity* contour = dlg->m_entries[size_t(dlg->m_nCurrentImage)].contour;
    if (!contour) {
        return 0;
    }
    if (!(CadGetKeyFlags() & CAD_KEY_SHIFT)) {
        double mx = 0.0, my = 0.0;
        CadCoordWinToModel(window, x, y, &mx, &my);
        double best = 10000000.0;
        int nearest = dlg->m_nCurrentVertex;
        for (int i = 0; i < dlg->m_nVertexCount; ++i) {
            double vx = 0.0, vy = 0.0, vz = 0.0;
            if (!CadPlineGetVer(contour, i, &vx, &vy, &vz)) {
                continue;
            }
            const double d = std::hypot(vx - mx, vy - my);
            if (d < best) {
                best = d;
                nearest = i;
            }
        }
        dlg->m_nCurrentVertex = nearest;
    }
    Wml::Point2 at;
    int wx = 0, wy = 0;
    double X = 0.0, Y = 0.0, Z = 0.0;
    if (!dlg->EntryPosition(dlg->m_nCurrentImage, dlg->m_nCurrentVertex, at) ||
        !CadCoordModelToWin(window, at.X(), at.Y(), &wx, &wy) ||
        !CadPlineGetVer(dlg->m_setup.contour, dlg->m_nCurrentVertex, &X, &Y, &Z)) {
        return 0;
    }
    dlg->DrawVertexMarker(dc, QPoint(wx, wy), Wml::Point3(X, Y, Z));
    return 0;
}

void CRefineContourElevationDlg::DrawVertexMarker(QPainter* dc, const QPoint& position,
                                                  const Wml::Point3& vertex) {
    QWidget* window = m_views[0].Window();
    if (!dc || !window || !QRect(QPoint(0, 0), window->size()).contains(position)) {
        return;
    }
    const bool measured = IsVertexMeasured(m_nCurrentVertex, m_nCurrentImage) != 0;
    dc->save();
    dc->setPen(QPen(measured ? QColor(0, 255, 0) : QColor(255, 0, 0), 1, Qt::SolidLine));
    dc->setBrush(Qt::NoBrush);
    dc->drawEllipse(position, kMarkerRadius, kMarkerRadius);
    QString label;
    if (m_viewIndex->isChecked()) {
        label = QString::asprintf("%d", m_nCurrentVertex);
    }
    if (m_viewElevation->isChecked()) {
        const QString z = QString::asprintf("%.1f m", vertex.Z());
        label = label.isEmpty() ? z : label + QStringLiteral(" - ") + z;
    }
    if (!label.isEmpty()) {
        if (!m_labelFont) {
            m_labelFont = std::make_unique<QFont>(QStringLiteral("Curier New"));
            m_labelFont->setPixelSize(20);
            m_labelFont->setWeight(QFont::Bold);
            m_labelFont->setStyleStrategy(QFont::PreferAntialias);
        }
        dc->setRenderHint(QPainter::TextAntialiasing, true);
        dc->setFont(*m_labelFont);
        dc->setPen(QColor(255, 255, 255));
        dc->drawText(position + QPoint(15, -15), label);
    }
    dc->restore();
}

// ---------------------------------------------------------------------------------------------
// Apply

void CRefineContourElevationDlg::OnBnClickedApply() {
    if (!m_pIntersection || m_entries.size() < 3 || !m_pDoc) {
        return;
    }
    std::vector<Wml::Point2> polygon(static_cast<size_t>(m_nVertexCount));
    double sum = 0.0;
    int successes = 0;
    for (int v = 0; v < m_nVertexCount; ++v) {
        double x = 0.0, y = 0.0, z = 0.0;
        CadPlineGetVer(m_setup.contour, v, &x, &y, &z);
        polygon[size_t(v)] = Wml::Point2(x, y);
        Wml::Point2 pixels[3];
        const Wml::Point2* used[3] = {nullptr, nullptr, nullptr};
        for (int i = 0; i < 3; ++i) {
            Wml::Point2 position;
            if (EntryPosition(i, v, position) && PixelOf(i, position, pixels[i])) {
                used[i] = &pixels[i];
            }
        }
        Wml::Point3 point;
        if (m_pIntersection->Intersect(used, point, 0)) {
            polygon[size_t(v)] = Wml::Point2(point.X(), point.Y());
            sum += point.Z();
            ++successes;
        }
    }
    if (successes == 0) {
        return;
    }
    CDEM* target = m_setup.targetDEM;
    bool loaded = false;
    for (const auto& layer : m_pDoc->m_DEMs) {
        loaded = loaded || layer.second == target;
    }
    if (!loaded) {
        return;
    }
    CSingleProgressDlg progress(this);
    progress.Create();
    progress.show();
    const ContourEditResult result = SetContourElevation(m_pDoc, target, polygon, sum / successes, &progress);
    progress.hide();
    if (result == ContourEditResult::NotLoaded) {
        KvMessageBox(QStringLiteral("Unable to read DEM %1").arg(target->m_name), MB_OK | MB_ICONEXCLAMATION);
    } else if (result == ContourEditResult::NotSaved) {
        KvMessageBox(QStringLiteral("Unable to save the undo data: DEM %1 not changed").arg(target->m_name),
                     MB_OK | MB_ICONEXCLAMATION);
    }
}

// ---------------------------------------------------------------------------------------------
// Layout and closing

void CRefineContourElevationDlg::LayoutControls() {
    if (!m_layout.recorded) {
        return;
    }
    const int dx = width() - m_layout.dialog.width();
    const int dy = height() - m_layout.dialog.height();
    m_apply->setGeometry(m_layout.apply.translated(dx, dy));
    m_ok->setGeometry(m_layout.ok.translated(dx, dy));
    m_cancel->setGeometry(m_layout.cancel.translated(dx, dy));
    for (int i = 0; i < 3; ++i) {
        m_imageChecks[i]->setGeometry(m_layout.checks[i].translated(0, dy));
    }
    m_info->setGeometry(m_layout.info.translated(0, dy));
    QRect view0 = m_layout.view0;
    view0.setWidth(std::max(1, view0.width() + dx));
    view0.setHeight(std::max(1, view0.height() + dy));
    m_views[0].host->setGeometry(view0);
}

void CRefineContourElevationDlg::OnSize() {
    // View 0's window follows its static.
    LayoutControls();
}

void CRefineContourElevationDlg::resizeEvent(QResizeEvent* event) {
    KvDialog::resizeEvent(event);
    OnSize();
}

void CRefineContourElevationDlg::done(int result) {
    OnDestroy();
    KvDialog::done(result);
}

void CRefineContourElevationDlg::OnDestroy() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_cameraLocator = nullptr;
    m_cameraPoints = nullptr;
    if (g_current == this) {
        g_current = nullptr;
        CadOnEventKeyDown(nullptr);
        CadOnEventMouseDown(nullptr);
    }
    m_events.reset();
    m_labelFont.reset();
    for (View& v : m_views) {
        v.hosted.Destroy();
    }
    for (OrientedImageEntry& e : m_entries) {
        if (e.dataset) {
            GDALClose(e.dataset);
            e.dataset = nullptr;
        }
        e.picture.release();
    }
    m_pIntersection.reset();
}
