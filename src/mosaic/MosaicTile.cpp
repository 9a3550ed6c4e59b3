#include "mosaic/MosaicTile.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "mosaic/MosaicOrder.h"
#include "mosaic/RadiometricBalancing.h"
#include "mosaic/SeamlineFiles.h"
#include "platform/cad/Cad.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/MakerInfo.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/GDALListener.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kBlock = 128;

CPgon PolygonOf(CadEntity* polyline) {
    const std::vector<Wml::Point2> points = PolylinePoints(polyline);
    return CPgon(points.data(), int(points.size()));
}

// The colours of the seamline polylines while a tile is written: those of the orthophoto being
// copied are drawn filled in colour 6, those of orthophotos done in colour 3.
class Highlights {
public:
    explicit Highlights(CadDrawing* drawing) : m_drawing(drawing) {}
    void Show(const COrtho* previous, const COrtho* current) {
        if (previous) {
            for (CadEntity* e : previous->SeamlinePolylines) {
                CadEntityPutColor(e, 3);
            }
        }
        for (CadEntity* e : current->SeamlinePolylines) {
            CadEntityPutColor(e, 6);
            CadEntityPutFilled(e, 1);
            m_touched.insert(e);
        }
        // The drawing is regenerated every 25 orthophotos and only updated in between.
        if (m_counter > 24) {
            CadRegen(m_drawing);
            m_counter = 0;
        } else {
            CadUpdate(m_drawing);
            ++m_counter;
        }
    }
    // Colour by layer (256) and no fill again.
    void Restore() {
        for (CadEntity* e : m_touched) {
            CadEntityPutColor(e, 256);
            CadEntityPutFilled(e, 0);
        }
    }

private:
    CadDrawing* m_drawing;
    std::set<CadEntity*> m_touched;
    int m_counter = 0;
};

// Calls f with a value of the C type of the data type's cells (nothing for other types).
template <class F>
void WithCellType(GDALDataType type, F&& f) {
    switch (type) {
        case GDT_Byte:
            f(uint8_t{});
            break;
        case GDT_UInt16:
            f(uint16_t{});
            break;
        case GDT_Int16:
            f(int16_t{});
            break;
        case GDT_UInt32:
            f(uint32_t{});
            break;
        case GDT_Int32:
            f(int32_t{});
            break;
        case GDT_Float32:
            f(float{});
            break;
        case GDT_Float64:
            f(double{});
            break;
        default:
            break;
    }
}

template <class T>
void StoreValues(uchar* cell, int bands, const double* values) {
    T* out = reinterpret_cast<T*>(cell);
    for (int b = 0; b < bands; ++b) {
        out[b] = static_cast<T>(values[b]);
    }
}

template <class T>
void LoadValues(const uchar* cell, int bands, double* values) {
    const T* in = reinterpret_cast<const T*>(cell);
    for (int b = 0; b < bands; ++b) {
        values[b] = double(in[b]);
    }
}

// What the blend of one block needs besides its buffers.
struct BlendSetup {
    const COrtho* ortho = nullptr;
    const cv::Mat* mask = nullptr;
    double scale = 1.0;  // working scale R
    int bands = 0;
    GDALDataType type = GDT_Byte;
    bool hardSeams = false;
    bool balance = false;
    double balancingScale = 1.0;
    double divisor = 1.0;
    double lo = 0, hi = 0;
};

