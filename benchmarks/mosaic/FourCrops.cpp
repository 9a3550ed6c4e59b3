#include "FourCrops.h"

#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>

#include <string>

#include "Data.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamlineBuilders.h"
#include "platform/cad/Cad.h"
#include "raster/Ortho.h"

namespace bench {

namespace {

const Files File("crops");

QString CropPath(int i) {
    return File.Folder() + QStringLiteral("/crop_%1.tif").arg(i);
}

bool MakeCrops() {
    GDALDatasetH source = GDALOpen(KV_BENCH_SCENE, GA_ReadOnly);
    if (!source) {
        return false;
    }
    const char* bands[] = {"-b", "3", "-b", "2", "-b", "1", "-of", "VRT", nullptr};
    GDALTranslateOptions* pick = GDALTranslateOptionsNew(const_cast<char**>(bands), nullptr);
    GDALDatasetH rgb = GDALTranslate(File("rgb.vrt").c_str(), source, pick, nullptr);
    GDALTranslateOptionsFree(pick);
    const char* warpArgs[] = {"-of", "GTiff", "-tr", "2.85", "2.85", "-r", "bilinear", nullptr};
    GDALWarpAppOptions* warp = GDALWarpAppOptionsNew(const_cast<char**>(warpArgs), nullptr);
    GDALDatasetH warped = rgb ? GDALWarp(File("fine.tif").c_str(), nullptr, 1, &rgb, warp, nullptr) : nullptr;
    GDALWarpAppOptionsFree(warp);
    if (rgb) {
        GDALClose(rgb);
    }
    GDALClose(source);
    if (!warped) {
        return false;
    }
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
        const std::string x = std::to_string(kCorners[i].x), y = std::to_string(kCorners[i].y),
                          size = std::to_string(kCrop);
        const char* cut[] = {"-of",     "GTiff",      "-srcwin",    x.c_str(),
                             y.c_str(), size.c_str(), size.c_str(), nullptr};
        GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(cut), nullptr);
        GDALDatasetH crop =
            GDALTranslate(QFile::encodeName(CropPath(i)).constData(), warped, options, nullptr);
        GDALTranslateOptionsFree(options);
        // With its overview levels, as a loaded orthophoto has them (the layer would ask for them).
        const int levels[] = {2, 4};
        ok = crop != nullptr &&
             GDALBuildOverviews(crop, "NEAREST", 2, levels, 0, nullptr, nullptr, nullptr) == CE_None;
        if (crop) {
            GDALClose(crop);
        }
    }
    GDALClose(warped);
    return ok;
}

}  // namespace

QStringList FourCrops() {
    if (!File.MakeOnce("1", MakeCrops)) {
        return {};
    }
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        paths << CropPath(i);
    }
    return paths;
}

CropsProject::~CropsProject() {
    CadDelete(seamlines);
}

bool CropsProject::Open() {
    const QStringList paths = FourCrops();
    if (paths.isEmpty()) {
        return false;
    }
    doc.SetPathName(File.Folder() + "/bench.kvp");
    for (const QString& path : paths) {
        if (!doc.AddOrtho(path, 0, 0)) {
            return false;
        }
        for (const auto& entry : doc.m_Orthos) {
            if (entry.second->m_path == path) {
                images.push_back(entry.second);
            }
        }
    }
    return images.size() == 4;
}

bool CropsProject::BuildSeamlines() {
    int abortFlag = 0;
    const CCentralImagineryParams central(0, 4.0, 128.0, 0);
    if (BuildOrthoSeamlines(&doc, images, &seamlines, kPixel, central, nullptr, &abortFlag) != 0) {
        return false;
    }
    for (CadEntity* e = CadGetFirstEntity(seamlines); e; e = CadGetNextEntity(seamlines, e)) {
        static_cast<COrtho*>(CadEntityGetUserPtr(e))->SeamlinePolylines.push_back(e);
    }
    return true;
}

}  // namespace bench
