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
    {11004, "VOLUME", "VOL", true},
    {11005, "PROFILE", "EP", true},
    {11006, "SUBTRACTDEM", "SUBDEM", true},
    {11007, "GROUNDFILTERING", "GF", true},
    {11008, "OBJECTELEVATION", "OE", true},
    {11009, "DEMHOLE", "DEMHOLE", true},
    {11010, "DEMGRIDGAPS", "DEMGRIDGAPS", true},
    {11011, "DEMFLOODFILL", "DEMFLOODFILL", true},
    {11012, "DEMOFFSET", "DEMOFFSET", true},
    {11013, "DEMPATCHIT", "DEMPATCHIT", true},
    {11014, "EDITSEAMLINESROUND", "RD", true},
    {11015, "EDITSEAMLINESROUNDUNDO", "RDU", false},
    {11016, "EDITSEAMLINESROUNDREDO", "RDR", false},
    {11017, "DEMELEVATIONBYENTITIES", "DEE", true},
    {11018, "CONTOURS", "CON", true},
    {11019, "CUT", "CUT", true},
    {11020, "ROTATE", "ROT", true},
    {11021, "ADDQUOTES", "QUOT", true},
    {11022, "DRAWPOLYLINEONORTHO", "DPOO", true},
    {11023, "CREATESLOPEMAP", "SLOPE", true},
    {11024, "DRAWARROW", "ARROW", true},
    {11025, "LANDMARKTRANSFORM", "LMT", true},
    {11026, "ROTATEFROMPOLY", "RFP", true},
    {11027, "ADDPOINTS", "PTS", true},
    {11028, "WRITEOBJ", "OBJ", true},
    {11029, "LANDMARKTRANSFORMGPS", "LMTGPS", true},
    {11030, "DEMSPLIT", "DEMSPLIT", true},
    {11031, "DEMMERGE", "DEMMERGE", true},
    {11032, "COMPAREDEM", "COMPAREDEM", true},
    {11033, "RESIZEDEM", "RESIZEDEM", true},
    {11034, "DEMFROMTIN", "DEMFROMTIN", true},
    {11037, "EDITDEMSEAMLINESROUND", "DRD", true},
    {11038, "EDITDEMSEAMLINESROUNDUNDO", "DRDU", false},
    {11039, "EDITDEMSEAMLINESROUNDREDO", "DRDR", false},
    {11040, "SETENTELEVATIONFROMDEM", "SEEFD", false},
    {11041, "RASTERIZEENTITIESONDEM", "RETD", false},
    {11042, "CREATEDEMFROMLAS", "RETD", false},
    {11043, "DEMANALYSIS", "RETD", false},
    {11044, "NDVISAVI", "NDVISAVI", true},
    {11045, "RASTERCALCULATOR", "RC", false},
    {11046, "MAPREPRESENTATION", "MR", false},
    {11047, "RASTERIZEMAP", "RM", false},
    {11048, "COLORCLASSIFICATION", "CC", true},
    {11049, "EXPORTNDVIRESULTS", "ENR", true},
    {11050, "EDITDEMFROMTIN", "EDFT", true},
    {11051, "ADDLONGMEAS", "", false},
    {11052, "DEMERODE", "DEMERODE", true},
};

struct ExpectedStarter {
    int ribbonId;
    int commandId;
    bool guarded;
};

