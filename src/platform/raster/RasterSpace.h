// Room on the disk for a new raster: the bytes its cells take uncompressed against the space free
// in the folder that is to hold it. Every tool that creates a raster file asks before it writes,
// so that a raster too large for the disk is refused at once instead of failing after gigabytes.
#pragma once

#include <gdal.h>

#include <QString>

namespace kv {

// The bytes of columns x rows cells of the bands, uncompressed.
double RasterBytes(double columns, double rows, int bands, GDALDataType type);

// Whether a raster of that size fits in the space free for this user in the folder of path (true
// when that space cannot be told). When it does not, *message (when given) says so for the
// operator, and the write layer notes the same text as the reason of the failure
// (kv::NoteWriteFailure).
bool RasterFitsOnDisk(const QString& path, double columns, double rows, int bands, GDALDataType type,
                      QString* message = nullptr);

}  // namespace kv
