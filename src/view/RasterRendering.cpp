#include "view/RasterRendering.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QString>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "platform/cad/Cad.h"
#include "platform/raster/ExtractROI.h"
#include "platform/ui/ElevationColorRamp.h"
#include "raster/AGColors.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"
#include "raster/ShownValues.h"
#include "view/ColourLookup.h"

namespace {

long long g_reads = 0;

// One raster read of a rendering.
int CountedExtract(GDALDatasetH dataset, cv::Mat& image, const cv::Rect& rect, int mode) {
    ++g_reads;
    return GDALExtractROI(dataset, image, &rect, mode);
}

// Makes the image hold pixels of the size and type. A repaint writes over the last one's images,
// which saves faulting in fresh memory for every frame; images that something else also holds
// are left to it and new ones made.
void Buffer(cv::Mat& image, cv::Size size, int type) {
    if (image.u && image.u->refcount > 1) {
        image.release();
    }
    image.create(size, type);
}

// Whether values of the size are enlarged to the target size, bilinearly.
bool Enlarges(cv::Size source, cv::Size size) {
    return source != size && size.area() > source.area();
}

// Enlarges values whose no data is NaN bilinearly: a pixel that draws on no data is no data,
// -9999.
void EnlargeMarked(const cv::Mat& marked, cv::Mat& target, cv::Size size) {
    Buffer(target, size, CV_32FC1);
    cv::resize(marked, target, size, 0, 0, cv::INTER_LINEAR);
    PatchNonFinite(target);
}

// Enlarges or reduces a Float32 image of values with -9999 for no data: reduced by the nearest
// cell, enlarged bilinearly where every cell drawn on has data (no data never blends in).
void ResampleValues(const cv::Mat& source, cv::Mat& target, cv::Size size) {
    Buffer(target, size, CV_32FC1);
    if (source.size() == size) {
        source.copyTo(target);
        return;
    }
    if (!Enlarges(source.size(), size)) {
        cv::resize(source, target, size, 0, 0, cv::INTER_NEAREST);
        return;
    }
    cv::Mat marked = source.clone();
    marked.setTo(std::numeric_limits<float>::quiet_NaN(), marked == kNoData);
    EnlargeMarked(marked, target, size);
}

// The visible window of band 1 as values shown, at the output size, into the values' buffer.
bool ReadShownValues(GDALDatasetH dataset, const RasterDrawTarget& target, cv::Mat& values) {
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (!band) {
        return false;
    }
    const kv::ShownValues info(band);
    const cv::Size out = target.OutputSize();
    const cv::Rect rect = target.ReadRect();
    if (info.Type() == GDT_UInt16 || info.Type() == GDT_Int16) {
        cv::Mat stored(out, info.Type() == GDT_UInt16 ? CV_16UC1 : CV_16SC1);
        if (!CountedExtract(dataset, stored, rect, kExtractGrid)) {
            return false;
        }
        Buffer(values, out, CV_32FC1);
        info.Convert(stored, values);
        return true;
    }
    if (!(target.scale > 1.0)) {
        Buffer(values, out, CV_32FC1);
        if (!CountedExtract(dataset, values, rect, kExtractGrid)) {
            return false;
        }
        info.InPlace(values, kNoData);
        return true;
    }
    cv::Mat stored(rect.size(), CV_32FC1);
    if (!CountedExtract(dataset, stored, rect, kExtractGrid)) {
        return false;
    }
    if (Enlarges(stored.size(), out)) {
        // No data as NaN straight away, so that it never blends into its neighbours.
        info.InPlace(stored, std::numeric_limits<float>::quiet_NaN());
        EnlargeMarked(stored, values, out);
    } else {
        info.InPlace(stored, kNoData);
        ResampleValues(stored, values, out);
    }
    return true;
}

// The rectangle of a grid in memory, resampled to the output size; -9999 outside the grid. Into
// the values' buffer.
bool ReadGridValues(const cv::Mat& grid, const RasterDrawTarget& target, cv::Mat& values) {
    if (grid.empty() || grid.type() != CV_32FC1) {
        return false;
    }
    const cv::Size out = target.OutputSize();
    cv::Rect sourcePart;
    cv::Rect targetPart;
    if (!kv::MapRegion(target.ReadRect(), grid.size(), out, &sourcePart, &targetPart)) {
        return false;
    }
    Buffer(values, out, CV_32FC1);
    values.setTo(kNoData);
    cv::Mat resampled;
    if (targetPart.area() <= sourcePart.area()) {
        // Taken cell by cell: the cells that are no finite number are patched once taken, and the
        // grid in memory is not copied for a picture of the screen's size.
        ResampleValues(grid(sourcePart), resampled, targetPart.size());
    } else {
        cv::Mat part = grid(sourcePart).clone();
        PatchNonFinite(part);
        ResampleValues(part, resampled, targetPart.size());
    }
    PatchNonFinite(resampled);
    resampled.copyTo(values(targetPart));
    return true;
}

// From this many values on, a picture is coloured through the colouring's lookup, which takes a
// few milliseconds to make the first time.
constexpr size_t kLookupFrom = 65536;

// Colours the values into the picture's buffer as ARGB pixels (PixelOfColour); no data is
// transparent.
void ColourValues(const cv::Mat& values, const RasterColouring& colouring, cv::Mat& picture) {
    Buffer(picture, values.size(), CV_8UC4);
    const ColourLookup* lookup = values.total() >= kLookupFrom ? &ColourLookup::Of(colouring) : nullptr;
    for (int r = 0; r < values.rows; ++r) {
        const float* v = values.ptr<float>(r);
        uint32_t* d = picture.ptr<uint32_t>(r);
        if (lookup) {
            for (int c = 0; c < values.cols; ++c) {
                d[c] = lookup->Pixel(v[c], colouring);
            }
            continue;
        }
        for (int c = 0; c < values.cols; ++c) {
            d[c] = IsNoData(v[c]) ? 0u : PixelOfColour(ColourOfValue(v[c], colouring));
        }
    }
}

// Blacks out every pixel outside all clip polylines.
void ApplyClip(cv::Mat& colour, const RasterDrawTarget& target, const RasterClip& clip) {
    if (!clip.polylines || clip.polylines->empty() || !clip.geoTransform || clip.geoTransform[1] == 0.0 ||
        clip.geoTransform[5] == 0.0) {
        return;
    }
    const double* gt = clip.geoTransform;
    const double s = target.scale;
    std::vector<std::vector<cv::Point>> polygons;
    for (CadEntity* polyline : *clip.polylines) {
        if (!polyline || CadEntityGetDeleted(polyline)) {
            continue;
        }
        std::vector<cv::Point> polygon;
        const int count = CadPlineGetNumVers(polyline);
        for (int i = 0; i < count; ++i) {
            double x = 0.0, y = 0.0, z = 0.0;
            if (CadPlineGetVer(polyline, i, &x, &y, &z)) {
                polygon.emplace_back(static_cast<int>(std::rint((x - gt[0]) / gt[1] * s - target.left * s)),
                                     static_cast<int>(std::rint((y - gt[3]) / gt[5] * s - target.top * s)));
            }
        }
        if (!polygon.empty()) {
            polygons.push_back(std::move(polygon));
        }
    }
    cv::Mat mask(colour.size(), CV_8UC1, cv::Scalar(0));
    if (!polygons.empty()) {
        cv::fillPoly(mask, polygons, cv::Scalar(255), cv::LINE_8);
    }
    colour.setTo(cv::Scalar::all(0), mask == 0);
}

// The format under which a picture's pixels are drawn. They are opaque or transparent, which
// premultiplied and plain ARGB store alike; premultiplied pictures are drawn without a
// conversion. A partial opacity blends them with a plain ARGB image (and with a device of
// unknown kind) as plain pictures blend, so they keep that format there.
QImage::Format PictureFormat(const QPainter& dc, double opacity) {
    if (!(opacity >= 0.0 && opacity < 1.0)) {
        return QImage::Format_ARGB32_Premultiplied;
    }
    const QPaintDevice* device = dc.device();
    if (device && device->devType() == QInternal::Image) {
        const QImage::Format format = static_cast<const QImage*>(device)->format();
        if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied) {
            return QImage::Format_ARGB32_Premultiplied;
        }
    }
    return QImage::Format_ARGB32;
}

