#include <gdal.h>
#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

struct Drawing {
    Drawing() : cad(CadCreate()) {}
    ~Drawing() { CadDelete(cad); }
    CadEntity* ImageOn(const char* layerName, int id) {
        CadLayer* layer = CadAddLayer(cad, layerName, 7, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
        CadSetCurLayer(cad, layer);
        return CadAddImagePlace(cad, id, 10, 10, 0.0, 0.0, 0.0, 1.0);
    }
    CadDrawing* cad;
};

}  // namespace

TEST(LayerEntities, MapValueOnlyWhereItsImageIsShown) {
    Drawing d;
    CMapData map(nullptr);
    map.m_name = "Slope";
    map.m_imageEntity = d.ImageOn("Slope", 4000);
    // The map's cells: 0.25 but for one without data; it has been drawn.
    map.m_pDataset = GDALCreate(GDALGetDriverByName("MEM"), "", 5, 4, 1, GDT_Float32, nullptr);
    double gt[6] = {100.0, 2.0, 0.0, 50.0, 0.0, -2.0};
    GDALSetGeoTransform(map.m_pDataset, gt);
    std::copy(gt, gt + 6, map.m_geoTransform);
    GDALRasterBandH band = GDALGetRasterBand(map.m_pDataset, 1);
    GDALSetRasterNoDataValue(band, -1.0);
    GDALFillRaster(band, 0.25, 0.0);
    float none = -1.0f;
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 2, 1, 1, 1, &none, 1, 1, GDT_Float32, 0, 0), CE_None);
    map.m_display.values = cv::Mat(1, 1, CV_32FC1, cv::Scalar(7.0f));

    EXPECT_EQ(map.GetValueAt(d.cad, 100.0, 50.0), 0.25f);
    EXPECT_EQ(map.GetValueAt(d.cad, 109.9, 42.1), 0.25f);
    EXPECT_EQ(map.GetValueAt(d.cad, 105.0, 47.0), -9999.0f);
    EXPECT_EQ(map.GetValueAt(d.cad, 99.0, 49.0), -9999.0f);
    EXPECT_EQ(map.GetValueAt(d.cad, 110.0, 49.0), -9999.0f);

    CadLayer* layer = CadGetLayerByName(d.cad, "Slope");
    CadLayerPutVisible(layer, 0);
    EXPECT_EQ(map.GetValueAt(d.cad, 101.0, 49.0), -9999.0f);
    CadLayerPutVisible(layer, 1);
    CadEntityPutVisible(map.m_imageEntity, 0);
    EXPECT_EQ(map.GetValueAt(d.cad, 101.0, 49.0), -9999.0f);
    CadEntityPutVisible(map.m_imageEntity, 1);
    map.m_name = "other";
    EXPECT_EQ(map.GetValueAt(d.cad, 101.0, 49.0), -9999.0f);
    map.m_name = "Slope";
    CadEntityErase(map.m_imageEntity, 1);
    EXPECT_EQ(map.GetValueAt(d.cad, 101.0, 49.0), -9999.0f);
}

TEST(LayerEntities, DestroyedLayersEraseTheirImagePlaces) {
    Drawing d;
    CadEntity* demImage = d.ImageOn("dem.tif", 1000);
    CadEntity* labelImage = d.ImageOn("dem.tif labels", 3000);
    CadEntity* orthoImage = d.ImageOn("ortho.tif", 2000);
    CadEntity* mapImage = d.ImageOn("ndvi", 4000);
    {
        CDEM dem(nullptr);
        dem.m_imageEntity = demImage;
        dem.m_labelImageEntity = labelImage;
        COrtho ortho(nullptr);
        ortho.m_imageEntity = orthoImage;
        CMapData map(nullptr);
        map.m_imageEntity = mapImage;
        EXPECT_FALSE(CadEntityGetDeleted(demImage));
    }
    for (CadEntity* e : {demImage, labelImage, orthoImage, mapImage}) {
        EXPECT_TRUE(CadEntityGetDeleted(e));
    }
}
