#include "products/SlopeMap.h"

#include <QFile>

#include <gdal.h>
#include <Eigen/Eigenvalues>
#include <opencv2/core/utility.hpp>

#include <cmath>
#include <vector>

#include "document/KelvaroDoc.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kHalf = 3;  // the window is 7 x 7 cells
constexpr int kMinSamples = 16;

// What the samples of one window add up to, in cell offsets (dx, dy) from the window's centre and
// elevations z taken relative to a reference of the row: their count and the sums of dx, dy, z
// and of their pairwise products. The covariance follows from these without a second pass, and
// the small offsets keep the sums exact for the positions and well conditioned for z.
struct WindowSums {
    double n = 0, x = 0, y = 0, z = 0, xx = 0, xy = 0, yy = 0, xz = 0, yz = 0, zz = 0;
};

// The column sums of one column of a window: what its 7 samples add, by dy.
struct ColumnSums {
    double n = 0, y = 0, yy = 0, z = 0, yz = 0, zz = 0;
};

// The upward unit normal of the total-least-squares plane of a covariance (entries in map units),
// or false when no plane is determined: non-finite entries, or points spread along one line at
// most (the smallest two spreads equal zero).
bool FitNormal(double cxx, double cxy, double cyy, double cxz, double cyz, double czz, double normal[3]) {
    if (!std::isfinite(cxx + cxy + cyy + cxz + cyz + czz)) {
        return false;
    }
    if (cxz == 0.0 && cyz == 0.0) {
        // The vertical is a principal direction; it is the normal when its spread is the least.
        const double mean = 0.5 * (cxx + cyy);
        const double radius = std::hypot(0.5 * (cxx - cyy), cxy);
        if (czz <= mean - radius && mean - radius > (mean + radius) * 1e-10) {
            normal[0] = 0.0;
            normal[1] = 0.0;
            normal[2] = 1.0;
            return true;
        }
    }
    Eigen::Matrix3d cov;
    cov << cxx, cxy, cxz, cxy, cyy, cyz, cxz, cyz, czz;
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
    solver.computeDirect(cov);
    Eigen::Vector3d values = solver.eigenvalues();
    // The closed form loses digits when the two smallest spreads come close; the iterative solver
    // then gives the same normal as a fit of the points one by one.
    if (!(values[1] - values[0] > 1e-6 * std::abs(values[2]))) {
        solver.compute(cov);
        if (solver.info() != Eigen::Success) {
            return false;
        }
        values = solver.eigenvalues();
    }
    if (!(values[1] > values[2] * 1e-10)) {
        return false;
    }
    const Eigen::Vector3d n = solver.eigenvectors().col(0).normalized();
    const double sign = n[2] < 0.0 ? -1.0 : 1.0;
    normal[0] = sign * n[0];
    normal[1] = sign * n[1];
    normal[2] = sign * n[2];
    return std::isfinite(normal[0] + normal[1] + normal[2]);
}

// Fits the cells of the centre rows of the range.
class SlopeRows : public cv::ParallelLoopBody {
public:
    SlopeRows(const cv::Mat& dem, cv::Mat& out, double noData, double pixelWidth, double term5)
        : m_dem(dem),
          m_out(out),
          m_noData(noData),
          m_noDataIsNaN(std::isnan(noData)),
          m_pw(pixelWidth),
          m_t5(term5) {}

    void operator()(const cv::Range& rows) const override {
        std::vector<ColumnSums> columns(static_cast<size_t>(m_dem.cols));
        for (int r = rows.start; r < rows.end; ++r) {
            const double reference = RowReference(r);
            SumColumns(r, reference, columns);
            FitRow(r, columns);
        }
    }

private:
    bool Gathered(float v) const { return m_noDataIsNaN ? !std::isnan(v) : double(v) != m_noData; }

    // An elevation of the window rows around r, so that the sums hold differences of a few metres
    // rather than elevations of thousands.
    double RowReference(int r) const {
        for (int j = r - kHalf; j <= r + kHalf; ++j) {
            const float* row = m_dem.ptr<float>(j);
            for (int i = 0; i < m_dem.cols; ++i) {
                if (Gathered(row[i]) && std::isfinite(row[i])) {
                    return row[i];
                }
            }
        }
        return 0.0;
    }

    void SumColumns(int r, double reference, std::vector<ColumnSums>& columns) const {
        for (ColumnSums& c : columns) {
            c = ColumnSums();
        }
        for (int dy = -kHalf; dy <= kHalf; ++dy) {
            const float* row = m_dem.ptr<float>(r + dy);
            for (int i = 0; i < m_dem.cols; ++i) {
                if (!Gathered(row[i])) {
                    continue;
                }
                // A NaN sample is gathered here and poisons the sums of its windows.
                const double z = double(row[i]) - reference;
                ColumnSums& c = columns[static_cast<size_t>(i)];
                c.n += 1.0;
                c.y += dy;
                c.yy += dy * dy;
                c.z += z;
                c.yz += dy * z;
                c.zz += z * z;
            }
        }
    }

