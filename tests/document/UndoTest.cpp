// DEM undo: the record files, what a record restores, and the history of rounds.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gdal.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/DemUndoFolder.h"
#include "raster/DEM.h"

namespace {

// The DEM layers of a project and its drawing, with the lookup a document would give the history.
struct Project {
    Project() : cad(CadCreate()) {}
    ~Project() {
        dems.clear();
        CadDelete(cad);
    }

    // A DEM in memory whose cell (c, r) is base + 100 r + c, shown by an image place.
    CDEM* AddDem(const QString& name, int width, int height, float base) {
        auto dem = std::make_unique<CDEM>(nullptr);
        dem->m_name = name;
        dem->m_grid.create(height, width, CV_32FC1);
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                dem->m_grid.at<float>(r, c) = base + 100.0f * r + c;
            }
        }
        CadSetCurLayer(
            cad, CadAddLayer(cad, name.toUtf8().constData(), 7, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT));
        dem->m_imageEntity =
            CadAddImagePlace(cad, 1000 + static_cast<int>(dems.size()), width, height, 0.0, 0.0, 0.0, 1.0);
        dems.push_back(std::move(dem));
        return dems.back().get();
    }

    void Remove(CDEM* dem) {
        std::erase_if(dems, [dem](const std::unique_ptr<CDEM>& d) { return d.get() == dem; });
    }

    DemUndoLookup Lookup() {
        return [this](uint64_t serial) -> CDEM* {
            for (const auto& dem : dems) {
                if (dem->m_serial == serial) {
                    return dem.get();
                }
            }
            return nullptr;
        };
    }

    CadDrawing* cad;
    std::vector<std::unique_ptr<CDEM>> dems;
};

// An edit as the area tools make one: the window's cells before, the new cells (old + delta)
// written into the grid, and the record of both.
CUndoDEM EditWindow(CDEM* dem, const cv::Rect& window, float delta, std::vector<cv::Point> outline = {}) {
    cv::Mat before = dem->m_grid(window).clone();
    cv::Mat after = before + delta;
    CUndoDEM record(dem, nullptr, before, after, window.tl(), std::move(outline));
    after.copyTo(dem->m_grid(window));
    return record;
}

DemUndoRound RoundOf(const CUndoDEM& record) {
    DemUndoRound round;
    EXPECT_EQ(round.Add(record), 1);
    return round;
}

bool Same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && cv::countNonZero(a != b) == 0;
}

QStringList UndoFiles() {
    return QDir(GetDemUndoFolder()).entryList({"*.demundo"}, QDir::Files);
}

cv::Mat ReadBand(GDALDatasetH dataset, int band) {
    cv::Mat image(GDALGetRasterYSize(dataset), GDALGetRasterXSize(dataset), CV_32FC1);
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(dataset, band), GF_Read, 0, 0, image.cols, image.rows,
                           image.data, image.cols, image.rows, GDT_Float32, 0, 0),
              CE_None);
    return image;
}

std::string Metadata(GDALDatasetH dataset, const char* key) {
    const char* value = GDALGetMetadataItem(dataset, key, nullptr);
    return value ? value : "(none)";
}

}  // namespace

