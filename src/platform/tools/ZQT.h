// Tools library: message pumping, the per-user profile, special folders, unique paths, number
// parsing and printing, version information, shell execution, the splash screen and descriptions
// of the workstation. Texts are UTF-8 where a C string is taken or given.
//
// Everything here runs without a QApplication (the core library), except the functions marked
// "needs the user interface": the user-interface library implements them (ZQTWidgets.cpp).
#pragma once

#include <QString>
#include <QStringList>

class QPixmap;
class QPaintDevice;
class QWidget;

// Special folder identifiers the program asks for.
enum : int {
    CSIDL_PERSONAL = 5,         // the user's documents
    CSIDL_APPDATA = 26,         // per-user application settings
    CSIDL_LOCAL_APPDATA = 28,   // per-user local data (crash reports live below it)
    CSIDL_COMMON_APPDATA = 35,  // the program's working folder
};

// Dispatches every pending event of the calling thread and returns. Safe to call from inside
// another pump (a worker started from a dialog inside another worker's pump).
void ZQT_PumpMessages();

// Per-user profile: one group per section. A read copies at most size - 1 characters (the text is
// cut on a character boundary and always terminated) and returns the length copied.
int ZQT_GetUserProfileString(const char* section, const char* key, const char* def, char* buffer, int size);
QString ZQT_GetUserProfileString(const QString& section, const QString& key, const QString& def);
int ZQT_WriteUserProfileString(const char* section, const char* key, const char* value);
int ZQT_WriteUserProfileString(const QString& section, const QString& key, const QString& value);

// The folder of a special-folder identifier, created when missing. Empty text / 0 on failure.
QString ZQT_GetSpecialFolder(int csidl, int create = 1, int flag = 1);
int ZQT_GetSpecialFolder(char* buffer, int size, int csidl, int create, int flag);

// A full path in the folder, with the extension ("tif" or ".tif"), of a file that does not exist.
QString ZQT_GetRandomFilePath(const QString& folder, const QString& extension);

// Non-zero when the whole text (blanks around it allowed) is a number; the value is written only then.
int ZQT_StringToDouble(const QString& text, double* value);
int ZQT_StringToInt(const QString& text, int* value);
// "1"/"0", "true"/"false", "yes"/"no", "on"/"off" in any case.
int ZQT_StringToBoolean(const QString& text, int* value);

// The value with that many decimals; returns the length written (always terminated).
int ZQT_DoubleToString(double value, int decimals, char* buffer, int size);
QString ZQT_DoubleToString(double value, int decimals);

// Version of a module ("1,0,0,0" style is accepted by the callers). module == nullptr: the program.
int ZQT_GetVersionInfo(const char* module, QString* version, QString* text);

// Opens the file or address with its associated program. Non-zero on success. Needs the user
// interface.
int ZQT_ShellExecute(const QString& verb, const QString& file, const QString& parameters, int show);

// Shows the picture for the given time without blocking. Needs the user interface.
void ZQT_ShowSplashScreen(const QPixmap& bitmap, int milliseconds);
// Closes and deletes the picture at once if it is still shown: the start-up it belongs to ends.
void ZQT_CloseSplashScreen();

QString ZQT_GetCurrentSysDate(int flag = 0, int flag2 = 0);
QString ZQT_GetCurrentSysTime();

// Size of a file in bytes, -1 when it does not exist.
qint64 ZQT_GetFileSize(const QString& path);

// The path of "to" relative to "from". A flag of 0x10 says that the path is a folder, otherwise it
// is a file and its folder is the base. Non-zero on success.
int ZQT_GetRelativePath(const QString& from, int fromFlag, const QString& to, int toFlag, QString* result);

QString ZQT_GetOSInfo();
QString ZQT_GetRAMInfo();
// The primary screen's size and colour depth, empty without a screen. Need the user interface.
QString ZQT_GetResolution();
QString ZQT_GetPixelDepth();
int ZQT_GetDisplayAdaptersList(QStringList* list);

// The folder path normalised, with forward separators and ending in one separator.
QString ZQT_OptimizePath(const QString& path, int endWithSeparator = 1);
// Deletes the folder tree. Non-zero on success.
int ZQT_DeleteDirectory(const QString& folder);
// The folder the operator picks, empty when refused. Needs the user interface.
QString ZQT_PickFolderPath(const QString& title, const QString& initialFolder, QWidget* parent);
// Non-zero when the name can NOT be used as a file name.
int ZQT_IsValidFileName(const QString& name);
// The library's stopwatch: started before a long run, read in milliseconds.
void ZQT_StartTimer();
qint64 ZQT_GetElapsedTime();
// Writes the picture of a paint device (an image, a pixmap or a widget) to a BMP file. Non-zero on
// success. Needs the user interface.
int ZQT_CaptureWindow(QPaintDevice* device, const QString& path);
// Splits the text at the separator; returns the number of parts.
int ZQT_ParseString(const QString& text, const QString& separator, QStringList* out);

// The version text cut before its third dot, commas taken as dots ("4,2,1,0" -> "4.2.1").
QString ZQT_CutVersion(const QString& version);

// Test seams: where the profile file and the special folders live. An empty text restores the
// defaults. The program itself never calls these.
void ZQT_SetUserProfilePath(const QString& iniFile);
QString ZQT_GetUserProfilePath();
void ZQT_SetSpecialFolderRoot(const QString& folder);