// Every ribbon command that starts a user command.
const ExpectedStarter kStarters[] = {
    {ID_BUTTON_VOLUME, 11004, true},
    {ID_BUTTON_PROFILE, 11005, true},
    {ID_BUTTON_SUBTRACTDEM, 11006, true},
    {ID_BUTTON_GROUNDFILTERING, 11007, true},
    {ID_BUTTON_DEMHOLE, 11009, true},
    {ID_BUTTON_CLOSEGAP, 11010, true},
    {ID_BUTTON_FLOODFILL, 11011, true},
    {ID_BUTTON_DEMDELTAOFFSET, 11012, true},
    {ID_BUTTON_DEMPATCHDEM, 11013, true},
    {ID_MOSAICMERGE_EDITSEAMLINES, 11014, true},
    {ID_MOSAICMERGE_UNDOEDITSEAMLINES, 11015, true},
    {ID_MOSAICMERGE_REDOEDITSEAMLINES, 11016, true},
    {ID_DEMEDITING_ELEVATIONBYENTITIES, 11017, true},
    {ID_DRAW_CONTOURLINE, 11018, true},
    {ID_CUT_CUTSECTION, 11019, true},
    {ID_CUT_ROT, 11020, true},
    {ID_DRAW_ADDQUOTES, 11021, true},
    {ID_DRAW_DRAWPOLYLINEONORTHO, 11022, true},
    {ID_DRAW_CREATESLOPEMAP, 11023, false},
    {ID_DRAW_DRAWARROW, 11024, false},
    {ID_TOOLS_LANDMARKTRANSFORM, 11025, true},
    {ID_TOOLS_OMOGRAPHYWARPING, 11026, false},
    {ID_TOOLS_ADDPOINTS, 11027, false},
    {ID_TOOLS_WRITEOBJ, 11028, false},
    {ID_TOOLS_LANDMARKTRANSFORMGPS, 11029, true},
    {ID_DEMSPLITMERGE_SPLIT, 11030, true},
    {ID_DEMSPLITMERGE_MERGE, 11031, true},
    {ID_TOOLS_COMPAREDSM, 11032, false},
    {ID_DEMEDITING_RESIZE, 11033, true},
    {ID_DEMEDITING_DEMFROMTIM, 11034, true},
    {ID_DEMSPLITMERGE_EDITSEAMLINES, 11037, true},
    {ID_DEMSPLITMERGE_UNDOEDITSEAMLINES, 11038, true},
    {ID_DEMSPLITMERGE_REDOEDITSEAMLINES, 11039, true},
    {ID_TOOLS_QUOTEDWGOBJECT, 11040, true},
    {ID_TOOLS_RASTERIZEENTITIESONDEM, 11041, true},
    {ID_TOOLS_CREATEDEMFROMLAS, 11042, true},
    {ID_TOOLS_DEMANALYSIS, 11043, true},
    {ID_AGRITOOLS_NDVISAVI, 11044, true},
    {ID_AGRITOOLS_RASTERCALCULATOR, 11045, true},
    {ID_AGRITOOLS_MAPREPRESENTATION, 11046, true},
    {ID_TOOLS_RASTERIZE, 11047, true},
    {ID_AGRITOOLS_COLORCLASSIFICATION, 11048, true},
    {ID_AGRITOOLS_EXPORTNDVIDA, 11049, true},
    {ID_DEMEDITING_EDITDEMFROMTIN, 11050, true},
    {ID_GOLF_LONGMEASUREMENTS, 11051, true},
    {ID_DEMEDITING_ERODE, 11052, true},
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
    for (int id : {11008, 11019, 11020, 11041}) {
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
    EXPECT_EQ(g_started, std::vector<int>({11008, 11008, 11019, 11020, 11020, 11041}));
    delete commandLine;
}

TEST_F(UserCommandTest, ACommandWhoseToolIsNotBuiltSaysSoAndEndsAtOnce) {
    CKelvaroDoc doc;
    ASSERT_NE(CadExecute(doc.m_pCad, nullptr, 11004), 0);
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
    ActiveCadCommandId = 11009;
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
            EXPECT_EQ(ActiveCadCommandId, 11009);
        }
    }
}

TEST_F(UserCommandTest, ACommandStartedInsideAnothersInputWaitHandsTheGuardBack) {
    kvtest::ScriptedInteraction ui;
    GetCommandRegistry().Supply(11009, WaitingCommand);
    GetCommandRegistry().Supply(11027, QuickCommand);
    CKelvaroDoc doc;
    int activeAfterInner = -1;
    CadScriptPushCall(doc.m_pCad, [&] {
        doc.OnToolsAddpoints();
        activeAfterInner = ActiveCadCommandId;
        // The outer command still runs: the guard holds.
        doc.OnButtonVolume();
    });
    doc.OnButtonDemhole();
    EXPECT_EQ(g_started, std::vector<int>({11027}));
    EXPECT_EQ(activeAfterInner, 11009);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Close active command before"}));
    // The outer command's wait was cancelled by the inner start; it ends cleanly.
    EXPECT_EQ(g_outerInput, CAD_INPUT_CANCEL);
    EXPECT_EQ(g_activeAfterInnerCommand, 11009);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(UserCommandTest, AnExceptionEscapingAProcedureIsReportedAndLeavesNoCommandActive) {
    kvtest::ScriptedInteraction ui;
    GetCommandRegistry().Supply(11005, ThrowingCommand);
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
    EXPECT_EQ(registry.Supply(11004, RecordCommand, draw), 1);
    EXPECT_EQ(registry.Find(11004)->drawProcedure, static_cast<CadRubberBandProc>(draw));
    // A command without a rubber band of its own keeps the empty one, or none.
    EXPECT_EQ(registry.Supply(11006, RecordCommand, draw), 1);
    EXPECT_EQ(registry.Find(11006)->drawProcedure, &CmdEmptyDraw);
    EXPECT_EQ(registry.Supply(11015, RecordCommand, draw), 1);
    EXPECT_EQ(registry.Find(11015)->drawProcedure, nullptr);
    EXPECT_EQ(registry.Supply(11035, RecordCommand), 0);
    EXPECT_EQ(registry.Supply(11004, nullptr), 0);
}

}  // namespace
