#include "mosaic/SeamlineBuilders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "document/KelvaroDoc.h"
#include "platform/raster/ExtractROI.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/Ortho.h"

namespace {

// The heights of the DEM's pixel window (the whole raster for none) at the image's size, coloured
// on the range and masked; false when nothing can be read.
bool ReadDemColours(CDEM* dem, const cv::Rect* window, cv::Vec2f range, cv::Mat& image) {
    cv::Mat heights(image.size(), CV_32FC1);
    if (!dem || !dem->GetRegion(window, heights)) {
        return false;
    }
    DemToJetImage(heights, range).copyTo(image);
    BlackOutsideValidArea(image);
    return true;
}

template <class Record>
SeamlineImage ImageOf(Record* record) {
    SeamlineImage image;
    if (record) {
        image.name = record->m_name;
        image.path = record->m_path;
        image.record = record;
        image.entity = record->m_imageEntity;
        image.pixelWidth = record->m_geoTransform[1];
    }
    return image;
}

std::vector<QString> PathsOf(const std::vector<SeamlineImage>& images) {
    std::vector<QString> paths;
    for (const SeamlineImage& image : images) {
        paths.push_back(image.path);
    }
    return paths;
}

// True when the two boxes overlap or touch.
bool BoxesMeet(const Wml::Point2& minA, const Wml::Point2& maxA, const Wml::Point2& minB,
               const Wml::Point2& maxB) {
    return minA.X() <= maxB.X() && minB.X() <= maxA.X() && minA.Y() <= maxB.Y() && minB.Y() <= maxA.Y();
}

// The contours of the set that enclose at least the minimum area, with their hole flags. A set
// without slivers is handed back as it is (a result of the polygon operators stays one, which
// spares its repair when it takes part in the next operation).
CPgon WithoutSlivers(const CPgon& polygon) {
    bool slivers = false;
    for (int c = 0; c < polygon.GetNumContours(); ++c) {
        slivers = slivers || polygon.GetArea(c) < kSeamlineMinimumArea;
    }
    if (!slivers) {
        return polygon;
    }
    CPgon kept;
    for (int c = 0; c < polygon.GetNumContours(); ++c) {
        if (polygon.GetArea(c) >= kSeamlineMinimumArea) {
            const std::vector<Wml::Point2>& points = polygon.GetContour(c);
            kept.AddContour(points.data(), int(points.size()), polygon.IsHole(c) != 0);
        }
    }
    return kept;
}

}  // namespace

double SeamlineScaleFactorFor(int64_t largestPixelCount, int64_t medianPixelCount) {
    const double s = std::rint(
        std::max(double(medianPixelCount) / 1000000.0, std::sqrt(double(largestPixelCount) / 6000000.0)));
    return std::max(1.0, s);
}

cv::Mat DemToJetImage(const cv::Mat& heights, cv::Vec2f range) {
    if (heights.empty() || heights.type() != CV_32FC1) {
        return cv::Mat();
    }
    const float lo = range[0], hi = range[1];
    cv::Mat levels;
    if (hi > lo) {
        const double a = 255.0 / double(hi - lo);
        heights.convertTo(levels, CV_8U, a, -a * lo);
    } else {
        levels = cv::Mat::zeros(heights.size(), CV_8UC1);
    }
    cv::Mat colour;
    cv::applyColorMap(levels, colour, cv::COLORMAP_JET);
    for (int r = 0; r < heights.rows; ++r) {
        const float* h = heights.ptr<float>(r);
        cv::Vec3b* c = colour.ptr<cv::Vec3b>(r);
        for (int x = 0; x < heights.cols; ++x) {
            if (IsNoData(h[x])) {
                c[x] = cv::Vec3b(0, 0, 0);
            }
        }
    }
    return colour;
}

int ReadDemSeamImage(CDEM* dem, double scale, cv::Vec2f range, cv::Mat& image, double geoTransform[6]) {
    image.release();
    if (!dem || !(scale >= 1.0)) {
        return 0;
    }
    const int width = int(dem->Width() / scale), height = int(dem->Height() / scale);
    if (width <= 0 || height <= 0) {
        return 0;
    }
    image.create(height, width, CV_8UC3);
    if (!ReadDemColours(dem, nullptr, range, image)) {
        image.release();
        return 0;
    }
    std::copy(dem->m_geoTransform, dem->m_geoTransform + 6, geoTransform);
    return 1;
}

