#include "raster/GDALListener.h"

#include <QByteArray>
#include <QFile>
#include <QLabel>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <gdalwarper.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/RasterIO.h"

CGDALListener::CGDALListener(ProgressSink* progress, QLabel* percentage)
    : m_pProgress(progress), m_pPercentage(percentage) {}

CGDALListener::~CGDALListener() = default;

int GDALListenerProgress(double fraction, const char* message, void* listener) {
    auto* l = static_cast<CGDALListener*>(listener);
    if (!l) {
        return 1;
    }
    if (l->m_abort || (l->m_pProgress && l->m_pProgress->IsAborted())) {
        return 0;
    }
    int p = static_cast<int>(fraction * 100);
    if (p != l->m_lastPercentage) {
        if (l->m_pProgress) {
            l->m_pProgress->SetPos(p);
        }
        if (l->m_pPercentage) {
            l->m_pPercentage->setText(QStringLiteral("%1 %").arg(p));
        }
        ZQT_PumpMessages();
    }
    if (message && *message) {
        QString text = QString::fromUtf8(message).left(4095);
        if (text != l->m_lastMessage && l->m_pMessage) {
            l->m_lastMessage = text;
            l->m_pMessage->setText(text);
        }
    }
    l->m_lastPercentage = p;
    return 1;
}

namespace {

// Creates the target with its georeferencing and no-data value. Returns the dataset open for
// update, or nullptr.
GDALDatasetH CreateResampleTarget(GDALDatasetH src, const QByteArray& path, double factor, char** options,
                                  double* noData) {
    int width = GDALGetRasterXSize(src);
    int height = GDALGetRasterYSize(src);
    int bands = GDALGetRasterCount(src);
    if (bands < 1) {
        return nullptr;
    }
    GDALRasterBandH srcBand = GDALGetRasterBand(src, 1);
    // Sides that are no int (a factor of an infinite ratio, say) cannot be written.
    const double wantedWidth = width * factor + 0.5;
    const double wantedHeight = height * factor + 0.5;
    if (!(wantedWidth >= 1.0 && wantedWidth < 2147483648.0 && wantedHeight >= 1.0 &&
          wantedHeight < 2147483648.0)) {
        return nullptr;
    }
    int newWidth = static_cast<int>(wantedWidth);
    int newHeight = static_cast<int>(wantedHeight);
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    if (!gtiff || !kv::RasterFitsOnDisk(QFile::decodeName(path), newWidth, newHeight, bands,
                                        GDALGetRasterDataType(srcBand))) {
        return nullptr;
    }
    GDALDatasetH dst = GDALCreate(gtiff, path.constData(), newWidth, newHeight, bands,
                                  GDALGetRasterDataType(srcBand), options);
    if (!dst) {
        return nullptr;
    }
    double gt[6] = {0, 1, 0, 0, 0, 1};
    GDALGetGeoTransform(src, gt);
    gt[1] /= factor;
    gt[5] /= factor;
    GDALSetGeoTransform(dst, gt);
    const char* wkt = GDALGetProjectionRef(src);
    if (wkt && *wkt) {
        GDALSetProjection(dst, wkt);
    }
    // The value GDAL reports, whether or not the band declares one.
    *noData = GDALGetRasterNoDataValue(srcBand, nullptr);
    GDALRasterBandH dstBand = GDALGetRasterBand(dst, 1);
    GDALSetRasterNoDataValue(dstBand, *noData);
    return dst;
}

// Warps the whole source into the target. True when the warp reports no error.
bool WarpInto(GDALDatasetH src, GDALDatasetH dst, double noData, CGDALListener* listener) {
    int bands = GDALGetRasterCount(src);
    void* transformer = GDALCreateGenImgProjTransformer(src, GDALGetProjectionRef(src), dst,
                                                        GDALGetProjectionRef(dst), FALSE, 0, 1);
    if (!transformer) {
        return false;
    }
    GDALWarpOptions* wo = GDALCreateWarpOptions();
    wo->eResampleAlg = GRA_Bilinear;
    wo->hSrcDS = src;
    wo->hDstDS = dst;
    wo->nBandCount = bands;
    wo->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int) * bands));
    wo->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int) * bands));
    wo->padfSrcNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double) * bands));
    wo->padfSrcNoDataImag = static_cast<double*>(CPLMalloc(sizeof(double) * bands));
    wo->padfDstNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double) * bands));
    wo->padfDstNoDataImag = static_cast<double*>(CPLMalloc(sizeof(double) * bands));
    for (int i = 0; i < bands; ++i) {
        wo->panSrcBands[i] = i + 1;
        wo->panDstBands[i] = i + 1;
        wo->padfSrcNoDataReal[i] = noData;
        wo->padfSrcNoDataImag[i] = 0.0;
        wo->padfDstNoDataReal[i] = noData;
        wo->padfDstNoDataImag[i] = 0.0;
    }
    if (listener) {
        GDALListenerProgress(0.0, "Resizing Image...", listener);
        wo->pfnProgress = GDALListenerProgress;
        wo->pProgressArg = listener;
    } else {
        wo->pfnProgress = GDALTermProgress;
    }
    // Each chunk starts as no data, so cells the warp does not reach hold it and the target is
    // written once.
    wo->papszWarpOptions = CSLSetNameValue(wo->papszWarpOptions, "INIT_DEST", "NO_DATA");
    wo->pfnTransformer = GDALGenImgProjTransform;
    wo->pTransformerArg = transformer;

    GDALWarpOperationH op = GDALCreateWarpOperation(wo);
    bool ok =
        op && GDALChunkAndWarpImage(op, 0, 0, GDALGetRasterXSize(dst), GDALGetRasterYSize(dst)) == CE_None;
    if (op) {
        GDALDestroyWarpOperation(op);
    }
    GDALDestroyGenImgProjTransformer(transformer);
    GDALDestroyWarpOptions(wo);
    return ok;
}

}  // namespace

