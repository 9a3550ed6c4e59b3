// The program's version as the operator sees it.
#pragma once

#include <QString>

// The version from the tools library with commas as dots, cut before its third dot ("4.2.1.0"
// gives "4.2.1"; a version with fewer dots stays whole).
QString KvGetCutVersion();
