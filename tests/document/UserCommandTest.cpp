// The CAD user commands of a project: what each project registers, the ribbon starters with and
// without the active-command guard, commands typed in the command line, and the command boundary
// (a command inside another's input wait, an exception escaping a procedure).
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include <stdexcept>

#include "DocTestSupport.h"
#include "support/ScriptedInteraction.h"

namespace {

using kvtest::CadCallLog;
using kvtest::DocTest;

struct ExpectedRow {
    int id;
    const char* name;
    const char* alias;
    bool rubberBand;
};

// The 47 commands in registration order.
const ExpectedRow kExpected[] = {
    {CMD_VOLUME, "VOLUME", "VOL", true},
    {CMD_PROFILE, "PROFILE", "EP", true},
    {CMD_SUBTRACTDEM, "SUBTRACTDEM", "SUBDEM", true},
    {CMD_GROUNDFILTERING, "GROUNDFILTERING", "GF", true},
    {CMD_OBJECTELEVATION, "OBJECTELEVATION", "OE", true},
    {CMD_DEMHOLE, "DEMHOLE", "DEMHOLE", true},
    {CMD_DEMGRIDGAPS, "DEMGRIDGAPS", "DEMGRIDGAPS", true},
    {CMD_DEMFLOODFILL, "DEMFLOODFILL", "DEMFLOODFILL", true},
    {CMD_DEMOFFSET, "DEMOFFSET", "DEMOFFSET", true},
    {CMD_DEMPATCHIT, "DEMPATCHIT", "DEMPATCHIT", true},
    {CMD_EDITSEAMLINESROUND, "EDITSEAMLINESROUND", "RD", true},
    {CMD_EDITSEAMLINESROUNDUNDO, "EDITSEAMLINESROUNDUNDO", "RDU", false},
    {CMD_EDITSEAMLINESROUNDREDO, "EDITSEAMLINESROUNDREDO", "RDR", false},
    {CMD_DEMELEVATIONBYENTITIES, "DEMELEVATIONBYENTITIES", "DEE", true},
    {CMD_CONTOURS, "CONTOURS", "CON", true},
    {CMD_CUT, "CUT", "CUT", true},
    {CMD_ROTATE, "ROTATE", "ROT", true},
    {CMD_ADDQUOTES, "ADDQUOTES", "QUOT", true},
    {CMD_DRAWPOLYLINEONORTHO, "DRAWPOLYLINEONORTHO", "DPOO", true},
    {CMD_CREATESLOPEMAP, "CREATESLOPEMAP", "SLOPE", true},
    {CMD_DRAWARROW, "DRAWARROW", "ARROW", true},
    {CMD_LANDMARKTRANSFORM, "LANDMARKTRANSFORM", "LMT", true},
    {CMD_ROTATEFROMPOLY, "ROTATEFROMPOLY", "RFP", true},
    {CMD_ADDPOINTS, "ADDPOINTS", "PTS", true},
    {CMD_WRITEOBJ, "WRITEOBJ", "OBJ", true},
    {CMD_LANDMARKTRANSFORMGPS, "LANDMARKTRANSFORMGPS", "LMTGPS", true},
    {CMD_DEMSPLIT, "DEMSPLIT", "DEMSPLIT", true},
    {CMD_DEMMERGE, "DEMMERGE", "DEMMERGE", true},
    {CMD_COMPAREDEM, "COMPAREDEM", "COMPAREDEM", true},
    {CMD_RESIZEDEM, "RESIZEDEM", "RESIZEDEM", true},
    {CMD_DEMFROMTIN, "DEMFROMTIN", "DEMFROMTIN", true},
    {CMD_EDITDEMSEAMLINESROUND, "EDITDEMSEAMLINESROUND", "DRD", true},
    {CMD_EDITDEMSEAMLINESROUNDUNDO, "EDITDEMSEAMLINESROUNDUNDO", "DRDU", false},
    {CMD_EDITDEMSEAMLINESROUNDREDO, "EDITDEMSEAMLINESROUNDREDO", "DRDR", false},
    {CMD_SETENTELEVATIONFROMDEM, "SETENTELEVATIONFROMDEM", "SEEFD", false},
    {CMD_RASTERIZEENTITIESONDEM, "RASTERIZEENTITIESONDEM", "RETD", false},
    {CMD_CREATEDEMFROMLAS, "CREATEDEMFROMLAS", "RETD", false},
    {CMD_DEMANALYSIS, "DEMANALYSIS", "RETD", false},
    {CMD_NDVISAVI, "NDVISAVI", "NDVISAVI", true},
    {CMD_RASTERCALCULATOR, "RASTERCALCULATOR", "RC", false},
    {CMD_MAPREPRESENTATION, "MAPREPRESENTATION", "MR", false},
    {CMD_RASTERIZEMAP, "RASTERIZEMAP", "RM", false},
    {CMD_COLORCLASSIFICATION, "COLORCLASSIFICATION", "CC", true},
    {CMD_EXPORTNDVIRESULTS, "EXPORTNDVIRESULTS", "ENR", true},
    {CMD_EDITDEMFROMTIN, "EDITDEMFROMTIN", "EDFT", true},
    {CMD_ADDLONGMEAS, "ADDLONGMEAS", "", false},
    {CMD_DEMERODE, "DEMERODE", "DEMERODE", true},
};

struct ExpectedStarter {
    int ribbonId;
    int commandId;
    bool guarded;
};

// Every ribbon command that starts a user command.
const ExpectedStarter kStarters[] = {
    {ID_BUTTON_VOLUME, CMD_VOLUME, true},
    {ID_BUTTON_PROFILE, CMD_PROFILE, true},
    {ID_BUTTON_SUBTRACTDEM, CMD_SUBTRACTDEM, true},
    {ID_BUTTON_GROUNDFILTERING, CMD_GROUNDFILTERING, true},
    {ID_BUTTON_DEMHOLE, CMD_DEMHOLE, true},
    {ID_BUTTON_CLOSEGAP, CMD_DEMGRIDGAPS, true},
    {ID_BUTTON_FLOODFILL, CMD_DEMFLOODFILL, true},
    {ID_BUTTON_DEMDELTAOFFSET, CMD_DEMOFFSET, true},
    {ID_BUTTON_DEMPATCHDEM, CMD_DEMPATCHIT, true},
    {ID_MOSAICMERGE_EDITSEAMLINES, CMD_EDITSEAMLINESROUND, true},
    {ID_MOSAICMERGE_UNDOEDITSEAMLINES, CMD_EDITSEAMLINESROUNDUNDO, true},
    {ID_MOSAICMERGE_REDOEDITSEAMLINES, CMD_EDITSEAMLINESROUNDREDO, true},
    {ID_DEMEDITING_ELEVATIONBYENTITIES, CMD_DEMELEVATIONBYENTITIES, true},
    {ID_DRAW_CONTOURLINE, CMD_CONTOURS, true},
    {ID_CUT_CUTSECTION, CMD_CUT, true},
    {ID_CUT_ROT, CMD_ROTATE, true},
    {ID_DRAW_ADDQUOTES, CMD_ADDQUOTES, true},
    {ID_DRAW_DRAWPOLYLINEONORTHO, CMD_DRAWPOLYLINEONORTHO, true},
    {ID_DRAW_CREATESLOPEMAP, CMD_CREATESLOPEMAP, false},
    {ID_DRAW_DRAWARROW, CMD_DRAWARROW, false},
    {ID_TOOLS_LANDMARKTRANSFORM, CMD_LANDMARKTRANSFORM, true},
    {ID_TOOLS_OMOGRAPHYWARPING, CMD_ROTATEFROMPOLY, false},
    {ID_TOOLS_ADDPOINTS, CMD_ADDPOINTS, false},
    {ID_TOOLS_WRITEOBJ, CMD_WRITEOBJ, false},
    {ID_TOOLS_LANDMARKTRANSFORMGPS, CMD_LANDMARKTRANSFORMGPS, true},
    {ID_DEMSPLITMERGE_SPLIT, CMD_DEMSPLIT, true},
    {ID_DEMSPLITMERGE_MERGE, CMD_DEMMERGE, true},
    {ID_TOOLS_COMPAREDSM, CMD_COMPAREDEM, false},
    {ID_DEMEDITING_RESIZE, CMD_RESIZEDEM, true},
    {ID_DEMEDITING_DEMFROMTIM, CMD_DEMFROMTIN, true},
    {ID_DEMSPLITMERGE_EDITSEAMLINES, CMD_EDITDEMSEAMLINESROUND, true},
    {ID_DEMSPLITMERGE_UNDOEDITSEAMLINES, CMD_EDITDEMSEAMLINESROUNDUNDO, true},
    {ID_DEMSPLITMERGE_REDOEDITSEAMLINES, CMD_EDITDEMSEAMLINESROUNDREDO, true},
    {ID_TOOLS_QUOTEDWGOBJECT, CMD_SETENTELEVATIONFROMDEM, true},
    {ID_TOOLS_RASTERIZEENTITIESONDEM, CMD_RASTERIZEENTITIESONDEM, true},
    {ID_TOOLS_CREATEDEMFROMLAS, CMD_CREATEDEMFROMLAS, true},
    {ID_TOOLS_DEMANALYSIS, CMD_DEMANALYSIS, true},
    {ID_AGRITOOLS_NDVISAVI, CMD_NDVISAVI, true},
    {ID_AGRITOOLS_RASTERCALCULATOR, CMD_RASTERCALCULATOR, true},
    {ID_AGRITOOLS_MAPREPRESENTATION, CMD_MAPREPRESENTATION, true},
    {ID_TOOLS_RASTERIZE, CMD_RASTERIZEMAP, true},
    {ID_AGRITOOLS_COLORCLASSIFICATION, CMD_COLORCLASSIFICATION, true},
    {ID_AGRITOOLS_EXPORTNDVIDA, CMD_EXPORTNDVIRESULTS, true},
    {ID_DEMEDITING_EDITDEMFROMTIN, CMD_EDITDEMFROMTIN, true},
    {ID_GOLF_LONGMEASUREMENTS, CMD_ADDLONGMEAS, true},
    {ID_DEMEDITING_ERODE, CMD_DEMERODE, true},
};

// What the test procedures saw.
std::vector<int> g_started;
int g_activeAfterInnerCommand = -1;
int g_outerInput = 0;

// Records the command the engine runs.
void RecordCommand(CadDrawing* drawing) {
    g_started.push_back(CadCmdGetActive(drawing));
}

// A command that takes the active id and waits for one input.
void WaitingCommand(CadDrawing* drawing) {
    ActiveCadCommandId = CadCmdGetActive(drawing);
    g_outerInput = CadCmdUserInput(drawing);
    g_activeAfterInnerCommand = ActiveCadCommandId;
    ActiveCadCommandId = 0;
}

// A quick command that takes the active id and resets it, as every command does.
void QuickCommand(CadDrawing* drawing) {
    ActiveCadCommandId = CadCmdGetActive(drawing);
    g_started.push_back(ActiveCadCommandId);
    ActiveCadCommandId = 0;
}

void ThrowingCommand(CadDrawing* drawing) {
    ActiveCadCommandId = CadCmdGetActive(drawing);
    SetDocCommandPrompt(drawing, QStringLiteral("Pick a point"));
    throw std::runtime_error("matrix too large");
}

class UserCommandTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        g_started.clear();
        g_activeAfterInnerCommand = -1;
        g_outerInput = 0;
    }
};

