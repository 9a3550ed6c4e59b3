// Byte layout of LAS headers, records and points, shared by the reader and the writer.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/las/Las.h"

static_assert(std::endian::native == std::endian::little, "LAS files are little-endian like this host");

namespace lasrecord {

// Fixed sizes of the public header by version and of the two record headers.
constexpr int kHeaderSize10 = 227;
constexpr int kHeaderSize13 = 235;
constexpr int kHeaderSize14 = 375;
constexpr int kVlrHeaderSize = 54;
constexpr int kEvlrHeaderSize = 60;

template <typename T>
T Get(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Put(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// A fixed-width text field: up to the first zero byte.
inline std::string GetText(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0) {
        ++n;
    }
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Writes the text cut to the width and padded with zero bytes.
inline void PutText(uint8_t* p, size_t width, const std::string& text) {
    std::memset(p, 0, width);
    std::memcpy(p, text.data(), std::min(width, text.size()));
}

// Decodes one point record of the header's format and record length.
void DecodePoint(const uint8_t* record, const LASheader& header, LASpoint* point);
// Encodes the point into a record of the header's format and record length.
void EncodePoint(const LASpoint& point, const LASheader& header, uint8_t* record);

}  // namespace lasrecord