TEST(UndoRecord, FileIsTwoBandFloat32WithItsWindowAndOutline) {
    EXPECT_EQ(DemUndoFileName("a.tif", QDateTime(QDate(2025, 2, 3), QTime(9, 5, 7)), 42),
              "a.tif_20250203-090507_42.demundo");

    Project project;
    CDEM* dem = project.AddDem("a.tif", 30, 20, 0.0f);
    const cv::Mat before = dem->m_grid(cv::Rect(4, 3, 8, 6)).clone();
    CUndoDEM record = EditWindow(dem, cv::Rect(4, 3, 8, 6), 5.0f, {{1, 1}, {6, 1}, {6, 4}, {1, 4}});
    ASSERT_EQ(record.IsValid(), 1);
    EXPECT_EQ(record.m_demSerial, dem->m_serial);
    QFileInfo file(record.m_path);
    EXPECT_EQ(file.path() + '/', GetDemUndoFolder());
    EXPECT_TRUE(
        QRegularExpression("^a\\.tif_\\d{8}-\\d{6}_\\d{1,6}\\.demundo$").match(file.fileName()).hasMatch())
        << file.fileName().toStdString();

    GDALDatasetH ds = GDALOpen(QFile::encodeName(record.m_path).constData(), GA_ReadOnly);
    ASSERT_TRUE(ds);
    EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds)), "GTiff");
    ASSERT_EQ(GDALGetRasterCount(ds), 2);
    EXPECT_EQ(GDALGetRasterXSize(ds), 8);
    EXPECT_EQ(GDALGetRasterYSize(ds), 6);
    for (int band = 1; band <= 2; ++band) {
        GDALRasterBandH h = GDALGetRasterBand(ds, band);
        EXPECT_EQ(GDALGetRasterDataType(h), GDT_Float32);
        int hasNoData = 0;
        EXPECT_EQ(GDALGetRasterNoDataValue(h, &hasNoData), -9999.0);
        EXPECT_TRUE(hasNoData);
    }
    EXPECT_TRUE(Same(ReadBand(ds, 1), before));
    EXPECT_TRUE(Same(ReadBand(ds, 2), before + 5.0f));
    EXPECT_EQ(Metadata(ds, "TL_X"), "4");
    EXPECT_EQ(Metadata(ds, "TL_Y"), "3");
    EXPECT_EQ(Metadata(ds, "AOI_NVERS"), "4");
    EXPECT_EQ(Metadata(ds, "AOI_VER_0_X"), "1");
    EXPECT_EQ(Metadata(ds, "AOI_VER_1_X"), "6");
    EXPECT_EQ(Metadata(ds, "AOI_VER_2_Y"), "4");
    EXPECT_EQ(Metadata(ds, "AOI_VER_3_X"), "1");
    EXPECT_EQ(Metadata(ds, "AOI_VER_3_Y"), "4");
    GDALClose(ds);

    // A record made from a region mask carries the window's corner only.
    cv::Mat mask = cv::Mat::zeros(22, 32, CV_8UC1);
    mask.at<uchar>(11, 21) = 1;
    CUndoDEM region(dem, nullptr, mask, cv::Rect(20, 10, 1, 1), 3.0f);
    ASSERT_EQ(region.IsValid(), 1);
    ds = GDALOpen(QFile::encodeName(region.m_path).constData(), GA_ReadOnly);
    ASSERT_TRUE(ds);
    EXPECT_EQ(Metadata(ds, "TL_X"), "20");
    EXPECT_EQ(Metadata(ds, "TL_Y"), "10");
    EXPECT_EQ(Metadata(ds, "AOI_NVERS"), "(none)");
    GDALClose(ds);
    EXPECT_NE(region.m_path, record.m_path);
    record.DeleteFile();
    region.DeleteFile();
}

// An edit that changes a few cells of a large window hands its cells over block by block: the
// file is the one its whole images give, written a row of blocks at a time; a block that does not
// fit its place refuses the record and leaves no file.
TEST(UndoRecord, BlocksMadeOneByOneWriteTheFileOfTheWholeImages) {
    Project project;
    CDEM* dem = project.AddDem("e.tif", 1100, 1030, 0.0f);
    const cv::Mat before = dem->m_grid.clone();
    cv::Mat after = before.clone();
    after(cv::Rect(1020, 1000, 50, 30)).setTo(-9999.0f);
    after.at<float>(3, 1099) = 7.5f;
    const std::vector<cv::Point> outline = {{0, 0}, {1099, 0}, {1099, 1029}, {0, 1029}};
    CUndoDEM whole(dem, nullptr, before, after, {2, 3}, outline);
    int blocks = 0;
    CUndoDEM byBlock(
        dem, nullptr, before.size(),
        [&](const cv::Rect& block, cv::Mat& b, cv::Mat& a) {
            ++blocks;
            b = before(block).clone();
            a = after(block).clone();
        },
        {2, 3}, outline);
    ASSERT_EQ(whole.IsValid(), 1);
    ASSERT_EQ(byBlock.IsValid(), 1);
    EXPECT_EQ(blocks, 4);
    GDALDatasetH a = GDALOpen(QFile::encodeName(whole.m_path).constData(), GA_ReadOnly);
    GDALDatasetH b = GDALOpen(QFile::encodeName(byBlock.m_path).constData(), GA_ReadOnly);
    ASSERT_TRUE(a && b);
    for (int band = 1; band <= 2; ++band) {
        EXPECT_TRUE(Same(ReadBand(a, band), ReadBand(b, band))) << "band " << band;
    }
    EXPECT_TRUE(Same(ReadBand(b, 2), after));
    for (const char* key : {"TL_X", "TL_Y", "AOI_NVERS", "AOI_VER_2_X", "AOI_VER_2_Y"}) {
        EXPECT_EQ(Metadata(a, key), Metadata(b, key)) << key;
    }
    GDALClose(a);
    GDALClose(b);
    whole.DeleteFile();
    byBlock.DeleteFile();

    const QStringList files = UndoFiles();
    CUndoDEM misfit(
        dem, nullptr, before.size(),
        [&](const cv::Rect& block, cv::Mat& b, cv::Mat& a) {
            b = before(block);
            a = block.x > 0 ? cv::Mat(1, 1, CV_32FC1, cv::Scalar(0.0f)) : after(block);
        },
        {0, 0}, outline);
    EXPECT_EQ(misfit.IsValid(), 0);
    EXPECT_EQ(UndoFiles(), files);
}