// The blurred mask at a point of the working scale, bilinear between cell centres, 0 ... 1.
double SampleMask(const cv::Mat& mask, double x, double y) {
    const int x0 = int(std::floor(x));
    const int y0 = int(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    auto at = [&mask](int column, int row) {
        column = std::clamp(column, 0, mask.cols - 1);
        row = std::clamp(row, 0, mask.rows - 1);
        return double(mask.at<uchar>(row, column));
    };
    const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
    const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
    return (top * (1 - fy) + bottom * fy) / 255.0;
}

// Blends the orthophoto block into the tile block; (x0, y0) is the orthophoto pixel of the
// block's first cell.
template <class T>
void BlendBlock(const cv::Mat& source, cv::Mat& tile, int x0, int y0, const BlendSetup& setup) {
    const int nb = setup.bands;
    double s[16], t[16];
    for (int row = 0; row < source.rows; ++row) {
        const uchar* in = source.ptr(row);
        uchar* out = tile.ptr(row);
        for (int column = 0; column < source.cols; ++column) {
            const uchar* sp = in + size_t(column) * nb * sizeof(T);
            uchar* tp = out + size_t(column) * nb * sizeof(T);
            LoadValues<T>(sp, nb, s);
            bool data = false;
            for (int b = 0; b < nb; ++b) {
                data = data || s[b] != 0.0;
            }
            if (!data) {
                continue;
            }
            if (setup.balance) {
                CorrectOrthoPixel(setup.ortho, s, x0 + column, y0 + row, nb, setup.type, setup.divisor,
                                  setup.lo, setup.hi, setup.balancingScale);
            }
            LoadValues<T>(tp, nb, t);
            bool written = false;
            for (int b = 0; b < nb; ++b) {
                written = written || t[b] != 0.0;
            }
            if (written) {
                double a = SampleMask(*setup.mask, (x0 + column) / setup.scale, (y0 + row) / setup.scale);
                double other = 1.0 - a;
                if (setup.hardSeams) {
                    a = std::rint(a);
                    other = std::rint(other);
                }
                for (int b = 0; b < nb; ++b) {
                    s[b] = std::clamp(a * s[b] + other * t[b], setup.lo, setup.hi);
                }
            }
            StoreValues<T>(tp, nb, s);
        }
    }
}

void BlendBlockOfType(const cv::Mat& source, cv::Mat& tile, int x0, int y0, const BlendSetup& setup) {
    WithCellType(setup.type, [&](auto cell) { BlendBlock<decltype(cell)>(source, tile, x0, y0, setup); });
}

// Reads (or writes) a pixel-interleaved block of all bands.
bool BlockIO(GDALDatasetH dataset, GDALRWFlag flag, int x, int y, cv::Mat& buffer, GDALDataType type,
             int bands) {
    const int size = GDALGetDataTypeSizeBytes(type);
    return GDALDatasetRasterIO(dataset, flag, x, y, buffer.cols, buffer.rows, buffer.data, buffer.cols,
                               buffer.rows, type, bands, nullptr, size * bands, int(buffer.step),
                               size) == CE_None;
}

}  // namespace

double SeamlineWorkingScale(double seamlineScaleFactor) {
    return std::max(1.0, seamlineScaleFactor);
}

int PixelSpan(double length, double pixel) {
    return int(std::ceil(std::fabs(length) / std::fabs(pixel) - 1e-6));
}

int TransitionWidth(int mode, int customWidth) {
    switch (mode) {
        case 1:
            return 15;
        case 2:
            return 21;
        case 3:
            return 31;
        case 4:
            return 5;
        case 5:
            return 1;
        case 6:
            return std::max(0, customWidth);
        default:
            return 0;
    }
}

int TransitionKernelSize(int width) {
    return width % 2 == 0 ? width + 1 : width;
}

int BlockMargin(double workingScale) {
    return std::max(8, int(std::rint(32.0 / workingScale)));
}

void GetMosaicValueRange(GDALDataType type, double* lo, double* hi) {
    double l = 0, h = 0;
    switch (type) {
        case GDT_Byte:
            l = 1, h = 254;
            break;
        case GDT_UInt16:
            l = 1, h = 65534;
            break;
        case GDT_Int16:
            l = -32766, h = 32767;
            break;
        case GDT_UInt32:
            l = 1, h = 4294967294.0;
            break;
        case GDT_Int32:
        case GDT_Float32:
            l = -2147483646.0, h = 2147483647.0;
            break;
        case GDT_Float64:
            l = 2.0 - std::ldexp(1.0, 63), h = std::ldexp(1.0, 63) - 1.0;
            break;
        default:
            break;
    }
    *lo = l;
    *hi = h;
}

double CorrectionDivisor(GDALDataType type) {
    int p = 32;
    switch (type) {
        case GDT_Byte:
            p = 8;
            break;
        case GDT_UInt16:
        case GDT_Int16:
            p = 11;
            break;
        case GDT_Float64:
            p = 64;
            break;
        default:
            break;
    }
    return 256.0 / std::ldexp(1.0, p);
}

cv::Mat CreateImageForGDALType(cv::Size size, GDALDataType type, int channels) {
    if (type < GDT_Byte || type > GDT_Float64 || channels < 1 || channels > CV_CN_MAX) {
        return cv::Mat();
    }
    return cv::Mat(size, CV_MAKETYPE(GetCVDepth(type), channels), cv::Scalar::all(0));
}