// Colours the values read for the target into the colour image, clips and draws them.
int FinishValues(const cv::Mat& values, const RasterDrawTarget& target, const RasterColouring& colouring,
                 const RasterClip& clip, cv::Mat& colour) {
    ColourValues(values, colouring, colour);
    ApplyClip(colour, target, clip);
    return PaintPicture(target.dc, colour, target.x, target.y, target.opacity) ? 1 : 0;
}

// The rendering can start: the covering window is more than one pixel each way and the output
// is not empty.
bool CanRender(const RasterDrawTarget& target) {
    return target.coverWidth > 1 && target.coverHeight > 1 && !target.OutputSize().empty();
}

// Per band the 2nd and 98th percentile of a wide raster, from a small overview read; computed
// once per open raster.
struct BandStretch {
    double low[3] = {0, 0, 0};
    double high[3] = {1, 1, 1};
};

const BandStretch* StretchOf(GDALDatasetH dataset, const int* bandMap) {
    static std::map<std::pair<GDALDatasetH, QString>, BandStretch> stretches;
    const auto key = std::make_pair(dataset, QString::fromUtf8(GDALGetDescription(dataset)));
    auto found = stretches.find(key);
    if (found != stretches.end()) {
        return &found->second;
    }
    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    const double reduce = std::max(1.0, std::max(width, height) / 512.0);
    const int sw = std::max(1, static_cast<int>(width / reduce));
    const int sh = std::max(1, static_cast<int>(height / reduce));
    BandStretch stretch;
    for (int i = 0; i < 3; ++i) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, bandMap[i]);
        cv::Mat sample(sh, sw, CV_32FC1);
        ++g_reads;
        if (!band || GDALRasterIO(band, GF_Read, 0, 0, width, height, sample.data, sw, sh, GDT_Float32, 0,
                                  static_cast<int>(sample.step)) != CE_None) {
            return nullptr;
        }
        const kv::ShownValues info(band);
        std::vector<float> data;
        data.reserve(sample.total());
        for (int r = 0; r < sample.rows; ++r) {
            const float* p = sample.ptr<float>(r);
            for (int c = 0; c < sample.cols; ++c) {
                if (!info.IsEmpty(p[c]) && p[c] != 0.0f) {
                    data.push_back(p[c]);
                }
            }
        }
        if (data.empty()) {
            continue;
        }
        auto at = [&](double q) {
            auto nth = data.begin() + static_cast<std::ptrdiff_t>(q * (data.size() - 1));
            std::nth_element(data.begin(), nth, data.end());
            return static_cast<double>(*nth);
        };
        stretch.low[i] = at(0.02);
        stretch.high[i] = std::max(at(0.98), stretch.low[i] + 1.0);
    }
    return &stretches.emplace(key, stretch).first->second;
}

