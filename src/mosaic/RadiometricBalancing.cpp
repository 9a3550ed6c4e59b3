#include "mosaic/RadiometricBalancing.h"

#include <gdal_priv.h>
#include <vtkPoints.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/blenders.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#include "controls/ProgressTimeToComplete.h"
#include "document/KelvaroDoc.h"
#include "mosaic/MosaicOrder.h"
#include "platform/raster/ExtractROI.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "raster/GDALListener.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"

namespace {

void RestartClock(ProgressSink* progress) {
    if (auto* bar = dynamic_cast<TProgressTimeToComplete*>(progress)) {
        bar->RestartClock();
    }
}

// Writes the 8-bit blue-green-red map as a three-band GeoTIFF (band 1 red) with its geotransform
// and overviews under a temporary name, and puts it in place.
bool WriteBalancingMap(const cv::Mat& map, const double* geoTransform, const QString& path) {
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (!driver || !kv::RasterFitsOnDisk(path, map.cols, map.rows, 3, GDT_Byte)) {
        return false;
    }
    const QString temporary = kv::TemporaryPathFor(path);
    const char* options[] = {"TILED=YES", "BIGTIFF=IF_SAFER", nullptr};
    GDALDatasetH dataset = GDALCreate(driver, QFile::encodeName(temporary).constData(), map.cols, map.rows, 3,
                                      GDT_Byte, const_cast<char**>(options));
    if (!dataset) {
        return false;
    }
    int bandMap[3] = {3, 2, 1};
    bool written =
        GDALSetGeoTransform(dataset, const_cast<double*>(geoTransform)) == CE_None &&
        GDALDatasetRasterIO(dataset, GF_Write, 0, 0, map.cols, map.rows, const_cast<uchar*>(map.data),
                            map.cols, map.rows, GDT_Byte, 3, bandMap, 3, int(map.step), 1) == CE_None &&
        kv::BuildOverviews(dataset, nullptr);
    written = kv::CloseDataset(dataset) && written;
    if (!written) {
        kv::RemoveRasterFile(temporary);
        return false;
    }
    return kv::MoveIntoPlace(temporary, path);
}

// The part of an image placed with its top-left corner at tl that lies inside the rectangle.
bool CropToArea(const cv::Point& tl, cv::Size size, const cv::Rect& area, cv::Rect* part) {
    const cv::Rect placed(tl, size);
    const cv::Rect inside = placed & area;
    if (inside.empty()) {
        return false;
    }
    *part = cv::Rect(inside.tl() - tl, inside.size());
    return true;
}

}  // namespace

double BalancingScaleFactorFor(double medianPixels) {
    return std::max(1.0, medianPixels / 1000000.0 * 10.0);
}

