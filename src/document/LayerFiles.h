// Which files the open projects' layers use, so that a tool never writes its output over one,
// nor over a file it reads itself.
#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>

// What the operator is told of an output refused over a layer's file or a command's own input.
extern const char kLayerFileInUse[];

// Whether the two paths name the same file: for two files that exist, the same file on the disk
// (links followed, hard links too); otherwise the same path once made absolute, with links
// followed and "." and ".." taken out. Case counts. False when either path is empty.
bool IsSameFile(const QString& first, const QString& second);

// Whether the path names the file of a layer of any open project: a DEM (or its mask), an
// orthophoto or a map. Paths are compared as files (IsSameFile).
bool IsLoadedLayerFile(const QString& path);

// True, after telling the operator "The file is used by a loaded layer", when one of the paths is
// the file of a layer of an open project: a tool never writes over a file a layer reads.
bool RefuseLoadedLayerOutput(std::initializer_list<QString> paths);

// Whether one of the outputs is the file of a layer of an open project or one of the inputs: the
// test of RefuseOutputOverInputs, for a caller that reports the refusal in its own words.
bool OutputOverInputs(const QStringList& outputs, const QStringList& inputs);

// What the operator is told of an output refused because a layer or the command reads it.
QString FileInUseText();

// The check every command that writes files makes once it knows its outputs and before it writes
// anything: true, after telling the operator "The file is used by a loaded layer", when one of
// the outputs is the file of a layer of an open project (as RefuseLoadedLayerOutput) or one of
// the command's own input files, whether loaded as layers or only chosen for this run (the point
// files gridded into a DEM, the raster resized, a drawing read). Files are compared with
// IsSameFile, so another spelling of the same path or a link to the file is refused too. The
// message is the same for both cases: to the operator the input is in use as well. A caller that
// asks for the output in a chooser opens the chooser again after a refusal (ChooseOutputFile of
// the DEM tools does so); a caller that derives the output name from its input stops.
//
//   if (RefuseOutputOverInputs({output}, {sourcePath})) { return; }
//   if (RefuseOutputOverInputs({picture, report}, chosenFiles)) { return; }
bool RefuseOutputOverInputs(const QStringList& outputs, const QStringList& inputs);

// Asks for the file a command writes, with a save chooser of the filter (in Qt's form) opening at
// path (a folder or a proposed file; the chooser's own choice when empty). A name without a
// suffix gets defaultSuffix (none when empty). The name is checked first: the file of a layer of
// any open project, or one of the command's own input files, is refused with "The file is used by
// a loaded layer" (RefuseOutputOverInputs) and the chooser opens again; only a name that passes is
// asked about when its file exists ("... already exists. Do you want to replace it?"), and a No
// opens the chooser again. Empty when cancelled.
QString ChooseOutputFile(const QString& filter, const QString& defaultSuffix,
                         const QStringList& inputs = QStringList(), const QString& path = QString());
