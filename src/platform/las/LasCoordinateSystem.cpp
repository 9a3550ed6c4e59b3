#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <gdal_frmts.h>
#include <ogr_srs_api.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/las/Las.h"
#include "platform/las/LasRecord.h"

namespace {

constexpr uint16_t kWktRecord = 2112;
constexpr uint16_t kGeoKeyDirectory = 34735;
constexpr uint16_t kGeoDoubleParams = 34736;
constexpr uint16_t kGeoAsciiParams = 34737;
// Bit 4 of the global encoding: the coordinate system is the WKT record (LAS 1.4).
constexpr uint16_t kWktEncoding = 1 << 4;
constexpr size_t kMaxGeoTiffBytes = size_t(1) << 20;

// The first projection record with that id, among the records before and after the points.
const LASvlr* FindRecord(const LASheader& header, uint16_t recordId) {
    for (const std::vector<LASvlr>* records : {&header.vlrs, &header.evlrs}) {
        for (const LASvlr& record : *records) {
            if (record.userId == "LASF_Projection" && record.recordId == recordId && !record.data.empty()) {
                return &record;
            }
        }
    }
    return nullptr;
}

// The coordinate system as GDAL writes WKT, or empty when the text is none it reads.
QString NormalWkt(const char* text) {
    QString wkt;
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    char* input = const_cast<char*>(text);
    char* output = nullptr;
    if (srs && OSRImportFromWkt(srs, &input) == OGRERR_NONE && OSRExportToWkt(srs, &output) == OGRERR_NONE) {
        wkt = QString::fromUtf8(output);
    }
    CPLFree(output);
    OSRDestroySpatialReference(srs);
    return wkt;
}

QString FromWktRecord(const LASheader& header) {
    const LASvlr* record = FindRecord(header, kWktRecord);
    if (!record) {
        return QString();
    }
    // The text without its terminating zero (or without one).
    const std::string text(reinterpret_cast<const char*>(record->data.data()),
                           strnlen(reinterpret_cast<const char*>(record->data.data()), record->data.size()));
    return NormalWkt(text.c_str());
}

// A one-pixel little-endian TIFF that carries the GeoTIFF tags as the records hold them: GDAL's
// GeoTIFF driver reads its keys with libgeotiff, user-defined systems included.
std::vector<uint8_t> TiffOfGeoKeys(const LASvlr& keys, const LASvlr* doubles, const LASvlr* ascii) {
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> data;  // more than four bytes: stored after the directory
        uint32_t value = 0;         // otherwise
    };
    auto shortEntry = [](uint16_t tag, uint32_t value) { return Entry{tag, 3, 1, {}, value}; };
    std::vector<Entry> entries = {shortEntry(256, 1), shortEntry(257, 1), shortEntry(258, 8),
                                  shortEntry(259, 1), shortEntry(262, 1), Entry{273, 4, 1, {}, 0},
                                  shortEntry(277, 1), shortEntry(278, 1), Entry{279, 4, 1, {}, 1}};
    std::vector<uint8_t> keyData(keys.data.begin(), keys.data.begin() + ptrdiff_t(keys.data.size() / 2 * 2));
    entries.push_back({kGeoKeyDirectory, 3, uint32_t(keyData.size() / 2), keyData});
    if (doubles && doubles->data.size() >= 8) {
        std::vector<uint8_t> d(doubles->data.begin(),
                               doubles->data.begin() + ptrdiff_t(doubles->data.size() / 8 * 8));
        entries.push_back({kGeoDoubleParams, 12, uint32_t(d.size() / 8), d});
    }
    if (ascii) {
        std::vector<uint8_t> text = ascii->data;
        if (text.back() != 0) {
            text.push_back(0);
        }
        entries.push_back({kGeoAsciiParams, 2, uint32_t(text.size()), text});
    }

    const uint32_t directory = 8;
    uint32_t next = directory + 2 + 12 * uint32_t(entries.size()) + 4;
    std::vector<uint8_t> tail;
    for (Entry& e : entries) {
        if (e.data.size() > 4) {
            e.value = next + uint32_t(tail.size());
            tail.insert(tail.end(), e.data.begin(), e.data.end());
            if (tail.size() % 2) {
                tail.push_back(0);
            }
        } else if (!e.data.empty()) {
            std::memcpy(&e.value, e.data.data(), e.data.size());
        }
    }
    entries[5].value = next + uint32_t(tail.size());  // the pixel, after everything else
    tail.push_back(0);

    std::vector<uint8_t> tiff(next);
    const uint8_t head[8] = {'I', 'I', 42, 0, uint8_t(directory), 0, 0, 0};
    std::memcpy(tiff.data(), head, sizeof head);
    lasrecord::Put<uint16_t>(tiff.data() + directory, uint16_t(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* p = tiff.data() + directory + 2 + 12 * i;
        lasrecord::Put<uint16_t>(p, entries[i].tag);
        lasrecord::Put<uint16_t>(p + 2, entries[i].type);
        lasrecord::Put<uint32_t>(p + 4, entries[i].count);
        lasrecord::Put<uint32_t>(p + 8, entries[i].value);
    }
    tiff.insert(tiff.end(), tail.begin(), tail.end());
    return tiff;
}

QString FromGeoKeys(const LASheader& header) {
    const LASvlr* keys = FindRecord(header, kGeoKeyDirectory);
    const LASvlr* doubles = FindRecord(header, kGeoDoubleParams);
    const LASvlr* ascii = FindRecord(header, kGeoAsciiParams);
    // The three records of a GeoTIFF system fit in a record of LAS 1.0 (65535 bytes) each; far
    // larger ones (records after the points may be) are no such system.
    size_t bytes = 0;
    for (const LASvlr* record : {keys, doubles, ascii}) {
        bytes += record ? record->data.size() : 0;
    }
    if (!keys || keys->data.size() < 8 || bytes > kMaxGeoTiffBytes) {
        return QString();
    }
    std::vector<uint8_t> tiff = TiffOfGeoKeys(*keys, doubles, ascii);
    if (!GDALGetDriverByName("GTiff")) {
        GDALRegister_GTiff();
    }
    static std::atomic<unsigned> serial{0};
    const QByteArray name = QByteArray("/vsimem/kv_las_geokeys_") + QByteArray::number(++serial) + ".tif";
    VSILFILE* file = VSIFileFromMemBuffer(name.constData(), tiff.data(), vsi_l_offset(tiff.size()), FALSE);
    if (!file) {
        return QString();
    }
    VSIFCloseL(file);
    const char* const drivers[] = {"GTiff", nullptr};
    GDALDatasetH ds =
        GDALOpenEx(name.constData(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr);
    QString wkt;
    if (ds) {
        const char* projection = GDALGetProjectionRef(ds);
        wkt = projection && *projection ? NormalWkt(projection) : QString();
        GDALClose(ds);
    }
    VSIUnlink(name.constData());
    return wkt;
}

}  // namespace

QString LasCoordinateSystem(const LASheader& header) {
    // Records that GDAL cannot read are no coordinate system, not an error of the file.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    QString wkt;
    if (header.globalEncoding & kWktEncoding) {
        wkt = FromWktRecord(header);
        if (wkt.isEmpty()) {
            wkt = FromGeoKeys(header);
        }
    } else {
        wkt = FromGeoKeys(header);
        if (wkt.isEmpty()) {
            wkt = FromWktRecord(header);
        }
    }
    CPLPopErrorHandler();
    return wkt;
}
