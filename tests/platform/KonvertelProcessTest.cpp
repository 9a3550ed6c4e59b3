// The converter program as the application starts it: a separate process with the input, the
// output and a caption, converting both ways; refused conversions leave no output and keep an
// existing target.
#include <QDir>
#include <QFile>
#include <QProcess>

#include <memory>

#include <gtest/gtest.h>

#include "konvertel/DxfReader.h"
#include "konvertel/Konvertel.h"
#include "platform/cad/Cad.h"
#include "support/TestEnv.h"

namespace {

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};
using Drawing = std::unique_ptr<CadDrawing, DrawingDeleter>;

struct ConverterRun {
    int exitCode = -1;
    QString errors;
};

// Starts the converter with "input"|"output"|"caption" as its one argument.
ConverterRun Convert(const QString& input, const QString& output, const QString& caption) {
    QProcess p;
    p.start(QStringLiteral(KV_KONVERTEL_EXE), {'"' + input + "\"|\"" + output + "\"|\"" + caption + '"'});
    ConverterRun r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.errors = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

int CountVec(const QString& path) {
    Drawing d(CadCreate());
    return CadFileOpen(d.get(), 0, path.toUtf8().constData()) ? CadCountEntities(d.get()) : -1;
}

}  // namespace

TEST(Konvertel, CommandLineTakesThreeQuotedTextsJoinedByBarsOrThreeArguments) {
    KonvertelArguments a;
    ASSERT_TRUE(KonvertelParseArguments({"\"/a b/in.dxf\"|\"/c/out.vec\"|\"Import...\""}, &a));
    EXPECT_EQ(a.input, "/a b/in.dxf");
    EXPECT_EQ(a.output, "/c/out.vec");
    EXPECT_EQ(a.caption, "Import...");
    // Split at its spaces by a shell, the line is joined again.
    ASSERT_TRUE(KonvertelParseArguments({"\"/a", "b/in.dxf\"|\"/c/out.vec\"|\"Export...\""}, &a));
    EXPECT_EQ(a.input, "/a b/in.dxf");
    EXPECT_EQ(a.caption, "Export...");
    // A quote inside a path does not end it; an empty caption is allowed.
    ASSERT_TRUE(KonvertelParseArguments({"\"/x/say \"hi\".dxf\"|\"/y|z.vec\"|\"\""}, &a));
    EXPECT_EQ(a.input, "/x/say \"hi\".dxf");
    EXPECT_EQ(a.output, "/y|z.vec");
    EXPECT_EQ(a.caption, "");
    ASSERT_TRUE(KonvertelParseArguments({"/in.dxf", "/out.vec", "Import..."}, &a));
    EXPECT_EQ(a.output, "/out.vec");

    EXPECT_FALSE(KonvertelParseArguments({}, &a));
    EXPECT_FALSE(KonvertelParseArguments({"\"/in.dxf\"|\"/out.vec\""}, &a));
    EXPECT_FALSE(KonvertelParseArguments({"\"\"|\"/out.vec\"|\"x\""}, &a));
    EXPECT_FALSE(KonvertelParseArguments({"\"/in.dxf\"|\"/out.vec\"|\"x"}, &a));
}

TEST(Konvertel, ConvertsDxfToDrawingAndBackAsAProcess) {
    const QString dir = kvtest::NewTempFolder("konvertel both ways");
    const QString dxf = dir + "/example 007.dxf";
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("example007.dxf"), dxf));

    const QString vec = dir + "/imported.vec";
    ConverterRun r = Convert(dxf, vec, "Import...");
    ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_EQ(CountVec(vec), 20);

    const QString back = dir + "/exported.DXF";
    r = Convert(vec, back, "Export...");
    ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
    Drawing d(CadCreate());
    std::string error;
    ASSERT_NE(DxfReadDrawing(back, d.get(), &error), 0) << error;
    EXPECT_EQ(CadCountEntities(d.get()), 20);
    EXPECT_EQ(CadLayerGetColor(CadGetLayerByName(d.get(), "cutout1")), 6);

    // Three separate arguments serve as well.
    QProcess p;
    p.start(QStringLiteral(KV_KONVERTEL_EXE), {back, dir + "/again.vec", "Import..."});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(CountVec(dir + "/again.vec"), 20);

    // Nothing but the outputs is left in the folder.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 4);
}

TEST(Konvertel, RefusedConversionsLeaveNoOutputAndKeepAnExistingTarget) {
    const QString dir = kvtest::NewTempFolder("konvertel refused");
    const QString vec = dir + "/drawing.vec";
    {
        Drawing d(CadCreate());
        CadAddLine(d.get(), 0, 0, 0, 1, 1, 0);
        ASSERT_NE(CadFileSaveAs(d.get(), 0, vec.toUtf8().constData()), 0);
    }

    // DWG cannot be written: a clear message, a failure status, the old file untouched.
    const QString dwg = dir + "/old.dwg";
    Write(dwg, "an older drawing");
    ConverterRun r = Convert(vec, dwg, "Export...");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.errors.contains("DWG")) << r.errors.toStdString();
    EXPECT_EQ(Bytes(dwg), "an older drawing");

    // A damaged DXF: no output, and an existing target survives.
    const QByteArray real = Bytes(kvtest::DataPath("example008.dxf"));
    const QString damaged = dir + "/damaged.dxf";
    Write(damaged, real.left(real.size() * 2 / 3));
    const QString target = dir + "/target.vec";
    r = Convert(damaged, target, "Import...");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_FALSE(r.errors.isEmpty());
    EXPECT_FALSE(QFile::exists(target));
    ASSERT_TRUE(QFile::copy(vec, target));
    const QByteArray before = Bytes(target);
    r = Convert(damaged, target, "Import...");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(Bytes(target), before);

    // A foreign file named as a drawing, a damaged DWG, a missing input, a missing folder.
    const QString foreign = dir + "/picture.vec";
    Write(foreign, QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(500, 'x'));
    EXPECT_NE(Convert(foreign, dir + "/out1.dxf", "Export...").exitCode, 0);
    const QString badDwg = dir + "/bad.dwg";
    Write(badDwg, QByteArray("AC1015") + QByteArray(2000, '\x55'));
    EXPECT_NE(Convert(badDwg, dir + "/out2.vec", "Import...").exitCode, 0);
    EXPECT_NE(Convert(dir + "/missing.dxf", dir + "/out3.vec", "Import...").exitCode, 0);
    EXPECT_NE(Convert(vec, dir + "/no such folder/out4.dxf", "Export...").exitCode, 0);
    for (const char* name : {"out1.dxf", "out2.vec", "out3.vec"})
        EXPECT_FALSE(QFile::exists(dir + "/" + name)) << name;

    // Arguments that are not the converter's command line.
    QProcess p;
    p.start(QStringLiteral(KV_KONVERTEL_EXE), {"just one"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_NE(p.exitCode(), 0);

    // Only the files the test made are in the folder: no temporary leftovers.
    QStringList files = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    EXPECT_EQ(files,
              QStringList({"bad.dwg", "damaged.dxf", "drawing.vec", "old.dwg", "picture.vec", "target.vec"}));
}