    void FitRow(int r, const std::vector<ColumnSums>& columns) const {
        auto* out = m_out.ptr<cv::Vec3f>(r);
        for (int c = kHalf; c < m_dem.cols - kHalf; ++c) {
            WindowSums s;
            for (int dx = -kHalf; dx <= kHalf; ++dx) {
                const ColumnSums& col = columns[static_cast<size_t>(c + dx)];
                s.n += col.n;
                s.x += dx * col.n;
                s.xx += dx * dx * col.n;
                s.y += col.y;
                s.xy += dx * col.y;
                s.yy += col.yy;
                s.z += col.z;
                s.xz += dx * col.z;
                s.yz += col.yz;
                s.zz += col.zz;
            }
            if (s.n < kMinSamples) {
                continue;
            }
            const double inv = 1.0 / s.n;
            const double mx = s.x * inv, my = s.y * inv, mz = s.z * inv;
            const double cxx = (s.xx * inv - mx * mx) * m_pw * m_pw;
            const double cyy = (s.yy * inv - my * my) * m_t5 * m_t5;
            const double cxy = (s.xy * inv - mx * my) * m_pw * m_t5;
            const double cxz = (s.xz * inv - mx * mz) * m_pw;
            const double cyz = (s.yz * inv - my * mz) * m_t5;
            const double czz = s.zz * inv - mz * mz;
            double normal[3];
            if (!FitNormal(cxx, cxy, cyy, cxz, cyz, czz, normal)) {
                continue;
            }
            float bands[3];
            SlopeOfNormal(normal[0], normal[1], normal[2], bands);
            out[c] = cv::Vec3f(bands[0], bands[1], bands[2]);
        }
    }

    const cv::Mat& m_dem;
    cv::Mat& m_out;
    double m_noData;
    bool m_noDataIsNaN;
    double m_pw;
    double m_t5;
};

}  // namespace

void SlopeOfNormal(double nx, double ny, double nz, float out[3]) {
    if (nz < 0.0) {
        nx = -nx;
        ny = -ny;
        nz = -nz;
    }
    // A normalised vertical may come out a hair above 1, where acos has no value.
    const double angle = std::abs(std::acos(std::min(nz, 1.0)));
    out[0] = static_cast<float>(nx);
    out[1] = static_cast<float>(ny);
    out[2] = static_cast<float>(std::tan(angle));
}

cv::Mat ComputeSlopeGrid(const cv::Mat& dem, double noData, double pixelWidth, double term5) {
    CV_Assert(dem.empty() || dem.type() == CV_32FC1);
    const float fill = static_cast<float>(noData);
    cv::Mat out(dem.rows, dem.cols, CV_32FC3, cv::Scalar::all(fill));
    if (dem.cols < 2 * kHalf + 1 || dem.rows < 2 * kHalf + 1) {
        return out;
    }
    SlopeRows body(dem, out, noData, pixelWidth, term5);
    cv::parallel_for_(cv::Range(kHalf, dem.rows - kHalf), body);
    return out;
}

bool ReadSlopeDtm(const QString& path, SlopeDtm* dtm) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open DTM file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    GDALRasterBandH band = GDALGetRasterCount(ds) == 1 ? GDALGetRasterBand(ds, 1) : nullptr;
    int hasNoData = 0;
    bool valid = band && GDALGetGeoTransform(ds, dtm->geoTransform) == CE_None &&
                 GDALGetRasterDataType(band) == GDT_Float32;
    if (valid) {
        dtm->noData = GDALGetRasterNoDataValue(band, &hasNoData);
        valid = hasNoData != 0;
    }
    if (valid) {
        const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
        dtm->grid.create(h, w, CV_32FC1);
        valid = GDALRasterIO(band, GF_Read, 0, 0, w, h, dtm->grid.data, w, h, GDT_Float32, 0,
                             static_cast<GSpacing>(dtm->grid.step)) == CE_None;
        const char* wkt = GDALGetProjectionRef(ds);
        dtm->projection = wkt ? QString::fromUtf8(wkt) : QString();
    }
    GDALClose(ds);
    if (!valid) {
        dtm->grid.release();
        KvMessageBox(QStringLiteral("Invalid DTM file!"), MB_OK | MB_ICONEXCLAMATION);
    }
    return valid;
}

bool MakeSlopeMap(const QString& dtmPath, const QString& outputPath, double* noData) {
    SlopeDtm dtm;
    if (!ReadSlopeDtm(dtmPath, &dtm)) {
        return false;
    }
    cv::Mat slope = ComputeSlopeGrid(dtm.grid, dtm.noData, dtm.geoTransform[1], dtm.geoTransform[5]);
    dtm.grid.release();
    if (!SaveImageAsGeoTiff(slope, dtm.geoTransform, dtm.projection, dtm.noData, outputPath, nullptr)) {
        KvMessageBox(QStringLiteral("Unable to save Slope Map!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    KvMessageBox(QStringLiteral("SlopeMap generation done"), MB_OK | MB_ICONINFORMATION);
    if (noData) {
        *noData = dtm.noData;
    }
    return true;
}

void CmdCreateSlopeMap(CadDrawing* /*drawing*/) {
    const QString dtmPath = products::ChooseDtmFile();
    if (dtmPath.isEmpty()) {
        return;
    }
    const QString output = products::OutputPathBeside(dtmPath, "%s_SlopeMap");
    if (products::RefuseLoadedLayerOutput({output})) {
        return;
    }
    MakeSlopeMap(dtmPath, output, nullptr);
}
