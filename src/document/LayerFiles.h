// Which files the open projects' layers use, so that a tool never writes its output over one.
#pragma once

#include <QString>

// Whether the path names the file of a layer of any open project: a DEM (or its mask), an
// orthophoto or a map. Paths are compared as the files they name (links followed, "." and ".." taken
// out); their case counts.
bool IsLoadedLayerFile(const QString& path);