// The visible window of a raster wider than 8 bits as a colour image, each band stretched
// between its percentiles onto 1 to 255 (0 stays for no data).
bool ExtractStretched(GDALDatasetH dataset, const RasterDrawTarget& target, cv::Mat& colour) {
    int bandMap[3] = {1, 2, 3};
    if (GDALGetRasterCount(dataset) < 3) {
        bandMap[1] = bandMap[2] = 1;
    }
    const BandStretch* stretch = StretchOf(dataset, bandMap);
    if (!stretch) {
        return false;
    }
    const cv::Rect rect =
        target.ReadRect() & cv::Rect(0, 0, GDALGetRasterXSize(dataset), GDALGetRasterYSize(dataset));
    const cv::Size out = target.OutputSize();
    if (rect.empty()) {
        return false;
    }
    // Where the part on the raster lands in the output (the read may run past the right edge).
    const double sx = static_cast<double>(out.width) / target.ReadWidth();
    cv::Size part(std::clamp(static_cast<int>(std::lround(rect.width * sx)), 1, out.width), out.height);
    const bool enlarge = target.scale > 1.0;
    cv::Mat values(enlarge ? rect.size() : part, CV_32FC3);
    ++g_reads;
    if (GDALDatasetRasterIO(dataset, GF_Read, rect.x, rect.y, rect.width, rect.height, values.data,
                            values.cols, values.rows, GDT_Float32, 3, bandMap, 12,
                            static_cast<int>(values.step), 4) != CE_None) {
        return false;
    }
    const kv::ShownValues info(GDALGetRasterBand(dataset, 1));
    cv::Mat stretched(values.size(), CV_8UC3, cv::Scalar::all(0));
    for (int r = 0; r < values.rows; ++r) {
        const float* s = values.ptr<float>(r);
        uint8_t* d = stretched.ptr<uint8_t>(r);
        for (int c = 0; c < values.cols; ++c, s += 3, d += 3) {
            if ((s[0] == 0.0f && s[1] == 0.0f && s[2] == 0.0f) || info.IsEmpty(s[0])) {
                continue;
            }
            for (int i = 0; i < 3; ++i) {
                double t = (s[i] - stretch->low[i]) / (stretch->high[i] - stretch->low[i]);
                // Channel order blue, green, red: band 3 goes first.
                d[2 - i] = static_cast<uint8_t>(1 + std::lround(std::clamp(t, 0.0, 1.0) * 254.0));
            }
        }
    }
    colour = cv::Mat(out, CV_8UC3, cv::Scalar::all(0));
    cv::Mat target_part = colour(cv::Rect(0, 0, part.width, part.height));
    cv::resize(stretched, target_part, part, 0, 0, enlarge ? cv::INTER_LINEAR : cv::INTER_NEAREST);
    return true;
}

}  // namespace

