#include "platform/las/LasRecord.h"

#include <algorithm>

namespace {

// Where the optional fields of each point format start (-1: the format has none).
struct PointLayout {
    int size;
    int gps;
    int rgb;
    int nir;
    int wave;
};

constexpr PointLayout kLayouts[11] = {
    {20, -1, -1, -1, -1}, {28, 20, -1, -1, -1}, {26, -1, 20, -1, -1}, {34, 20, 28, -1, -1},
    {57, 20, -1, -1, 28}, {63, 20, 28, -1, 34}, {30, 22, -1, -1, -1}, {36, 22, 30, -1, -1},
    {38, 22, 30, 36, -1}, {59, 22, -1, -1, 30}, {67, 22, 30, 36, 38},
};

constexpr size_t kWaveSize = sizeof(LASpoint::wavePacket);

}  // namespace

int LASheader::PointSize(int format) {
    return format >= 0 && format <= 10 ? kLayouts[format].size : 0;
}

int LASheader::ExtraBytes() const {
    return std::max(0, int(pointDataRecordLength) - PointSize(pointDataFormat));
}

void LASheader::AddVlr(const std::string& userId, uint16_t recordId, const std::vector<uint8_t>& data,
                       const std::string& description) {
    vlrs.push_back(LASvlr{userId, recordId, description, data});
}

namespace lasrecord {

using std::min;

void DecodePoint(const uint8_t* r, const LASheader& header, LASpoint* p) {
    const PointLayout& L = kLayouts[header.pointDataFormat];
    p->X = Get<int32_t>(r);
    p->Y = Get<int32_t>(r + 4);
    p->Z = Get<int32_t>(r + 8);
    p->intensity = Get<uint16_t>(r + 12);
    if (header.pointDataFormat < 6) {
        uint8_t bits = r[14];
        p->returnNumber = bits & 7;
        p->numberOfReturns = (bits >> 3) & 7;
        p->scanDirectionFlag = (bits >> 6) & 1;
        p->edgeOfFlightLine = (bits >> 7) & 1;
        p->classification = r[15] & 31;
        p->classificationFlags = r[15] >> 5;
        p->scannerChannel = 0;
        p->scanAngle = Get<int8_t>(r + 16);
        p->userData = r[17];
        p->pointSourceId = Get<uint16_t>(r + 18);
    } else {
        p->returnNumber = r[14] & 15;
        p->numberOfReturns = r[14] >> 4;
        p->classificationFlags = r[15] & 15;
        p->scannerChannel = (r[15] >> 4) & 3;
        p->scanDirectionFlag = (r[15] >> 6) & 1;
        p->edgeOfFlightLine = (r[15] >> 7) & 1;
        p->classification = r[16];
        p->userData = r[17];
        p->scanAngle = Get<int16_t>(r + 18);
        p->pointSourceId = Get<uint16_t>(r + 20);
    }
    p->gpsTime = L.gps >= 0 ? Get<double>(r + L.gps) : 0.0;
    p->rgb = {};
    if (L.rgb >= 0) {
        for (int i = 0; i < 3; ++i) {
            p->rgb[i] = Get<uint16_t>(r + L.rgb + 2 * i);
        }
    }
    if (L.nir >= 0) {
        p->rgb[3] = Get<uint16_t>(r + L.nir);
    }
    p->wavePacket = {};
    if (L.wave >= 0) {
        std::memcpy(p->wavePacket.data(), r + L.wave, kWaveSize);
    }
    p->extraBytes.assign(r + L.size, r + header.pointDataRecordLength);
}

void EncodePoint(const LASpoint& p, const LASheader& header, uint8_t* r) {
    const PointLayout& L = kLayouts[header.pointDataFormat];
    std::memset(r, 0, header.pointDataRecordLength);
    Put<int32_t>(r, p.X);
    Put<int32_t>(r + 4, p.Y);
    Put<int32_t>(r + 8, p.Z);
    Put<uint16_t>(r + 12, p.intensity);
    if (header.pointDataFormat < 6) {
        r[14] = uint8_t((p.returnNumber & 7) | ((p.numberOfReturns & 7) << 3) |
                        ((p.scanDirectionFlag & 1) << 6) | ((p.edgeOfFlightLine & 1) << 7));
        r[15] = uint8_t((p.classification & 31) | ((p.classificationFlags & 7) << 5));
        Put<int8_t>(r + 16, int8_t(std::clamp<int>(p.scanAngle, -128, 127)));
        r[17] = p.userData;
        Put<uint16_t>(r + 18, p.pointSourceId);
    } else {
        r[14] = uint8_t((p.returnNumber & 15) | ((p.numberOfReturns & 15) << 4));
        r[15] = uint8_t((p.classificationFlags & 15) | ((p.scannerChannel & 3) << 4) |
                        ((p.scanDirectionFlag & 1) << 6) | ((p.edgeOfFlightLine & 1) << 7));
        r[16] = p.classification;
        r[17] = p.userData;
        Put<int16_t>(r + 18, p.scanAngle);
        Put<uint16_t>(r + 20, p.pointSourceId);
    }
    if (L.gps >= 0) {
        Put<double>(r + L.gps, p.gpsTime);
    }
    if (L.rgb >= 0) {
        for (int i = 0; i < 3; ++i) {
            Put<uint16_t>(r + L.rgb + 2 * i, p.rgb[i]);
        }
    }
    if (L.nir >= 0) {
        Put<uint16_t>(r + L.nir, p.rgb[3]);
    }
    if (L.wave >= 0) {
        std::memcpy(r + L.wave, p.wavePacket.data(), kWaveSize);
    }
    // A point without extra bytes has no buffer to copy from (its data() may be null).
    const size_t extra = min(header.pointDataRecordLength - size_t(L.size), p.extraBytes.size());
    if (extra > 0) {
        std::memcpy(r + L.size, p.extraBytes.data(), extra);
    }
}

}  // namespace lasrecord
