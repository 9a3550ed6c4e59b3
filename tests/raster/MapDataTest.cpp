#include <gtest/gtest.h>

#include "raster/MapData.h"

namespace {

bool SameColours(const CSG_Colors& a, const CSG_Colors& b) {
    if (a.Get_Count() != b.Get_Count()) {
        return false;
    }
    for (int i = 0; i < a.Get_Count(); ++i) {
        if (a.Get_Color(i) != b.Get_Color(i)) {
            return false;
        }
    }
    return true;
}

void SetStatistics(CMapData& map, double minimum, double maximum, double mean, double sd) {
    map.m_pMin = std::make_unique<double>(minimum);
    map.m_pMax = std::make_unique<double>(maximum);
    map.m_pMean = std::make_unique<double>(mean);
    map.m_pStdDev = std::make_unique<double>(sd);
}

}  // namespace

TEST(MapType, WetnessTakesTwoDeviationsAroundTheMeanWithRedGreyBlue) {
    CMapData map(nullptr);
    SetStatistics(map, -3.0, 9.0, 0.4, 0.1);
    map.m_colors.m_bInvert = true;
    ASSERT_EQ(map.SetMapType(16), 1);
    EXPECT_EQ(map.m_mapType, MapTypeWetness);
    EXPECT_NEAR(*map.m_pRangeMin, 0.2, 1e-12);
    EXPECT_NEAR(*map.m_pRangeMax, 0.6, 1e-12);
    EXPECT_EQ(map.m_colors.m_paletteIndex, 15);
    EXPECT_FALSE(map.m_colors.m_bRevert);
    EXPECT_FALSE(map.m_colors.m_bInvert);
    EXPECT_EQ(map.m_colors.m_colorCount, 100);
    EXPECT_TRUE(SameColours(map.m_colors, CSG_Colors(100, SG_COLORS_RED_GREY_BLUE, false)));
    EXPECT_EQ(map.GetUnitName(), "Wetness");
}

TEST(MapType, PalettesAndRangesOfEveryKind) {
    struct Case {
        int type;
        int palette;
        int saga;
        bool revert;
        double low, high;
        const char* unit;
    };
    // Statistics: minimum -5, maximum 50, mean 10, deviation 20 (mean + 3 sd = 70 above the maximum).
    const Case cases[] = {
        {5, 18, SG_COLORS_RED_GREEN_BLUE, true, -1, 1, "NDVI"},
        {6, 18, SG_COLORS_RED_GREEN_BLUE, true, -1, 1, "SAVI"},
        {12, 21, SG_COLORS_RAINBOW, true, -5, 50, "°C"},
        {13, 16, SG_COLORS_RED_GREY_GREEN, true, 0, 50, "LS Factor"},
        {14, 8, SG_COLORS_WHITE_BLUE, false, -5, 50, "Catchment Area"},
        {15, 9, SG_COLORS_YELLOW_RED, false, 0, 0.5, "%"},
        {17, 0, SG_COLORS_DEFAULT, false, -5, 50, ""},
        {18, 15, SG_COLORS_RED_GREY_BLUE, true, -5, 50, "KWh/m^2"},
    };
    for (const Case& k : cases) {
        CMapData map(nullptr);
        SetStatistics(map, -5, 50, 10, 20);
        ASSERT_EQ(map.SetMapType(k.type), 1) << k.type;
        EXPECT_EQ(map.m_colors.m_paletteIndex, k.palette) << k.type;
        EXPECT_EQ(map.m_colors.m_bRevert, k.revert) << k.type;
        EXPECT_TRUE(SameColours(map.m_colors, CSG_Colors(100, k.saga, k.revert))) << k.type;
        EXPECT_EQ(*map.m_pRangeMin, k.low) << k.type;
        EXPECT_EQ(*map.m_pRangeMax, k.high) << k.type;
        EXPECT_EQ(map.GetUnitName(), QString::fromUtf8(k.unit)) << k.type;
    }
    // Temperature within the statistics: mean +- 3 sd.
    CMapData narrow(nullptr);
    SetStatistics(narrow, -100, 100, 10, 2);
    narrow.SetMapType(12);
    EXPECT_EQ(*narrow.m_pRangeMin, 4.0);
    EXPECT_EQ(*narrow.m_pRangeMax, 16.0);
}

TEST(MapType, UnknownKindsChangeNothing) {
    CMapData map(nullptr);
    SetStatistics(map, 0, 1, 0.5, 0.1);
    ASSERT_EQ(map.SetMapType(15), 1);
    for (int type : {7, 1, 4, 11, 19, -1}) {
        EXPECT_EQ(map.SetMapType(type), 0) << type;
    }
    EXPECT_EQ(map.m_mapType, MapTypeSlope);
    EXPECT_EQ(map.m_colors.m_paletteIndex, 9);
    EXPECT_EQ(*map.m_pRangeMax, 0.5);
    // A new map carries the red-grey-blue ramp of 100 colours.
    CMapData fresh(nullptr);
    EXPECT_TRUE(SameColours(fresh.m_colors, CSG_Colors(100, SG_COLORS_RED_GREY_BLUE, false)));
    EXPECT_EQ(fresh.m_opacity, 1.0);
    EXPECT_EQ(fresh.m_imageDefId, -1);
    EXPECT_EQ(fresh.m_sampleWindow.size(), cv::Size(5, 5));
}

TEST(MapType, StoredCodes) {
    EXPECT_EQ(MapTypeToStoredCode(13), 0);
    EXPECT_EQ(MapTypeToStoredCode(14), 1);
    EXPECT_EQ(MapTypeToStoredCode(5), 2);
    EXPECT_EQ(MapTypeToStoredCode(15), 3);
    EXPECT_EQ(MapTypeToStoredCode(16), 4);
    for (int type : {1, 2, 4, 6, 7, 8, 12, 17, 18}) {
        int code = MapTypeToStoredCode(type);
        EXPECT_TRUE(code < 0 || code > 4) << type;
        // Kinds without a code of their own read back as "other".
        EXPECT_EQ(MapTypeFromStoredCode(code), MapTypeOther) << type;
    }
    const MapType back[] = {MapTypeLSFactor, MapTypeCatchment, MapTypeNDVI, MapTypeSlope, MapTypeWetness};
    for (int code = 0; code < 5; ++code) {
        EXPECT_EQ(MapTypeFromStoredCode(code), back[code]);
    }
    for (int code : {-1, 5, 17, 1000}) {
        EXPECT_EQ(MapTypeFromStoredCode(code), MapTypeOther);
    }
}

TEST(MapLayer, RecordCopiesAreIndependentAndValuesNeedADrawing) {
    MapLayerInfo info;
    info.title = "slope";
    info.path = "/data/Slope.TIF";
    info.ownPalette = 1;
    MapLayerInfo copy = info;
    info.title += "_2";
    info.path.clear();
    EXPECT_EQ(copy.title, "slope");
    EXPECT_EQ(copy.path, "/data/Slope.TIF");
    EXPECT_EQ(copy.ownPalette, 1);
    EXPECT_EQ(copy.noRepaint, 0);

    CMapData map(nullptr);
    map.m_display.values = cv::Mat(4, 4, CV_32FC1, cv::Scalar(2.5f));
    EXPECT_EQ(map.GetValueAt(nullptr, 0, 0), -9999.0f);
}
