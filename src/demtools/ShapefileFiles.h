// The files of an ESRI shapefile as the contour tools write them: removed together, and a new
// shapefile put in place of an old one as one set.
#pragma once

#include <QString>

// Removes the files of the shapefile at shp: the .shp and the files of the same base name that the
// driver writes or reads with it.
void RemoveShapefile(const QString& shp);

// Puts the finished shapefile written at the .shp path finished in place of the one at shp, as
// one set (kv::PlaceFileSet): a reader opens the .shp and needs its index and records, so
// whatever stops the replacement leaves the old files, the new ones, or no .shp. The old files
// that the new shapefile lacks (a projection, a code page, a spatial index) go. False, with the
// old files back and the finished ones removed, when it fails.
bool PlaceShapefile(const QString& finished, const QString& shp);
