#include "konvertel/Konvertel.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <memory>

#include "konvertel/DwgReader.h"
#include "konvertel/DxfReader.h"
#include "konvertel/DxfWriter.h"
#include "platform/cad/Cad.h"

namespace {

enum class DrawingKind { Native, Dxf, Dwg };

DrawingKind KindOf(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == "dxf")
        return DrawingKind::Dxf;
    if (ext == "dwg")
        return DrawingKind::Dwg;
    return DrawingKind::Native;
}

// "\"a\"|\"b\"|\"c\"": a quoted text ends at the quote that is followed by a bar and a quote,
// or by the end, so that quotes inside a path do not cut it short.
bool ParseBarred(const QString& line, QStringList& parts) {
    parts.clear();
    const QString s = line.trimmed();
    if (!s.startsWith('"')) {
        parts = s.split('|');
        return parts.size() == 3;
    }
    qsizetype at = 0;
    while (at < s.size()) {
        if (s[at] != '"')
            return false;
        qsizetype end = -1;
        for (qsizetype k = at + 1; k < s.size(); ++k) {
            if (s[k] != '"')
                continue;
            if (k + 1 == s.size() || (s.mid(k + 1, 2) == "|\"" && parts.size() < 2)) {
                end = k;
                break;
            }
        }
        if (end < 0)
            return false;
        parts << s.mid(at + 1, end - at - 1);
        at = end + 1;
        if (at < s.size()) {
            if (s[at] != '|')
                return false;
            ++at;
        }
    }
    return parts.size() == 3;
}

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};

}  // namespace

bool KonvertelParseArguments(const QStringList& args, KonvertelArguments* out) {
    QStringList parts;
    if (args.size() == 1) {
        if (!ParseBarred(args[0], parts))
            return false;
    } else if (args.size() == 3 && !args[0].startsWith('"')) {
        parts = args;
    } else if (args.size() >= 2) {
        // The barred line split at its spaces by whatever started us.
        if (!ParseBarred(args.join(' '), parts))
            return false;
    } else {
        return false;
    }
    if (parts[0].isEmpty() || parts[1].isEmpty())
        return false;
    out->input = parts[0];
    out->output = parts[1];
    out->caption = parts[2];
    return true;
}

int KonvertelConvert(const QString& input, const QString& output, std::string* message) {
    auto fail = [&](const std::string& why) {
        if (message)
            *message = why;
        return 0;
    };
    const DrawingKind from = KindOf(input), to = KindOf(output);
    if (to == DrawingKind::Dwg)
        return fail("DWG files cannot be written: export to a DXF file instead");
    if (!QFileInfo(input).isFile())
        return fail("the input file does not exist: " + input.toStdString());
    if (!QFileInfo(QFileInfo(output).absolutePath()).isDir())
        return fail("the output folder does not exist: " + QFileInfo(output).absolutePath().toStdString());

    std::unique_ptr<CadDrawing, DrawingDeleter> drawing(CadCreate());
    std::string error, note;
    switch (from) {
        case DrawingKind::Dxf: {
            DxfReadReport report;
            if (!DxfReadDrawing(input, drawing.get(), &error, &report))
                return fail("cannot read " + input.toStdString() + ": " + error);
            if (report.skipped > 0)
                note = std::to_string(report.skipped) +
                       " entities of kinds a drawing cannot hold were left out (" + report.skippedKinds + ")";
            break;
        }
        case DrawingKind::Dwg:
            if (!DwgReadDrawing(input, drawing.get(), &error))
                return fail("cannot read " + input.toStdString() + ": " + error);
            break;
        case DrawingKind::Native:
            if (!CadFileOpen(drawing.get(), 0, input.toUtf8().constData()))
                return fail("cannot read " + input.toStdString() + ": not a drawing, or a damaged one");
            break;
    }

    if (to == DrawingKind::Dxf) {
        DxfWriteReport report;
        if (!DxfWriteDrawing(drawing.get(), output, &error, &report))
            return fail(error);
        if (report.skipped > 0)
            note += (note.empty() ? "" : "; ") + std::to_string(report.skipped) +
                    " entities were left out (image places: DXF keeps no pixels of ours)";
    } else if (!CadFileSaveAs(drawing.get(), 0, output.toUtf8().constData())) {
        return fail("cannot write " + output.toStdString());
    }
    if (message)
        *message = note;
    return 1;
}

int KonvertelMain(const QStringList& args) {
    KonvertelArguments a;
    if (!KonvertelParseArguments(args, &a)) {
        std::fprintf(stderr,
                     "Konvertel: expected \"input\"|\"output\"|\"caption\" (or the three as separate "
                     "arguments)\n");
        return 1;
    }
    std::string message;
    const int ok = KonvertelConvert(a.input, a.output, &message);
    const std::string caption = a.caption.toStdString();
    if (!message.empty())
        std::fprintf(stderr, "Konvertel%s%s: %s\n", caption.empty() ? "" : " ", caption.c_str(),
                     message.c_str());
    return ok ? 0 : 2;
}
