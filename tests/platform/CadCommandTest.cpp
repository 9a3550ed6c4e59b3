// User commands driven by scripted operator input: the input codes, finishing a waiting command,
// commands started inside waiting commands, entity picks and interactive selection.
#include <QTimer>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"

namespace {

// Ids of the commands these tests register on the engine.
constexpr int kRead = 11004;
constexpr int kTwo = 11005;
constexpr int kPick = 11006;
constexpr int kSelect = 11007;
constexpr int kDeleter = 11008;
constexpr int kImages = 11009;

// What the test commands saw, in order.
std::vector<std::string> g_log;
CadDrawing* g_drawing = nullptr;

void Log(const std::string& s) {
    g_log.push_back(s);
}

std::string Describe(CadDrawing* d, int code) {
    switch (code) {
        case CAD_INPUT_POINT: {
            double x, y, z;
            CadCmdGetInputPoint(d, &x, &y, &z);
            char buf[96];
            std::snprintf(buf, sizeof buf, "point %g %g %g keys %d", x, y, z, CadGetKeyFlags());
            return buf;
        }
        case CAD_INPUT_FINISH:
            return "finish";
        case CAD_INPUT_TEXT: {
            char buf[CAD_INPUT_STR_SIZE];
            CadCmdGetInputStr(d, buf);
            return std::string("text ") + buf;
        }
        case CAD_INPUT_CANCEL:
            return "cancel";
        default:
            return "other " + std::to_string(code);
    }
}

// Reads input until cancel.
void ReadUntilCancel(CadDrawing* d) {
    CadCmdPrompt(d, "Pick", nullptr);
    for (;;) {
        int code = CadCmdUserInput(d);
        Log("A " + Describe(d, code));
        if (code == CAD_INPUT_CANCEL)
            return;
    }
}

// Reads two inputs, whatever they are.
void ReadTwo(CadDrawing* d) {
    Log("B start");
    for (int i = 0; i < 2; ++i)
        Log("B " + Describe(d, CadCmdUserInput(d)));
    Log("B end");
}

void PickEntity(CadDrawing* d) {
    CadEntity* e = CadCmdUserGetEntity(d);
    Log(e ? "entity " + std::to_string(CadEntityGetID(e)) : std::string("no entity"));
}

// Image picks that take images of definition ids below 2000, as a command that asks for DEMs
// does, until none is picked.
void PickImages(CadDrawing* d) {
    while (CadEntity* e =
               CadCmdUserGetImagePlace(d, [](CadEntity* image) { return CadImageGetDefID(image) < 2000; })) {
        Log("entity " + std::to_string(CadEntityGetID(e)));
    }
}

void Select(CadDrawing* d) {
    Log("selected " + std::to_string(CadCmdUserSelect(d)));
}

void DeletesItsDrawing(CadDrawing* d) {
    CadScriptPushCall(d, [d] { CadDelete(d); });
    int code = CadCmdUserInput(d);
    Log("after delete " + Describe(d, code));
    CadCmdPrompt(d, "still usable", nullptr);
    CadAddPoint(d, 1, 1, 1);
}

class CadCommands : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        d = CadCreate();
        g_drawing = d;
        CadScriptSetStrict(1);
        ASSERT_TRUE(CadAddCommand(d, kRead, "READ", "R", 0, ReadUntilCancel, nullptr));
        ASSERT_TRUE(CadAddCommand(d, kTwo, "TWO", "T", 0, ReadTwo, nullptr));
        ASSERT_TRUE(CadAddCommand(d, kPick, "PICK", "RETD", 0, PickEntity, nullptr));
        ASSERT_TRUE(CadAddCommand(d, kSelect, "SELECT", "RETD", 0, Select, nullptr));
        ASSERT_TRUE(CadAddCommand(d, kImages, "IMAGES", "", 0, PickImages, nullptr));
        EXPECT_FALSE(CadAddCommand(d, kRead, "AGAIN", "", 0, ReadTwo, nullptr));
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        if (d)
            CadDelete(d);
    }
    CadDrawing* d = nullptr;
};

}  // namespace

