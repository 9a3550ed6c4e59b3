// NDVISAVI on the Landsat scene: NDVI and SAVI of bands 3 and 4 against the formulas computed
// here, the map layer and its legend, what a killed write left removed by the next; an area past
// the scene's edges; every refusal of the dialog and the worker leaving no file; Abort; the
// overview levels by the larger side.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <gdal.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <functional>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "products/NDVISAVIDlg.h"
#include "products/VegetationIndex.h"
#include "raster/RecordingProgress.h"
#include "support/Limits.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

constexpr int kW = 349, kH = 352;

CNDVISAVIDlg& Dialog(QDialog& d) {
    return static_cast<CNDVISAVIDlg&>(d);
}

void Choose(QComboBox& list, const QString& item) {
    const int index = list.findText(item);
    ASSERT_GE(index, 0) << item.toStdString();
    list.setCurrentIndex(index);
}

// Fills the dialog and presses OK: red and NIR items, SAVI with its factor or NDVI.
void Fill(CNDVISAVIDlg& dialog, const QString& red, const QString& nir, bool savi,
          const QString& factor = {}) {
    if (!red.isEmpty()) {
        Choose(dialog.m_cmbRed, red);
    }
    if (!nir.isEmpty()) {
        Choose(dialog.m_cmbNir, nir);
    }
    if (dialog.m_chkSavi.isChecked() != savi) {
        dialog.m_chkSavi.click();
    }
    if (savi) {
        dialog.m_editSoilBrightness.setText(factor);
    }
    dialog.m_btnOK.click();
}

// The files in the folder whose names contain the text, hidden ones too.
QStringList FilesWith(const QString& folder, const QString& text) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(text);
}

class VegetationIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        folder = kvtest::NewTempFolder("ndvi");
        scene = folder + "/L7_ETMs.tif";
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("L7_ETMs.tif"), scene));
        MapLayerInfo info;
        info.title = "L7_ETMs";
        info.mapType = MapTypeOther;
        info.path = scene;
        ASSERT_TRUE(doc.AddMap(info, 1));
        b3 = kvtest::ReadBand(scene, 3);
        b4 = kvtest::ReadBand(scene, 4);
    }
    GDALRasterBandH SceneBand(int b) { return GDALGetRasterBand(doc.m_Maps["L7_ETMs"]->m_pDataset, b); }
    // Runs the dialog without an area, filled by the script.
    void Run(const std::function<void(CNDVISAVIDlg&)>& script) {
        ui.AnswerModal([script](QDialog& d) {
            script(Dialog(d));
            return -1;
        });
        CNDVISAVIDlg dialog(&doc, nullptr);
        dialog.DoModal();
    }

    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    QString folder, scene;
    std::vector<double> b3, b4;
};

}  // namespace