int BuildRadiometricBalancingMap(CKelvaroDoc* doc, std::vector<COrtho*>& orthos, const QString& startName,
                                 int width, int height, GDALDataType type, const MosaicBox& box,
                                 ProgressSink* progress, int* abort) {
    if (!doc || !GDALGetDriverByName("GTiff") || doc->GetPathName().isEmpty()) {
        return 0;
    }
    ZQT_PumpMessages();
    Wml::Point2 start;
    const Wml::Point2* startPoint = nullptr;
    if (!startName.isEmpty()) {
        auto found = doc->m_Orthos.find(startName);
        if (found != doc->m_Orthos.end() && found->second) {
            const COrtho* o = found->second;
            start = Wml::Point2(o->m_geoTransform[0] + o->m_width * 0.5 * o->m_geoTransform[1],
                                o->m_geoTransform[3] + o->m_height * 0.5 * o->m_geoTransform[5]);
            startPoint = &start;
        }
    }
    double largest = 0.0, median = 0.0;
    if (!SortOrthophotosFromCenter(orthos, progress, startPoint, &largest, &median)) {
        return 0;
    }
    ZQT_PumpMessages();
    if (type < GDT_Byte || type > GDT_Float64) {
        return 0;
    }
    const double f = BalancingScaleFactorFor(median);
    doc->BalancingScaleFactor = f;
    const int mw = int(std::rint(width / f));
    const int mh = int(std::rint(height / f));
    if (mw <= 0 || mh <= 0) {
        return 0;
    }
    const cv::Rect area(0, 0, mw, mh);
    cv::detail::FeatherBlender blender(0.02f);
    blender.prepare(area);
    if (progress) {
        progress->SetRange(0, int(orthos.size()));
        progress->SetPos(0);
    }
    RestartClock(progress);
    for (size_t i = 0; i < orthos.size(); ++i) {
        if (progress) {
            progress->SetPos(int(i));
        }
        ZQT_PumpMessages();
        COrtho* ortho = orthos[i];
        const cv::Size size(int(std::rint(ortho->m_width / f)), int(std::rint(ortho->m_height / f)));
        if (!ortho->m_pDataset || size.width <= 0 || size.height <= 0) {
            continue;
        }
        cv::Mat image(size, CV_8UC3);
        if (!GDALExtractROI(ortho->m_pDataset, image, nullptr, kExtractColour)) {
            continue;
        }
        cv::Mat mask = BuildValidAreaMask(image);
        cv::Mat signedImage;
        image.convertTo(signedImage, CV_16SC3);
        const cv::Point tl(int(std::rint((ortho->m_geoTransform[0] - box.minX) / (f * box.pixelWidth))),
                           int(std::rint((ortho->m_geoTransform[3] - box.maxY) / (f * box.pixelHeight))));
        // The blender writes without bounds checks: only the part inside the map is fed.
        cv::Rect part;
        if (mask.empty() || !CropToArea(tl, size, area, &part)) {
            continue;
        }
        blender.feed(signedImage(part).clone(), mask(part).clone(), tl + part.tl());
    }
    ZQT_PumpMessages();
    cv::Mat blended, blendedMask;
    blender.blend(blended, blendedMask);
    cv::Mat blended8;
    blended.convertTo(blended8, CV_8UC3);

    cv::Mat map(mh, mw, CV_8UC3, cv::Scalar::all(0));
    if (progress) {
        progress->SetRange(0, std::max(1, mh / 100));
        progress->SetPos(0);
    }
    RestartClock(progress);
    for (int row = 0; row < mh && row < blended8.rows; ++row) {
        blended8.row(row)
            .colRange(0, std::min(mw, blended8.cols))
            .copyTo(map.row(row).colRange(0, std::min(mw, blended8.cols)));
        if (row > 0 && row % 100 == 0) {
            if (progress) {
                progress->SetPos(row / 100);
            }
            ZQT_PumpMessages();
            if (abort && *abort) {
                break;
            }
        }
    }
    cv::Mat stretched = map.clone();
    AutoLevelsRGB(map, stretched);
    map = stretched;

    const QString path = QDir(QFileInfo(doc->GetPathName()).absolutePath())
                             .filePath(QStringLiteral("RadiometricBalancingMap.tif"));
    doc->BalancingMapPath = path;
    const double geoTransform[6] = {box.minX, f * box.pixelWidth, 0.0, box.maxY, 0.0, f * box.pixelHeight};
    if (!WriteBalancingMap(map, geoTransform, path)) {
        return 0;
    }
    if (progress) {
        progress->SetPos(0);
    }
    return 1;
}

