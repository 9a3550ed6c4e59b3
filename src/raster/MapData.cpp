#include "raster/MapData.h"

#include <algorithm>
#include <cmath>

#include "raster/DEM.h"
#include "raster/ShownValues.h"

namespace {

// Kinds with a stored code of their own, in code order.
constexpr MapType kStoredKinds[] = {MapTypeLSFactor, MapTypeCatchment, MapTypeNDVI, MapTypeSlope,
                                    MapTypeWetness};

}  // namespace

int MapTypeToStoredCode(int mapType) {
    for (int code = 0; code < 5; ++code) {
        if (kStoredKinds[code] == mapType) {
            return code;
        }
    }
    return -1;
}

MapType MapTypeFromStoredCode(int code) {
    return code >= 0 && code < 5 ? kStoredKinds[code] : MapTypeOther;
}

CMapData::CMapData(CKelvaroDoc* owner) : m_pDoc(owner), m_colors(100, 15, false) {
    m_sampleWindow.create(m_sampleWindowSize, m_sampleWindowSize, CV_32FC1);
}

CMapData::~CMapData() {
    EraseLayerEntity(m_imageEntity);
    EraseLayerEntity(m_secondEntity);
    if (m_pDataset) {
        GDALClose(m_pDataset);
    }
}

int CMapData::SetMapType(int type) {
    if (type != MapTypeNDVI && type != MapTypeSAVI && (type < MapTypeTemperature || type > MapTypeEnergy)) {
        return 0;
    }
    auto stat = [](const std::unique_ptr<double>& value) { return value ? *value : 0.0; };
    const double minimum = stat(m_pMin);
    const double maximum = stat(m_pMax);
    const double mean = stat(m_pMean);
    const double sd = stat(m_pStdDev);
    int palette = 0;
    bool revert = false;
    double low = minimum;
    double high = maximum;
    switch (type) {
        case MapTypeNDVI:
        case MapTypeSAVI:
            palette = 18;
            revert = true;
            low = -1.0;
            high = 1.0;
            break;
        case MapTypeTemperature:
            palette = 21;
            revert = true;
            low = std::max(minimum, mean - 3 * sd);
            high = std::min(maximum, mean + 3 * sd);
            break;
        case MapTypeLSFactor:
            palette = 16;
            revert = true;
            low = 0.0;
            high = std::min(maximum, mean + 3 * sd);
            break;
        case MapTypeCatchment:
            palette = 8;
            high = std::min(maximum, mean + 3 * sd);
            break;
        case MapTypeSlope:
            palette = 9;
            low = 0.0;
            high = 0.5;
            break;
        case MapTypeWetness:
            palette = 15;
            low = mean - 2 * sd;
            high = mean + 2 * sd;
            break;
        case MapTypeEnergy:
            palette = 15;
            revert = true;
            break;
        default:  // other
            break;
    }
    m_mapType = static_cast<MapType>(type);
    m_colors.m_bInvert = false;
    m_colors.Set_Palette(palette, revert, 100);
    m_pRangeMin = std::make_unique<double>(low);
    m_pRangeMax = std::make_unique<double>(high);
    return 1;
}

QString CMapData::GetUnitName() const {
    switch (m_mapType) {
        case MapTypeNDVI:
            return QStringLiteral("NDVI");
        case MapTypeSAVI:
            return QStringLiteral("SAVI");
        case MapTypeTemperature:
            return QStringLiteral("°C");
        case MapTypeLSFactor:
            return QStringLiteral("LS Factor");
        case MapTypeCatchment:
            return QStringLiteral("Catchment Area");
        case MapTypeSlope:
            return QStringLiteral("%");
        case MapTypeWetness:
            return QStringLiteral("Wetness");
        case MapTypeEnergy:
            return QStringLiteral("KWh/m^2");
        default:
            return QString();
    }
}

float CMapData::GetValueAt(CadDrawing* drawing, double x, double y) {
    if (!drawing || !m_pDataset || m_display.values.empty() ||
        !IsLayerImageShown(drawing, m_imageEntity, m_name)) {
        return kNoData;
    }
    const cv::Size size(GDALGetRasterXSize(m_pDataset), GDALGetRasterYSize(m_pDataset));
    cv::Point cell;
    if (!CellOfPosition(m_geoTransform, size, x, y, &cell)) {
        return kNoData;
    }
    GDALRasterBandH band = GDALGetRasterBand(m_pDataset, 1);
    const float v = m_display.CellValue(m_pDataset, size, cell, [band](const cv::Rect& rect, cv::Mat& cells) {
        if (!band ||
            GDALRasterIO(band, GF_Read, rect.x, rect.y, rect.width, rect.height, cells.data, rect.width,
                         rect.height, GDT_Float32, 0, static_cast<int>(cells.step)) != CE_None) {
            return false;
        }
        kv::ShownValues(band).InPlace(cells, kNoData);
        return true;
    });
    return IsNoData(v) ? kNoData : v;
}