bool DemSeamImageSource::Open(int index, double geoTransform[6]) {
    m_open = index >= 0 && size_t(index) < m_dems.size() ? m_dems[size_t(index)] : nullptr;
    if (!m_open || (!m_open->m_pDataset && m_open->m_grid.empty())) {
        m_open = nullptr;
        return false;
    }
    std::copy(m_open->m_geoTransform, m_open->m_geoTransform + 6, geoTransform);
    return true;
}

bool DemSeamImageSource::Read(const cv::Rect& window, cv::Mat& image) {
    return m_open && !image.empty() && ReadDemColours(m_open, &window, m_range, image);
}

// ---------------------------------------------------------------------------------------------
// The two kinds of images

OrthoSeamlineImages::OrthoSeamlineImages(const std::vector<COrtho*>& images) : m_records(images) {
    for (COrtho* record : images) {
        m_images.push_back(ImageOf(record));
    }
    m_neighbours = std::make_unique<OrthoSeamImageSource>(PathsOf(m_images));
}

bool OrthoSeamlineImages::BuildPolygons(std::vector<CPgon>& polygons, int64_t& largestPixelCount,
                                        int64_t& medianPixelCount, ProgressSink* progress) {
    return BuildVoronoiSeamPolygons(m_records, polygons, largestPixelCount, medianPixelCount, progress);
}

int OrthoSeamlineImages::ReadImage(int index, double scale, cv::Mat& image, double geoTransform[6]) {
    return ReadOrthoSeamImage(m_images[size_t(index)].path, scale, image, geoTransform);
}

DemSeamlineImages::DemSeamlineImages(const std::vector<CDEM*>& images) : m_records(images) {
    float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
    for (CDEM* record : images) {
        m_images.push_back(ImageOf(record));
        if (record) {
            lo = std::min(lo, float(record->m_minElevation));
            hi = std::max(hi, float(record->m_maxElevation));
        }
    }
    m_range = cv::Vec2f(lo, hi);
    m_neighbours = std::make_unique<DemSeamImageSource>(m_records, m_range);
}

bool DemSeamlineImages::BuildPolygons(std::vector<CPgon>& polygons, int64_t& largestPixelCount,
                                      int64_t& medianPixelCount, ProgressSink* progress) {
    return BuildVoronoiDemSeamPolygons(m_records, polygons, largestPixelCount, medianPixelCount, progress);
}

int DemSeamlineImages::ReadImage(int index, double scale, cv::Mat& image, double geoTransform[6]) {
    return ReadDemSeamImage(m_records[size_t(index)], scale, m_range, image, geoTransform);
}

// ---------------------------------------------------------------------------------------------
// The build

SeamlineBuild::SeamlineBuild(CKelvaroDoc* doc, SeamlineImageSet& images, double pixelSize,
                             const CCentralImagineryParams& centralImagery, ProgressSink* progress,
                             const int* abortFlag)
    : m_doc(doc),
      m_images(images),
      m_pixelSize(pixelSize),
      m_centralImagery(centralImagery),
      m_progress(progress),
      m_abortFlag(abortFlag) {}

SeamlineBuild::~SeamlineBuild() {
    DropDrawing();
}

void SeamlineBuild::DropDrawing() {
    if (m_drawing) {
        CadDelete(m_drawing);
        m_drawing = nullptr;
    }
}

bool SeamlineBuild::PumpAborted() const {
    ZQT_PumpMessages();
    return Aborted();
}

void SeamlineBuild::SetPos(int pos) const {
    if (m_progress) {
        m_progress->SetPos(pos);
    }
}

int SeamlineBuild::Fail(const QString& text) const {
    if (m_doc && m_doc->m_pCad) {
        CadCmdPrompt(m_doc->m_pCad, text.toUtf8().constData(), nullptr);
    }
    return kSeamlineBuildFailed;
}

QString SeamlineBuild::PolFolder() const {
    return QDir(m_projectFolder).filePath(QLatin1String(kSeamPolygonFolder));
}

QString SeamlineBuild::SmlFolder() const {
    return QDir(m_projectFolder).filePath(QLatin1String(m_images.Layer()));
}

