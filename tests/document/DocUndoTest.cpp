// The document's history of DEM edits: rounds pushed by edits are undone and redone through the
// ribbon commands, the oldest round goes when an eleventh comes, a round whose DEM left the
// project changes nothing, and nothing is replayed while a command runs.
#include "DocTestSupport.h"
#include "document/undo/DemUndoRound.h"
#include "platform/ui/CloseGuard.h"
#include "support/ScriptedInteraction.h"

namespace {

using kvtest::DocTest;

class DocUndoTest : public DocTest {
protected:
    CDEM* AddDem(const QString& name) {
        CDEM* dem = kvtest::PutDEM(doc, name);
        dem->m_grid = cv::Mat(8, 8, CV_32FC1, cv::Scalar(100.0f));
        dem->m_imageEntity = CadAddImagePlace(doc.m_pCad, 1000 + doc.GetDEMCount(), 8, 8, 0, 0, 0, 1);
        return dem;
    }
    // Adds delta to a 2 x 2 window at the top-left corner and pushes the round, as an edit does.
    void Edit(CDEM* dem, float delta) {
        const cv::Rect window(1, 1, 2, 2);
        cv::Mat before = dem->m_grid(window).clone();
        cv::Mat after = before + delta;
        DemUndoRound round;
        ASSERT_TRUE(round.Add(CUndoDEM(dem, &doc, before, after, window.tl(), {})));
        after.copyTo(dem->m_grid(window));
        doc.PushDemUndoRound(round);
    }
    float Cell(CDEM* dem) { return dem->m_grid.at<float>(1, 1); }
    bool Enabled(int id) {
        kv::CommandUI ui;
        ui.id = id;
        doc.OnUpdateCommand(ui);
        return ui.enabled;
    }

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
};

TEST_F(DocUndoTest, AnEditIsUndoneAndRedoneThroughTheCommands) {
    CDEM* dem = AddDem("a.tif");
    EXPECT_FALSE(Enabled(ID_BUTTON_DEMUNDO));
    Edit(dem, 5.0f);
    EXPECT_EQ(Cell(dem), 105.0f);
    EXPECT_TRUE(Enabled(ID_BUTTON_DEMUNDO));
    EXPECT_FALSE(Enabled(ID_BUTTON_DEMREDO));

    doc.OnCommand(ID_BUTTON_DEMUNDO);
    EXPECT_EQ(Cell(dem), 100.0f);
    EXPECT_EQ(doc.m_nCurrentDemUndoRound, -1);
    EXPECT_FALSE(Enabled(ID_BUTTON_DEMUNDO));
    EXPECT_TRUE(Enabled(ID_BUTTON_DEMREDO));
    doc.OnCommand(ID_BUTTON_DEMUNDO);  // nothing left to undo
    EXPECT_EQ(Cell(dem), 100.0f);

    doc.OnCommand(ID_BUTTON_DEMREDO);
    EXPECT_EQ(Cell(dem), 105.0f);
    EXPECT_EQ(doc.m_nCurrentDemUndoRound, 0);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

TEST_F(DocUndoTest, ElevenRoundsKeepTheLastTen) {
    CDEM* dem = AddDem("a.tif");
    for (int i = 1; i <= 11; ++i) {
        Edit(dem, 1.0f);
    }
    EXPECT_EQ(Cell(dem), 111.0f);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 10);
    for (int i = 0; i < 11; ++i) {
        doc.OnCommand(ID_BUTTON_DEMUNDO);
    }
    EXPECT_EQ(Cell(dem), 101.0f);
}

TEST_F(DocUndoTest, NothingIsReplayedWhileACommandRunsOrAWorkerIsBusy) {
    CDEM* dem = AddDem("a.tif");
    Edit(dem, 5.0f);
    ActiveCadCommandId = CMD_SEAMLINELABELBRUSH;
    EXPECT_FALSE(Enabled(ID_BUTTON_DEMUNDO));
    doc.OnCommand(ID_BUTTON_DEMUNDO);
    ActiveCadCommandId = 0;
    EXPECT_EQ(Cell(dem), 105.0f);
    {
        kv::BusyScope busy;
        doc.OnCommand(ID_BUTTON_DEMUNDO);
        EXPECT_EQ(Cell(dem), 105.0f);
    }
    doc.OnCommand(ID_BUTTON_DEMUNDO);
    EXPECT_EQ(Cell(dem), 100.0f);
}

TEST_F(DocUndoTest, UndoOfARoundWhoseDemLeftTheProjectOnlyMovesTheIndex) {
    CDEM* a = AddDem("a.tif");
    CDEM* b = AddDem("b.tif");
    Edit(a, 5.0f);
    Edit(b, 7.0f);
    doc.RemoveDEM("b.tif");
    doc.OnCommand(ID_BUTTON_DEMUNDO);
    EXPECT_EQ(doc.m_nCurrentDemUndoRound, 0);
    EXPECT_EQ(Cell(a), 105.0f);
    doc.OnCommand(ID_BUTTON_DEMUNDO);
    EXPECT_EQ(Cell(a), 100.0f);
}

}  // namespace