cv::Size RasterDrawTarget::OutputSize() const {
    const int w = static_cast<int>(ReadWidth() * scale);
    const int h = static_cast<int>(visibleHeight * scale);
    return w > 0 && h > 0 ? cv::Size(w, h) : cv::Size();
}

long long RasterRenderReadCount() {
    return g_reads;
}

bool LayoutPlace(const CadWinRect* update, int x0, int yb, int W, int H, int w, int h, RasterDrawTarget& t) {
    if (w <= 0 || h <= 0 || W <= 0 || H <= 0 || !update) {
        return false;
    }
    const int y0 = yb - H;
    // The update rectangle and the place must meet.
    if (!(update->left < x0 + W && x0 < update->right && update->top < yb && y0 < update->bottom)) {
        return false;
    }
    const double s = static_cast<double>(W) / w;
    const int c0 = static_cast<int>(-x0 / s);
    const int c1 = static_cast<int>((update->right - update->left) / s + c0) + 1;
    const int r0 = static_cast<int>(-y0 / s);
    const int r1 = static_cast<int>((update->bottom - update->top) / s + r0) + 1;
    const int left = std::max(0, c0);
    const int right = std::min(w - 1, c1);
    const int top = std::max(0, r0);
    const int bottom = std::min(h - 1, r1);
    if (left >= right || top >= bottom) {
        return false;
    }
    t.coverWidth = c1 - c0 + 1;
    t.coverHeight = r1 - r0 + 1;
    t.visibleWidth = right - left + 1;
    t.visibleHeight = bottom - top + 1;
    t.left = left;
    t.top = top;
    t.scale = s;
    t.x = static_cast<int>(left * s + x0);
    t.y = static_cast<int>(top * s + y0);
    return true;
}