TEST_F(VegetationIndexTest, NdviAndSaviOfTheSceneFollowTheirFormulasAndJoinTheProject) {
    ui.AnswerFile(folder + "/ndvi.gtif");
    ui.AnswerModal(102);  // "Use total area"
    ui.AnswerModal([&](QDialog& d) {
        CNDVISAVIDlg& dialog = Dialog(d);
        EXPECT_EQ(ActiveCadCommandId, CMD_NDVISAVI);
        // The bands of the scene, numbered from 0, in both lists.
        EXPECT_EQ(dialog.m_cmbRed.count(), 6);
        EXPECT_EQ(dialog.m_cmbNir.itemText(5), "L7_ETMs - channel 5");
        EXPECT_TRUE(dialog.m_chkSavi.isChecked());  // the profile's default
        Choose(dialog.m_cmbRed, "L7_ETMs - channel 2");
        Choose(dialog.m_cmbNir, "L7_ETMs - channel 3");
        const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CNDVISAVIDlg"));
        EXPECT_GT(kvtest::ColourCount(shot, dialog.m_btnOK.geometry()), 3);
        EXPECT_GT(kvtest::ColourShare(shot, dialog.m_editSoilBrightness.palette().color(QPalette::Base),
                                      dialog.m_editSoilBrightness.geometry()),
                  0.5);
        Fill(dialog, {}, {}, false);
        return -1;
    });
    CmdNdviSavi(doc.m_pCad);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.Dialogs(), (QStringList{"CGenericSelectionDlg", "CNDVISAVIDlg"}));
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();
    EXPECT_EQ(ZQT_GetUserProfileString("NDVI_SAVI", "BuildSAVI", "x"), "0");

    const kvtest::RasterFacts facts = kvtest::Inspect(folder + "/ndvi.gtif");
    const kvtest::RasterFacts source = kvtest::Inspect(scene);
    ASSERT_EQ(facts.width, kW);
    ASSERT_EQ(facts.height, kH);
    EXPECT_EQ(facts.type, GDT_Float32);
    EXPECT_EQ(facts.blockX, 64);
    EXPECT_EQ(facts.blockY, 64);
    EXPECT_TRUE(facts.hasNoData);
    EXPECT_EQ(facts.noData, -9999.0);
    EXPECT_EQ(facts.overviews, 0);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(facts.geoTransform[k], source.geoTransform[k]) << k;
    }
    EXPECT_EQ(facts.projection, source.projection);
    EXPECT_TRUE(QFileInfo::exists(folder + "/ndvi.tfw"));
    EXPECT_TRUE(FilesWith(folder, "kvsave").isEmpty());
    const std::vector<double> ndvi = kvtest::ReadBand(folder + "/ndvi.gtif");
    for (size_t i = 0; i < ndvi.size(); ++i) {
        const double sum = b4[i] + b3[i];
        ASSERT_NEAR(ndvi[i], sum == 0 ? -9999.0 : (b4[i] - b3[i]) / sum, 1e-6) << i;
    }
    ASSERT_EQ(doc.m_Maps.count("ndvi"), 1u);
    const CMapData* map = doc.m_Maps["ndvi"];
    EXPECT_EQ(map->m_mapType, MapTypeNDVI);
    EXPECT_EQ(doc.m_ColorLegend.size(), cv::Size(42, 266));
    EXPECT_EQ(doc.m_dLegendMin, *map->m_pRangeMin);
    EXPECT_EQ(doc.m_dLegendMax, *map->m_pRangeMax);

    // A SAVI write killed before: its temporary raster, world file and side file, named after a
    // process that has ended, go with the next write of that file.
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    const QString killed = QFileInfo(kv::TemporaryPathFor(folder + "/savi.gtif"))
                               .completeBaseName()
                               .replace(QString("-%1-").arg(::getpid()), QString("-%1-").arg(ended));
    for (const QString& left : {killed + ".kvsave", killed + ".tfw", killed + ".kvsave.aux.xml"}) {
        QFile file(folder + '/' + left);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'k'));
    }
    ASSERT_EQ(FilesWith(folder, "savi").size(), 3);
    // SAVI with L = 0.5 on the normalised bands.
    ui.AnswerFile(folder + "/savi.gtif");
    Run([](CNDVISAVIDlg& dialog) {
        Fill(dialog, "L7_ETMs - channel 2", "L7_ETMs - channel 3", true, "0.5");
    });
    EXPECT_EQ(ZQT_GetUserProfileString("NDVI_SAVI", "SoilBrightness", "x"), "0.500");
    const std::vector<double> savi = kvtest::ReadBand(folder + "/savi.gtif");
    ASSERT_EQ(savi.size(), b3.size());
    for (size_t i = 0; i < savi.size(); ++i) {
        const double r = b3[i] / 255.0, n = b4[i] / 255.0;
        ASSERT_NEAR(savi[i], r + n == 0 ? -9999.0 : (n - r) / (n + r + 0.5) * 1.5, 1e-6) << i;
    }
    ASSERT_EQ(doc.m_Maps.count("savi"), 1u);
    EXPECT_EQ(doc.m_Maps["savi"]->m_mapType, MapTypeSAVI);
    EXPECT_EQ(FilesWith(folder, "savi"), (QStringList{"savi.gtif", "savi.tfw"}));
}

