#include "FourCrops.h"

#include <QDir>

#include <gdal.h>
#include <gdal_utils.h>
#include <opencv2/core.hpp>
#include <opencv2/core/ocl.hpp>

#include <cstring>
#include <string>

#include "document/KelvaroDoc.h"

namespace bench {

void PrepareProcess() {
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    cv::setNumThreads(1);
    cv::ocl::setUseOpenCL(false);
}

std::unique_ptr<QApplication> StartProgram(int& argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = std::make_unique<QApplication>(argc, argv);
    PrepareProcess();
    return app;
}

QString OutputFolder(int argc, char** argv, const QString& temporary) {
    QString folder = temporary;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--keep=", 7) == 0) {
            folder = QString::fromLocal8Bit(argv[i] + 7);
        }
    }
    QDir().mkpath(folder);
    return folder;
}

bool MakeFourCrops(const char* scene, const QString& folder, CKelvaroDoc* doc, QStringList* paths) {
    GDALDatasetH source = GDALOpen(scene, GA_ReadOnly);
    if (!source) {
        return false;
    }
    const char* bands[] = {"-b", "3", "-b", "2", "-b", "1", "-of", "VRT", nullptr};
    GDALTranslateOptions* pick = GDALTranslateOptionsNew(const_cast<char**>(bands), nullptr);
    GDALDatasetH rgb = GDALTranslate((folder + "/rgb.vrt").toStdString().c_str(), source, pick, nullptr);
    GDALTranslateOptionsFree(pick);
    const char* warpArgs[] = {"-of", "GTiff", "-tr", "2.85", "2.85", "-r", "bilinear", nullptr};
    GDALWarpAppOptions* warp = GDALWarpAppOptionsNew(const_cast<char**>(warpArgs), nullptr);
    GDALDatasetH warped =
        GDALWarp((folder + "/fine.tif").toStdString().c_str(), nullptr, 1, &rgb, warp, nullptr);
    GDALWarpAppOptionsFree(warp);
    GDALClose(rgb);
    GDALClose(source);
    if (!warped) {
        return false;
    }
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
        const QString path = folder + QStringLiteral("/crop_%1.tif").arg(i);
        const std::string x = std::to_string(kCorners[i].x), y = std::to_string(kCorners[i].y),
                          size = std::to_string(kCrop);
        const char* cut[] = {"-of",     "GTiff",      "-srcwin",    x.c_str(),
                             y.c_str(), size.c_str(), size.c_str(), nullptr};
        GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(cut), nullptr);
        GDALDatasetH crop = GDALTranslate(path.toStdString().c_str(), warped, options, nullptr);
        GDALTranslateOptionsFree(options);
        // With its overview levels, as a loaded orthophoto has them (the layer would ask for them).
        const int levels[] = {2, 4};
        ok = crop != nullptr &&
             GDALBuildOverviews(crop, "NEAREST", 2, levels, 0, nullptr, nullptr, nullptr) == CE_None;
        GDALClose(crop);
        ok = ok && doc->AddOrtho(path, 0, 0);
        if (paths) {
            paths->append(path);
        }
    }
    GDALClose(warped);
    return ok;
}

}  // namespace bench
