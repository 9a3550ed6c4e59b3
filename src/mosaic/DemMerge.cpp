// The merge of DEMs along their seamlines (CDEMMergeDlg::MergeDEMs).
#include <QDir>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "demtools/EntityElevation.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "mosaic/DEMMergeDlg.h"
#include "mosaic/DemSplitMerge.h"
#include "mosaic/LaplacianBlend.h"
#include "mosaic/MosaicTile.h"
#include "mosaic/SeamlineFiles.h"
#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/DemUndoFolder.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

// The merged DEM is written in blocks of this many cells a side.
constexpr int kMergeBlock = 1024;

// One DEM still to merge: a source DEM or the temporary merge of two.
struct MergeEntry {
    CDEM* dem = nullptr;
    // The cells it covers (its rectangle, or the union of its parents').
    CPgon extent;
    // Its seamline regions: every seamline polyline one contour, read even-odd.
    CPgon seam;
    double minX = DBL_MAX, maxX = -DBL_MAX, minY = DBL_MAX, maxY = -DBL_MAX;
};

CPgon Rectangle(double x0, double y0, double x1, double y1) {
    const Wml::Point2 corners[4] = {{x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
    return CPgon(corners, 4);
}

MergeEntry EntryOf(CDEM* dem) {
    MergeEntry entry;
    entry.dem = dem;
    const double* gt = dem->m_geoTransform;
    const double xa = gt[0], xb = gt[0] + dem->Width() * gt[1];
    const double ya = gt[3], yb = gt[3] + dem->Height() * gt[5];
    entry.minX = std::min(xa, xb);
    entry.maxX = std::max(xa, xb);
    entry.minY = std::min(ya, yb);
    entry.maxY = std::max(ya, yb);
    entry.extent = Rectangle(entry.minX, entry.minY, entry.maxX, entry.maxY);
    for (CadEntity* polyline : dem->SeamlinePolylines) {
        if (!polyline || CadEntityGetDeleted(polyline) || CadPlineGetNumVers(polyline) < 3) {
            continue;
        }
        const std::vector<Wml::Point2> points = PolylinePoints(polyline);
        entry.seam.AddContour(points.data(), int(points.size()));
    }
    return entry;
}

// The labels and bars of the window; each may be null.
struct MergeDisplay {
    QLabel* overallMessage;
    QLabel* overallPercent;
    KvProgressBar* overall;
    QLabel* stepMessage;
    QLabel* stepPercent;
    KvProgressBar* step;
    int* abort;

    static void SetText(QLabel* label, const QString& text) {
        if (label) {
            label->setText(text);
        }
    }
    static QString Percent(double fraction) {
        return QStringLiteral("%1%").arg(int(std::rint(100.0 * fraction)));
    }
    void Overall(int position, int upper) {
        SetText(overallPercent, Percent(upper > 0 ? double(position) / upper : 0.0));
        if (overall) {
            overall->SetPos(position);
        }
    }
    void StepRange(int upper) {
        if (step) {
            step->SetRange(0, upper);
            step->SetPos(0);
        }
        SetText(stepPercent, QStringLiteral("0%"));
    }
    void Step(int position, int upper) {
        SetText(stepPercent, Percent(upper > 0 ? double(position) / upper : 0.0));
        if (step) {
            step->SetPos(position);
        }
    }
    // Lets the window be served and answers whether the operator asked to stop.
    bool Aborted() const {
        ZQT_PumpMessages();
        return abort && *abort;
    }
};

class DemMerger {
public:
    DemMerger(CKelvaroDoc& doc, const QString& outputPath, const MergeDisplay& display)
        : m_doc(doc), m_outputPath(outputPath), m_display(display) {}
    ~DemMerger() { RemoveTemporaries(); }

    // 1 when the merged DEM was written and loaded.
    int Run(const std::vector<CDEM*>& dems);

private:
    enum class PassResult { Done, Failed, Aborted };

    bool Validate(const std::vector<CDEM*>& dems);
    PassResult Pass(int k);
    // Writes the merge of entries a and b into the file; the blended overlap replaces their cells
    // where it has a value.
    PassResult WriteMerged(GDALDatasetH out, const MergeEntry& a, const MergeEntry& b,
                           const CPgon exclusive[2], const double* gt, int width, int height,
                           const cv::Mat& blended, const double* overlap, int blocks);
    bool Fail(const QString& message) {
        KvMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // Removes the file being written and the temporary DEMs with their layers and files, then
    // purges the drawing (regenerates it when there were none).
    void RemoveTemporaries();

    CKelvaroDoc& m_doc;
    QString m_outputPath;
    MergeDisplay m_display;
    std::vector<MergeEntry> m_entries;
    double m_pixelWidth = 0.0;
    double m_pixelHeight = 0.0;
    QString m_projection;
    QString m_temporaryFolder;
    // Temporary DEMs loaded into the project, removed with their layers and files at the end.
    std::vector<CDEM*> m_temporaries;
    // The file being written, removed when the pass does not complete.
    QString m_partFile;
    int m_count = 0;
    // Set once the temporaries are gone: the end of a run cleans up once, by itself or on the
    // way out of a failure.
    bool m_cleanedUp = false;
};

bool DemMerger::Validate(const std::vector<CDEM*>& dems) {
    const int n = int(dems.size());
    bool sameProjection = true;
    for (int i = 0; i < n; ++i) {
        m_display.Step(i, n);
        if (m_display.Aborted()) {
            return false;
        }
        CDEM* dem = dems[size_t(i)];
        if (!dem) {
            return Fail(QStringLiteral("One or more DEMs are not valid!"));
        }
        if (i == 0) {
            m_pixelWidth = dem->m_geoTransform[1];
            m_pixelHeight = dem->m_geoTransform[5];
            m_projection = dem->m_projection;
        }
        if (dem->m_geoTransform[1] != m_pixelWidth || dem->m_geoTransform[5] != m_pixelHeight) {
            return Fail(QStringLiteral("Selected DEMs must have the same GSD!"));
        }
        if (dem->m_modified || !ReopenDemFromFile(*dem)) {
            return Fail(QStringLiteral("Selected DEM is modified.\nPlease save the project before"));
        }
        MergeEntry entry = EntryOf(dem);
        if (entry.seam.GetNumContours() == 0) {
            return Fail(QStringLiteral("Selected DEM does not have seamlines defined"));
        }
        sameProjection = sameProjection && dem->m_projection == m_projection;
        m_entries.push_back(std::move(entry));
    }
    // The merged DEM keeps the coordinate system only when every DEM has the same.
    if (!sameProjection) {
        m_projection.clear();
    }
    m_display.Step(n, n);
    return !m_display.Aborted();
}

int DemMerger::Run(const std::vector<CDEM*>& dems) {
    const int n = int(dems.size());
    m_count = n;
    MergeDisplay::SetText(m_display.overallMessage, QString());
    if (m_display.overall) {
        m_display.overall->SetRange(0, n);
    }
    m_display.Overall(0, n);
    MergeDisplay::SetText(m_display.stepMessage, QString());
    m_display.StepRange(n);
    if (!Validate(dems)) {
        return 0;
    }
    const QString undoFolder = GetDemUndoFolder();
    if (undoFolder.isEmpty()) {
        Fail(QStringLiteral("Unable to save target DEM!"));
        return 0;
    }
    m_temporaryFolder = undoFolder + QStringLiteral("DEMMerge");
    QDir(m_temporaryFolder).removeRecursively();
    QDir().mkpath(m_temporaryFolder);
    m_display.Step(0, 1);

    int k = 1;
    for (;; ++k) {
        const PassResult result = Pass(k);
        if (result != PassResult::Done) {
            return 0;
        }
        if (m_entries.size() <= 1) {
            break;
        }
    }
    RemoveTemporaries();
    m_display.Overall(k + 1, n);
    if (QWidget* window = CadGetWindow(m_doc.m_pCad)) {
        CadWndRedraw(window);
    }
    return 1;
}

DemMerger::PassResult DemMerger::Pass(int k) {
    m_display.Overall(k, m_count);
    if (m_display.Aborted()) {
        return PassResult::Aborted;
    }
    // The pair whose extents overlap most; the first of equals.
    size_t ia = 0, ib = 1;
    double largest = -1.0;
    for (size_t a = 0; a < m_entries.size(); ++a) {
        for (size_t b = a + 1; b < m_entries.size(); ++b) {
            const double area = (m_entries[a].extent & m_entries[b].extent).GetArea();
            if (area > largest) {
                largest = area;
                ia = a;
                ib = b;
            }
        }
    }
    const MergeEntry& a = m_entries[ia];
    const MergeEntry& b = m_entries[ib];
    const CPgon exclusive[2] = {a.extent - b.seam, b.extent - a.seam};
    MergeEntry merged;
    merged.extent = a.extent | b.extent;
    merged.seam = a.seam | b.seam;
    merged.minX = std::min(a.minX, b.minX);
    merged.maxX = std::max(a.maxX, b.maxX);
    merged.minY = std::min(a.minY, b.minY);
    merged.maxY = std::max(a.maxY, b.maxY);
    const double M = m_pixelWidth, L = m_pixelHeight;
    const double gt[6] = {merged.minX, M, 0.0, merged.maxY, 0.0, L};
    const int width = PixelSpan(merged.maxX - merged.minX, M);
    const int height = PixelSpan(merged.maxY - merged.minY, L);

    // The overlap window: the box around every contour of the overlap, so that an overlap of
    // several pieces is blended everywhere.
    const CPgon overlap = a.extent & b.extent;
    Wml::Point2 lo, hi;
    if (overlap.GetNumContours() == 0 || !overlap.GetBoundingBox(lo, hi)) {
        Fail(QStringLiteral("Selected DEMs are not overlapping"));
        return PassResult::Failed;
    }
    const double window[4] = {lo.X(), hi.X(), lo.Y(), hi.Y()};
    const int V = PixelSpan(hi.X() - lo.X(), M);
    const int H = PixelSpan(hi.Y() - lo.Y(), L);
    const int blocks = ((width + kMergeBlock - 1) / kMergeBlock) * ((height + kMergeBlock - 1) / kMergeBlock);
    m_display.StepRange(blocks + 4);

    // Both DEMs over the window, no data as NaN.
    cv::Mat images[2];
    const MergeEntry* pair[2] = {&a, &b};
    for (int d = 0; d < 2; ++d) {
        m_display.Step(d, blocks + 4);
        if (m_display.Aborted()) {
            return PassResult::Aborted;
        }
        CDEM* dem = pair[d]->dem;
        const double* dgt = dem->m_geoTransform;
        const cv::Rect rect(int(std::rint((lo.X() - dgt[0]) / dgt[1])),
                            int(std::rint((hi.Y() - dgt[3]) / dgt[5])), V, H);
        images[d].create(H, V, CV_32FC1);
        if (!ReadDemWindow(*dem, rect, images[d])) {
            Fail(QStringLiteral("Unable to read DEM %1").arg(dem->m_name));
            return PassResult::Failed;
        }
        images[d].setTo(std::numeric_limits<float>::quiet_NaN(), images[d] == kNoData);
    }
    m_display.Step(2, blocks + 4);
    if (m_display.Aborted()) {
        return PassResult::Aborted;
    }
    // Weight of the first DEM: 1 inside its exclusive area.
    cv::Mat mask = cv::Mat::zeros(H, V, CV_32FC1);
    for (int pass = 0; pass < 2; ++pass) {
        for (int c = 0; c < exclusive[0].GetNumContours(); ++c) {
            if (bool(exclusive[0].IsHole(c)) != bool(pass)) {
                continue;
            }
            std::vector<cv::Point> points;
            for (const Wml::Point2& p : exclusive[0].GetContour(c)) {
                points.emplace_back(int(std::rint((p.X() - lo.X()) / M)),
                                    int(std::rint((p.Y() - hi.Y()) / L)));
            }
            const cv::Point* polygon = points.data();
            const int count = int(points.size());
            cv::fillPoly(mask, &polygon, &count, 1, cv::Scalar(pass ? 0.0 : 1.0), cv::LINE_8, 0);
        }
    }
    m_display.Step(3, blocks + 4);
    cv::Mat blended;
    LaplacianPyramidBlend(blended, images[0], images[1], mask);
    images[0].release();
    images[1].release();
    mask.release();
    m_display.Step(4, blocks + 4);
    if (m_display.Aborted()) {
        return PassResult::Aborted;
    }

    // The last pass writes the operator's file under a temporary name, put in place when complete.
    const bool last = m_entries.size() == 2;
    m_partFile = last ? kv::TemporaryPathFor(m_outputPath) : ZQT_GetRandomFilePath(m_temporaryFolder, "gtif");
    GDALDatasetH out = CreateDemGeoTiff(m_partFile, width, height, gt, m_projection);
    if (!out) {
        m_partFile.clear();
        Fail(QStringLiteral("Unable to save target DEM!"));
        return PassResult::Failed;
    }
    PassResult written = WriteMerged(out, a, b, exclusive, gt, width, height, blended, window, blocks);
    blended.release();
    m_display.StepRange(100);
    if (written == PassResult::Done) {
        CGDALListener listener(m_display.step, m_display.stepPercent);
        if (!kv::BuildOverviews(out, &listener)) {
            written = PassResult::Failed;
        }
    }
    if (!kv::CloseDataset(out) && written == PassResult::Done) {
        written = PassResult::Failed;
    }
    m_display.StepRange(100);
    if (written == PassResult::Done && m_display.Aborted()) {
        written = PassResult::Aborted;
    }
    if (written == PassResult::Failed) {
        Fail(QStringLiteral("Unable to save target DEM!"));
    }
    if (written != PassResult::Done) {
        kv::RemoveRasterFile(m_partFile);
        m_partFile.clear();
        return written;
    }
    QString path = m_partFile;
    m_partFile.clear();
    if (last) {
        if (!kv::MoveIntoPlace(path, m_outputPath)) {
            Fail(QStringLiteral("Unable to save target DEM!"));
            return PassResult::Failed;
        }
        path = m_outputPath;
    }

    m_entries.erase(m_entries.begin() + std::ptrdiff_t(ib));
    m_entries.erase(m_entries.begin() + std::ptrdiff_t(ia));
    auto* dem = new CDEM(&m_doc);
    dem->m_path = path;
    if (!m_doc.LoadDEM(dem, 0, 1, 1, 0)) {
        delete dem;
        if (!last) {
            kv::RemoveRasterFile(path);
        }
        Fail(last ? QStringLiteral("Unable to load merged DEM!")
                  : QStringLiteral("Unable to load temporary DEM!"));
        return PassResult::Failed;
    }
    merged.dem = dem;
    m_entries.push_back(std::move(merged));
    if (last) {
        return PassResult::Done;
    }
    m_temporaries.push_back(dem);
    return m_display.Aborted() ? PassResult::Aborted : PassResult::Done;
}

DemMerger::PassResult DemMerger::WriteMerged(GDALDatasetH out, const MergeEntry& a, const MergeEntry& b,
                                             const CPgon exclusive[2], const double* gt, int width,
                                             int height, const cv::Mat& blended, const double* window,
                                             int blocks) {
    const double M = gt[1], L = gt[5];
    const MergeEntry* pair[2] = {&a, &b};
    cv::Mat block, sources[2];
    std::vector<int> windowColumns;
    int step = 4;
    for (int by = 0; by < height; by += kMergeBlock) {
        for (int bx = 0; bx < width; bx += kMergeBlock) {
            const int bw = std::min(kMergeBlock, width - bx);
            const int bh = std::min(kMergeBlock, height - by);
            m_display.Step(++step, blocks + 4);
            if (m_display.Aborted()) {
                return PassResult::Aborted;
            }
            const double left = gt[0] + bx * M, right = gt[0] + (bx + bw) * M;
            const double top = gt[3] + by * L, bottom = gt[3] + (by + bh) * L;
            const CPgon blockPolygon = Rectangle(left - M, bottom + L, right + M, top - L);
            const double blockArea = blockPolygon.GetArea();
            block.create(bh, bw, CV_32FC1);
            block.setTo(kNoData);
            for (int d = 0; d < 2; ++d) {
                CDEM* dem = pair[d]->dem;
                const double* dgt = dem->m_geoTransform;
                const int column = int(std::rint((left - dgt[0]) / dgt[1]));
                const int row = int(std::rint((top - dgt[3]) / dgt[5]));
                const cv::Rect rect(column, row, int(std::rint((right - dgt[0]) / dgt[1])) - column,
                                    int(std::rint((bottom - dgt[3]) / dgt[5])) - row);
                sources[d].create(bh, bw, CV_32FC1);
                if (rect.width <= 0 || rect.height <= 0) {
                    sources[d].setTo(kNoData);
                } else if (!ReadDemWindow(*dem, rect, sources[d])) {
                    Fail(QStringLiteral("Unable to read DEM %1").arg(dem->m_name));
                    return PassResult::Failed;
                }
            }
            // Each DEM inside its exclusive area, the second over the first.
            for (int d = 0; d < 2; ++d) {
                const CPgon part = blockPolygon & exclusive[d];
                const double area = part.GetArea();
                if (area == 0.0) {
                    continue;
                }
                const bool whole = area >= blockArea;
                const cv::Mat inside = whole ? cv::Mat() : CornersInside(part, gt, cv::Rect(bx, by, bw, bh));
                for (int r = 0; r < bh; ++r) {
                    if (r % 50 == 0 && m_display.Aborted()) {
                        return PassResult::Aborted;
                    }
                    const uchar* corners = whole ? nullptr : inside.ptr<uchar>(r);
                    const float* source = sources[d].ptr<float>(r);
                    float* cells = block.ptr<float>(r);
                    for (int c = 0; c < bw; ++c) {
                        if (source[c] != kNoData && (whole || corners[c])) {
                            cells[c] = source[c];
                        }
                    }
                }
            }
            // No cell of either DEM is lost: where neither exclusive area gave a value, the
            // first DEM that has one there gives it.
            for (int r = 0; r < bh; ++r) {
                const float* first = sources[0].ptr<float>(r);
                const float* second = sources[1].ptr<float>(r);
                float* cells = block.ptr<float>(r);
                for (int c = 0; c < bw; ++c) {
                    if (cells[c] == kNoData) {
                        cells[c] = !IsNoData(first[c]) ? first[c] : second[c];
                    }
                }
            }
            // The blend over the overlap window, where it has a value.
            windowColumns.resize(size_t(bw));
            for (int c = 0; c < bw; ++c) {
                windowColumns[size_t(c)] = int(std::rint((left + c * M - window[0]) / M));
            }
            for (int r = 0; r < bh; ++r) {
                if (r % 50 == 0 && m_display.Aborted()) {
                    return PassResult::Aborted;
                }
                const int wr = int(std::rint((top + r * L - window[3]) / L));
                if (wr < 0 || wr >= blended.rows) {
                    continue;
                }
                const float* values = blended.ptr<float>(wr);
                float* cells = block.ptr<float>(r);
                for (int c = 0; c < bw; ++c) {
                    const int wc = windowColumns[size_t(c)];
                    if (wc >= 0 && wc < blended.cols && !std::isnan(values[wc])) {
                        cells[c] = values[wc];
                    }
                }
            }
            if (GDALRasterIO(GDALGetRasterBand(out, 1), GF_Write, bx, by, bw, bh, block.data, bw, bh,
                             GDT_Float32, 0, int(block.step)) != CE_None) {
                return PassResult::Failed;
            }
        }
    }
    m_display.Step(blocks + 4, blocks + 4);
    return PassResult::Done;
}

void DemMerger::RemoveTemporaries() {
    if (m_cleanedUp) {
        return;
    }
    m_cleanedUp = true;
    if (!m_partFile.isEmpty()) {
        kv::RemoveRasterFile(m_partFile);
        m_partFile.clear();
    }
    if (m_temporaries.empty()) {
        CadRegen(m_doc.m_pCad);
        return;
    }
    for (CDEM* dem : m_temporaries) {
        const QString name = dem->m_name;
        const QString path = dem->m_path;
        m_doc.RemoveDEM(name);
        if (CadLayer* layer = CadGetLayerByName(m_doc.m_pCad, name.toUtf8().constData())) {
            CadDeleteLayer(m_doc.m_pCad, layer);
        }
        kv::RemoveRasterFile(path);
    }
    m_temporaries.clear();
    CadPurge(m_doc.m_pCad, CAD_PURGE_ALL);
}

}  // namespace

int CDEMMergeDlg::MergeDEMs(CKelvaroDoc* doc, const std::vector<CDEM*>& dems, const QString& outputPath,
                            QLabel* overallMessage, QLabel* overallPercent, KvProgressBar* overallProgress,
                            QLabel* stepMessage, QLabel* stepPercent, KvProgressBar* stepProgress,
                            int* abort) {
    if (!GDALGetDriverByName("GTiff") || !doc) {
        return 0;
    }
    if (dems.size() < 2) {
        KvMessageBox(QStringLiteral("Please selected at least 2 DEMs!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    // The result never replaces the file of a layer that is open.
    if (outputPath.isEmpty() || IsLoadedLayerFile(outputPath)) {
        KvMessageBox(QStringLiteral("Unable to save target DEM!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    const MergeDisplay display{overallMessage, overallPercent, overallProgress, stepMessage, stepPercent,
                               stepProgress,   abort};
    DemMerger merger(*doc, outputPath, display);
    return merger.Run(dems);
}