TEST_F(VegetationIndexTest, AnAreaPastTheRightAndBottomEdgesIsReadAtTrueScale) {
    const double* gt = doc.m_Maps["L7_ETMs"]->m_geoTransform;
    const double p = gt[1];
    const double right = gt[0] + kW * p, bottom = gt[3] - kH * p;
    // A five-sided area from inside the scene to 20 pixels past its right and bottom edges.
    const std::vector<std::pair<double, double>> outline = {{right - 60.3 * p, bottom + 50.6 * p},
                                                            {right + 20.2 * p, bottom + 70.1 * p},
                                                            {right + 19.7 * p, bottom - 20.4 * p},
                                                            {right - 40.9 * p, bottom - 19.8 * p},
                                                            {right - 70.4 * p, bottom + 10.3 * p}};
    // The area drawn point by point; it stays in the drawing.
    const QString path = folder + "/area.gtif";
    ui.AnswerModal(101);
    for (const auto& [x, y] : outline) {
        CadScriptPushPoint(doc.m_pCad, x, y, 0);
    }
    CadScriptPushFinish(doc.m_pCad);
    ui.AnswerFile(path);
    ui.AnswerModal([](QDialog& d) {
        Fill(Dialog(d), "L7_ETMs - channel 2", "L7_ETMs - channel 3", false);
        return -1;
    });
    CmdNdviSavi(doc.m_pCad);
    EXPECT_EQ(ActiveCadCommandId, 0);
    CadEntity* area = nullptr;
    for (CadLayer* layer = CadGetFirstLayer(doc.m_pCad); layer; layer = CadGetNextLayer(doc.m_pCad, layer)) {
        for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
            if (CadEntityGetType(e) == CAD_ENT_POLYLINE) {
                area = e;
            }
        }
    }
    ASSERT_TRUE(area);
    EXPECT_EQ(CadPlineGetNumVers(area), 5);
    EXPECT_TRUE(CadPlineGetClosed(area));

    const kvtest::RasterFacts facts = kvtest::Inspect(path);
    const double left = CadEntityGetLeft(area), top = CadEntityGetTop(area);
    EXPECT_EQ(facts.geoTransform[0], left);
    EXPECT_EQ(facts.geoTransform[3], top);
    EXPECT_EQ(facts.width, int(std::ceil((CadEntityGetRight(area) - left) / p)));
    EXPECT_EQ(facts.height, int(std::ceil((top - CadEntityGetBottom(area)) / p)));
    const std::vector<double> values = kvtest::ReadBand(path);
    const int column0 = int(std::rint((left - gt[0]) / p)), row0 = int(std::rint((top - gt[3]) / gt[5]));
    int inside = 0, off = 0;
    for (int r = 0; r < facts.height; ++r) {
        for (int c = 0; c < facts.width; ++c) {
            const double x = left + c * p, y = top - r * p;
            bool in = false;
            for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
                const auto [xi, yi] = outline[i];
                const auto [xj, yj] = outline[j];
                if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) {
                    in = !in;
                }
            }
            const int sc = column0 + c, sr = row0 + r;
            const double got = values[size_t(r) * size_t(facts.width) + size_t(c)];
            if (!in || sc >= kW || sr >= kH) {
                ASSERT_EQ(got, -9999.0) << c << "," << r;
                off += in;
                continue;
            }
            const size_t i = size_t(sr) * kW + size_t(sc);
            const double sum = b4[i] + b3[i];
            ASSERT_NEAR(got, sum == 0 ? -9999.0 : (b4[i] - b3[i]) / sum, 1e-6) << c << "," << r;
            ++inside;
        }
    }
    EXPECT_GT(inside, 1000);
    EXPECT_GT(off, 500);

    // Past the left edge the window cannot be read.
    CadClearVertices();
    for (const auto& [x, y] : outline) {
        CadAddVertex(x - right + gt[0] + 30 * p, y, 0);
    }
    CadEntity* leftArea = CadAddPolyline(doc.m_pCad, 0, 1);
    ui.AnswerModal(100);
    CadScriptPushEntity(doc.m_pCad, doc.m_Maps["L7_ETMs"]->m_imageEntity);  // not an area: passed over
    CadScriptPushEntity(doc.m_pCad, leftArea);
    ui.AnswerFile(folder + "/left.gtif");
    ui.AnswerModal([](QDialog& d) {
        Fill(Dialog(d), "L7_ETMs - channel 2", "L7_ETMs - channel 3", false);
        return -1;
    });
    CmdNdviSavi(doc.m_pCad);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Process error"});
    EXPECT_TRUE(FilesWith(folder, "left").isEmpty());
}