bool IsCacheHit(const RasterDisplayCache& cache, const RasterDrawTarget& t) {
    if (cache.picture.empty() || !(t.scale < 1.0) || cache.left != t.left || cache.top != t.top ||
        cache.width != t.visibleWidth || cache.height != t.visibleHeight || cache.scale <= 0.0) {
        return false;
    }
    return std::fabs(std::max(t.scale / cache.scale, cache.scale / t.scale) - 1.0) < 0.1;
}

int DrawFromCache(RasterDisplayCache& cache, const RasterDrawTarget& t) {
    const int drawn = DrawImageGdiPlus(cache.picture, t);
    const cv::Size out = t.OutputSize();
    if (!cache.values.empty() && cache.values.size() != out && !out.empty()) {
        cv::Mat resized;
        cv::resize(cache.values, resized, out, 0, 0, cv::INTER_NEAREST);
        cache.values = resized;
    }
    return drawn;
}

void SetDisplayGeoTransform(CadDrawing* drawing, CadEntity* place, const RasterDrawTarget& target, int x0,
                            int yb, int W, RasterDisplayCache& cache) {
    double left = 0.0, top = 0.0, d = 0.0;
    QWidget* window = CadGetWindow(drawing);
    if (window && CadCoordWinToModel(window, target.x, target.y, &left, &top)) {
        d = CadDistWinToModel(window, 1.0);
    } else {
        int pw = 0, ph = 0;
        double px = 0.0, py = 0.0, pz = 0.0, ps = 1.0;
        if (!CadImageGetPlace(place, &pw, &ph, &px, &py, &pz, &ps) || ps <= 0.0 || W <= 0) {
            return;
        }
        d = pw / ps / W;
        left = px + (target.x - x0) * d;
        top = py + (yb - target.y) * d;
    }
    double* gt = cache.geoTransform;
    gt[0] = left;
    gt[1] = d;
    gt[2] = 0.0;
    gt[3] = top;
    gt[4] = 0.0;
    gt[5] = -d;
    cache.zoom = target.scale;
}

uint32_t InterpolatePaletteColor(const CAGColors& palette, double x) {
    const int count = palette.Get_Count();
    if (count < 1) {
        return 0;
    }
    if (!(x > 0.0)) {  // NaN too: an index that is no number takes the first colour
        return static_cast<uint32_t>(palette.Get_Color(0));
    }
    if (x >= count - 1) {
        return static_cast<uint32_t>(palette.Get_Color(count - 1));
    }
    const int i = static_cast<int>(x);
    const double f = x - i;
    const uint32_t a = static_cast<uint32_t>(palette.Get_Color(i));
    const uint32_t b = static_cast<uint32_t>(palette.Get_Color(i + 1));
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double ca = (a >> shift) & 0xFF;
        const double cb = (b >> shift) & 0xFF;
        result |= (static_cast<uint32_t>(ca + (cb - ca) * f) & 0xFF) << shift;
    }
    return result;
}

uint32_t ColourOfValue(float value, const RasterColouring& colouring) {
    const double range = colouring.maximum - colouring.minimum;
    double t = range != 0.0 ? (value - colouring.minimum) / range : 0.0;
    // A range with an infinite end (kept from a file or a project) gives no position.
    if (!std::isfinite(t)) {
        t = 0.0;
    }
    if (const CAGColors* palette = colouring.palette) {
        const std::vector<ColorClassEntry>& classes = palette->m_classes;
        if (!colouring.colorsOnly && !classes.empty()) {
            if (value <= classes[0].upperLimit) {
                return classes[0].visible ? classes[0].color : 0u;
            }
            for (size_t k = 0; k + 1 < classes.size(); ++k) {
                if (classes[k].upperLimit < value && value <= classes[k + 1].upperLimit) {
                    return classes[k + 1].visible ? classes[k + 1].color : 0u;
                }
            }
            return classes[0].color;
        }
        if (!colouring.colorsOnly) {
            if (palette->Get_Count() == 0) {
                return 0;
            }
            if (std::fabs(range) <= 1e-5) {
                return ElevationColorRamp ? ElevationColorRamp[0] : 0u;
            }
        }
        return InterpolatePaletteColor(*palette, t * (palette->Get_Count() - 1));
    }
    if (!ElevationColorRamp || ElevationColorRampSize < 1) {
        return 0;
    }
    const int last = ElevationColorRampSize - 1;
    int index = 0;
    if (value <= colouring.minimum) {
        index = 0;
    } else if (value >= colouring.maximum) {
        index = last;
    } else {
        index = std::clamp(static_cast<int>(last * t), 0, last);
    }
    return ElevationColorRamp[index];
}

