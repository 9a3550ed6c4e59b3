#include "products/VegetationIndex.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "controls/GenericSelectionDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "products/NDVISAVIDlg.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kBlock = 1024;
constexpr float kNoData = -9999.0f;

void Refuse(const char* text) {
    KvMessageBox(QString::fromLatin1(text), MB_OK | MB_ICONEXCLAMATION);
}

// "Process error", with its cause in the project's command line.
void ProcessError(CKelvaroDoc* doc) {
    const QString cause = kv::FailureCause();
    Refuse("Process error");
    PromptFailure(doc->m_pCad, QStringLiteral("Process error"), cause);
}

// One input band: where its samples come from and how they become index inputs.
struct IndexBand {
    GDALRasterBandH band = nullptr;
    GDALDataType type = GDT_Unknown;
    double gt[6] = {0, 1, 0, 0, 0, -1};
    int columns = 0;
    int rows = 0;
    bool hasNoData = false;
    float noData = 0.0f;
    // The index input of every integer sample: normalised over the type's range or as it is; NaN
    // for the no-data value.
    std::vector<float> inputs;
    // The block's samples in the band's own type (w x h) and the part of the block the band covers.
    std::vector<uint8_t> samples;
    cv::Rect covered;

    bool Open(GDALRasterBandH b) {
        band = b;
        type = GDALGetRasterDataType(b);
        GDALDatasetH ds = GDALGetBandDataset(b);
        if (!ds || GDALGetGeoTransform(ds, gt) != CE_None) {
            return false;
        }
        columns = GDALGetRasterBandXSize(b);
        rows = GDALGetRasterBandYSize(b);
        int has = 0;
        const double value = GDALGetRasterNoDataValue(b, &has);
        hasNoData = has != 0 && !std::isnan(value);
        noData = static_cast<float>(value);
        return true;
    }

    void TakeSamples(bool normalise) {
        if (type == GDT_Float32) {
            return;
        }
        double lower = 0.0, upper = 0.0;
        GetGDALDataTypeRange(type, &lower, &upper);
        inputs.resize(type == GDT_Byte ? 256 : 65536);
        for (size_t v = 0; v < inputs.size(); ++v) {
            inputs[v] = normalise ? static_cast<float>((double(v) - lower) / (upper - lower)) : float(v);
            if (hasNoData && double(v) == double(noData)) {
                inputs[v] = std::numeric_limits<float>::quiet_NaN();
            }
        }
    }

    // Reads the band's window under the block (map extent x0, y0 to x1, y1; w x h pixels) at the
    // block's scale. A window cut by the band's right or bottom edge fills only its part of the
    // block. False when the read fails or the window starts left of or above the band.
    bool Read(double x0, double y0, double x1, double y1, int w, int h) {
        const int size = GDALGetDataTypeSizeBytes(type);
        samples.resize(size_t(w) * size_t(h) * size_t(size));
        covered = cv::Rect();
        const double xo = std::rint((x0 - gt[0]) / gt[1]);
        const double yo = std::rint((y0 - gt[3]) / gt[5]);
        const double wo = std::rint((x1 - x0) / gt[1]);
        const double ho = std::rint((y1 - y0) / gt[5]);
        if (!(xo >= 0.0 && yo >= 0.0 && wo >= 1.0 && ho >= 1.0)) {
            return false;
        }
        if (xo >= columns || yo >= rows) {
            return true;  // the block lies past the band's right or bottom edge
        }
        // The part of the window on the band, and the part of the block it fills at the block's
        // scale.
        const double sw = std::min(wo, double(columns) - xo);
        const double sh = std::min(ho, double(rows) - yo);
        const int tw = int(std::min(double(w), std::rint(w / wo * sw)));
        const int th = int(std::min(double(h), std::rint(h / ho * sh)));
        if (tw < 1 || th < 1) {
            return true;
        }
        covered = cv::Rect(0, 0, tw, th);
        return GDALRasterIO(band, GF_Read, int(xo), int(yo), int(sw), int(sh), samples.data(), tw, th, type,
                            size, static_cast<GSpacing>(size) * w) == CE_None;
    }