TEST(UndoRecord, OutlineRestoresExactlyTheCellsInside) {
    Project project;
    CDEM* dem = project.AddDem("b.tif", 20, 15, 1000.0f);
    dem->m_grid.at<float>(5, 8) = -9999.0f;  // inside the outline
    const cv::Mat original = dem->m_grid.clone();
    const cv::Rect window(4, 3, 8, 6);
    // The whole window is rewritten, the outline covers window cells 2..6 x 1..4.
    CUndoDEM record = EditWindow(dem, window, 50.0f, {{2, 1}, {6, 1}, {6, 4}, {2, 4}});
    ASSERT_EQ(record.IsValid(), 1);
    const cv::Mat edited = dem->m_grid.clone();
    dem->m_modified = 0;

    ASSERT_EQ(record.Apply(1, nullptr, project.Lookup()), 1);
    for (int r = 0; r < original.rows; ++r) {
        for (int c = 0; c < original.cols; ++c) {
            const bool inside =
                c >= window.x + 2 && c <= window.x + 6 && r >= window.y + 1 && r <= window.y + 4;
            const float expected = inside ? original.at<float>(r, c) : edited.at<float>(r, c);
            ASSERT_EQ(dem->m_grid.at<float>(r, c), expected) << "cell " << c << ", " << r;
        }
    }
    EXPECT_EQ(dem->m_grid.at<float>(5, 8), -9999.0f);
    EXPECT_EQ(dem->m_modified, 1);
    EXPECT_EQ(dem->m_busy, 0);

    ASSERT_EQ(record.Apply(2, nullptr, project.Lookup()), 1);
    EXPECT_TRUE(Same(dem->m_grid, edited));
    EXPECT_EQ(record.Apply(3, nullptr, project.Lookup()), 0);
    record.DeleteFile();
}

TEST(UndoRecord, RegionSavesAndFillsTheMaskedCells) {
    Project project;
    CDEM* dem = project.AddDem("c.tif", 12, 10, 0.0f);
    const cv::Mat original = dem->m_grid.clone();
    // An L-shaped run of cells: (3..6, 2) and (3, 3..5); the mask is one cell larger all round.
    cv::Mat mask = cv::Mat::zeros(12, 14, CV_8UC1);
    cv::Mat filled = cv::Mat::zeros(10, 12, CV_8UC1);
    filled(cv::Rect(3, 2, 4, 1)).setTo(1);
    filled(cv::Rect(3, 3, 1, 3)).setTo(1);
    filled.copyTo(mask(cv::Rect(1, 1, 12, 10)));

    CUndoDEM record(dem, nullptr, mask, cv::Rect(3, 2, 4, 4), 77.0f);
    ASSERT_EQ(record.IsValid(), 1);
    cv::Mat expected = original.clone();
    expected.setTo(77.0f, filled);
    EXPECT_TRUE(Same(dem->m_grid, expected));

    ASSERT_EQ(record.Apply(1, nullptr, project.Lookup()), 1);
    EXPECT_TRUE(Same(dem->m_grid, original));
    ASSERT_EQ(record.Apply(2, nullptr, project.Lookup()), 1);
    EXPECT_TRUE(Same(dem->m_grid, expected));
    record.DeleteFile();
}