bool PaintPicture(QPainter* dc, const cv::Mat& picture, int x, int y, double opacity) {
    if (!dc || picture.empty()) {
        return false;
    }
    const QImage::Format format = PictureFormat(*dc, opacity);
    QImage image;
    if (picture.type() == CV_8UC4) {
        image =
            QImage(picture.data, picture.cols, picture.rows, static_cast<qsizetype>(picture.step), format);
        // The image stands on the picture's pixels, which the next repaint writes over: a painter
        // that may keep what it is given (not one that paints pixels at once) gets its own copy.
        const QPaintEngine* engine = dc->paintEngine();
        if (!engine || engine->type() != QPaintEngine::Raster) {
            image = image.copy();
        }
    } else if (picture.type() == CV_8UC3) {
        image = QImage(picture.cols, picture.rows, format);
        if (image.isNull()) {
            return false;
        }
        for (int r = 0; r < picture.rows; ++r) {
            const uint8_t* s = picture.ptr<uint8_t>(r);
            auto* d = reinterpret_cast<QRgb*>(image.scanLine(r));
            for (int c = 0; c < picture.cols; ++c, s += 3) {
                d[c] = (s[0] | s[1] | s[2]) ? qRgba(s[2], s[1], s[0], 255) : 0u;
            }
        }
    } else {
        return false;
    }
    dc->save();
    if (opacity >= 0.0 && opacity < 1.0) {
        dc->setOpacity(opacity);
    }
    dc->drawImage(QPoint(x, y), image);
    dc->restore();
    return true;
}