TEST_F(UserCommandTest, EveryProjectRegistersTheFortySevenCommandsOnItsOwnDrawing) {
    CadCallLog log;
    CKelvaroDoc first;
    CKelvaroDoc second;
    for (CKelvaroDoc* doc : {&first, &second}) {
        std::vector<kv::CadCallRecord> added;
        for (const kv::CadCallRecord& r : log.calls) {
            if (r.kind == kv::CadCallRecord::AddCommand && r.drawing == doc->m_pCad) {
                added.push_back(r);
            }
        }
        ASSERT_EQ(added.size(), std::size(kExpected));
        // The ids run from 11004 to 11052 in table order, leaving out 11035 and 11036.
        int nextId = 11004;
        for (const kv::CadCallRecord& r : added) {
            EXPECT_EQ(r.number, nextId);
            nextId = nextId == 11034 ? 11037 : nextId + 1;
        }
        EXPECT_EQ(nextId, 11053);
        for (size_t i = 0; i < added.size(); ++i) {
            SCOPED_TRACE(kExpected[i].name);
            EXPECT_EQ(added[i].number, kExpected[i].id);
            EXPECT_EQ(added[i].text, QString::fromLatin1(kExpected[i].name));
            EXPECT_EQ(added[i].alias, QString::fromLatin1(kExpected[i].alias));
            EXPECT_EQ(added[i].reserved, 0);
            EXPECT_NE(added[i].procedure, nullptr);
            EXPECT_EQ(added[i].rubberBand != nullptr, kExpected[i].rubberBand);
        }
    }
}

