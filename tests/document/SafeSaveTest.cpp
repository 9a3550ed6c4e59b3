// Nothing the operator owns is lost: a save that fails at any of its writes (a failure injected
// into the write layer, or a disk that is full at any size) leaves every file of the project old
// or new and tells the operator, with the system's reason in the command line; temporaries of a
// killed save go at the next save; a DEM saved back keeps its file's layout; DEMs that are only
// viewed are never opened for update.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cpl_string.h>
#include <gdal.h>

#include <cerrno>
#include <vector>

#include "DocTestSupport.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "support/Limits.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::DocTest;

const QString kSamples = QStringLiteral(KV_TEST_DATA_DIR "/../../samples");
const char* const kProjectFiles[] = {"olinda.kvp", "olinda.vec", "olinda_dem.tif", "olinda_ortho.tif"};

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The cells of band 1, or nothing when the file does not read as a raster.
std::vector<float> Cells(const QString& path) {
    std::vector<float> cells;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return cells;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    cells.resize(size_t(w) * h);
    if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, cells.data(), w, h, GDT_Float32, 0, 0) !=
        CE_None) {
        cells.clear();
    }
    GDALClose(ds);
    return cells;
}

// What the files of a project hold: the archive's and the drawing's bytes and the DEM's cells.
struct ProjectState {
    QByteArray archive;
    QByteArray drawing;
    std::vector<float> dem;

    explicit ProjectState(const QString& folder)
        : archive(Bytes(folder + "/olinda.kvp")),
          drawing(Bytes(folder + "/olinda.vec")),
          dem(Cells(folder + "/olinda_dem.tif")) {}
};

// The archive keeps the layers' paths: every copy lies in a folder of the same name.
QString CopySample(const QString& name) {
    const QString folder = kvtest::NewTempFolder(name);
    for (const char* file : kProjectFiles) {
        QFile::copy(kSamples + '/' + file, folder + '/' + file);
        QFile::setPermissions(folder + '/' + file, QFile::ReadOwner | QFile::WriteOwner);
    }
    return folder;
}

QStringList Temporaries(const QString& folder) {
    return QDir(folder).entryList({"*.kvsave*"}, QDir::Files | QDir::Hidden);
}

// Opens the sample project in the folder, edits its DEM, its drawing and its settings, and saves;
// the operator answers No when a DEM cannot be saved. The messages shown go to *shown, the last
// line of the command line to *said.
int EditAndSave(const QString& folder, QStringList* shown = nullptr, QString* said = nullptr) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    if (!doc.OnOpenDocument(folder + "/olinda.kvp") || !doc.m_DEMs.count("olinda_dem.tif")) {
        return -1;
    }
    CDEM* dem = doc.m_DEMs.at("olinda_dem.tif");
    if (!dem->LoadData()) {
        return -1;
    }
    cv::Mat valid = dem->m_grid != -9999.0f;
    cv::add(dem->m_grid, cv::Scalar(25.0), dem->m_grid, valid);
    dem->m_modified = 1;
    CadAddLine(doc.m_pCad, 291000, 9118000, 0, 292000, 9119000, 0);
    doc.m_dOrthoOpacity = 0.35;
    ui.Clear();
    ui.AnswerMessage(IDNO);
    const int saved = doc.OnSaveDocument(folder + "/olinda.kvp");
    if (shown) {
        *shown = ui.MessageTexts();
    }
    char line[1024] = {};
    if (said && CadCmdGetHistory(doc.m_pCad, 0, line, sizeof line)) {
        *said = QString::fromUtf8(line);
    }
    return saved;
}

class SafeSaveTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        GDALAllRegister();
    }
    void TearDown() override {
        kv::SetFileFaultHook({});
        DocTest::TearDown();
    }

    // After a save that stopped: every file is old or new, a save that answered success is new
    // throughout, a failure was told with its cause in the command line, and the project opens.
    void ExpectOldOrNew(const QString& folder, int saved, const QStringList& shown, const QString& said,
                        const QString& cause, const QString& what) {
        const ProjectState now(folder);
        const bool archiveNew = now.archive == m_new->archive;
        const bool drawingNew = now.drawing == m_new->drawing;
        const bool demNew = now.dem == m_new->dem;
        EXPECT_TRUE(archiveNew || now.archive == m_old->archive) << what.toStdString();
        EXPECT_TRUE(drawingNew || now.drawing == m_old->drawing) << what.toStdString();
        EXPECT_TRUE(demNew || now.dem == m_old->dem) << what.toStdString();
        if (saved == 1) {
            EXPECT_TRUE(archiveNew && drawingNew && demNew) << what.toStdString();
            EXPECT_TRUE(shown.isEmpty()) << what.toStdString();
        } else {
            EXPECT_EQ(saved, 0) << what.toStdString();
            EXPECT_TRUE(shown == QStringList{"File writing error"} ||
                        shown == QStringList{"Unable to save DEM olinda_dem.tif"})
                << what.toStdString() << ": " << shown.join('|').toStdString();
            EXPECT_TRUE(!shown.isEmpty() && said.startsWith(shown[0] + ": ") && said.contains(cause))
                << what.toStdString() << ": " << said.toStdString();
            // Nothing was replaced unless the last files were being renamed into place.
            EXPECT_TRUE(!archiveNew) << what.toStdString();
        }
        EXPECT_TRUE(Temporaries(folder).isEmpty()) << what.toStdString();
        kvtest::ScriptedInteraction reopened;
        CKelvaroDoc doc;
        EXPECT_EQ(doc.OnOpenDocument(folder + "/olinda.kvp"), 1) << what.toStdString();
        EXPECT_EQ(doc.m_DEMs.size(), 1u) << what.toStdString();
        EXPECT_EQ(doc.m_Orthos.size(), 1u) << what.toStdString();
    }

    std::unique_ptr<ProjectState> m_old;
    std::unique_ptr<ProjectState> m_new;
};

TEST_F(SafeSaveTest, AnInterruptedSaveLeavesEveryFileOldOrNewAndSaysSo) {
    m_old = std::make_unique<ProjectState>(kSamples);
    // A save without faults, counting the steps of the write layer it goes through.
    std::vector<kv::FileStep> steps;
    kv::SetFileFaultHook([&](kv::FileStep step, const QString&) {
        steps.push_back(step);
        return 0;
    });
    const QString clean = CopySample("save");
    ASSERT_EQ(EditAndSave(clean), 1);
    kv::SetFileFaultHook({});
    m_new = std::make_unique<ProjectState>(clean);
    ASSERT_NE(m_new->archive, m_old->archive);
    ASSERT_NE(m_new->drawing, m_old->drawing);
    ASSERT_NE(m_new->dem, m_old->dem);
    ASSERT_FALSE(m_new->dem.empty());
    ASSERT_GE(steps.size(), 8u);

    // Each step of the write layer fails in turn, as a full disk or a failing device would.
    for (size_t failing = 0; failing < steps.size(); ++failing) {
        const QString folder = CopySample("save");
        size_t seen = 0;
        kv::SetFileFaultHook([&](kv::FileStep, const QString&) { return seen++ == failing ? ENOSPC : 0; });
        QStringList shown;
        QString said;
        const int saved = EditAndSave(folder, &shown, &said);
        kv::SetFileFaultHook({});
        ExpectOldOrNew(folder, saved, shown, said, "No space left on device",
                       QStringLiteral("step %1 of %2").arg(failing).arg(steps.size()));
    }

    // A disk that fills up at any size, the DEM's own writes (through GDAL) among them.
    const qint64 largest = QFileInfo(clean + "/olinda_dem.tif").size() + 4096;
    for (qint64 limit = 0; limit <= largest; limit += 1536) {
        const QString folder = CopySample("save");
        int saved = 0;
        QStringList shown;
        QString said;
        {
            kvtest::FileSizeLimit full{size_t(limit)};
            saved = EditAndSave(folder, &shown, &said);
        }
        ExpectOldOrNew(folder, saved, shown, said, "File too large",
                       QStringLiteral("disk full at %1 bytes").arg(limit));
    }
}

