// Which files the open projects' layers use, so that a tool never writes its output over one.
#pragma once

#include <QString>

#include <initializer_list>

// Whether the path names the file of a layer of any open project: a DEM (or its mask), an
// orthophoto or a map. Paths are compared as the files they name (links followed, "." and ".." taken
// out); their case counts.
bool IsLoadedLayerFile(const QString& path);

// True, after telling the operator "The file is used by a loaded layer", when one of the paths is
// the file of a layer of an open project: a tool never writes over a file a layer reads.
bool RefuseLoadedLayerOutput(std::initializer_list<QString> paths);