TEST_F(CadCommands, InputCallsAnswerPointFinishTextAndCancel) {
    CadScriptPushPoint(d, 1.5, 2.5, 3, CAD_KEY_SHIFT);
    CadScriptPushFinish(d);
    CadScriptPushText(d, "123.25");
    CadScriptPushText(d, "10,20");  // typed coordinates are a point
    CadScriptPushPoint(d, 4, 5, 0);
    CadScriptPushCancel(d);
    CadScriptPushPoint(d, 9, 9, 9);  // left for the next command
    ASSERT_EQ(CadExecute(d, nullptr, kRead), 1);
    const std::vector<std::string> expected = {
        "A point 1.5 2.5 3 keys 4", "A finish", "A text 123.25", "A point 10 20 0 keys 0",
        "A point 4 5 0 keys 0",     "A cancel"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(CadScriptPending(d), 1);
    EXPECT_EQ(CadCmdGetActive(d), 0);
    char prompt[32];
    CadCmdGetPrompt(d, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "Pick");
}

TEST_F(CadCommands, FinishDuringAWaitAnswersCancel) {
    CadScriptPushPoint(d, 1, 1, 0);
    CadScriptPushCall(d, [this] { CadCmdFinish(d); });
    CadScriptPushPoint(d, 2, 2, 0);  // never read: the command ended
    CadExecute(d, nullptr, kRead);
    const std::vector<std::string> expected = {"A point 1 1 0 keys 0", "A cancel"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(CadScriptPending(d), 1);

    // A finish with nothing waiting does not cancel the next command's input.
    CadScriptClear(d);
    g_log.clear();
    CadCmdFinish(d);
    CadScriptPushText(d, "a");
    CadScriptPushText(d, "b");
    CadExecute(d, nullptr, kTwo);
    EXPECT_EQ(g_log, (std::vector<std::string>{"B start", "B text a", "B text b", "B end"}));
}

TEST_F(CadCommands, InputPushedFromATimerReachesAnOperatorWaitAtOnce) {
    CadScriptSetStrict(0);
    EXPECT_EQ(CadCmdGetWaiting(d), 0);
    std::vector<int> waiting;
    // Each step comes from the event loop while the command waits in it, as an operator's would.
    QTimer::singleShot(20, [&] {
        waiting.push_back(CadCmdGetWaiting(d));
        CadScriptPushPoint(d, 7, 8, 0);
        QTimer::singleShot(20, [&] {
            waiting.push_back(CadCmdGetWaiting(d));
            CadCmdFinish(d);
            waiting.push_back(CadCmdGetWaiting(d));
        });
    });
    CadExecute(d, nullptr, kRead);
    EXPECT_EQ(g_log, (std::vector<std::string>{"A point 7 8 0 keys 0", "A cancel"}));
    EXPECT_EQ(waiting, (std::vector<int>{CAD_WAIT_INPUT, CAD_WAIT_INPUT, 0}));

    g_log.clear();
    QTimer::singleShot(20, [&] {
        waiting.push_back(CadCmdGetWaiting(d));
        CadScriptPushFinish(d);
    });
    CadExecute(d, nullptr, kPick);
    EXPECT_EQ(waiting.back(), CAD_WAIT_ENTITY);
    EXPECT_EQ(g_log, (std::vector<std::string>{"no entity"}));
    EXPECT_EQ(CadCmdGetWaiting(d), 0);
}

TEST_F(CadCommands, ACommandStartedWhileAnotherWaitsRunsOnTopAndBothEndCleanly) {
    CadScriptPushPoint(d, 1, 1, 0);
    // The operator presses a starter that does not check for a running command.
    CadScriptPushCall(d, [this] {
        CadExecute(d, nullptr, 911);
        CadCmdFinish(d);
        CadExecute(d, nullptr, kTwo);
    });
    CadScriptPushPoint(d, 2, 2, 0);  // taken by the inner command
    CadScriptPushText(d, "inner");
    CadExecute(d, nullptr, kRead);
    const std::vector<std::string> expected = {"A point 1 1 0 keys 0", "B start", "B point 2 2 0 keys 0",
                                               "B text inner",         "B end",   "A cancel"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(CadCmdGetActive(d), 0);

    // The same when the inner command is the one that is waiting already.
    g_log.clear();
    CadScriptPushCall(d, [this] { CadExecute(d, nullptr, kRead); });
    CadScriptPushCancel(d);
    CadScriptPushText(d, "outer goes on");
    CadExecute(d, nullptr, kTwo);
    const std::vector<std::string> again = {"B start", "A cancel", "B cancel", "B text outer goes on",
                                            "B end"};
    EXPECT_EQ(g_log, again);
}

TEST_F(CadCommands, EntityPicksAndInteractiveSelection) {
    CadEntity* line = CadAddLine(d, 0, 0, 0, 100, 0, 0);
    CadEntity* point = CadAddPoint(d, 50, 50, 0);
    CadEntity* far = CadAddPoint(d, 500, 500, 0);
    CadScriptPushPoint(d, 300, 300, 0);  // picks nothing: the pick goes on
    CadScriptPushPoint(d, 40, 0.01, 0);  // on the line
    CadExecute(d, nullptr, kPick);
    CadScriptPushEntity(d, far);
    CadExecute(d, nullptr, kPick);
    CadScriptPushFinish(d);
    CadExecute(d, nullptr, kPick);
    CadScriptPushCancel(d);
    CadExecute(d, nullptr, kPick);
    EXPECT_EQ(g_log, (std::vector<std::string>{"entity " + std::to_string(CadEntityGetID(line)),
                                               "entity " + std::to_string(CadEntityGetID(far)), "no entity",
                                               "no entity"}));

    g_log.clear();
    CadScriptPushPoint(d, 50, 50, 0);    // picks the point
    CadScriptPushPoint(d, -10, -10, 0);  // empty space: a window from here ...
    CadScriptPushPoint(d, 120, 10, 0);   // ... to here holds the line
    CadScriptPushFinish(d);
    CadExecute(d, nullptr, kSelect);
    EXPECT_EQ(g_log, (std::vector<std::string>{"selected 2"}));
    EXPECT_EQ(CadEntityGetSelected(point), 1);
    EXPECT_EQ(CadEntityGetSelected(line), 1);
    EXPECT_EQ(CadEntityGetSelected(far), 0);
    CadExecute(d, nullptr, 911);
    EXPECT_EQ(CadSelCount(d), 0);

    g_log.clear();
    CadScriptPushCancel(d);
    CadExecute(d, nullptr, kSelect);
    EXPECT_EQ(g_log, (std::vector<std::string>{"selected 0"}));
}

TEST_F(CadCommands, PickedPointOutsideACommand) {
    double x = 0, y = 0, z = 0;
    CadScriptPushPoint(d, 7, 8, 0);
    EXPECT_EQ(CadToolGetPickedPoint(d, &x, &y, &z), 1);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 8);
    CadScriptPushFinish(d);
    EXPECT_EQ(CadToolGetPickedPoint(d, &x, &y, &z), 0);
    EXPECT_EQ(CadToolGetPickedPoint(d, &x, &y, &z), 0);  // strict: an empty script cancels
}

TEST_F(CadCommands, DeletingTheDrawingInsideItsCommandIsDeferred) {
    ASSERT_TRUE(CadAddCommand(d, kDeleter, "DEL", "", 0, DeletesItsDrawing, nullptr));
    EXPECT_EQ(CadExecute(d, nullptr, kDeleter), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"after delete cancel"}));
    d = nullptr;  // freed when the command returned
}