    // The index inputs of row j of the block (w pixels): NaN where the band has none.
    void Inputs(int j, int w, float* out) const {
        const int end = j < covered.height ? covered.width : 0;
        const size_t first = size_t(j) * size_t(w);
        switch (type) {
            case GDT_Byte:
                for (int k = 0; k < end; ++k) {
                    out[k] = inputs[samples[first + size_t(k)]];
                }
                break;
            case GDT_UInt16: {
                const auto* row = reinterpret_cast<const uint16_t*>(samples.data()) + first;
                for (int k = 0; k < end; ++k) {
                    out[k] = inputs[row[k]];
                }
                break;
            }
            default: {
                const auto* row = reinterpret_cast<const float*>(samples.data()) + first;
                for (int k = 0; k < end; ++k) {
                    out[k] = hasNoData && row[k] == noData ? std::numeric_limits<float>::quiet_NaN() : row[k];
                }
                break;
            }
        }
        std::fill(out + end, out + w, std::numeric_limits<float>::quiet_NaN());
    }
};

// The progress bar of the overview build: the build is not stopped by Abort.
class OverviewProgress : public ProgressSink {
public:
    explicit OverviewProgress(ProgressSink* bar) : m_bar(bar) {}
    void SetRange(int lower, int upper) override {
        if (m_bar) {
            m_bar->SetRange(lower, upper);
        }
    }
    void SetPos(int pos) override {
        if (m_bar) {
            m_bar->SetPos(pos);
        }
    }

private:
    ProgressSink* m_bar;
};

// The index of a pixel from its two inputs (NaN where a band has none). Computed for every pixel
// and then chosen, without branches, so that a row's pixels are computed several at once.
inline float IndexOf(float red, float nir, float L, bool inside) {
    const float index = (nir - red) / (nir + red + L) * (1.0f + L);
    // The tests are joined as integers with '|', not with '||', which would branch.
    const int none = int(!inside) | int(std::isnan(red)) | int(std::isnan(nir)) | int(red == -10000.0f) |
                     int(nir == -10000.0f) | int(red + nir == 0.0f) | int(!std::isfinite(index));
    return none != 0 ? kNoData : index;
}

// The indices of a row of w pixels from their inputs; inside, when given, says which pixels lie
// inside the area. Built for the wider vector units too, the best one chosen when the program
// loads: the same operations on each pixel, so the same indices.
__attribute__((target_clones("avx2", "default"))) void IndexRow(const float* reds, const float* nirs,
                                                                const uint8_t* inside, int w, float L,
                                                                float* line) {
    if (inside) {
        for (int k = 0; k < w; ++k) {
            line[k] = IndexOf(reds[k], nirs[k], L, inside[k] != 0);
        }
    } else {
        for (int k = 0; k < w; ++k) {
            line[k] = IndexOf(reds[k], nirs[k], L, true);
        }
    }
}

bool IsIndexType(GDALDataType type) {
    return type == GDT_Byte || type == GDT_UInt16 || type == GDT_Float32;
}

}  // namespace