TEST_F(UserCommandTest, EachProjectFillsTheThreeContextMenus) {
    CadCallLog log;
    CKelvaroDoc doc;
    QStringList menus;
    for (const QString& call : log.Texts()) {
        if (call.startsWith("Menu")) {
            menus << call;
        }
    }
    EXPECT_EQ(menus, QStringList({"MenuClear 3",
                                  "MenuAdd 3 *REPEAT* 913",
                                  "MenuAdd 3 - 0",
                                  "MenuAdd 3 Zoom Extents 102",
                                  "MenuAdd 3 Zoom Window 106",
                                  "MenuAdd 3 Zoom Previous 105",
                                  "MenuAdd 3 - 0",
                                  "MenuAdd 3 Properties... 306",
                                  "MenuClear 2",
                                  "MenuAdd 2 Unselect All 911",
                                  "MenuAdd 2 - 0",
                                  "MenuAdd 2 Erase 311",
                                  "MenuAdd 2 - 0",
                                  "MenuAdd 2 Properties... 306",
                                  "MenuClear 4",
                                  "MenuAdd 4 Enter 261",
                                  "MenuAdd 4 Enter Closed 262",
                                  "MenuAdd 4 - 0",
                                  "MenuAdd 4 Undo 265",
                                  "MenuAdd 4 - 0",
                                  "MenuAdd 4 Cancel 264"}));
}