TEST_F(SafeSaveTest, TemporariesOfAKilledSaveGoAtTheNextSaveAndOnlyThose) {
    const QString folder = CopySample("killed");
    // What a save killed while writing leaves: a temporary of each file, GDAL's side file of the
    // DEM's, and the inner temporary of the drawing's writer. Files of other names stay.
    const QStringList left = {".olinda.kvp.3fa9.kvsave", ".olinda.vec.77.kvsave",
                              "..olinda.vec.77.kvsave.1b.kvsave", ".olinda_dem.tif.abc123.kvsave",
                              ".olinda_dem.tif.abc123.kvsave.aux.xml"};
    const QStringList kept = {".other.kvp.3fa9.kvsave", "olinda.kvp.bak", ".olinda.kvp.notes"};
    for (const QString& name : left + kept) {
        QFile f(folder + '/' + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("partial");
    }
    ASSERT_EQ(EditAndSave(folder), 1);
    QStringList remaining = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left) {
        EXPECT_FALSE(remaining.contains(name)) << name.toStdString();
    }
    for (const QString& name : kept) {
        EXPECT_TRUE(remaining.contains(name)) << name.toStdString();
    }
}

// An Int16 DEM with scale, offset, unit, metadata, a compression and 128-cell tiles, large enough
// for overviews, written by GDAL as another program would have left it.
QString WriteTiledDem(const QString& path) {
    kvtest::RasterSpec spec;
    spec.width = 1100;
    spec.height = 600;
    spec.type = GDT_Int16;
    spec.noData = -32768;
    spec.hasScaleOffset = true;
    spec.scale = 0.1;
    spec.offset = 100.0;
    spec.options = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "COMPRESS=DEFLATE"};
    kvtest::WriteRaster(path, spec,
                        [](int c, int r, int) { return c == 0 && r == 0 ? -32768.0 : double(c + r); });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
    GDALSetProjection(ds, "EPSG:32725");
    GDALSetMetadataItem(ds, "SURVEY", "Olinda 2024", nullptr);
    GDALSetRasterUnitType(GDALGetRasterBand(ds, 1), "m");
    GDALClose(ds);
    return path;
}

TEST_F(SafeSaveTest, ASavedDemKeepsItsFilesLayoutAndViewedDemsAreOnlyRead) {
    kvtest::ScriptedInteraction ui;
    const QString folder = kvtest::NewTempFolder("layout");
    const QString path = WriteTiledDem(folder + "/tiled.tif");
    // A DEM the operator may not write is viewed all the same, and viewing writes nothing.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
    const QByteArray before = Bytes(path);
    {
        CKelvaroDoc doc;
        ui.AnswerMessage(IDNO);  // no overviews now
        ASSERT_EQ(doc.AddDEM(path, 1), 1);
        CDEM* dem = doc.m_DEMs.at("tiled.tif");
        EXPECT_GT(dem->GetElevation(500000.0 + 2 * 10 + 1, 9000000.0 - 2 * 20 - 1), 100.0);
    }
    EXPECT_EQ(Bytes(path), before);
    EXPECT_FALSE(QFileInfo::exists(path + ".ovr"));

    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    CKelvaroDoc doc;
    ui.AnswerMessage(IDNO);
    ASSERT_EQ(doc.AddDEM(path, 1), 1);
    CDEM* dem = doc.m_DEMs.at("tiled.tif");
    ASSERT_EQ(dem->LoadData(), 1);
    dem->m_grid.at<float>(10, 20) = 250.0f;
    ASSERT_EQ(dem->SaveData(), 1);

    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    EXPECT_EQ(GDALGetRasterDataType(band), GDT_Int16);
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    EXPECT_EQ(bx, 128);
    EXPECT_EQ(by, 128);
    EXPECT_STREQ(GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
    int set = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(band, &set), -32768.0);
    EXPECT_EQ(GDALGetRasterScale(band, &set), 0.1);
    EXPECT_EQ(GDALGetRasterOffset(band, &set), 100.0);
    EXPECT_STREQ(GDALGetRasterUnitType(band), "m");
    EXPECT_STREQ(GDALGetMetadataItem(ds, "SURVEY", nullptr), "Olinda 2024");
    EXPECT_TRUE(QString::fromUtf8(GDALGetProjectionRef(ds)).contains("25S"));
    EXPECT_EQ(GDALGetOverviewCount(band), 1);
    int16_t cell = 0;
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 20, 10, 1, 1, &cell, 1, 1, GDT_Int16, 0, 0), CE_None);
    EXPECT_EQ(cell, 1500);
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, 1, 1, &cell, 1, 1, GDT_Int16, 0, 0), CE_None);
    EXPECT_EQ(cell, -32768);
    GDALClose(ds);
    EXPECT_TRUE(Temporaries(folder).isEmpty());
}

}  // namespace