int SeamlineBuild::Prepare() {
    if (!m_doc || m_doc->GetPathName().isEmpty()) {
        return kSeamlineProjectNotSaved;
    }
    m_projectFolder = QFileInfo(m_doc->GetPathName()).absolutePath();

    int64_t largest = 0, median = 0;
    if (!m_images.BuildPolygons(m_polygons, largest, median, m_progress)) {
        return kSeamlineBuildFailed;
    }
    if (Aborted()) {
        return kSeamlineBuildAborted;
    }
    const vtkSmartPointer<vtkPointLocator> vertexIndex = BuildSeamVertexIndex(m_polygons);
    const std::vector<SeamlineImage>& images = m_images.Images();
    const int count = int(images.size());
    if (m_progress) {
        m_progress->SetRange(0, count);
    }

    QDir project(m_projectFolder);
    for (const QString& folder : {SmlFolder(), PolFolder()}) {
        if (!project.mkpath(folder)) {
            return Fail(
                QStringLiteral("Unable to create the folder %1").arg(QDir::toNativeSeparators(folder)));
        }
    }

    // The working grid starts at the top-left corner of the images' extents in the drawing.
    double minX = std::numeric_limits<double>::max(), maxY = std::numeric_limits<double>::lowest();
    double pixelSum = 0.0;
    for (const SeamlineImage& image : images) {
        pixelSum += image.pixelWidth;
        if (image.entity) {
            minX = std::min(minX, CadEntityGetLeft(image.entity));
            maxY = std::max(maxY, CadEntityGetTop(image.entity));
        }
    }
    m_meanPixelSize = pixelSum / count;

    SeamVertexImageLists vertexImages;
    if (CollectVertexImages(m_polygons, vertexIndex, m_meanPixelSize, &m_segments, &vertexImages,
                            m_progress) != 1) {
        return kSeamlineBuildFailed;
    }
    m_grid = SeamlineGrid{minX, maxY, m_pixelSize, SeamlineScaleFactorFor(largest, median)};
    DeletePgonFiles(PolFolder());
    return kSeamlineBuildDone;
}

int SeamlineBuild::RoutePass() {
    const std::vector<SeamlineImage>& images = m_images.Images();
    SeamRouter router(m_grid, m_meanPixelSize, m_centralImagery, m_segments, m_images.Neighbours(),
                      m_abortFlag);
    const QString polFolder = PolFolder();
    const cv::Mat element = cv::Mat::ones(3, 3, CV_8U);
    for (size_t j = 0; j < images.size(); ++j) {
        SetPos(int(j));
        if (PumpAborted()) {
            return kSeamlineBuildAborted;
        }
        const SeamlineImage& image = images[j];
        cv::Mat a;
        double gt[6];
        if (!m_images.ReadImage(int(j), m_grid.scale, a, gt)) {
            return Fail(QStringLiteral("Unable to read %1").arg(image.name));
        }
        if (PumpAborted()) {
            return kSeamlineBuildAborted;
        }
        cv::Mat valid = SeamValidMask(a);
        if (cv::countNonZero(valid) == 0) {
            if (!WritePgonFile(image.name, polFolder, CPgon())) {
                return Fail(QStringLiteral("Unable to write %1").arg(image.name + QStringLiteral(".pol")));
            }
            if (PumpAborted()) {
                return kSeamlineBuildAborted;
            }
            continue;
        }
        cv::dilate(valid, valid, element);
        std::vector<Wml::Point2> outline;
        const int routed = router.RouteImage(int(j), a, valid, gt, outline);
        if (routed != 0) {
            return routed;
        }
        if (outline.size() > 2) {
            const CPgon polygon(outline.data(), int(outline.size()));
            if (PumpAborted()) {
                return kSeamlineBuildAborted;
            }
            if (!WritePgonFile(image.name, polFolder, polygon)) {
                return Fail(QStringLiteral("Unable to write %1").arg(image.name + QStringLiteral(".pol")));
            }
        }
    }
    return kSeamlineBuildDone;
}

int SeamlineBuild::ReadBackPass() {
    const std::vector<SeamlineImage>& images = m_images.Images();
    m_regions.assign(images.size(), CPgon());
    for (size_t j = 0; j < images.size(); ++j) {
        SetPos(int(j));
        if (PumpAborted()) {
            return kSeamlineBuildAborted;
        }
        const QString path = SeamPolygonFilePath(PolFolder(), images[j].name, "pol");
        if (!ReadPgonFile(path, m_regions[j])) {
            return Fail(QStringLiteral("Unable to read %1").arg(QDir::toNativeSeparators(path)));
        }
    }
    return kSeamlineBuildDone;
}

