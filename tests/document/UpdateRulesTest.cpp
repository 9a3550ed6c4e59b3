// The enabled and checked states the project gives the ribbon buttons of its commands, with no
// DEM, one DEM, two DEMs and a command running.
#include <QMap>

#include <stdexcept>
#include <vector>

#include "DocTestSupport.h"
#include "platform/tools/BusyScope.h"
#include "raster/Ortho.h"
#include "support/ScriptedInteraction.h"

namespace {

using kvtest::DocTest;
using kvtest::PutDEM;

struct State {
    bool enabled;
    bool checked;
    bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& os, const State& s) {
    return os << (s.enabled ? "enabled" : "disabled") << (s.checked ? " checked" : "");
}

State Query(CKelvaroDoc& doc, int id) {
    kv::CommandUI ui;
    ui.id = id;
    EXPECT_TRUE(doc.OnUpdateCommand(ui)) << id;
    return {ui.enabled, ui.checked};
}

// One button of each rule and the command each starts.
const int kVolume = ID_BUTTON_VOLUME;         // needs a DEM, checked while VOLUME runs
const int kHole = ID_BUTTON_DEMHOLE;          // needs a DEM and no command, checked while DEMHOLE runs
const int kSubtract = ID_BUTTON_SUBTRACTDEM;  // needs two DEMs and no command
const int kCut = ID_CUT_CUTSECTION;           // always enabled, checked while CUT runs
const int kSplit = ID_DEMSPLITMERGE_SPLIT;    // needs no command, never checked
const int kMerge = ID_DEMSPLITMERGE_MERGE;    // needs two DEMs and no command, never checked
const int kNdvi = ID_AGRITOOLS_NDVISAVI;      // no rule: always enabled
const int kAllRules[] = {kVolume, kHole, kSubtract, kCut, kSplit, kMerge, kNdvi};

// The other buttons that need one DEM.
const int kOtherSingleDemButtons[] = {ID_BUTTON_PROFILE,         ID_DRAW_CONTOURLINE,
                                      ID_BUTTON_GROUNDFILTERING, ID_BUTTON_CLOSEGAP,
                                      ID_BUTTON_FLOODFILL,       ID_BUTTON_DEMDELTAOFFSET,
                                      ID_BUTTON_DEMPATCHDEM,     ID_DEMEDITING_ELEVATIONBYENTITIES,
                                      ID_DEMEDITING_ERODE};

using States = QMap<int, State>;

States QueryAll(CKelvaroDoc& doc) {
    States states;
    for (int id : kAllRules) {
        states[id] = Query(doc, id);
    }
    return states;
}

class UpdateRulesTest : public DocTest {};

TEST_F(UpdateRulesTest, WithoutADemOnlyTheButtonsThatNeedNoneAreEnabled) {
    CKelvaroDoc doc;
    States expected{{kVolume, {false, false}}, {kHole, {false, false}}, {kSubtract, {false, false}},
                    {kCut, {true, false}},     {kSplit, {true, false}}, {kMerge, {false, false}},
                    {kNdvi, {true, false}}};
    EXPECT_EQ(QueryAll(doc), expected);
    for (int id : kOtherSingleDemButtons) {
        EXPECT_EQ(Query(doc, id), (State{false, false})) << id;
    }
    for (int id : {ID_DEMEDITING_RESIZE, ID_DEMEDITING_DEMFROMTIM}) {
        EXPECT_EQ(Query(doc, id), (State{true, false})) << id;
    }
}

TEST_F(UpdateRulesTest, OneDemEnablesTheSingleDemButtonsButNotThoseThatCompareTwo) {
    CKelvaroDoc doc;
    PutDEM(doc, "site.tif");
    States expected{{kVolume, {true, false}}, {kHole, {true, false}},  {kSubtract, {false, false}},
                    {kCut, {true, false}},    {kSplit, {true, false}}, {kMerge, {false, false}},
                    {kNdvi, {true, false}}};
    EXPECT_EQ(QueryAll(doc), expected);
    for (int id : kOtherSingleDemButtons) {
        EXPECT_EQ(Query(doc, id), (State{true, false})) << id;
    }
    PutDEM(doc, "other.tif");
    EXPECT_EQ(Query(doc, kSubtract), (State{true, false}));
    EXPECT_EQ(Query(doc, kMerge), (State{true, false}));
}

TEST_F(UpdateRulesTest, WhileACommandRunsItsButtonIsCheckedAndTheIdleButtonsAreDisabled) {
    CKelvaroDoc doc;
    PutDEM(doc, "a.tif");
    PutDEM(doc, "b.tif");
    ActiveCadCommandId = CMD_DEMHOLE;
    States expected{{kVolume, {true, false}}, {kHole, {false, true}},   {kSubtract, {false, false}},
                    {kCut, {true, false}},    {kSplit, {false, false}}, {kMerge, {false, false}},
                    {kNdvi, {true, false}}};
    EXPECT_EQ(QueryAll(doc), expected);
    ActiveCadCommandId = CMD_VOLUME;  // VOLUME stays enabled while it runs
    EXPECT_EQ(Query(doc, kVolume), (State{true, true}));
    ActiveCadCommandId = CMD_CUT;
    EXPECT_EQ(Query(doc, kCut), (State{true, true}));
    ActiveCadCommandId = CMD_DEMSPLIT;  // the split button is never checked
    EXPECT_EQ(Query(doc, kSplit), (State{false, false}));

    kv::CommandUI ui;
    ui.id = ID_DEMSPLITMERGE_SPLIT;
    doc.OnUpdateEnableWhenIdle(ui);
    EXPECT_FALSE(ui.enabled);
    ActiveCadCommandId = 0;
    doc.OnUpdateEnableWhenIdle(ui);
    EXPECT_TRUE(ui.enabled);
}

// The seamline builds run the procedure the mosaic tools hand in, with the project.
std::vector<CKelvaroDoc*> g_procedureRuns;

TEST_F(UpdateRulesTest, SeamlineBuildsNeedTheirProcedureTwoLayersAndNoCommand) {
    const int kOrthos = ID_BUTTON_BUILDSEAMLINES, kDems = ID_DEMSPLITMERGE_BUILDSEAMLINES;
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    for (const char* name : {"a.tif", "b.tif"}) {
        PutDEM(doc, name);
        auto* ortho = new COrtho(&doc);
        ortho->m_name = name;
        doc.m_Orthos[name] = ortho;
    }
    g_procedureRuns.clear();
    // Without a procedure the buttons stay disabled and do nothing.
    EXPECT_EQ(Query(doc, kOrthos), (State{false, false}));
    EXPECT_EQ(Query(doc, kDems), (State{false, false}));
    EXPECT_TRUE(doc.OnCommand(kOrthos));
    EXPECT_TRUE(ui.MessageTexts().isEmpty());

    GetDocumentProcedures().Supply(kOrthos, [](CKelvaroDoc& d) { g_procedureRuns.push_back(&d); });
    GetDocumentProcedures().Supply(kDems, [](CKelvaroDoc&) { throw std::runtime_error("no seam"); });
    EXPECT_EQ(GetDocumentProcedures().Supply(kDems, nullptr), 0);
    EXPECT_EQ(Query(doc, kOrthos), (State{true, false}));
    EXPECT_EQ(Query(doc, kDems), (State{true, false}));
    EXPECT_TRUE(doc.OnCommand(kOrthos));
    EXPECT_EQ(g_procedureRuns, std::vector<CKelvaroDoc*>({&doc}));
    // An exception that escapes a procedure is told, and the program is not left busy.
    EXPECT_TRUE(doc.OnCommand(kDems));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"no seam"}));
    EXPECT_EQ(kv::BusyCount(), 0);

    // Refused while a CAD command runs.
    ui.Clear();
    ActiveCadCommandId = CMD_VOLUME;
    EXPECT_EQ(Query(doc, kOrthos), (State{false, false}));
    EXPECT_TRUE(doc.OnCommand(kOrthos));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Close active command before"}));
    EXPECT_EQ(g_procedureRuns.size(), 1u);
    ActiveCadCommandId = 0;

    // One layer of the kind is not enough.
    delete doc.m_Orthos.at("b.tif");
    doc.m_Orthos.erase("b.tif");
    EXPECT_EQ(Query(doc, kOrthos), (State{false, false}));
    EXPECT_EQ(Query(doc, kDems), (State{true, false}));
}

TEST_F(UpdateRulesTest, CommandsTheProjectDoesNotHandleAreLeftToTheFrame) {
    CKelvaroDoc doc;
    kv::CommandUI ui;
    ui.id = ID_BUTTON_ABOUT;
    EXPECT_FALSE(doc.OnUpdateCommand(ui));
    EXPECT_FALSE(doc.OnCommand(ID_BUTTON_ABOUT));
}

}  // namespace