TEST(UndoRecord, RecordThatCannotBeWrittenIsReported) {
    Project project;
    CDEM* dem = project.AddDem("d.tif", 10, 10, 0.0f);
    const cv::Mat original = dem->m_grid.clone();

    // Refused inputs: images of different sizes, a mask of the wrong size.
    cv::Mat window(3, 3, CV_32FC1, cv::Scalar(1.0f));
    EXPECT_EQ(CUndoDEM(dem, nullptr, window, cv::Mat(3, 4, CV_32FC1), {0, 0}, {}).IsValid(), 0);
    EXPECT_EQ(CUndoDEM(dem, nullptr, cv::Mat::ones(10, 10, CV_8UC1), cv::Rect(0, 0, 5, 5), 1.0f).IsValid(),
              0);
    EXPECT_EQ(CUndoDEM(nullptr, nullptr, window, window, {0, 0}, {}).IsValid(), 0);

    // The undo folder cannot take files: a plain file stands where it was.
    const QString folder = GetDemUndoFolder();
    const QStringList filesBefore = UndoFiles();
    const QString aside = folder.chopped(1) + "-aside";
    ASSERT_TRUE(QDir().rename(folder, aside));
    {
        QFile blocker(folder.chopped(1));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    CUndoDEM outline(dem, nullptr, window, window, {0, 0}, {});
    cv::Mat mask = cv::Mat::ones(12, 12, CV_8UC1);
    CUndoDEM region(dem, nullptr, mask, cv::Rect(0, 0, 10, 10), 5.0f);
    QFile::remove(folder.chopped(1));
    ASSERT_TRUE(QDir().rename(aside, folder));

    EXPECT_EQ(UndoFiles(), filesBefore);
    EXPECT_EQ(outline.IsValid(), 0);
    EXPECT_TRUE(outline.m_path.isEmpty());
    EXPECT_EQ(region.IsValid(), 0);
    // Without its saved cells the fill is not made.
    EXPECT_TRUE(Same(dem->m_grid, original));
    DemUndoRound round;
    EXPECT_EQ(round.Add(outline), 0);
    EXPECT_EQ(round.Add(region), 0);
    DemUndoStack stack(project.Lookup());
    EXPECT_EQ(stack.Push(round), 0);
    EXPECT_EQ(stack.Count(), 0);
    EXPECT_FALSE(stack.CanUndo());
}

TEST(UndoStack, ElevenRoundsKeepTheLastTen) {
    Project project;
    CDEM* dem = project.AddDem("e.tif", 40, 8, 0.0f);
    std::vector<QString> paths;
    cv::Mat afterFirst;
    {
        DemUndoStack stack(project.Lookup());
        for (int i = 0; i < 11; ++i) {
            CUndoDEM record = EditWindow(dem, cv::Rect(i * 3, 1, 3, 5), 10.0f + i);
            paths.push_back(record.m_path);
            ASSERT_EQ(stack.Push(RoundOf(record)), 1);
            if (i == 0) {
                afterFirst = dem->m_grid.clone();
            }
        }
        EXPECT_EQ(stack.Count(), 10);
        EXPECT_EQ(stack.CurrentIndex(), 9);
        EXPECT_FALSE(QFile::exists(paths[0]));
        for (int i = 1; i < 11; ++i) {
            EXPECT_EQ(stack.Round(i - 1).Records()[0].m_path, paths[i]);
            EXPECT_TRUE(QFile::exists(paths[i]));
        }
        // Undoing all ten leaves the first edit, which dropped out of the history.
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(stack.Undo(), 1);
        }
        EXPECT_EQ(stack.CurrentIndex(), -1);
        EXPECT_TRUE(Same(dem->m_grid, afterFirst));
        EXPECT_EQ(stack.Undo(), 0);
        EXPECT_EQ(stack.CurrentIndex(), -1);
    }
    // The history takes its files with it.
    for (const QString& path : paths) {
        EXPECT_FALSE(QFile::exists(path));
    }
}