int ComputeOrthoCorrection(COrtho* ortho, int bands, const QString& mapPath, double f) {
    if (!ortho || !ortho->m_pDataset || !(f > 0.0)) {
        return 0;
    }
    const int nb = std::min(bands, COrtho::kCorrectionBands);
    cv::Mat reduced = ortho->GetScaledImage(f);
    if (reduced.empty()) {
        return 0;
    }
    GDALDatasetH map = GDALOpen(QFile::encodeName(mapPath).constData(), GA_ReadOnly);
    if (!map) {
        return 0;
    }
    double mgt[6];
    if (GDALGetGeoTransform(map, mgt) != CE_None) {
        GDALClose(map);
        return 0;
    }
    const double* gt = ortho->m_geoTransform;
    const cv::Rect window(int((gt[0] - mgt[0]) / (gt[1] * f)), int((gt[3] - mgt[3]) / (gt[5] * f)),
                          reduced.cols, reduced.rows);
    cv::Mat mapWindow(reduced.size(), CV_8UC3);
    const int read = GDALExtractROI(map, mapWindow, &window, kExtractColour);
    GDALClose(map);
    if (!read) {
        return 0;
    }
    const int cw = reduced.cols / 9;
    const int ch = reduced.rows / 9;
    cv::GaussianBlur(reduced, reduced, cv::Size(9, 9), 0);
    cv::GaussianBlur(mapWindow, mapWindow, cv::Size(3, 3), 0);

    vtkSmartPointer<vtkPoints> sources[COrtho::kCorrectionBands];
    vtkSmartPointer<vtkPoints> targets[COrtho::kCorrectionBands];
    for (int b = 0; b < nb; ++b) {
        sources[b] = vtkSmartPointer<vtkPoints>::New();
        targets[b] = vtkSmartPointer<vtkPoints>::New();
    }
    const cv::Rect whole(0, 0, reduced.cols, reduced.rows);
    for (int i = 1; i <= 8; ++i) {
        for (int j = 1; j <= 8; ++j) {
            const cv::Rect cell = cv::Rect(j * cw - cw / 2, i * ch - ch / 2, cw, ch) & whole;
            if (cell.empty()) {
                continue;
            }
            OverlapMeans orthoMeans, mapMeans;
            if (!ComputeOverlapColorMeans(reduced(cell).clone(), orthoMeans, mapWindow(cell).clone(),
                                          mapMeans)) {
                continue;
            }
            const int d[4] = {mapMeans.red - orthoMeans.red, mapMeans.green - orthoMeans.green,
                              mapMeans.blue - orthoMeans.blue, 0};
            const double x = int(j * cw * f), y = int(i * ch * f);
            for (int b = 0; b < nb; ++b) {
                sources[b]->InsertNextPoint(x, y, 0.0);
                targets[b]->InsertNextPoint(x, y, d[b]);
            }
        }
    }
    for (int b = 0; b < nb; ++b) {
        ortho->m_correction[b]->SetSourceLandmarks(sources[b]);
        ortho->m_correction[b]->SetTargetLandmarks(targets[b]);
        ortho->m_correction[b]->Update();
    }
    const cv::Size gridSize(int(ortho->m_width / f), int(ortho->m_height / f));
    for (auto& grid : ortho->m_correctionImage) {
        grid = cv::Mat::zeros(gridSize, CV_32FC1);
    }
    for (int b = 0; b < nb; ++b) {
        if (sources[b]->GetNumberOfPoints() == 0) {
            continue;
        }
        cv::Mat& grid = ortho->m_correctionImage[b];
        for (int r = 0; r < grid.rows; ++r) {
            float* out = grid.ptr<float>(r);
            for (int c = 0; c < grid.cols; ++c) {
                double in[3] = {c * f, r * f, 0.0}, result[3];
                ortho->m_correction[b]->TransformPoint(in, result);
                // A degenerate spline (collinear control points) must not spread NaNs.
                out[c] = std::isfinite(result[2]) ? float(result[2]) : 0.0f;
            }
        }
    }
    return 1;
}

void CorrectOrthoPixel(const COrtho* ortho, double* values, int column, int row, int bands, GDALDataType type,
                       double divisor, double lo, double hi, double f) {
    if (!ortho || bands < 1 || bands == 2 || bands > 4 || !(f > 0.0)) {
        return;
    }
    for (int b = 0; b < 3; ++b) {
        if (ortho->m_correctionImage[b].empty()) {
            return;
        }
    }
    bool data = false;
    for (int b = 0; b < std::min(bands, 3); ++b) {
        data = data || values[b] != 0.0;
    }
    if (!data) {
        return;
    }
    const int c = int(std::rint(column / f));
    const int r = int(std::rint(row / f));
    const cv::Mat& first = ortho->m_correctionImage[0];
    if (c < 0 || r < 0 || c >= first.cols || r >= first.rows) {
        return;
    }
    const bool integer = type != GDT_Float32 && type != GDT_Float64;
    for (int b = 0; b < bands; ++b) {
        const cv::Mat& grid = ortho->m_correctionImage[b];
        if (grid.empty() || c >= grid.cols || r >= grid.rows) {
            continue;
        }
        double correction = grid.at<float>(r, c) / divisor;
        if (integer) {
            correction = std::rint(correction);
        }
        values[b] = std::clamp(values[b] + correction, lo, hi);
    }
}