void SetImagePixelFromDoubles(cv::Mat& image, GDALDataType type, int column, int row, const double* values) {
    if (image.empty() || column < 0 || row < 0 || column >= image.cols || row >= image.rows ||
        GDALGetDataTypeSizeBytes(type) != int(image.elemSize1())) {
        return;
    }
    const int nb = image.channels();
    uchar* cell = image.ptr(row) + size_t(column) * image.elemSize();
    WithCellType(type, [&](auto value) { StoreValues<decltype(value)>(cell, nb, values); });
}

QString WorldFilePath(const QString& rasterPath) {
    const QFileInfo info(rasterPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".tfw"));
}

QString WorldFileText(const double* gt) {
    return QString::asprintf("%.30lf\n%.30lf\n%.30lf\n%.30lf\n%.30lf\n%.30lf", gt[1], gt[4], gt[2], gt[5],
                             gt[0] + gt[1] / 2 + gt[2] / 2, gt[3] + gt[4] / 2 + gt[5] / 2);
}

bool WriteWorldFile(const QString& path, const double* geoTransform, QString* temporary) {
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray text = WorldFileText(geoTransform).toLatin1();
    return file.write(text) == text.size() && (temporary ? file.finish(temporary) : file.commit());
}

CMosaicTile::CMosaicTile(CKelvaroDoc* doc) : m_pDoc(doc) {}

CMosaicTile::~CMosaicTile() = default;

std::vector<COrtho*> CMosaicTile::ContributingOrthos() const {
    std::vector<COrtho*> contributing;
    for (COrtho* ortho : m_Orthos) {
        for (CadEntity* polyline : ortho->SeamlinePolylines) {
            if (!polyline || CadEntityGetDeleted(polyline)) {
                continue;
            }
            if ((PolygonOf(polyline) & m_Outline).GetArea() != 0.0) {
                contributing.push_back(ortho);
                break;
            }
        }
    }
    return contributing;
}

int CMosaicTile::CollectContributingOrthos() {
    m_Orthos = ContributingOrthos();
    return int(m_Orthos.size());
}

cv::Mat CMosaicTile::BuildLabelMap(double R, int margin) const {
    cv::Mat labels(
        cv::Size(std::max(1, int(m_width / R)) + 2 * margin, std::max(1, int(m_height / R)) + 2 * margin),
        CV_8UC3, cv::Scalar::all(255));
    for (size_t k = 0; k < m_Orthos.size(); ++k) {
        // All regions of one orthophoto in one even-odd fill: an island inside a hole of another
        // region stays its own.
        std::vector<std::vector<cv::Point>> contours;
        for (CadEntity* polyline : m_Orthos[k]->SeamlinePolylines) {
            if (!polyline || CadEntityGetDeleted(polyline)) {
                continue;
            }
            std::vector<cv::Point> cells;
            for (int i = 0; i < CadPlineGetNumVers(polyline); ++i) {
                double x = 0, y = 0, z = 0;
                CadPlineGetVer(polyline, i, &x, &y, &z);
                cells.emplace_back(int(std::floor((x - m_minX) / m_geoTransform[1] / R)) + margin,
                                   int(std::floor((y - m_maxY) / m_geoTransform[5] / R)) + margin);
            }
            if (cells.size() >= 3) {
                contours.push_back(std::move(cells));
            }
        }
        if (!contours.empty()) {
            const int label = int(k);
            cv::fillPoly(labels, contours, cv::Scalar((label >> 16) & 255, (label >> 8) & 255, label & 255),
                         cv::LINE_8);
        }
    }
    return labels;
}

int CMosaicTile::ComputeColorTransform(COrtho* ortho) {
    if (!ortho || !m_pDataset || !m_pDoc) {
        return 0;
    }
    return ComputeOrthoCorrection(ortho, m_nBands, m_pDoc->BalancingMapPath, m_pDoc->BalancingScaleFactor);
}

