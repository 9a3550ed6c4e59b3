#include "Data.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace bench {

QString DataFolder(const QString& name) {
    // A small run keeps its data apart: its files have the same names.
    const QString folder = QDir::tempPath() + (Small() ? "/kv_bench_small/" : "/kv_bench/") + name;
    QDir().mkpath(folder);
    return folder;
}

std::string Files::operator()(const std::string& name) const {
    return QFile::encodeName(Folder() + '/' + QString::fromStdString(name)).toStdString();
}

bool CopyFile(const std::string& from, const std::string& to) {
    QFile::remove(QFile::decodeName(to.c_str()));
    return QFile::copy(QFile::decodeName(from.c_str()), QFile::decodeName(to.c_str()));
}

bool WriteUpsampled(const char* source, int side, const std::string& path, bool projection) {
    cv::Mat dem;
    double gt[6];
    return ReadUpsampled(source, side, &dem, gt) &&
           WriteRaster(dem, gt, path, -9999.0, projection ? ProjectionOf(source) : std::string());
}

bool MakeOnce(const QString& folder, const char* version, const std::function<bool()>& make) {
    const QString marker = folder + "/complete-" + QString::fromLatin1(version);
    if (QFileInfo::exists(marker)) {
        return true;
    }
    if (!make()) {
        return false;
    }
    QFile file(marker);
    return file.open(QIODevice::WriteOnly);
}

std::string Number(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

bool ReadUpsampled(const char* path, int side, cv::Mat* dem, double geoTransform[6]) {
    cv::Mat source;
    if (!ReadRaster(path, &source, geoTransform)) {
        return false;
    }
    cv::resize(source, *dem, cv::Size(side, side), 0, 0, cv::INTER_LINEAR);
    geoTransform[1] *= double(source.cols) / side;
    geoTransform[5] *= double(source.rows) / side;
    return true;
}

cv::Mat HolePattern(int side, double share) {
    cv::RNG rng(11);
    const int coarseSide = std::max(2, side / 100), fineSide = std::max(2, side / 10);
    cv::Mat coarse(coarseSide, coarseSide, CV_32FC1), fine(fineSide, fineSide, CV_32FC1), a, b;
    rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
    rng.fill(fine, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::resize(coarse, a, cv::Size(side, side), 0, 0, cv::INTER_CUBIC);
    cv::resize(fine, b, cv::Size(side, side), 0, 0, cv::INTER_CUBIC);
    cv::Mat field = a + 0.6 * b;
    std::vector<float> sorted(field.begin<float>(), field.end<float>());
    auto at = sorted.begin() + ptrdiff_t(share * double(sorted.size()));
    std::nth_element(sorted.begin(), at, sorted.end());
    return field < *at;
}

double Bilinear(const cv::Mat& grid, double c, double r) {
    c = std::clamp(c, 0.0, double(grid.cols - 1));
    r = std::clamp(r, 0.0, double(grid.rows - 1));
    const int c0 = std::min(int(c), grid.cols - 2), r0 = std::min(int(r), grid.rows - 2);
    const double fc = c - c0, fr = r - r0;
    const float* a = grid.ptr<float>(r0);
    const float* b = grid.ptr<float>(r0 + 1);
    return (a[c0] * (1 - fc) + a[c0 + 1] * fc) * (1 - fr) + (b[c0] * (1 - fc) + b[c0 + 1] * fc) * fr;
}

bool WriteRaster(const cv::Mat& image, const double geoTransform[6], const std::string& path, double noData,
                 const std::string& projection) {
    const GDALDataType type = image.depth() == CV_8U    ? GDT_Byte
                              : image.depth() == CV_16U ? GDT_UInt16
                                                        : GDT_Float32;
    cv::Mat cells = image;
    if (type == GDT_Float32 && image.depth() != CV_32F) {
        image.convertTo(cells, CV_MAKETYPE(CV_32F, image.channels()));
    }
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_NEEDED", nullptr};
    const int bands = cells.channels();
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), cells.cols, cells.rows, bands,
                                 type, const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    if (geoTransform) {
        GDALSetGeoTransform(ds, const_cast<double*>(geoTransform));
    }
    if (!projection.empty()) {
        GDALSetProjection(ds, projection.c_str());
    }
    for (int b = 1; b <= bands; ++b) {
        GDALSetRasterNoDataValue(GDALGetRasterBand(ds, b), noData);
    }
    const int cell = int(cells.elemSize1());
    const bool ok = GDALDatasetRasterIO(ds, GF_Write, 0, 0, cells.cols, cells.rows, cells.data, cells.cols,
                                        cells.rows, type, bands, nullptr, GSpacing(cell) * bands,
                                        GSpacing(cells.step), cell) == CE_None;
    return kv::CloseDataset(ds) && ok;
}

bool ReadRaster(const std::string& path, cv::Mat* image, double geoTransform[6], bool bytes) {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    CPLPopErrorHandler();
    if (!ds) {
        return false;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds), bands = GDALGetRasterCount(ds);
    const GDALDataType type = bytes ? GDT_Byte : GDT_Float32;
    bool ok = bands > 0 && bands <= 4;
    if (ok) {
        image->create(h, w, CV_MAKETYPE(bytes ? CV_8U : CV_32F, bands));
        const int cell = bytes ? 1 : 4;
        ok = GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, image->data, w, h, type, bands, nullptr,
                                 GSpacing(cell) * bands, GSpacing(image->step), cell) == CE_None;
    }
    if (ok && geoTransform) {
        // A picture without one gets GDAL's default (0, 1, 0, 0, 0, 1).
        GDALGetGeoTransform(ds, geoTransform);
    }
    GDALClose(ds);
    return ok;
}

