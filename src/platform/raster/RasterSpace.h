// Room on the disk for a new raster: whether its folder takes files at all, and the bytes its
// cells take uncompressed against the space free there. Every tool that creates a raster file
// asks before it writes, so that a raster the disk cannot take is refused at once, with its cause,
// instead of failing after gigabytes.
#pragma once

#include <gdal.h>

#include <QString>

namespace kv {

// The bytes of columns x rows cells of the bands, uncompressed.
double RasterBytes(double columns, double rows, int bands, GDALDataType type);

// Why a new file beside path cannot be written, in the system's words ("Read-only file system",
// "Permission denied", "No space left on device"): a small file of the program's own is written
// beside it through the write layer and removed again. Empty when it could be written. A failure
// is noted as the reason of the failed write (kv::NoteWriteFailure), so it names the cause of a
// library's write that failed without telling why.
QString WriteRefusal(const QString& path);

// Whether a raster of that size can be created at path: its folder takes a new file
// (WriteRefusal) and the space free there for this user holds the cells (true when the disk
// cannot be told, a folder that does not exist among them). When it cannot, *message (when given)
// says why for the operator: a folder that cannot be written is named as such, and space only
// when it is short. The write layer notes the same text as the reason of the failure.
bool RasterFitsOnDisk(const QString& path, double columns, double rows, int bands, GDALDataType type,
                      QString* message = nullptr);

}  // namespace kv