TEST_F(CadCommands, UnknownCommandsAreRefused) {
    EXPECT_EQ(CadExecute(d, nullptr, 12345), 0);
    EXPECT_EQ(CadExecute(d, nullptr, 102), 1);  // zoom extents without a window does nothing
    EXPECT_TRUE(g_log.empty());
}

TEST_F(CadCommands, PicksFollowEditedAndNewGeometry) {
    CadEntity* line = CadAddLine(d, 0, 0, 0, 100, 0, 0);
    CadClearVertices();
    for (int i = 0; i <= 200; ++i)
        CadAddVertex(i, 50 + (i % 2), 0);
    CadEntity* wave = CadAddPolyline(d, 0, 0);
    CadScriptPushPoint(d, 150.5, 50.5, 0);
    CadExecute(d, nullptr, kPick);  // builds the spatial index
    EXPECT_EQ(g_log.back(), "entity " + std::to_string(CadEntityGetID(wave)));

    // Move the wave far away and add a point: picks see the new geometry at once.
    for (int i = 0; i <= 200; ++i)
        CadPlinePutVer(wave, i, i, 5000 + (i % 2), 0);
    CadEntity* point = CadAddPoint(d, 150.5, 50.5, 0);
    CadScriptPushPoint(d, 150.5, 5000.5, 0);
    CadExecute(d, nullptr, kPick);
    EXPECT_EQ(g_log.back(), "entity " + std::to_string(CadEntityGetID(wave)));
    CadScriptPushPoint(d, 150.5, 50.5, 0);
    CadExecute(d, nullptr, kPick);
    EXPECT_EQ(g_log.back(), "entity " + std::to_string(CadEntityGetID(point)));
    CadEntityErase(point, 1);
    CadScriptPushPoint(d, 150.5, 50.5, 0);
    CadScriptPushPoint(d, 50, 0, 0);
    CadExecute(d, nullptr, kPick);
    EXPECT_EQ(g_log.back(), "entity " + std::to_string(CadEntityGetID(line)));
}