TEST_F(UserCommandTest, TypedNamesAndAliasesStartTheirCommands) {
    for (int id : {CMD_OBJECTELEVATION, CMD_CUT, CMD_ROTATE, CMD_RASTERIZEENTITIESONDEM}) {
        GetCommandRegistry().Supply(id, RecordCommand);
    }
    CKelvaroDoc doc;
    QWidget host;
    host.resize(400, 300);
    QWidget* commandLine = CadCWCreate(&host, 0, 0, 400, 60);
    ASSERT_NE(CadWndCreate(doc.m_pCad, &host, 0, 60, 400, 240), nullptr);
    auto* edit = commandLine->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    // "RETD" is shared by three commands; typed, it starts the first of them.
    for (const char* typed : {"OE", "OBJECTELEVATION", "CUT", "ROT", "rotate", "RETD"}) {
        QTest::keyClicks(edit, QString::fromLatin1(typed));
        QTest::keyClick(edit, Qt::Key_Return);
    }
    EXPECT_EQ(g_started, std::vector<int>({CMD_OBJECTELEVATION, CMD_OBJECTELEVATION, CMD_CUT, CMD_ROTATE,
                                           CMD_ROTATE, CMD_RASTERIZEENTITIESONDEM}));
    delete commandLine;
}

TEST_F(UserCommandTest, ACommandWhoseToolIsNotBuiltSaysSoAndEndsAtOnce) {
    CKelvaroDoc doc;
    ASSERT_NE(CadExecute(doc.m_pCad, nullptr, CMD_VOLUME), 0);
    char prompt[256] = {};
    CadCmdGetPrompt(doc.m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "VOLUME: not available yet");
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(CadCmdGetActive(doc.m_pCad), 0);
}