int ComputeVegetationIndex(CKelvaroDoc* doc, CadEntity* area, GDALRasterBandH red, GDALRasterBandH nir,
                           float soilBrightness, const QString& path, ProgressSink* progress) {
    if (!doc) {
        return 0;
    }
    const kv::FailureCauseScope causes;
    if (!red || !nir) {
        Refuse("Both channels must be defined!");
        return 0;
    }
    if (red == nir) {
        Refuse("Channels must be different!");
        return 0;
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
        progress->SetStartTime();
        ZQT_PumpMessages();
    }
    const GDALDataType redType = GDALGetRasterDataType(red);
    const GDALDataType nirType = GDALGetRasterDataType(nir);
    if (!IsIndexType(redType) || !IsIndexType(nirType)) {
        Refuse("Data type error");
        return 0;
    }
    IndexBand bands[2];
    if (!bands[0].Open(red) || !bands[1].Open(nir)) {
        ProcessError(doc);
        return 0;
    }
    // Float32 samples are taken as they are, and so are the red samples beside a Float32 NIR
    // band; integer samples are normalised over their type's range.
    bands[1].TakeSamples(nirType != GDT_Float32);
    bands[0].TakeSamples(nirType != GDT_Float32);

    const double p = std::max(bands[0].gt[1], bands[1].gt[1]);
    double left, top, right, bottom;
    if (area) {
        left = CadEntityGetLeft(area);
        top = CadEntityGetTop(area);
        right = CadEntityGetRight(area);
        bottom = CadEntityGetBottom(area);
    } else {
        left = std::max(bands[0].gt[0], bands[1].gt[0]);
        top = std::min(bands[0].gt[3], bands[1].gt[3]);
        right = std::min(bands[0].gt[0] + bands[0].columns * bands[0].gt[1],
                         bands[1].gt[0] + bands[1].columns * bands[1].gt[1]);
        bottom = std::max(bands[0].gt[3] + bands[0].rows * bands[0].gt[5],
                          bands[1].gt[3] + bands[1].rows * bands[1].gt[5]);
    }
    // A side that is a whole number of pixels up to the rounding of the corner sums stays that
    // number of pixels.
    const double n = std::ceil((right - left) / p - 1e-6);
    const double m = std::ceil((top - bottom) / p - 1e-6);
    if (!(n >= 1.0 && m >= 1.0)) {
        Refuse("Data not comparable");
        return 0;
    }
    // The projection of the red band's dataset, when it has one.
    GDALDatasetH redDataset = GDALGetBandDataset(red);
    const char* wkt = redDataset ? GDALGetProjectionRef(redDataset) : nullptr;
    QString space;
    if (!kv::RasterFitsOnDisk(path, n, m, 1, GDT_Float32, &space)) {
        KvMessageBox(space, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    kv::NewFloatRaster output(path);
    const double gt[6] = {left, p, 0.0, top, 0.0, -p};
    const char* const options[] = {"TILED=YES", "BLOCKXSIZE=64",    "BLOCKYSIZE=64",
                                   "TFW=YES",   "BIGTIFF=IF_SAFER", nullptr};
    if (n > double(std::numeric_limits<int>::max()) || m > double(std::numeric_limits<int>::max()) ||
        !output.Create(int(n), int(m), options, gt, kNoData, QByteArray(wkt ? wkt : ""))) {
        ProcessError(doc);
        return 0;
    }
    const int columns = int(n), rows = int(m);
    const int rowBlocks = (rows - 1) / kBlock + 1;
    if (progress) {
        progress->SetRange(0, rowBlocks);
        progress->SetPos(0);
    }
    const float L = soilBrightness;
    std::vector<float> out;
    std::vector<uint8_t> inside;
    for (int r0 = 0, rowBlock = 0; r0 < rows; r0 += kBlock, ++rowBlock) {
        if (progress && progress->IsAborted()) {
            progress->SetPos(0);
            return 0;
        }
        if (progress) {
            progress->SetPos(rowBlock);
        }
        ZQT_PumpMessages();
        const int h = std::min(kBlock, rows - r0);
        for (int c0 = 0; c0 < columns; c0 += kBlock) {
            const int w = std::min(kBlock, columns - c0);
            const double x0 = left + c0 * p, y0 = top - r0 * p;
            const double x1 = x0 + w * p, y1 = y0 - h * p;
            if (!bands[0].Read(x0, y0, x1, y1, w, h) || !bands[1].Read(x0, y0, x1, y1, w, h)) {
                ProcessError(doc);
                return 0;
            }
            out.resize(size_t(w) * size_t(h));
            // Whether each pixel's upper-left corner lies inside the area, asked of the drawing
            // here, before the rows are computed in parallel.
            inside.assign(area ? size_t(w) * size_t(h) : 0, 1);
            for (int j = 0; area && j < h; ++j) {
                for (int k = 0; k < w; ++k) {
                    inside[size_t(j) * size_t(w) + size_t(k)] =
                        CadPlineContainPoint(area, left + (c0 + k) * p, top - (r0 + j) * p) != 0;
                }
            }
            cv::parallel_for_(cv::Range(0, h), [&](const cv::Range& range) {
                std::vector<float> reds(static_cast<size_t>(w)), nirs(static_cast<size_t>(w));
                for (int j = range.start; j < range.end; ++j) {
                    bands[0].Inputs(j, w, reds.data());
                    bands[1].Inputs(j, w, nirs.data());
                    float* line = out.data() + size_t(j) * size_t(w);
                    IndexRow(reds.data(), nirs.data(), area ? inside.data() + size_t(j) * size_t(w) : nullptr,
                             w, L, line);
                }
            });
            if (GDALRasterIO(output.Band(), GF_Write, c0, r0, w, h, out.data(), w, h, GDT_Float32, 0, 0) !=
                CE_None) {
                ProcessError(doc);
                return 0;
            }
        }
    }
    if (progress) {
        progress->SetPos(0);
        progress->SetStartTime();
    }
    OverviewProgress overviewBar(progress);
    CGDALListener listener(&overviewBar);
    if (!kv::BuildOverviews(output.Dataset(), &listener, kv::OverviewHalvings(columns, rows))) {
        ProcessError(doc);
        return 0;
    }
    if (progress) {
        progress->SetPos(0);
        if (progress->IsAborted()) {
            return 0;
        }
    }
    if (!output.Place()) {
        ProcessError(doc);
        return 0;
    }
    return 1;
}

namespace {

// The vertices of the area being drawn, read by the rubber band.
std::vector<Wml::Point3> g_ndviArea;

}  // namespace

void CmdNdviSaviDraw(CadDrawing* /*drawing*/, QPainter* /*painter*/, double x, double y, double z) {
    DrawArea(g_ndviArea, x, y, z);
}

void CmdNdviSavi(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_Orthos.empty() && doc->m_Maps.empty()) {
        KvMessageBox(QStringLiteral("No maps loaded"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    g_ndviArea.clear();
    CommandEnd end(drawing, &g_ndviArea);
    ActiveCadCommandId = CMD_NDVISAVI;
    SetDocCommandPrompt(drawing, QString());
    const int choice =
        AskAreaChoice(doc, QStringLiteral("NDVI-SAVI area selection"), QStringLiteral("Use total area"), 1);
    CadEntity* area = nullptr;
    if (choice == CGenericSelectionDlg::IDC_LEFT) {
        area = PickAreaPolyline(drawing, QStringLiteral("Select existing area"));
        if (!area) {
            return;
        }
    } else if (choice == CGenericSelectionDlg::IDC_MIDDLE) {
        doc->m_AreaVertices.clear();
        if (DrawNewArea(drawing, kAreaVertexPrompts, g_ndviArea) == AreaResult::Cancelled ||
            g_ndviArea.size() < 3) {
            return;
        }
        // The area drawn stays in the drawing, on the current layer.
        CadClearVertices();
        for (const Wml::Point3& p : g_ndviArea) {
            CadAddVertex(p.X(), p.Y(), p.Z());
        }
        g_ndviArea.clear();
        area = CadAddPolyline(drawing, 0, 1);
        if (!area) {
            return;
        }
        if (CadLayer* layer = CadGetCurLayer(drawing)) {
            CadEntityPutLayerID(area, CadLayerGetID(layer));
        }
        CadUpdate(drawing);
    } else if (choice != CGenericSelectionDlg::IDC_RIGHT) {
        return;
    }
    CView* view = doc->GetFirstView();
    CNDVISAVIDlg dialog(doc, area, view ? view->GetParentFrame() : nullptr);
    dialog.DoModal();
}
