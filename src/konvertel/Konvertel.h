// The drawing converter: converts between the engine's ".vec" drawings and DXF, and reads DWG
// where GDAL can. The program is started with the input path, the output path and a caption:
// as one argument "\"input\"|\"output\"|\"caption\"" (three quoted texts joined by vertical
// bars) or as three separate arguments. The kinds follow the extensions: ".dxf" and ".dwg" (any
// case), anything else a native drawing. Writing DWG is refused.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

struct KonvertelArguments {
    QString input;
    QString output;
    QString caption;
};

// The three texts of the command line (the arguments after the program's own name).
bool KonvertelParseArguments(const QStringList& args, KonvertelArguments* out);

// Converts input to output. The output appears only when the conversion is complete; an
// existing output survives a failure. Non-zero on success; *message says why it failed, or
// notes what was left out of a successful conversion.
int KonvertelConvert(const QString& input, const QString& output, std::string* message);

// The program: arguments as main() gets them; the exit status (0 on success).
int KonvertelMain(const QStringList& args);