TEST_F(CadCommands, ImagePicksTakeImagesUnderLinesAndGoDownTheStackAtTheSamePlace) {
    // Two images of the same extent, a third of another kind over them and a line over all.
    auto onLayer = [&](CadEntity* e, const char* layer) {
        CadEntityPutLayerID(e, CadLayerGetID(CadAddLayer(d, layer, 7, 0, 0)));
        return e;
    };
    CadEntity* lower = onLayer(CadAddImagePlace(d, 1000, 100, 100, 0, 0, 0, 1.0), "lower");
    CadEntity* upper = onLayer(CadAddImagePlace(d, 1001, 100, 100, 0, 0, 0, 1.0), "upper");
    CadEntity* other = onLayer(CadAddImagePlace(d, 2000, 100, 100, 0, 0, 0, 1.0), "other");
    onLayer(CadAddLine(d, 0, 50, 0, 100, 50, 0), "lines");
    CadEntity* far = CadAddPoint(d, 300, 300, 0);
    const auto id = [](CadEntity* e) { return "entity " + std::to_string(CadEntityGetID(e)); };

    // On the line: the top image of the kind; at the same place the one below it, then the top
    // again; elsewhere the top. Outside every image the nearest entity, and a scripted pick gives
    // the entity as it is.
    for (const double x : {50.0, 50.01, 50.0, 20.0, 300.01}) {
        CadScriptPushPoint(d, x, x == 20.0 ? 80.0 : x == 300.01 ? 300.0 : 50.0, 0);
    }
    CadScriptPushEntity(d, other);
    CadExecute(d, nullptr, kImages);
    EXPECT_EQ(g_log,
              (std::vector<std::string>{id(upper), id(lower), id(upper), id(upper), id(far), id(other)}));
    // The next command starts from the top again; a hidden layer's image is not taken.
    g_log.clear();
    CadScriptPushPoint(d, 20, 80, 0);
    CadScriptPushCall(d, [&] { CadLayerPutVisible(CadGetLayerByName(d, "upper"), 0); });
    CadScriptPushPoint(d, 20, 80, 0);
    CadExecute(d, nullptr, kImages);
    EXPECT_EQ(g_log, (std::vector<std::string>{id(upper), id(lower)}));
}
