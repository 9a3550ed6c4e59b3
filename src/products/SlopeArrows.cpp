#include "products/SlopeArrows.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "products/DrawArrowDlg.h"
#include "products/ProductsSupport.h"
#include "products/SlopeMap.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kSampleStep = 10;

// The arrow's outline before scaling: tail at (-2, 0), shaft to x = 2, head from 1.6 to its tip at
// 3; every point is divided by 3, so the tip lies one length ahead of the anchor.
constexpr double kTemplate[6][2] = {{2, -0.2}, {1.6, -0.7}, {3, 0}, {1.6, 0.7}, {2, 0.2}, {-2, 0}};

// Corners of the arrow in double precision.
std::array<cv::Point2d, 6> ArrowCorners(double length, double angle, double x, double y) {
    const double c = std::cos(angle), s = std::sin(angle);
    std::array<cv::Point2d, 6> corners;
    for (int i = 0; i < 6; ++i) {
        const double tx = kTemplate[i][0] / 3.0, ty = kTemplate[i][1] / 3.0;
        corners[i] = cv::Point2d((tx * c - ty * s) * length + x, (tx * s + ty * c) * length + y);
    }
    return corners;
}

// Fills the arrow; an arrow whose corners lie beyond any pixel coordinate (a length from a map
// without samples) is left out rather than clamped into a shape it is not.
void FillArrow(cv::Mat& image, double length, double angle, double x, double y, const cv::Scalar& colour) {
    constexpr double kLimit = 1 << 30;
    for (const cv::Point2d& p : ArrowCorners(length, angle, x, y)) {
        if (!(std::abs(p.x) < kLimit && std::abs(p.y) < kLimit)) {
            return;
        }
    }
    const std::array<cv::Point, 6> corners = ArrowPolygon(length, angle, x, y);
    const cv::Point* points = corners.data();
    const int count = 6;
    cv::fillPoly(image, &points, &count, 1, colour, cv::LINE_AA);
}

QString Format2(float value) {
    return QString::asprintf("%.2f", double(value));
}

// The images of the legend and summary, written to a temporary name beside the path and renamed
// into place when complete.
bool WriteImageFile(const cv::Mat& image, const QString& path) {
    const QString temporary = ZQT_GetRandomFilePath(QFileInfo(path).absolutePath(), QStringLiteral("tif"));
    bool written = false;
    try {
        written = cv::imwrite(QFile::encodeName(temporary).toStdString(), image);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written || !kv::MoveIntoPlace(temporary, path)) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

}  // namespace

std::array<cv::Point, 6> ArrowPolygon(double length, double angle, double x, double y) {
    std::array<cv::Point, 6> points;
    const std::array<cv::Point2d, 6> corners = ArrowCorners(length, angle, x, y);
    for (int i = 0; i < 6; ++i) {
        points[i] = cv::Point(products::RoundHalfEven(corners[i].x), products::RoundHalfEven(corners[i].y));
    }
    return points;
}

ArrowScale MakeArrowScale(double minLength, double multiplier, double maxSlopePercent, double slopePixelWidth,
                          double orthoPixelWidth) {
    ArrowScale scale;
    scale.minLen = static_cast<float>(minLength);
    const float mlt = static_cast<float>(multiplier);
    scale.S = static_cast<float>(maxSlopePercent / 100.0);
    scale.maxLen = static_cast<float>(slopePixelWidth / orthoPixelWidth * 10.0 * mlt);
    scale.K = scale.maxLen / scale.S;
    return scale;
}

ArrowStats DrawSlopeArrows(cv::Mat& ortho, const double* ogt, const cv::Mat& slope, const double* sgt,
                           double noData, const ArrowScale& scale) {
    ArrowStats stats;
    stats.Dmin = stats.Emin = std::numeric_limits<float>::max();
    stats.Dmax = stats.Emax = std::numeric_limits<float>::lowest();
    const float fill = static_cast<float>(noData);
    const cv::Scalar white = products::BandColor(255, 255, 255);
    for (int r = 0; r < slope.rows; r += kSampleStep) {
        const auto* row = slope.ptr<cv::Vec3f>(r);
        for (int c = 0; c < slope.cols; c += kSampleStep) {
            const cv::Vec3f& cell = row[c];
            if (cell[0] == fill) {
                continue;
            }
            ++stats.samples;
            double nx = cell[0], ny = cell[1];
            const double norm = std::hypot(nx, ny);
            if (norm > 0.0) {
                nx /= norm;
                ny /= norm;
            }
            const float t = cell[2];
            const float D = 100.0f * t;
            stats.Dmin = std::min(stats.Dmin, D);
            stats.Dmax = std::max(stats.Dmax, D);
            float E = scale.minLen + scale.K * t;
            if (!(E < scale.maxLen)) {
                E = scale.maxLen;
            }
            stats.Emin = std::min(stats.Emin, E);
            stats.Emax = std::max(stats.Emax, E);
            const double px = std::trunc((c * sgt[1] + sgt[0] - ogt[0]) / ogt[1]);
            const double py = std::trunc((r * sgt[5] + sgt[3] - ogt[3]) / ogt[5]);
            if (D > 0.0f) {
                FillArrow(ortho, E, std::atan2(-ny, nx), px, py, white);
            }
        }
    }
    return stats;
}

