// The scenario runner as its users meet it: scripts it refuses before the program starts, steps
// that fail with one line naming what was awaited and what came instead, answers (dialog fields,
// buttons, message boxes, choosers, modeless windows) reaching the real program, and dialogs that
// act from their own timers left alone until they wait for the operator.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/RasterFixtures.h"
#include "support/TestEnv.h"
#include "support/scenario/StepClock.h"
#include "support/scenario/TimerCensus.h"

namespace {

struct Outcome {
    int status = -1;
    QString transcript;
    QStringList errors;  // the lines of the error output
};

// Runs the script with kv_scenario; the script lies in a folder of its own.
Outcome RunScenario(const QString& script, const QStringList& options = {}) {
    static int count = 0;
    const QString folder = kvtest::NewTempFolder(QStringLiteral("scenario%1").arg(++count));
    const QString path = folder + "/script.kvs";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(script.toUtf8());
    file.close();
    QProcess process;
    process.start(QStringLiteral(KV_SCENARIO_EXE), QStringList{path} + options);
    EXPECT_TRUE(process.waitForFinished(120000));
    Outcome outcome;
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.transcript = QString::fromUtf8(process.readAllStandardOutput());
    outcome.errors = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return outcome;
}

QString DataPath(const char* name) {
    return kvtest::DataPath(QString::fromLatin1(name));
}

// True when the lines stand in the text in this order.
bool InOrder(const QString& text, const QStringList& lines) {
    qsizetype at = 0;
    for (const QString& line : lines) {
        at = text.indexOf(line, at);
        if (at < 0) {
            ADD_FAILURE() << "not found in order: " << line.toStdString();
            return false;
        }
        at += line.size();
    }
    return true;
}

TEST(ScenarioRunner, AScriptItCannotRunIsRefusedBeforeTheProgramStarts) {
    const struct {
        const char* script;
        const char* diagnosis;
    } cases[] = {
        {"new\n\n# a comment\nfrobnicate now\n", "line 4: unknown step \"frobnicate\""},
        {"new\nadd-dem\n", "line 2: missing argument; usage: add-dem PATH"},
        {"pick 10\n", "line 1: wrong number of arguments; usage: pick X Y [shift] [ctrl]"},
        {"pick 10 ten\n", "line 1: \"ten\" is not a number"},
        {"button Nothing Like It\n", "line 1: the ribbon has no button \"Nothing Like It\""},
        {"button DEM\n", "line 1: \"DEM\" names 2 buttons (ID_BUTTON_INSERTDEM, ID_OSNAP_DEM): use the id"},
        {"message Maybe\n", "line 1: \"Maybe\" is no message box button"},
        {"expect (unclosed\n", "line 1: \"(unclosed\" is no regular expression"},
        {"add-dem ${KV_SCENARIO_UNSET_NAME}/a.tif\n", "line 1: ${KV_SCENARIO_UNSET_NAME} is not set"},
        {"    press OK\n", "line 1: an indented line belongs under a dialog step"},
        {"dialog Data\n    click OK\n",
         "line 2: only set, expect and press lines belong under a dialog (found \"click\")"},
        {"dialog Data\n    expect Name\n", "line 2: expect needs LABEL = REGEX"},
        {"dialog Data\n    expect Name = (\n", "line 2: \"(\" is no regular expression"},
        {"dialog Data\n    press OK #0\n", "line 2: \"#0\" counts from 1"},
        {"new\npress OK\n", "line 2: press belongs indented under a dialog step"},
        {"type \"unclosed\n", "line 1: a double quote is not closed"},
        // Only a copy in the working folder may be damaged.
        {"truncate /tmp/a.tif 40\n", "line 1: /tmp/a.tif lies outside the working folder"},
        {"truncate a.tif 140\n", "line 1: \"140\" is no percentage (0 to 100)"},
        {"view 1 2 0 640 400\n", "line 1: a view needs a scale and a size above 0"},
        {"pan 1.5 0 3\n", "line 1: a pan moves by whole pixels, at least once"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const Outcome outcome = RunScenario(QString::fromUtf8(c.script));
        EXPECT_EQ(outcome.status, 2);
        ASSERT_EQ(outcome.errors.size(), 1) << outcome.errors.join('\n').toStdString();
        EXPECT_TRUE(outcome.errors[0].startsWith(QString::fromUtf8(c.diagnosis)))
            << outcome.errors[0].toStdString();
        // Not one step ran.
        EXPECT_FALSE(outcome.transcript.contains(QLatin1String("1: "))) << outcome.transcript.toStdString();
    }

    const Outcome missing = RunScenario(QStringLiteral("new\n"), {QStringLiteral("--keep")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.errors.value(0),
              QStringLiteral("usage: kv_scenario SCRIPT [--keep DIR] [--timeout SECONDS]"));
    QProcess process;
    process.start(QStringLiteral(KV_SCENARIO_EXE), {kvtest::TempDir() + "/no-such-script.kvs"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().startsWith("kv_scenario: cannot read the script "));
}

TEST(ScenarioRunner, AFailedStepEndsTheRunWithOneLineNamingWhatWasAwaitedAndWhatCame) {
    const QString olinda = DataPath("olinda_dem_nodata.tif");
    // The polyline dialog has no title, a group of radio buttons and two fields without labels.
    const QString polylineDialog = "copy " + DataPath("l7_rgb_west.tif") +
                                   " o.tif\nnew\nadd-ortho o.tif\ncommand DPOO\nfile o.tif\ndialog ^$\n";
    const struct {
        QString script;
        QString diagnosis;
        const char* notRun;  // the echo of a later step, which must not run
    } cases[] = {
        // A dialog that never comes: the hole command without a DEM only says so in the command line.
        {"new\ncommand DEMHOLE\ndialog Hole area selection\n    press Exit\nnew\n",
         "line 3: awaited a dialog titled /Hole area selection/ for 1 s, came nothing (the program is idle)",
         "5: new"},
        {"new\nexpect-layers dem=1 ortho=0\nnew\n", "line 2: awaited dem=1 ortho=0, came dem=0 ortho=0",
         "3: new"},
        {"new\ncommand NOSUCH\nexpect Import done\nnew\n",
         "line 3: awaited a text matching /Import done/, came \"Command: NOSUCH\", \"Unknown command "
         "\"NOSUCH\"\"",
         "4: new"},
        {"new\nadd-dem nowhere.tif\nnew\n", "nowhere.tif, came no such file", "3: new"},
        // A message box where a prompt is awaited: it is answered with the answer that changes nothing.
        {"copy " + olinda + " o.tif\nnew\nadd-dem o.tif\nbutton Offset\ntype 0\ntype 5\nnew\n",
         "line 6: awaited a prompt waiting for input, came message box \"Offset is not valid\"", "7: new"},
        {"new\ncommand DEMHOLE\nselect-entity last\n", "line 3: awaited a prompt waiting for an entity",
         nullptr},
        {"new\ncommand PTYPE\ndialog Point Style\n    set Size = 99\n    press OK\nnew\n",
         "line 4: awaited field \"Size:\" of dialog \"Point Style\" to take \"99\", came \"99\" is no whole "
         "number from "
         "1 to 64",
         "6: new"},
        {"new\nbutton ID_BUTTON_DEMUNDO\n",
         "line 2: awaited the ribbon's ID_BUTTON_DEMUNDO enabled, came it disabled", nullptr},
        // A label that names no field, or several, sets none of them.
        {polylineDialog + "    set Line tpye = Arc\n    press OK\nnew\n",
         "line 7: awaited a field labelled /Line tpye/ in dialog \"\", came fields \"Line Step (15)\", \"\", "
         "\"Line weight (11-3-2)\", \"\", \"Is Filled?\", \"Line type\", \"DashedPoly\"",
         "9: new"},
        {polylineDialog + "    set Line = 5\n    press OK\nnew\n",
         "line 7: awaited one field labelled /Line/ in dialog \"\", came 3 that match it (fields \"Line Step "
         "(15)\"",
         "9: new"},
        {polylineDialog + "    expect Line weight = ^99$\n    press OK\nnew\n",
         "line 7: awaited field \"Line weight (11-3-2)\" of dialog \"\" to show /^99$/, came \"8\"",
         "9: new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script.toStdString());
        const Outcome outcome = RunScenario(c.script, {QStringLiteral("--timeout"), QStringLiteral("1")});
        EXPECT_EQ(outcome.status, 1);
        ASSERT_EQ(outcome.errors.size(), 1) << outcome.errors.join('\n').toStdString();
        EXPECT_TRUE(
            outcome.errors[0].startsWith(c.diagnosis) ||
            (!c.diagnosis.startsWith(QLatin1String("line")) && outcome.errors[0].endsWith(c.diagnosis)))
            << outcome.errors[0].toStdString();
        EXPECT_TRUE(outcome.transcript.contains("FAILED " + outcome.errors[0]));
        if (c.notRun) {
            EXPECT_FALSE(outcome.transcript.contains(QLatin1String(c.notRun)))
                << outcome.transcript.toStdString();
        }
    }
}

TEST(ScenarioRunner, ADialogThatNeverComesFailsItsStepAfterThirtySecondsAndTheProgramComesToRest) {
    // The contour command of a project without a DEM opens no dialog: it says so at its prompt.
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = RunScenario(
        QStringLiteral("new\nsave p.kvp\ncommand CON\ndialog Contour Lines\n    press Generate\nnew\n"));
    const qint64 seconds = clock.elapsed() / 1000;
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.errors,
              QStringList{QStringLiteral("line 4: awaited a dialog titled /Contour Lines/ for 30 s, "
                                         "came nothing (the program is idle)")});
    EXPECT_TRUE(outcome.transcript.contains(QLatin1String("prompt \"No DEM loaded\"")))
        << outcome.transcript.toStdString();
    EXPECT_FALSE(outcome.transcript.contains(QLatin1String("6: new")));
    // The wait, the program's start-up and its coming to rest, not more.
    EXPECT_GE(seconds, 30);
    EXPECT_LT(seconds, 60);
}

TEST(ScenarioRunner, AStepWaitsOutItsLimitOfIdleTimeOrTwentyTimesItAtWork) {
    kvscenario::StepClock clock(30000);
    // Looks far apart count as the event loop's share only: the loop did not run meanwhile.
    clock.Add(100000, false);
    EXPECT_FALSE(clock.WaitedOut());
    for (int i = 0; i < 118; ++i) {
        clock.Add(250, false);
    }
    EXPECT_FALSE(clock.WaitedOut());
    // Work does not count against the step's own limit...
    for (int i = 0; i < 2399; ++i) {
        clock.Add(250, true);
    }
    EXPECT_FALSE(clock.WaitedOut());
    EXPECT_FALSE(clock.WorkedOut());
    clock.Add(250, false);
    EXPECT_TRUE(clock.WaitedOut());
    // ...but work that never ends runs out too.
    clock.Restart();
    EXPECT_FALSE(clock.WaitedOut());
    for (int i = 0; i < 2400; ++i) {
        clock.Add(250, true);
    }
    EXPECT_TRUE(clock.WorkedOut());
    EXPECT_FALSE(clock.WaitedOut());
}

TEST(ScenarioRunner, DialogFieldsAreFoundByTheirLabelsAndARefusedAnswerWaitsForTheNextOne) {
    const QString keep = kvtest::NewTempFolder(QStringLiteral("kept"));
    const QString script = QStringLiteral(
        "button User Data\n"
        "dialog ^User Data$\n"
        "    set ^Name = Ada\n"
        "    set \"Surname\" =\n"
        "    press OK\n"
        "expect required!\n"
        "message OK\n"
        "dialog User Data\n"
        "    set Surname = Rossi\n"
        "    set Email = ada@example.org\n"
        "    set Company = \"Drovane Software\"\n"
        "    press OK\n"
        "copy ${SCRIPT_DIR}/data.tif slope.tif\n"
        "new\n"
        "add-map slope.tif\n"
        "dialog Data Type\n"
        "    set Data Type = slope map\n"
        "    press OK\n"
        "expect-layers map=1 dem=0\n"
        "command PTYPE\n"
        "dialog Point Style\n"
        "    set Mark = circle\n"
        "    set Size = 12\n"
        "    press OK\n"
        "command OSNAP\n"
        "dialog Object Snap\n"
        "    set Object snap on = true\n"
        "    set Midpoint = false\n"
        "    press OK\n"
        // A radio button is pressed like any button; OK stores the line type it chose.
        "copy ${SCRIPT_DIR}/ortho.tif ortho.tif\n"
        "add-ortho ortho.tif\n"
        "command DPOO\n"
        "file ortho.tif\n"
        "dialog ^$\n"
        "    press Continua\n"
        "    press OK\n"
        "right-click\n"
        "dialog ^$\n"
        "    press Cancel\n"
        // A modeless window, shown by a command that has ended, is answered by its title.
        "button Map representation\n"
        "dialog Map representation\n"
        "    set Colors = 300\n"
        "    press Apply\n"
        "    press Close\n");
    // The copy's source lies beside the script.
    const QString scriptFolder = kvtest::TempDir() + "/scenario-dialogs";
    QDir().mkpath(scriptFolder);
    QFile::remove(scriptFolder + "/data.tif");
    ASSERT_TRUE(QFile::copy(DataPath("olinda_dem_nodata.tif"), scriptFolder + "/data.tif"));
    QFile::remove(scriptFolder + "/ortho.tif");
    ASSERT_TRUE(QFile::copy(DataPath("l7_rgb_west.tif"), scriptFolder + "/ortho.tif"));
    QFile file(scriptFolder + "/dialogs.kvs");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(script.toUtf8());
    file.close();
    QProcess process;
    process.start(QStringLiteral(KV_SCENARIO_EXE),
                  {scriptFolder + "/dialogs.kvs", QStringLiteral("--keep"), keep});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString transcript = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString()
                                     << transcript.toStdString();

    // What the operator typed reached the profile, kept in the folder given.
    QSettings profile(keep + "/kelvaro/profile.ini", QSettings::IniFormat);
    EXPECT_EQ(profile.value("UserData/UserData_Name").toString(), QStringLiteral("Ada"));
    EXPECT_EQ(profile.value("UserData/UserData_Surname").toString(), QStringLiteral("Rossi"));
    EXPECT_EQ(profile.value("UserData/UserData_Company").toString(), QStringLiteral("Drovane Software"));
    EXPECT_TRUE(QFile::exists(keep + "/slope.tif"));
    EXPECT_EQ(profile.value("Line type/Line type").toString(), QStringLiteral("Continua"));
    EXPECT_EQ(profile.value("Line_weight/Line_weight").toString(), QStringLiteral("3"));

    // The transcript tells every answer in the order it was given.
    EXPECT_TRUE(
        InOrder(transcript, {
                                "dialog \"User Data\": set \"Name (*)\" = \"Ada\"",
                                "dialog \"User Data\": set \"Surname (*)\" = \"\"",
                                "dialog \"User Data\": press \"OK\"",
                                "message \"Kelvaro\": \"Name, Surname and EMail address are required!\"",
                                "answered OK",
                                "dialog \"User Data\": set \"Email (*)\" = \"ada@example.org\"",
                                "dialog \"Data Type Selection\": set \"Data Type Selection\" = \"Slope Map\"",
                                "file \"Open\": " + keep + "/slope.tif",
                                "dialog \"Point Style\": set \"Mark:\" = \"Circle\"",
                                "dialog \"Point Style\": set \"Size:\" = \"12 px\"",
                                "dialog \"Object Snap\": set \"Object snap on (F3)\" = \"true\"",
                                "dialog \"Object Snap\": set \"Midpoint\" = \"false\"",
                                "dialog \"\": press \"Continua\"",
                                "dialog \"\": press \"Cancel\"",
                                "dialog \"Map representation\": set \"Colors\" = \"300\"",
                                "dialog \"Map representation\": press \"Close\"",
                                "passed",
                            }));
}

TEST(ScenarioRunner, ThePlanViewIsSizedCentredAndDraggedBackWhereItStartedFrameByFrame) {
    const QString picture = kvtest::NewTempFolder(QStringLiteral("pan")) + "/frame.png";
    const Outcome outcome = RunScenario(QStringLiteral("copy %1 olinda.tif\n"
                                                       "new\n"
                                                       "add-dem olinda.tif\n"
                                                       "view 293000 9115000 0.05 640 400\n"
                                                       "pan 30 -20 2 %2\n"
                                                       "expect-cell olinda.tif 293000 9115000 12\n")
                                            .arg(DataPath("olinda_dem_nodata.tif"), picture));
    EXPECT_EQ(outcome.status, 0) << outcome.errors.join('\n').toStdString()
                                 << outcome.transcript.toStdString();
    EXPECT_TRUE(outcome.transcript.contains(QLatin1String("plan view of 640 x 400 pixels")));
    static const QRegularExpression kFrames(
        QStringLiteral("4 frames of 640 x 400, in ms:( \\d+\\.\\d+){4}\n"));
    EXPECT_TRUE(kFrames.match(outcome.transcript).hasMatch()) << outcome.transcript.toStdString();
    // Dragged back where it started: the cursor, left on the window's middle pixel (319, 199), reads
    // the point a pixel (20 m) left of and above the view's centre.
    EXPECT_TRUE(outcome.transcript.contains(QLatin1String("status \"292980.000, 9115020.000")))
        << outcome.transcript.toStdString();
    const QImage frame(picture);
    EXPECT_EQ(frame.size(), QSize(640, 400));
    // The DEM fills the middle of the window (9990 m at a twentieth of a pixel a metre), the rest is
    // the drawing's black.
    EXPECT_NE(frame.pixel(320, 200) & 0xffffff, 0u);
    EXPECT_EQ(frame.pixel(5, 5) & 0xffffff, 0u);
}

TEST(ScenarioRunner, ALargeDemAsksForPyramidLevelsAndTheAnswerIsTaken) {
    // Large enough for the program to offer pyramid levels.
    kvtest::RasterSpec spec;
    spec.width = spec.height = 1100;
    spec.geoTransform = {500000.0, 1.0, 0.0, 4000000.0, 0.0, -1.0};
    const QString dem = kvtest::WriteRaster(kvtest::NewTempFolder(QStringLiteral("large")) + "/large.tif",
                                            spec, [](int column, int row, int) { return column + row; });
    ASSERT_FALSE(dem.isEmpty());
    const Outcome outcome = RunScenario(QStringLiteral("new\n"
                                                       "add-dem %1\n"
                                                       "expect Pyramidal levels not found\n"
                                                       "message Yes\n"
                                                       "expect-layers dem=1\n"
                                                       "expect-cell large.tif 500100.5 3999899.5 200\n")
                                            .arg(dem));
    EXPECT_EQ(outcome.status, 0) << outcome.errors.join('\n').toStdString()
                                 << outcome.transcript.toStdString();
    EXPECT_GT(kvtest::Inspect(dem).overviews, 0);
}

TEST(ScenarioRunner, ADialogThatActsFromItsOwnTimerIsAnsweredOnceItWaitsForTheOperator) {
    // The volume and the subtraction make their first computation from a timer once they show,
    // the mosaic build asks for its folder from its progress window's timer.
    const QString keep = kvtest::NewTempFolder(QStringLiteral("timers"));
    const QString script =
        QStringLiteral(
            "copy %1 a.tif\n"
            "copy %1 b.tif\n"
            "new\n"
            "add-dem a.tif\n"
            "button Volume\n"
            "dialog ^Volume$\n"
            "    press Draw AOI\n"
            "pick 290000 9112000\n"
            "pick 296000 9112000\n"
            "pick 296000 9118000\n"
            "right-click\n"
            "dialog ^Volume$\n"
            "    press Export\n"
            "file volume.csv\n"
            "dialog ^Volume$\n"
            "    press Close\n"
            "add-dem b.tif\n"
            "button Subtract\n"
            "select-entity 1\n"
            "select-entity 2\n"
            "dialog Subctract DEMs\n"
            "    press Export\n"
            "file difference.gtif\n"
            "dialog Subctract DEMs\n"
            "    press Close\n"
            "close\n"
            "message No\n"
            "copy %2 west.tif\n"
            "copy %3 east.tif\n"
            "new\n"
            "add-ortho west.tif\n"
            "add-ortho east.tif\n"
            "save site.kvp\n"
            "button ID_BUTTON_BUILDSEAMLINES\n"
            "button ID_MOSAICMERGE_SETUPTILES\n"
            "dialog Tiles Setup\n"
            "    set Width = 6000\n"
            "    set Height = 12000\n"
            "    press Preview\n"
            "    press OK\n"
            "button Build Mosaic\n"
            "file ${WORK}\n"
            "message No\n"
            "wait-idle\n")
            .arg(DataPath("olinda_dem_nodata.tif"), DataPath("l7_rgb_west.tif"), DataPath("l7_rgb_east.tif"));
    const Outcome outcome = RunScenario(script, {QStringLiteral("--keep"), keep});
    EXPECT_EQ(outcome.status, 0) << outcome.errors.join('\n').toStdString()
                                 << outcome.transcript.toStdString();

    // The export came after the computation: every volume is a number.
    QFile csv(keep + "/volume.csv");
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("Volume on reference elevation (")));
    for (const QString& row : lines.mid(1)) {
        EXPECT_FALSE(row.contains(QLatin1String("---"))) << row.toStdString();
        EXPECT_TRUE(row.contains(
            QRegularExpression(QStringLiteral("^Volume (over|under) \\(du\\^3\\);\\d+,\\d{3};;"))))
            << row.toStdString();
    }
    EXPECT_TRUE(kvtest::Inspect(keep + "/difference.gtif").opened);
    EXPECT_TRUE(
        InOrder(outcome.transcript, {"file \"Select output folder\": " + keep,
                                     "message \"Kelvaro\": \"Apply radiometric balancing?\"", "passed"}));
    EXPECT_TRUE(QFile::exists(keep + "/T-00-00.tif"));
    EXPECT_TRUE(QFile::exists(keep + "/T-00-01.tif"));
}

TEST(ScenarioRunner, TheTimersADialogStartsAreItsWhereverTheyAreHeldButTheWidgetsOwnAreNot) {
    kvscenario::TimerCensus census;
    ASSERT_TRUE(census.Tracking());
    QDialog dialog;
    QLineEdit edit(&dialog);
    QObject helper(&dialog);
    QTimer held(&helper);
    QWidget panel(&dialog);
    QTimer inPanel(&panel);
    QTimer before;
    before.start(60000);
    const kvscenario::TimerCensus::Snapshot shown = census.Take();
    dialog.show();
    dialog.activateWindow();
    edit.setFocus();
    QApplication::processEvents();
    // A focused line edit blinks from a timer of its own; a timer that ran before is another's.
    const kvscenario::TimerCensus::Snapshot now = census.Take();
    ASSERT_TRUE(std::any_of(now.begin(), now.end(), [&edit](const auto& timer) {
        return timer.first == &edit || timer.first->parent() == &edit;
    }));
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 0);

    held.start(60000);
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 1);
    // ... unless it stands below the object left out.
    EXPECT_EQ(census.Pending(dialog, shown, &helper), 0);
    held.stop();
    inPanel.start(60000);
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 0);

    // Timers that stand in no tree of the dialog's: a QTimer without a parent, a single shot.
    QTimer loose;
    loose.setSingleShot(true);
    loose.start(60000);
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 1);
    loose.stop();
    bool fired = false;
    QTimer::singleShot(1, &dialog, [&fired] { fired = true; });
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 1);
    EXPECT_TRUE(QTest::qWaitFor([&fired] { return fired; }, 10000));
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 0);
    dialog.startTimer(60000);
    EXPECT_EQ(census.Pending(dialog, shown, nullptr), 1);
}

}  // namespace