int CMosaicTile::FillFromOrtho(int label, COrtho* ortho, const cv::Mat& labels, ProgressSink* progress,
                               int* abort, double balancingScale, int applyBalancing, double divisor) {
    if (!ortho || !ortho->m_pDataset || !m_pDataset) {
        return 0;
    }
    GDALRasterBandH firstBand = GDALGetRasterBand(ortho->m_pDataset, 1);
    if (!firstBand) {
        return 0;
    }
    const GDALDataType type = GDALGetRasterDataType(firstBand);
    if (progress) {
        progress->SetRange(0, 100);
    }
    const double R = SeamlineWorkingScale(m_pDoc ? m_pDoc->SeamlineScaleFactor : 1.0);
    const double* gt = ortho->m_geoTransform;
    const int ow = ortho->m_width, oh = ortho->m_height;
    const double tpw = m_geoTransform[1], tph = m_geoTransform[5];

    // The orthophoto's own region on the working scale, blurred along its seams.
    cv::Mat mask(std::max(1, int(oh / R)), std::max(1, int(ow / R)), CV_8UC1, cv::Scalar(0));
    // The orthophoto's footprint in label-map cells (the map starts m_nLabelMargin cells before
    // the tile).
    const int c0 = int(std::floor((gt[0] - m_minX) / (R * tpw))) + m_nLabelMargin;
    const int c1 = int(std::floor((ow * gt[1] + gt[0] - m_minX) / (R * tpw))) + m_nLabelMargin;
    const int r0 = int(std::floor((gt[3] - m_maxY) / (R * tph))) + m_nLabelMargin;
    const int r1 = int(std::floor((oh * gt[5] + gt[3] - m_maxY) / (R * tph))) + m_nLabelMargin;
    for (int row = std::max(0, r0); row <= std::min(r1, labels.rows - 1); ++row) {
        const cv::Vec3b* cells = labels.ptr<cv::Vec3b>(row);
        for (int column = std::max(0, c0); column <= std::min(c1, labels.cols - 1); ++column) {
            const int owner = cells[column][0] * 65536 + cells[column][1] * 256 + cells[column][2];
            const int mr = row - r0, mc = column - c0;
            if (owner == label && mr >= 0 && mc >= 0 && mr < mask.rows && mc < mask.cols) {
                mask.at<uchar>(mr, mc) = 255;
            }
        }
    }
    const int width = TransitionWidth(m_nTransitionMode, m_nCustomTransitionWidth);
    if (width > 0) {
        const int kernel = TransitionKernelSize(width);
        cv::GaussianBlur(mask, mask, cv::Size(kernel, kernel), 0);
    }

    // The window of the tile the orthophoto covers.
    const int tc0 = int(std::rint((gt[0] - m_minX) / tpw));
    const int tr0 = int(std::rint((gt[3] - m_maxY) / tph));
    const int u = tc0 < 0 ? -tc0 : 0, v = tr0 < 0 ? -tr0 : 0;
    const int tc = std::max(0, tc0), tr = std::max(0, tr0);
    const int ww = std::min(ow - 1, m_width - tc0 - 1) - u + 1;
    const int wh = std::min(oh - 1, m_height - tr0 - 1) - v + 1;

    // The blocks near the orthophoto's own region.
    struct Block {
        int x, y, w, h;
    };
    std::vector<Block> blocks;
    const int K = BlockMargin(R);
    for (int by = 0; by < wh; by += kBlock) {
        const int bh = std::min(kBlock, wh - by);
        for (int bx = 0; bx < ww; bx += kBlock) {
            const int bw = std::min(kBlock, ww - bx);
            const int mc0 = std::max(0, int((u + bx) / R) - K);
            const int mc1 = std::min(int((u + bx + bw - 1) / R) + K, mask.cols - 1);
            const int mr0 = std::max(0, int((v + by) / R) - K);
            const int mr1 = std::min(int((v + by + bh - 1) / R) + K, mask.rows - 1);
            if (mc0 <= mc1 && mr0 <= mr1 &&
                cv::countNonZero(mask(cv::Range(mr0, mr1 + 1), cv::Range(mc0, mc1 + 1)))) {
                blocks.push_back({bx, by, bw, bh});
            }
        }
    }

    BlendSetup setup;
    setup.ortho = ortho;
    setup.mask = &mask;
    setup.scale = R;
    setup.bands = std::min(m_nBands, GDALGetRasterCount(ortho->m_pDataset));
    setup.type = type;
    setup.hardSeams = m_nTransitionMode == 0;
    setup.balance = applyBalancing != 0;
    setup.balancingScale = balancingScale;
    setup.divisor = divisor;
    GetMosaicValueRange(type, &setup.lo, &setup.hi);
    if (setup.bands < 1 || setup.bands > 16) {
        return 1;
    }

    if (progress) {
        progress->SetRange(0, std::max(0, int(blocks.size()) - 1));
    }
    cv::Mat source, target;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block& block = blocks[i];
        if (progress) {
            progress->SetPos(int(i));
        }
        ZQT_PumpMessages();
        if (abort && *abort) {
            if (progress) {
                progress->SetPos(0);
            }
            ZQT_PumpMessages();
            return 0;
        }
        if (source.cols != block.w || source.rows != block.h) {
            source = CreateImageForGDALType(cv::Size(block.w, block.h), type, setup.bands);
            target = CreateImageForGDALType(cv::Size(block.w, block.h), type, setup.bands);
        }
        if (!BlockIO(ortho->m_pDataset, GF_Read, u + block.x, v + block.y, source, type, setup.bands) ||
            !BlockIO(m_pDataset, GF_Read, tc + block.x, tr + block.y, target, type, setup.bands)) {
            continue;
        }
        BlendBlockOfType(source, target, u + block.x, v + block.y, setup);
        BlockIO(m_pDataset, GF_Write, tc + block.x, tr + block.y, target, type, setup.bands);
    }
    if (progress) {
        progress->SetPos(0);
    }
    return 1;
}