cv::Mat MakeArrowSummary(const ArrowStats& stats) {
    cv::Mat image(80, 450, CV_8UC3, cv::Scalar::all(255));
    const cv::Scalar black = products::BandColor(0, 0, 0);
    auto text = [&](const QString& s, int x, int y) {
        products::PutText(image, s, cv::Point(x, y), cv::FONT_HERSHEY_PLAIN, 2.0, black, 2);
    };
    text(QStringLiteral("max%"), 40, 30);
    text(QStringLiteral("min%"), 140, 30);
    text(QStringLiteral("mxGR"), 240, 30);
    text(QStringLiteral("mnGR"), 340, 30);
    text(Format2(stats.Dmax), 40, 70);
    text(Format2(stats.Dmin), 140, 70);
    const float degrees = 180.0f / static_cast<float>(M_PI);
    text(Format2(std::atan(stats.Dmax / 100.0f) * degrees), 240, 70);
    text(Format2(std::atan(stats.Dmin / 100.0f) * degrees), 340, 70);
    return image;
}

cv::Mat MakeArrowLegend(const ArrowStats& stats, const ArrowScale& scale) {
    cv::Mat image(460, 450, CV_8UC3, cv::Scalar::all(255));
    const cv::Scalar black = products::BandColor(0, 0, 0);
    const float top = std::min(stats.Dmax, scale.S * 100.0f);
    const float R = top - stats.Dmin;
    float bottomLength = stats.Emin;
    float dmin = stats.Dmin;
    if (products::RoundHalfEven(stats.Dmin) <= 1) {
        bottomLength = scale.minLen + scale.K * 0.01f;
        dmin = 1.0f;
    }
    const float R2 = top - dmin;
    auto length = [&](float level) { return scale.minLen + scale.K * level / 100.0f; };
    struct Row {
        int y;
        int labelY;
        float length;
        QString label;
    };
    const Row rows[5] = {
        {40, 50, stats.Emax, QStringLiteral("> %1").arg(products::RoundHalfEven(top))},
        {140, 140, std::min(stats.Emax, length(stats.Dmin + 0.75f * R)),
         QString::number(products::RoundHalfEven(dmin + 0.75f * R2))},
        {240, 240, std::min(stats.Emax, length(stats.Dmin + 2.0f * R / 5.0f)),
         QString::number(products::RoundHalfEven(dmin + 2.0f * R2 / 5.0f))},
        {340, 340, length(stats.Dmin + R / 5.0f), QString::number(products::RoundHalfEven(dmin + R2 / 5.0f))},
        {440, 440, bottomLength, QString::number(products::RoundHalfEven(dmin))},
    };
    for (const Row& row : rows) {
        FillArrow(image, row.length, 0.0, 100.0, row.y, black);
        // Half the shaft's width at its end (negative), so the label's baseline drops by it.
        const std::array<cv::Point, 6> corners = ArrowPolygon(row.length, 0.0, 100.0, row.y);
        const long long h = (static_cast<long long>(corners[0].y) - corners[4].y) / 2;
        products::PutText(image, row.label, cv::Point(250, products::Truncate(double(row.labelY - h))),
                          cv::FONT_HERSHEY_DUPLEX, 2.0, black, 2);
    }
    return image;
}

void CmdDrawArrow(CadDrawing* drawing) {
    const QString dtmPath = products::ChooseDtmFile();
    if (dtmPath.isEmpty()) {
        return;
    }
    const QString slopePath = products::OutputPathBeside(dtmPath, "%s_SlopeMap");
    const QString arrowPath = products::OutputPathBeside(dtmPath, "%s_arrow_map");
    const QString legendPath = products::OutputPathBeside(dtmPath, "%s_LGND");
    const QString summaryPath = products::OutputPathBeside(dtmPath, "%s_summary");
    if (RefuseOutputOverInputs({slopePath, arrowPath, legendPath, summaryPath}, {dtmPath})) {
        return;
    }
    double noData = 0.0;
    if (!MakeSlopeMap(dtmPath, slopePath, &noData)) {
        return;
    }
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    SlopeBands slope;
    if (!ReadSlopeBands(slopePath, false, &slope)) {
        return;
    }
    const QString orthoPath = products::ChooseOrthophotoFile();
    if (orthoPath.isEmpty() || RefuseOutputOverInputs({arrowPath, legendPath, summaryPath}, {orthoPath})) {
        return;
    }
    cv::Mat ortho;
    double ogt[6];
    if (!LoadOrthophotoImage(orthoPath, ortho, ogt)) {
        return;
    }
    CDrawArrowDlg dialog(doc);
    dialog.DoModal();
    const ArrowScale scale = MakeArrowScale(dialog.m_dMinVectorLength, dialog.m_dMaxLengthMultiplier,
                                            dialog.m_dMaxSlope, slope.geoTransform[1], ogt[1]);
    // The terrain model's no data marks the cells without a fit in every band.
    const ArrowStats stats = DrawSlopeArrows(ortho, ogt, slope.grid, slope.geoTransform, noData, scale);
    slope.grid.release();
    const bool legendWritten = WriteImageFile(MakeArrowLegend(stats, scale), legendPath);
    const bool summaryWritten = WriteImageFile(MakeArrowSummary(stats), summaryPath);
    const bool mapWritten = SaveImageAsGeoTiff(ortho, ogt, slope.projection, 0.0, arrowPath, nullptr);
    if (legendWritten && summaryWritten && mapWritten) {
        KvMessageBox(QStringLiteral("Arrow Map generation done"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Unable to save Arrow Map!"), MB_OK | MB_ICONEXCLAMATION);
    }
}
