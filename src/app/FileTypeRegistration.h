// Registers the project file type with the desktop: a desktop entry that opens "*.kvp" files with
// this program, the MIME type "application/x-kelvaro-document" ("Kelvaro Files") and the program
// icon, all under the user's data folder (XDG_DATA_HOME: applications/, mime/packages/,
// icons/hicolor/). Written at every start so that a moved program stays the one that opens projects.
#pragma once

#include <QString>

// The desktop file name of the program, also its application identifier.
inline constexpr const char* kKelvaroAppId = "DrovaneSoftware.Kelvaro";

// dataFolder: the user's data folder; programPath: the program file the entry starts.
// Non-zero when every file is in place.
int RegisterShellFileTypes(const QString& dataFolder, const QString& programPath);

// The desktop entry's Exec value for a program path (quoted and escaped as desktop entries want).
QString DesktopExecValue(const QString& programPath);