TEST_F(UserCommandTest, AStarterClearsTheSelectionFinishesTheEngineCommandThenStartsItsOwn) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    for (const ExpectedStarter& s : kStarters) {
        SCOPED_TRACE(s.commandId);
        CadCallLog log;
        ASSERT_TRUE(doc.OnCommand(s.ribbonId));
        EXPECT_EQ(log.Texts(doc.m_pCad),
                  QStringList({"Execute 911", "CmdFinish", QStringLiteral("Execute %1").arg(s.commandId)}));
    }
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(UserCommandTest, WhileACommandRunsGuardedStartersRefuseAndTheOthersStart) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ActiveCadCommandId = CMD_DEMHOLE;
    for (const ExpectedStarter& s : kStarters) {
        SCOPED_TRACE(s.commandId);
        ui.Clear();
        CadCallLog log;
        ASSERT_TRUE(doc.OnCommand(s.ribbonId));
        if (s.guarded) {
            ASSERT_EQ(ui.Messages().size(), 1u);
            EXPECT_EQ(ui.Messages()[0].text, QStringLiteral("Close active command before"));
            EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Information);
            EXPECT_TRUE(log.calls.empty());
        } else {
            EXPECT_TRUE(ui.Messages().empty());
            EXPECT_EQ(log.Texts(doc.m_pCad), QStringList({"Execute 911", "CmdFinish",
                                                          QStringLiteral("Execute %1").arg(s.commandId)}));
            // A command that ran inside another leaves the other's id in place.
            EXPECT_EQ(ActiveCadCommandId, CMD_DEMHOLE);
        }
    }
}

TEST_F(UserCommandTest, ACommandStartedInsideAnothersInputWaitHandsTheGuardBack) {
    kvtest::ScriptedInteraction ui;
    GetCommandRegistry().Supply(CMD_DEMHOLE, WaitingCommand);
    GetCommandRegistry().Supply(CMD_ADDPOINTS, QuickCommand);
    CKelvaroDoc doc;
    int activeAfterInner = -1;
    CadScriptPushCall(doc.m_pCad, [&] {
        doc.OnToolsAddpoints();
        activeAfterInner = ActiveCadCommandId;
        // The outer command still runs: the guard holds.
        doc.OnButtonVolume();
    });
    doc.OnButtonDemhole();
    EXPECT_EQ(g_started, std::vector<int>({CMD_ADDPOINTS}));
    EXPECT_EQ(activeAfterInner, CMD_DEMHOLE);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Close active command before"}));
    // The outer command's wait was cancelled by the inner start; it ends cleanly.
    EXPECT_EQ(g_outerInput, CAD_INPUT_CANCEL);
    EXPECT_EQ(g_activeAfterInnerCommand, CMD_DEMHOLE);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(UserCommandTest, AnExceptionEscapingAProcedureIsReportedAndLeavesNoCommandActive) {
    kvtest::ScriptedInteraction ui;
    GetCommandRegistry().Supply(CMD_PROFILE, ThrowingCommand);
    CKelvaroDoc doc;
    doc.OnButtonProfile();
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].text, QStringLiteral("PROFILE: matrix too large"));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Error);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(doc.m_strCommandPrompt.isEmpty());
}

TEST_F(UserCommandTest, SuppliedRubberBandsReplaceOnlyTheirOwn) {
    auto draw = [](CadDrawing*, QPainter*, double, double, double) {};
    CommandRegistry& registry = GetCommandRegistry();
    EXPECT_EQ(registry.Supply(CMD_VOLUME, RecordCommand, draw), 1);
    EXPECT_EQ(registry.Find(CMD_VOLUME)->drawProcedure, static_cast<CadRubberBandProc>(draw));
    // A command without a rubber band of its own keeps the empty one, or none.
    EXPECT_EQ(registry.Supply(CMD_SUBTRACTDEM, RecordCommand, draw), 1);
    EXPECT_EQ(registry.Find(CMD_SUBTRACTDEM)->drawProcedure, &CmdEmptyDraw);
    EXPECT_EQ(registry.Supply(CMD_EDITSEAMLINESROUNDUNDO, RecordCommand, draw), 1);
    EXPECT_EQ(registry.Find(CMD_EDITSEAMLINESROUNDUNDO)->drawProcedure, nullptr);
    const int unusedId = CMD_DEMFROMTIN + 1;
    EXPECT_EQ(registry.Supply(unusedId, RecordCommand), 0);
    EXPECT_EQ(registry.Supply(CMD_VOLUME, nullptr), 0);
}

}  // namespace