bool KeepRaster(const cv::Mat& grid, const double geoTransform[6], const std::string& path) {
    return !CheckRun() || WriteRaster(grid, geoTransform, path);
}

bool KeepText(const std::string& text, const std::string& path) {
    if (!CheckRun()) {
        return true;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fprintf(f, "%s\n", text.c_str()) >= 0 && std::fclose(f) == 0;
}

std::string ReadText(const std::string& path) {
    std::string line;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[1024];
        if (std::fgets(buffer, sizeof buffer, f)) {
            line = buffer;
        }
        std::fclose(f);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

std::string ProjectionOf(const char* path) {
    GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
    const std::string wkt = ds ? GDALGetProjectionRef(ds) : "";
    if (ds) {
        GDALClose(ds);
    }
    return wkt;
}

std::unique_ptr<CDEM> LoadDem(const std::string& path, bool forUpdate) {
    std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(QFile::decodeName(path.c_str()), !forUpdate));
    if (!dem || !dem->LoadData()) {
        return nullptr;
    }
    return dem;
}

CPgon WholeArea(const CDEM& dem) {
    const double* gt = dem.m_geoTransform;
    const double x0 = gt[0] - gt[1], x1 = gt[0] + (dem.Width() + 1) * gt[1];
    const double y0 = gt[3] - gt[5], y1 = gt[3] + (dem.Height() + 1) * gt[5];
    const Wml::Point2 corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    return CPgon(corners, 4);
}

Command Gdaladdo(const std::string& path, int levels) {
    // gdaladdo without levels picks its own: a raster that gets none gets nothing done to it.
    if (levels <= 0) {
        return {"true"};
    }
    Command addo = {"gdaladdo", "-q", "-r", "nearest", path};
    for (int level = 2; levels > 0; level *= 2, --levels) {
        addo.push_back(std::to_string(level));
    }
    return addo;
}

Command OverviewsLike(const std::string& path, int width, int height) {
    return Gdaladdo(path, kv::OverviewLevelCount(width, height));
}

bool BuildOverviewsLike(GDALDatasetH ds) {
    std::vector<int> levels;
    for (int level = 2, n = kv::OverviewLevelCount(GDALGetRasterXSize(ds), GDALGetRasterYSize(ds)); n > 0;
         level *= 2, --n) {
        levels.push_back(level);
    }
    return levels.empty() || GDALBuildOverviews(ds, "NEAREST", int(levels.size()), levels.data(), 0, nullptr,
                                                nullptr, nullptr) == CE_None;
}

Side FillNodataPeer(const std::string& input, const std::string& output, int distance, int side) {
    Side peer("gdal_fillnodata.py -md " + std::to_string(distance) + " + gdaladdo",
              // Its creation options take every word after them: the files come first.
              {{"gdal_fillnodata.py", "-q", "-md", std::to_string(distance), input, output, "-co",
                "TILED=YES", "-co", "BLOCKXSIZE=256", "-co", "BLOCKYSIZE=256"},
               OverviewsLike(output, side, side)},
              {output});
    peer.startup = {PythonStartup("gdal_fillnodata")};
    return peer;
}

Command GdalCalcIndex(const std::string& a, int aBand, const std::string& b, int bBand,
                      const std::string& output, int block, bool worldFile) {
    const std::string size = std::to_string(block);
    Command calc = {"gdal_calc.py",
                    "--quiet",
                    "--overwrite",
                    "-A",
                    a,
                    "--A_band=" + std::to_string(aBand),
                    "-B",
                    b,
                    "--B_band=" + std::to_string(bBand),
                    "--outfile=" + output,
                    "--calc=(B.astype(float32)-A)/(B.astype(float32)+A)",
                    "--type=Float32",
                    "--NoDataValue=-9999",
                    "--co=TILED=YES",
                    "--co=BLOCKXSIZE=" + size,
                    "--co=BLOCKYSIZE=" + size,
                    "--co=BIGTIFF=IF_SAFER"};
    if (worldFile) {
        calc.push_back("--co=TFW=YES");
    }
    return calc;
}

bool TranslateBands(const char* source, const std::vector<int>& bands, int square, int side,
                    const std::string& path) {
    GDALDatasetH in = GDALOpen(source, GA_ReadOnly);
    if (!in) {
        return false;
    }
    std::vector<std::string> args;
    for (const int band : bands) {
        args.insert(args.end(), {"-b", std::to_string(band)});
    }
    const std::string squareText = std::to_string(square), sideText = std::to_string(side);
    args.insert(args.end(),
                {"-srcwin", "0", "0", squareText, squareText, "-outsize", sideText, sideText, "-r",
                 "bilinear", "-co", "TILED=YES", "-co", "BLOCKXSIZE=256", "-co", "BLOCKYSIZE=256"});
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    GDALTranslateOptions* options = GDALTranslateOptionsNew(argv.data(), nullptr);
    GDALDatasetH out = options ? GDALTranslate(path.c_str(), in, options, nullptr) : nullptr;
    if (options) {
        GDALTranslateOptionsFree(options);
    }
    GDALClose(in);
    return out && kv::CloseDataset(out);
}

namespace {

int OverviewCount(const std::string& path) {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    const int n = ds ? GDALGetOverviewCount(GDALGetRasterBand(ds, 1)) : -1;
    if (ds) {
        GDALClose(ds);
    }
    return n;
}

}  // namespace

Agreement CompareRasters(const std::string& ours, const std::string& theirs, double tolerance, int ring,
                         double noData, bool common, double relative, const cv::Mat& only) {
    Agreement a;
    cv::Mat p, q;
    double gp[6], gq[6];
    if (!ReadRaster(ours, &p, gp) || !ReadRaster(theirs, &q, gq)) {
        a.error = "a result cannot be read";
        return a;
    }
    if (common && p.channels() == q.channels()) {
        const cv::Rect both = cv::Rect(0, 0, p.cols, p.rows) & cv::Rect(0, 0, q.cols, q.rows);
        p = p(both).clone();
        q = q(both).clone();
    }
    if (p.size() != q.size() || p.channels() != q.channels()) {
        a.error = "other grids: " + std::to_string(p.cols) + " x " + std::to_string(p.rows) + " against " +
                  std::to_string(q.cols) + " x " + std::to_string(q.rows);
        return a;
    }
    for (int k = 0; k < 6; ++k) {
        if (std::abs(gp[k] - gq[k]) > 1e-6 * std::max(1.0, std::abs(gp[1]))) {
            a.error = "other geotransforms";
            return a;
        }
    }
    if (!only.empty() && (only.size() != p.size() || only.type() != CV_8UC1)) {
        a.error = "the cells to compare are of another grid";
        return a;
    }
    a.overviews[0] = OverviewCount(ours);
    a.overviews[1] = OverviewCount(theirs);
    const auto missing = [noData](float v) { return std::isnan(v) || v == float(noData); };
    double sum = 0.0;
    const int channels = p.channels();
    for (int r = ring; r < p.rows - ring; ++r) {
        const float* x = p.ptr<float>(r);
        const float* y = q.ptr<float>(r);
        const uint8_t* marked = only.empty() ? nullptr : only.ptr<uint8_t>(r);
        for (int c = ring * channels; c < (p.cols - ring) * channels; ++c) {
            if (marked && !marked[c / channels]) {
                continue;
            }
            if (missing(x[c]) != missing(y[c])) {
                ++a.onlyOne;
            } else if (!missing(x[c])) {
                const double d = std::abs(double(x[c]) - double(y[c]));
                ++a.compared;
                a.apart += d > tolerance + relative * std::abs(double(y[c]));
                a.largest = std::max(a.largest, d);
                sum += d;
            }
        }
    }
    a.meanAbs = a.compared ? sum / double(a.compared) : 0.0;
    return a;
}

Check RastersAgree(const std::string& ours, const std::string& theirs, double tolerance, double apartShare,
                   double onlyOneShare, int ring, double noData, bool common, double relative) {
    return [=](std::string* agreed) {
        return Judge(CompareRasters(ours, theirs, tolerance, ring, noData, common, relative), apartShare,
                     onlyOneShare, agreed);
    };
}

Check FillsAgree(const std::string& ours, const std::string& theirs, const std::string& input,
                 double tolerance, double apartShare) {
    return [=](std::string* agreed) {
        cv::Mat grid;
        if (!ReadRaster(input, &grid) || grid.channels() != 1) {
            return std::string("the input cannot be read");
        }
        const cv::Mat holes = grid == -9999.0f;
        std::string filled, kept;
        const std::string differs = Judge(
            CompareRasters(ours, theirs, tolerance, 0, -9999.0, false, 0.0, holes), apartShare, 0.0, &filled);
        const Agreement others = CompareRasters(ours, theirs, 0.0, 0, -9999.0, false, 0.0, ~holes);
        *agreed = "hole cells " + filled +
                  Format("; other cells: %ld of %ld changed", others.apart + others.onlyOne,
                         others.compared + others.onlyOne);
        if (!differs.empty()) {
            return "hole cells " + differs;
        }
        if (!others.error.empty() || others.apart + others.onlyOne > 0) {
            return others.error.empty() ? *agreed : others.error;
        }
        return std::string();
    };
}

Check SameText(const std::string& ours, const std::string& theirs, const std::string& label) {
    return [=](std::string* agreed) {
        const std::string a = ReadText(ours), b = ReadText(theirs);
        *agreed = label + a + " / " + b;
        return !a.empty() && a == b ? std::string() : *agreed;
    };
}

std::string Judge(const Agreement& a, double apartShare, double onlyOneShare, std::string* agreed) {
    if (!a.error.empty()) {
        return a.error;
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "%ld cells: %ld apart, %ld filled by one, largest difference %.3g, mean %.3g", a.compared,
                  a.apart, a.onlyOne, a.largest, a.meanAbs);
    if (agreed) {
        *agreed = text;
    }
    if (a.compared == 0) {
        return "no cell filled by both";
    }
    if (a.overviews[0] != a.overviews[1]) {
        return std::string(text) + "; overviews " + std::to_string(a.overviews[0]) + " against " +
               std::to_string(a.overviews[1]);
    }
    if (double(a.apart) > apartShare * double(a.compared) ||
        double(a.onlyOne) > onlyOneShare * double(a.compared + a.onlyOne)) {
        return text;
    }
    return std::string();
}

}  // namespace bench
