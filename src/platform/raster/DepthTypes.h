// The one correspondence between OpenCV image depths and GDAL data types: a buffer of an image of
// that depth holds cells of exactly that GDAL type, so a raster read or write with it needs no
// conversion.
#pragma once

#include <gdal.h>
#include <opencv2/core/hal/interface.h>

namespace kv {

// The GDAL data type of an image depth; GDT_Unknown for a depth GDAL has no type for.
inline GDALDataType GDALTypeOfDepth(int depth) {
    switch (depth) {
        case CV_8U:
            return GDT_Byte;
        case CV_16U:
            return GDT_UInt16;
        case CV_16S:
            return GDT_Int16;
        case CV_32S:
            return GDT_Int32;
        case CV_32F:
            return GDT_Float32;
        case CV_64F:
            return GDT_Float64;
        default:
            return GDT_Unknown;
    }
}

}  // namespace kv