TEST(UndoStack, NewEditDropsTheRedoTail) {
    Project project;
    CDEM* dem = project.AddDem("f.tif", 20, 5, 0.0f);
    DemUndoStack stack(project.Lookup());
    std::vector<QString> paths;
    for (int i = 0; i < 3; ++i) {
        CUndoDEM record = EditWindow(dem, cv::Rect(i * 4, 0, 4, 5), 1.0f);
        paths.push_back(record.m_path);
        stack.Push(RoundOf(record));
    }
    EXPECT_EQ(stack.Redo(), 0);
    EXPECT_EQ(stack.Undo(), 1);
    EXPECT_EQ(stack.Undo(), 1);
    EXPECT_TRUE(stack.CanRedo());
    const cv::Mat afterOne = dem->m_grid.clone();
    EXPECT_EQ(stack.Redo(), 1);
    EXPECT_EQ(stack.Undo(), 1);
    EXPECT_TRUE(Same(dem->m_grid, afterOne));

    stack.Push(RoundOf(EditWindow(dem, cv::Rect(16, 0, 4, 5), 2.0f)));
    EXPECT_EQ(stack.Count(), 2);
    EXPECT_EQ(stack.CurrentIndex(), 1);
    EXPECT_FALSE(stack.CanRedo());
    EXPECT_TRUE(QFile::exists(paths[0]));
    EXPECT_FALSE(QFile::exists(paths[1]));
    EXPECT_FALSE(QFile::exists(paths[2]));
}

TEST(UndoStack, RoundOverTwoDemsRestoresBoth) {
    Project project;
    CDEM* a = project.AddDem("g.tif", 10, 10, 0.0f);
    CDEM* b = project.AddDem("h.tif", 10, 10, 500.0f);
    const cv::Mat aBefore = a->m_grid.clone();
    const cv::Mat bBefore = b->m_grid.clone();
    DemUndoRound round;
    ASSERT_EQ(round.Add(EditWindow(a, cv::Rect(1, 1, 5, 5), 3.0f)), 1);
    ASSERT_EQ(round.Add(EditWindow(b, cv::Rect(4, 2, 6, 6), -3.0f)), 1);
    const cv::Mat aAfter = a->m_grid.clone();
    const cv::Mat bAfter = b->m_grid.clone();
    DemUndoStack stack(project.Lookup());
    ASSERT_EQ(stack.Push(round), 1);

    ASSERT_EQ(stack.Undo(), 1);
    EXPECT_TRUE(Same(a->m_grid, aBefore));
    EXPECT_TRUE(Same(b->m_grid, bBefore));
    ASSERT_EQ(stack.Redo(), 1);
    EXPECT_TRUE(Same(a->m_grid, aAfter));
    EXPECT_TRUE(Same(b->m_grid, bAfter));
}

TEST(UndoStack, UndoOfARemovedDemChangesNothing) {
    Project project;
    CDEM* gone = project.AddDem("i.tif", 10, 10, 0.0f);
    DemUndoStack stack(project.Lookup());
    stack.Push(RoundOf(EditWindow(gone, cv::Rect(0, 0, 10, 10), 9.0f)));
    project.Remove(gone);
    // A DEM of the same name and size loaded afterwards (possibly at the same address) is not the
    // one the round was made for.
    CDEM* newcomer = project.AddDem("i.tif", 10, 10, 0.0f);
    const cv::Mat untouched = newcomer->m_grid.clone();

    EXPECT_EQ(stack.Undo(), 1);
    EXPECT_EQ(stack.CurrentIndex(), -1);
    EXPECT_TRUE(Same(newcomer->m_grid, untouched));
    EXPECT_EQ(newcomer->m_modified, 0);
    EXPECT_EQ(stack.Redo(), 1);
    EXPECT_EQ(stack.CurrentIndex(), 0);
    EXPECT_TRUE(Same(newcomer->m_grid, untouched));

    // A DEM whose image place was erased from the drawing is not restored either.
    CUndoDEM record = EditWindow(newcomer, cv::Rect(2, 2, 3, 3), 1.0f);
    const cv::Mat edited = newcomer->m_grid.clone();
    CadEntityErase(newcomer->m_imageEntity, 1);
    EXPECT_EQ(record.Apply(1, nullptr, project.Lookup()), 0);
    EXPECT_TRUE(Same(newcomer->m_grid, edited));
    record.DeleteFile();
}