TEST_F(VegetationIndexTest, RefusalsLeaveNoFileAndAbortStopsBeforeTheNextBlocks) {
    // The dialog's refusals keep it open.
    ui.AnswerFile(scene);  // the scene's own file is refused
    ui.AnswerFile("");
    Run([](CNDVISAVIDlg& dialog) {
        dialog.m_btnOK.click();
        Choose(dialog.m_cmbRed, "L7_ETMs - channel 2");
        dialog.m_btnOK.click();
        Choose(dialog.m_cmbNir, "L7_ETMs - channel 2");
        dialog.m_btnOK.click();
        Choose(dialog.m_cmbNir, "L7_ETMs - channel 3");
        Fill(dialog, {}, {}, true, "1.5");
        Fill(dialog, {}, {}, true, "abc");
        Fill(dialog, {}, {}, false);  // refused file, then the chooser is cancelled
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.m_btnOK.isEnabled());
        dialog.m_btnCancel.click();
    });
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"Select Red channel", "Select Nir channel",
                           "Red and NIR channels must be different!", "Invalid solil brightness value",
                           "Invalid solil brightness value", "The file is used by a loaded layer"}));
    EXPECT_EQ(doc.m_Maps.size(), 1u);

    // The worker's refusals.
    ui.Clear();
    kvtest::RasterSpec spec;
    spec.type = GDT_Int16;
    spec.bands = 2;
    GDALDatasetH int16 = GDALOpen(
        QFile::encodeName(kvtest::WriteRaster(folder + "/int16.tif", spec, [](int, int, int) { return 3; }))
            .constData(),
        GA_ReadOnly);
    spec.type = GDT_Byte;
    spec.geoTransform[0] = 0.0;  // far west of the first
    GDALDatasetH apart = GDALOpen(
        QFile::encodeName(kvtest::WriteRaster(folder + "/apart.tif", spec, [](int, int, int) { return 3; }))
            .constData(),
        GA_ReadOnly);
    const QString out = folder + "/out.gtif";
    EXPECT_EQ(ComputeVegetationIndex(&doc, nullptr, nullptr, SceneBand(4), 0.0f, out, nullptr), 0);
    EXPECT_EQ(ComputeVegetationIndex(&doc, nullptr, SceneBand(4), SceneBand(4), 0.0f, out, nullptr), 0);
    EXPECT_EQ(
        ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(int16, 1), SceneBand(4), 0.0f, out, nullptr),
        0);
    EXPECT_EQ(
        ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(apart, 1), SceneBand(4), 0.0f, out, nullptr),
        0);
    EXPECT_EQ(ComputeVegetationIndex(&doc, nullptr, SceneBand(3), SceneBand(4), 0.0f, folder + "/no/out.gtif",
                                     nullptr),
              0);
    EXPECT_EQ(ComputeVegetationIndex(nullptr, nullptr, SceneBand(3), SceneBand(4), 0.0f, out, nullptr), 0);
    GDALClose(int16);
    GDALClose(apart);
    // A scene cut short opens, and fails where its blocks are read.
    const QByteArray bytes = kvtest::FileBytes(scene);
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/cut.tif", bytes.left(bytes.size() / 2)));
    GDALDatasetH cut = GDALOpen(QFile::encodeName(folder + "/cut.tif").constData(), GA_ReadOnly);
    EXPECT_EQ(ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(cut, 3), GDALGetRasterBand(cut, 4),
                                     0.0f, out, nullptr),
              0);
    GDALClose(cut);
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"Both channels must be defined!", "Channels must be different!", "Data type error",
                           "Data not comparable", "Process error", "Process error"}));
    EXPECT_TRUE(FilesWith(folder, "out").isEmpty());

    // Abort before the second row of blocks of a 2 x 1100 raster: nothing is left.
    spec.width = 2;
    spec.height = 1100;
    const QString tall =
        kvtest::WriteRaster(folder + "/tall.tif", spec, [](int c, int r, int b) { return c + r % 7 + b; });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(tall).constData(), GA_ReadOnly);
    rtest::RecordingProgress progress;
    progress.abortWhen = [](int pos) { return pos >= 1; };
    EXPECT_EQ(ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(ds, 1), GDALGetRasterBand(ds, 2), 0.0f,
                                     folder + "/aborted.gtif", &progress),
              0);
    EXPECT_TRUE(FilesWith(folder, "aborted").isEmpty());
    // The dialog's Abort, pressed once the computation is under way: no file, no layer.
    ui.AnswerFile(folder + "/aborted.gtif");
    Run([](CNDVISAVIDlg& dialog) {
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.m_btnAbort.click(); });
        Fill(dialog, "L7_ETMs - channel 2", "L7_ETMs - channel 3", false);
    });
    EXPECT_TRUE(FilesWith(folder, "aborted").isEmpty());
    EXPECT_EQ(doc.m_Maps.size(), 1u);
    GDALClose(ds);

    // Overviews halve the larger side until it is 512 or less: every level.
    for (const auto& [side, levels] : {std::pair{512, 0}, std::pair{513, 1}, std::pair{1026, 2}}) {
        spec.width = side;
        spec.height = 3;
        const QString path = kvtest::WriteRaster(folder + QString("/side%1.tif").arg(side), spec, {});
        GDALDatasetH sided = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
        const QString index = folder + QString("/index%1.gtif").arg(side);
        ASSERT_EQ(ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(sided, 1),
                                         GDALGetRasterBand(sided, 2), 0.0f, index, nullptr),
                  1);
        GDALClose(sided);
        EXPECT_EQ(kvtest::Inspect(index).overviews, levels) << side;
    }
}