int ExtractRasterToImage(GDALDatasetH dataset, const RasterDrawTarget& target, const RasterClip& clip,
                         cv::Mat& colour) {
    if (!dataset || !CanRender(target)) {
        return 0;
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    const GDALDataType type = band ? GDALGetRasterDataType(band) : GDT_Unknown;
    if (type < GDT_Byte || type > GDT_Float64) {
        return 0;
    }
    colour.release();
    cv::Mat picture;
    if (type == GDT_Byte) {
        const cv::Size out = target.OutputSize();
        const cv::Rect rect = target.ReadRect();
        const bool enlarge = target.scale > 1.0;
        cv::Mat read(enlarge ? rect.size() : out, CV_8UC3);
        if (!CountedExtract(dataset, read, rect, kExtractColour)) {
            return 0;
        }
        if (enlarge) {
            cv::resize(read, picture, out, 0, 0, cv::INTER_LINEAR);
        } else {
            picture = read;
        }
    } else if (!ExtractStretched(dataset, target, picture)) {
        return 0;
    }
    ApplyClip(picture, target, clip);
    colour = picture;
    return PaintPicture(target.dc, colour, target.x, target.y, target.opacity) ? 1 : 0;
}

int DrawRasterWithPalette(GDALDatasetH dataset, const RasterDrawTarget& target, double minimum,
                          double maximum, const CAGColors* palette, const RasterClip& clip, cv::Mat& display,
                          cv::Mat& colour) {
    if (!dataset || !CanRender(target)) {
        return 0;
    }
    if (!ReadShownValues(dataset, target, display)) {
        return 0;
    }
    RasterColouring colouring{minimum, maximum, palette, false};
    return FinishValues(display, target, colouring, clip, colour);
}

int DrawRasterBand(GDALDatasetH dataset, const RasterDrawTarget& target, double minimum, double maximum,
                   cv::Mat& display, cv::Mat& colour) {
    return DrawRasterWithPalette(dataset, target, minimum, maximum, nullptr, RasterClip{}, display, colour);
}

int DrawGridWithColouring(const cv::Mat& grid, const RasterDrawTarget& target,
                          const RasterColouring& colouring, const RasterClip& clip, cv::Mat& display,
                          cv::Mat& colour) {
    if (!CanRender(target)) {
        return 0;
    }
    if (!ReadGridValues(grid, target, display)) {
        return 0;
    }
    return FinishValues(display, target, colouring, clip, colour);
}

int DrawImageWithPalette(const cv::Mat& grid, const RasterDrawTarget& target, double minimum, double maximum,
                         const CAGColors& palette, cv::Mat& display, cv::Mat& colour) {
    return DrawGridWithColouring(grid, target, RasterColouring{minimum, maximum, &palette, true},
                                 RasterClip{}, display, colour);
}

int DrawFloatImageRegion(const cv::Mat& grid, const RasterDrawTarget& target, double minimum, double maximum,
                         cv::Mat& display, cv::Mat& colour) {
    return DrawGridWithColouring(grid, target, RasterColouring{minimum, maximum, nullptr, false},
                                 RasterClip{}, display, colour);
}

int DrawImageGdiPlus(const cv::Mat& image, const RasterDrawTarget& target, cv::Mat* resized) {
    if (image.empty() || (image.type() != CV_8UC3 && image.type() != CV_8UC4) ||
        target.OutputSize().empty()) {
        return 0;
    }
    const cv::Rect region =
        cv::Rect(0, 0, target.ReadWidth(), target.visibleHeight) & cv::Rect(0, 0, image.cols, image.rows);
    if (region.empty()) {
        return 0;
    }
    // Resized as blue, green and red, transparent pixels black among them.
    cv::Mat source = image(region);
    if (image.type() == CV_8UC4) {
        cv::cvtColor(image(region), source, cv::COLOR_BGRA2BGR);
    }
    cv::Mat picture;
    cv::resize(source, picture, target.OutputSize(), 0, 0, cv::INTER_LINEAR);
    const bool drawn = PaintPicture(target.dc, picture, target.x, target.y, target.opacity);
    if (resized) {
        *resized = picture;
    }
    return drawn ? 1 : 0;
}

int DrawGrayImageRegion(const cv::Mat& classes, const RasterDrawTarget& target, cv::Mat& colour) {
    if (classes.empty() || classes.type() != CV_8UC1 || !CanRender(target)) {
        return 0;
    }
    const cv::Size out = target.OutputSize();
    cv::Rect sourcePart;
    cv::Rect targetPart;
    if (!kv::MapRegion(target.ReadRect(), classes.size(), out, &sourcePart, &targetPart)) {
        return 0;
    }
    // Labels are resampled by the nearest cell: blending two labels would invent a third.
    cv::Mat labels(out, CV_8UC1, cv::Scalar(1));
    cv::Mat part = labels(targetPart);
    cv::resize(classes(sourcePart), part, targetPart.size(), 0, 0, cv::INTER_NEAREST);
    cv::Mat picture(out, CV_8UC3, cv::Scalar::all(0));
    picture.setTo(cv::Scalar(255, 0, 0), labels == 0);
    picture.setTo(cv::Scalar(0, 255, 0), labels == 2);
    picture.setTo(cv::Scalar(0, 0, 255), labels == 3);
    colour = picture;
    return PaintPicture(target.dc, colour, target.x, target.y, target.opacity) ? 1 : 0;
}