namespace {

// Whether the listener's owner asked to stop.
bool StopAsked(const CGDALListener* listener) {
    return listener && (listener->m_abort || (listener->m_pProgress && listener->m_pProgress->IsAborted()));
}

}  // namespace

bool ResampleRasterGDAL(const QString& source, const QString& target, double factor, char** creationOptions,
                        CGDALListener* listener, QString* cause) {
    if (target.isEmpty() || !(factor > 0.0) || !std::isfinite(factor)) {
        return false;
    }
    const kv::FailureCauseScope causes;
    GDALDatasetH src = GDALOpen(QFile::encodeName(source).constData(), GA_ReadOnly);
    if (!src) {
        if (cause) {
            *cause = kv::FailureCause();
        }
        return false;
    }
    QString temporary = kv::TemporaryPathFor(target);
    QByteArray tmp = QFile::encodeName(temporary);
    double noData = 0.0;
    GDALDatasetH dst = CreateResampleTarget(src, tmp, factor, creationOptions, &noData);
    if (!dst) {
        if (cause) {
            *cause = kv::FailureCause();
        }
        GDALClose(src);
        kv::RemoveRasterFile(temporary);
        return false;
    }
    bool ok = WarpInto(src, dst, noData, listener);
    if (!ok && cause) {
        // A source whose blocks cannot all be read is named as such; otherwise the first failure
        // reported says why.
        QString unreadable;
        if (!StopAsked(listener) && !kv::ReadEveryBlock(src, nullptr, &unreadable)) {
            *cause = kv::UnreadableRasterText(source, unreadable);
        }
    }
    GDALClose(src);
    ok = ok && kv::BuildOverviews(dst, listener);
    ok = kv::CloseDataset(dst) && ok;
    if (!ok || !kv::MoveIntoPlace(temporary, target)) {
        if (cause && cause->isEmpty()) {
            *cause = kv::FailureCause();
        }
        kv::RemoveRasterFile(temporary);
        return false;
    }
    return true;
}

void AutoLevelsRGB(const cv::Mat& source, cv::Mat& target) {
    if (source.empty() || source.type() != CV_8UC3) {
        return;
    }
    if (target.size() != source.size() || target.type() != source.type()) {
        target.create(source.size(), source.type());
        target.setTo(cv::Scalar::all(0));
    }
    std::array<std::array<int64_t, 256>, 3> hist{};
    for (int r = 0; r < source.rows; ++r) {
        const cv::Vec3b* s = source.ptr<cv::Vec3b>(r);
        for (int c = 0; c < source.cols; ++c) {
            if (s[c][0] || s[c][1] || s[c][2]) {
                for (int k = 0; k < 3; ++k) {
                    ++hist[k][s[c][k]];
                }
            }
        }
    }
    std::array<int, 3> lo{};
    std::array<double, 3> factor{};
    for (int k = 0; k < 3; ++k) {
        // lo: the last empty level below the lowest used one; hi: the first empty level above the
        // highest used one. A channel that uses level 0 or 255 is left as it is.
        int l = 256;
        for (int i = 0; i < 256 && hist[k][i] == 0; ++i) {
            l = i;
        }
        int h = 0;
        for (int i = 255; i >= 0 && hist[k][i] == 0; --i) {
            h = i;
        }
        lo[k] = l;
        factor[k] = h - l > 0 ? (h - l + 2) / 256.0 : 1.0;
    }
    for (int r = 0; r < source.rows; ++r) {
        const cv::Vec3b* s = source.ptr<cv::Vec3b>(r);
        cv::Vec3b* t = target.ptr<cv::Vec3b>(r);
        for (int c = 0; c < source.cols; ++c) {
            if (!(s[c][0] || s[c][1] || s[c][2])) {
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                double v = (s[c][k] - lo[k]) / factor[k] + lo[k];
                t[c][k] = static_cast<uchar>(std::clamp(v, 0.0, 255.0));
            }
        }
    }
}