TEST_F(VegetationIndexTest, AProcessErrorSaysItsCauseInTheCommandLine) {
    // A disk full when the finished map is put in place, one that is read-only then, a disk that
    // takes no file beyond 64 KiB, and a scene cut short: each time "Process error", no file, and
    // the command line says why.
    const QByteArray bytes = kvtest::FileBytes(scene);
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/cut.tif", bytes.left(bytes.size() / 2)));
    GDALDatasetH cut = GDALOpen(QFile::encodeName(folder + "/cut.tif").constData(), GA_ReadOnly);
    ASSERT_TRUE(cut);
    const auto index = [&](GDALDatasetH source, const QString& name) {
        GDALRasterBandH red = source ? GDALGetRasterBand(source, 3) : SceneBand(3);
        GDALRasterBandH nir = source ? GDALGetRasterBand(source, 4) : SceneBand(4);
        return ComputeVegetationIndex(&doc, nullptr, red, nir, 0.0f, folder + "/" + name + "_index.gtif",
                                      nullptr);
    };
    const auto failing = [&](kv::FileStep step, int error, const QString& name) {
        kvtest::FileFault fault(step, error);
        return index(nullptr, name);
    };
    const struct {
        QString name;
        std::function<int()> run;
        QString cause;
    } cases[] = {
        {"full", [&] { return failing(kv::FileStep::Sync, ENOSPC, "full"); }, "No space left on device"},
        {"readonly", [&] { return failing(kv::FileStep::Rename, EROFS, "readonly"); },
         "Read-only file system"},
        {"large",
         [&] {
             kvtest::FileSizeLimit disk(64 * 1024);
             return index(nullptr, "large");
         },
         "File too large"},
        {"cut", [&] { return index(cut, "cut"); }, "Read error"},
    };
    for (const auto& c : cases) {
        ui.Clear();
        EXPECT_EQ(c.run(), 0) << c.name.toStdString();
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Process error"}) << c.name.toStdString();
        const QString said = ptest::CommandLineText(doc.m_pCad).section('\n', 0, 0);
        EXPECT_TRUE(said.startsWith("Process error: ") && said.contains(c.cause)) << said.toStdString();
        EXPECT_TRUE(FilesWith(folder, c.name + "_index").isEmpty()) << c.name.toStdString();
    }
    GDALClose(cut);
}

TEST_F(VegetationIndexTest, AFloatRedBesideAnIntegerNirIsTakenAsItIsAndNoDataGivesNoData) {
    // Red: Float32 reflectances with NaN and the declared no-data 5; NIR: UInt16 with no-data 7.
    kvtest::RasterSpec spec;
    spec.width = 4;
    spec.height = 3;
    spec.noData = 5.0;
    const QString redPath = kvtest::WriteRaster(folder + "/red.tif", spec, [](int c, int r, int) {
        return c == 1 && r == 0 ? std::nan("") : c == 2 && r == 0 ? 5.0 : 0.1 + 0.05 * c + 0.02 * r;
    });
    spec.type = GDT_UInt16;
    spec.noData = 7.0;
    const QString nirPath = kvtest::WriteRaster(folder + "/nir.tif", spec, [](int c, int r, int) {
        return c == 3 && r == 0 ? 7.0 : 20000.0 + 1000.0 * c + 500.0 * r;
    });
    GDALDatasetH red = GDALOpen(QFile::encodeName(redPath).constData(), GA_ReadOnly);
    GDALDatasetH nir = GDALOpen(QFile::encodeName(nirPath).constData(), GA_ReadOnly);
    const QString path = folder + "/mixed.gtif";
    ASSERT_EQ(ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(red, 1), GDALGetRasterBand(nir, 1),
                                     0.0f, path, nullptr),
              1);
    GDALClose(red);
    GDALClose(nir);
    const std::vector<double> redValues = kvtest::ReadBand(redPath), nirValues = kvtest::ReadBand(nirPath);
    const std::vector<double> index = kvtest::ReadBand(path);
    ASSERT_EQ(index.size(), 12u);
    for (size_t i = 0; i < index.size(); ++i) {
        if (i == 1 || i == 2 || i == 3) {
            EXPECT_EQ(index[i], -9999.0) << i;
            continue;
        }
        // The red value as it is, the NIR value on the 0 to 1 scale of its type.
        const float r = float(redValues[i]), n = float(nirValues[i] / 65535.0);
        EXPECT_NEAR(index[i], (n - r) / (n + r), 1e-6) << i;
    }
}