int CMosaicTile::WriteTile(int applyBalancing, ProgressSink* progress, int* abort) {
    if (!m_pDoc || m_width <= 0 || m_height <= 0) {
        return kFailed;
    }
    // Why a step of this tile failed, for the command line.
    const kv::FailureCauseScope causes;
    auto refuse = [this]() {
        const QString cause = kv::FailureCause();
        const QString text =
            QString::asprintf("unable to create %s file", m_strOutputPath.toUtf8().constData());
        KvMessageBox(text, MB_OK | MB_ICONWARNING);
        PromptFailure(m_pDoc->m_pCad, text, cause);
        return kFailed;
    };
    // A loaded layer's file is never written over (nor deleted), nor the balancing map the tiles
    // are corrected by.
    if (RefuseOutputOverInputs({m_strOutputPath},
                               applyBalancing ? QStringList{m_pDoc->BalancingMapPath} : QStringList())) {
        return kFailed;
    }
    const double R = SeamlineWorkingScale(m_pDoc->SeamlineScaleFactor);
    if (CollectContributingOrthos() == 0) {
        QFile::remove(m_strOutputPath);
        return kWritten;
    }
    COrtho* first = m_Orthos.front();
    if (!first->m_pDataset || GDALGetRasterCount(first->m_pDataset) < 1) {
        return refuse();
    }
    m_nBands = GDALGetRasterCount(first->m_pDataset);
    m_type = GDALGetRasterDataType(GDALGetRasterBand(first->m_pDataset, 1));
    const QString projection = QString::fromUtf8(GDALGetProjectionRef(first->m_pDataset));

    std::vector<const char*> options = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_SAFER"};
    if (m_nBands > 3) {
        // A fourth band is an extra sample, not transparency.
        options.push_back("PHOTOMETRIC=RGB");
        options.push_back("ALPHA=NO");
    }
    options.push_back(nullptr);
    GDALDriverH driver = kv::RasterFitsOnDisk(m_strOutputPath, m_width, m_height, m_nBands, m_type)
                             ? GDALGetDriverByName("GTiff")
                             : nullptr;
    const QString temporary = kv::TemporaryPathFor(m_strOutputPath);
    m_pDataset = driver ? GDALCreate(driver, QFile::encodeName(temporary).constData(), m_width, m_height,
                                     m_nBands, m_type, const_cast<char**>(options.data()))
                        : nullptr;
    if (!m_pDataset) {
        return refuse();
    }
    const QByteArray software = QByteArrayLiteral("Kelvaro - " KV_MAKER_NAME " - " KV_MAKER_WEB_ADDRESS);
    const QByteArray stamp =
        QStringLiteral("%1 %2").arg(ZQT_GetCurrentSysDate(0, 0), ZQT_GetCurrentSysTime()).toUtf8();
    GDALSetGeoTransform(m_pDataset, m_geoTransform);
    GDALSetProjection(m_pDataset, projection.toUtf8().constData());
    GDALSetMetadataItem(m_pDataset, "TIFFTAG_SOFTWARE", software.constData(), nullptr);
    GDALSetMetadataItem(m_pDataset, "TIFFTAG_DATETIME", stamp.constData(), nullptr);

    const Wml::Point2 centre((m_minX + m_maxX) / 2, (m_minY + m_maxY) / 2);
    double largest = 0, median = 0;
    SortOrthophotosFromCenter(m_Orthos, nullptr, &centre, &largest, &median);
    // The blur reaches half a kernel, the bilinear sampling one cell more.
    m_nLabelMargin =
        TransitionKernelSize(TransitionWidth(m_nTransitionMode, m_nCustomTransitionWidth)) / 2 + 2;
    cv::Mat labels = BuildLabelMap(R, m_nLabelMargin);
    if (progress) {
        progress->SetRange(0, int(m_Orthos.size()));
    }
    const double divisor = CorrectionDivisor(m_type);
    Highlights highlights(m_pDoc->m_pCad);
    auto discard = [&]() {
        highlights.Restore();
        CadRegen(m_pDoc->m_pCad);
        GDALClose(m_pDataset);
        m_pDataset = nullptr;
        kv::RemoveRasterFile(temporary);
    };
    for (size_t k = 0; k < m_Orthos.size(); ++k) {
        COrtho* ortho = m_Orthos[k];
        if (progress) {
            progress->SetPos(int(k) + 1);
        }
        highlights.Show(k > 0 ? m_Orthos[k - 1] : nullptr, ortho);
        int balance = applyBalancing;
        if (applyBalancing && !ComputeColorTransform(ortho)) {
            // Written as it is rather than left out: a hole in the mosaic would pass for success.
            for (auto& grid : ortho->m_correctionImage) {
                grid.release();
            }
            balance = 0;
            const QByteArray note =
                QStringLiteral("Radiometric balancing not computed for %1: written uncorrected")
                    .arg(ortho->m_name)
                    .toUtf8();
            CadCmdPrompt(m_pDoc->m_pCad, note.constData(), nullptr);
        }
        const int filled = FillFromOrtho(int(k), ortho, labels, progress, abort, m_pDoc->BalancingScaleFactor,
                                         balance, divisor);
        if (!filled && abort && *abort) {
            discard();
            if (progress) {
                progress->SetPos(0);
            }
            return kAborted;
        }
    }
    if (progress) {
        progress->SetPos(0);
    }
    labels.release();

    GDALDatasetH written = m_pDataset;
    m_pDataset = nullptr;
    if (!kv::CloseDataset(written)) {
        highlights.Restore();
        CadRegen(m_pDoc->m_pCad);
        kv::RemoveRasterFile(temporary);
        return refuse();
    }
    // The world file and the overview file are written under temporary names and take their
    // places with the tile as one set, so that no reader finds the new tile with the old tile's
    // world file or with overviews still being built.
    const QString world = WorldFilePath(m_strOutputPath);
    QString worldTemporary;
    m_pDataset = GDALOpen(QFile::encodeName(temporary).constData(), GA_ReadOnly);
    if (!m_pDataset || !WriteWorldFile(world, m_geoTransform, &worldTemporary)) {
        highlights.Restore();
        CadRegen(m_pDoc->m_pCad);
        if (m_pDataset) {
            GDALClose(m_pDataset);
            m_pDataset = nullptr;
        }
        kv::RemoveRasterFile(temporary);
        return kFailed;
    }
    if (progress) {
        progress->SetRange(0, 100);
        const QString text = QStringLiteral("Building Overviews of (%1)..").arg(m_strName);
        progress->SetBarText(text);
        CGDALListener listener(progress);
        GDALListenerProgress(0.0, text.toUtf8().constData(), &listener);
        kv::BuildOverviews(m_pDataset, &listener);
        progress->SetBarText(QString());
    } else {
        kv::BuildOverviews(m_pDataset, nullptr);
    }
    GDALClose(m_pDataset);
    m_pDataset = nullptr;
    if (!kv::MoveIntoPlace(temporary, m_strOutputPath, {{worldTemporary, world}})) {
        highlights.Restore();
        CadRegen(m_pDoc->m_pCad);
        return refuse();
    }
    highlights.Restore();
    CadUpdate(m_pDoc->m_pCad);
    m_pDoc->AddOrtho(m_strOutputPath, 0, 0);
    if (progress) {
        progress->SetPos(0);
    }
    return kWritten;
}