int SeamlineBuild::TrimPass() {
    const std::vector<SeamlineImage>& images = m_images.Images();
    DropDrawing();
    m_drawing = CadCreate();
    CadLayer* layer = GetSeamlineLayer(m_drawing, m_images.Layer());
    const int layerId = layer ? CadLayerGetID(layer) : 0;
    const QString smlFolder = SmlFolder();
    // Each region as the polygon operators return it, made once: a routed outline may cross itself,
    // and every operation would otherwise repair it again.
    std::vector<CPgon> repaired(images.size());
    std::vector<bool> isRepaired(images.size(), false);
    auto repairedRegion = [&](size_t l) -> const CPgon& {
        if (!isRepaired[l]) {
            repaired[l] = m_regions[l] - CPgon();
            isRepaired[l] = true;
        }
        return repaired[l];
    };
    for (size_t j = 0; j < images.size(); ++j) {
        SetPos(int(j) + 1);
        if (PumpAborted()) {
            DropDrawing();
            return kSeamlineBuildAborted;
        }
        CPgon region = m_regions[j];
        if (region.GetNumContours() == 0) {
            continue;
        }
        // A region is trimmed by the regions of the later images as read back and by those of the
        // earlier ones as already trimmed, so that no two of them overlap.
        Wml::Point2 minCorner, maxCorner;
        region.GetBoundingBox(minCorner, maxCorner);
        bool trimmed = false;
        for (size_t l = 0; l < images.size(); ++l) {
            if (l == j) {
                continue;
            }
            const CPgon& other = m_regions[l];
            for (int c = 0; c < other.GetNumContours(); ++c) {
                Wml::Point2 lo, hi;
                if (other.GetBoundingBox(c, lo, hi) && BoxesMeet(minCorner, maxCorner, lo, hi)) {
                    region = WithoutSlivers((trimmed ? region : repairedRegion(j)) - repairedRegion(l));
                    trimmed = true;
                    break;
                }
            }
        }

        const CPgon map = SeamlineGridToMap(region, m_grid);
        if (WriteSmlFile(smlFolder, images[j].name, map) != 0) {
            DropDrawing();
            return kSeamlineBuildFailed;
        }
        for (int c = 0; c < map.GetNumContours(); ++c) {
            CadClearVertices();
            for (const Wml::Point2& p : map.GetContour(c)) {
                CadAddVertex(p.X(), p.Y(), 0.0);
            }
            if (CadEntity* polyline = CadAddPolyline(m_drawing, 0, 1)) {
                CadEntityPutLayerID(polyline, layerId);
                CadEntityPutUserPtr(polyline, images[j].record);
            }
        }
        m_regions[j] = region;
        if (trimmed) {
            repaired[j] = region;
            isRepaired[j] = true;
        }
    }
    return kSeamlineBuildDone;
}

int SeamlineBuild::Finish(CadDrawing** temporary) {
    if (temporary) {
        *temporary = m_drawing;
        m_drawing = nullptr;
    }
    DropDrawing();
    SetPos(0);
    m_doc->SeamlineScaleFactor = m_grid.scale;
    return kSeamlineBuildDone;
}

int SeamlineBuild::Run(CadDrawing** temporary) {
    if (!m_doc || m_doc->GetPathName().isEmpty()) {
        return kSeamlineProjectNotSaved;
    }
    if (temporary && *temporary) {
        CadDelete(*temporary);
        *temporary = nullptr;
    }
    for (int (SeamlineBuild::*pass)() : {&SeamlineBuild::Prepare, &SeamlineBuild::RoutePass,
                                         &SeamlineBuild::ReadBackPass, &SeamlineBuild::TrimPass}) {
        const int result = (this->*pass)();
        if (result != kSeamlineBuildDone) {
            DropDrawing();
            return result;
        }
    }
    return Finish(temporary);
}

namespace {

template <class Set, class Record>
int BuildSeamlines(CKelvaroDoc* doc, const std::vector<Record*>& images, CadDrawing** temporary,
                   double pixelSize, const CCentralImagineryParams& centralImagery, ProgressSink* progress,
                   const int* abortFlag) {
    Set set(images);
    SeamlineBuild build(doc, set, pixelSize, centralImagery, progress, abortFlag);
    return build.Run(temporary);
}

}  // namespace

int BuildOrthoSeamlines(CKelvaroDoc* doc, const std::vector<COrtho*>& images, CadDrawing** temporary,
                        double pixelSize, CCentralImagineryParams centralImagery, ProgressSink* progress,
                        const int* abortFlag) {
    return BuildSeamlines<OrthoSeamlineImages>(doc, images, temporary, pixelSize, centralImagery, progress,
                                               abortFlag);
}

int BuildDemSeamlines(CKelvaroDoc* doc, const std::vector<CDEM*>& images, CadDrawing** temporary,
                      double pixelSize, CCentralImagineryParams centralImagery, ProgressSink* progress,
                      const int* abortFlag) {
    return BuildSeamlines<DemSeamlineImages>(doc, images, temporary, pixelSize, centralImagery, progress,
                                             abortFlag);
}
