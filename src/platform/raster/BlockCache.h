// GDAL's block cache held small while a piece of work streams through a large raster.
#pragma once

#include <gdal.h>

namespace kv {

// Keeps GDAL's block cache at most the given size while it lives (the blocks beyond it leave at
// once) and gives it back its size.
class BlockCacheCap {
public:
    explicit BlockCacheCap(GIntBig bytes) : m_previous(GDALGetCacheMax64()) {
        if (bytes < m_previous) {
            GDALSetCacheMax64(bytes);
        }
    }
    ~BlockCacheCap() { GDALSetCacheMax64(m_previous); }
    BlockCacheCap(const BlockCacheCap&) = delete;
    BlockCacheCap& operator=(const BlockCacheCap&) = delete;

private:
    GIntBig m_previous;
};

}  // namespace kv
