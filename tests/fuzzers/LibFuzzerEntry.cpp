// A libFuzzer entry point for one reader of our own file formats (KV_FUZZ_READER), for runs far
// longer than the suite's: kv_fuzz_<reader> <corpus folder> [-max_total_time=seconds].
// The corpus starts from the same real file the suite's fuzz test mutates.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QTemporaryDir>

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <vtkObject.h>

#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzTargets.h"
#include "platform/tools/ZQT.h"

namespace {
const kvfuzz::Target* g_target = nullptr;
QApplication* g_app = nullptr;

// Deletes the application at exit before Qt's own global objects go: with it goes what the main
// thread keeps in Qt's thread storage (the font cache and the FreeType data that the document's
// dialogs fill). Left to the end of the process, that storage outlives the objects that own it,
// its contents are never freed and LeakSanitizer reports them as a leak of the last input.
void DeleteApplication() {
    delete g_app;
    g_app = nullptr;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_app = new QApplication(*argc, *argv);
    static QTemporaryDir folder;
    ZQT_SetSpecialFolderRoot(folder.path());
    ZQT_SetUserProfilePath(folder.path() + "/profile.ini");
    GDALAllRegister();
    OGRRegisterAll();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    vtkObject::GlobalWarningDisplayOff();
    kvfuzz::Prepare(QStringLiteral(KV_TEST_DATA_DIR), QStringLiteral(KV_TEST_DATA_DIR "/../../samples"));
    g_target = kvfuzz::FindTarget(QStringLiteral(KV_FUZZ_READER));
    if (!g_target) {
        std::abort();
    }
    // One read of the real file first, so that Qt's global objects it needs (fonts among them)
    // exist before the deletion is registered and are therefore destroyed after it.
    g_target->read(g_target->seed());
    QFontMetrics(QApplication::font()).horizontalAdvance(QStringLiteral("0"));
    std::atexit(DeleteApplication);
    // The real file joins the corpus folder (the first argument that is a folder).
    for (int i = 1; i < *argc; ++i) {
        const QString argument = QString::fromLocal8Bit((*argv)[i]);
        if (!argument.startsWith('-') && QFileInfo(argument).isDir()) {
            QFile seed(QDir(argument).filePath(QStringLiteral("seed")));
            if (seed.open(QIODevice::WriteOnly)) {
                seed.write(g_target->seed());
            }
            break;
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_target->read(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
