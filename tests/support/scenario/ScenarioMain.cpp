// kv_scenario SCRIPT [--keep DIR] [--timeout SECONDS]
//
// Starts the real program offscreen, with its own profile and working folder in a temporary
// folder (or in DIR, which is kept), drives it through the steps of the script, prints what the
// operator would have seen and exits: 0 when every step ran and every expectation held, 1 when a
// step failed, 2 when the script was refused before the program started, 3 when the program
// did not start. The diagnosis of a failure is one line on the error output.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>

#include <unistd.h>

#include <cpl_error.h>

#include "app/KelvaroApp.h"
#include "app/Ribbon.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "scenario/DialogFields.h"
#include "scenario/Runner.h"
#include "scenario/Script.h"

namespace {

constexpr int kDefaultTimeoutSeconds = 30;

// The error output as it was when the runner started; everything else written there (Qt's
// warnings, the tools the program starts) joins the transcript, so that it carries the
// diagnosis alone.
std::FILE* g_errors = stderr;

void Tell(const QString& text) {
    std::fflush(stdout);
    std::fprintf(g_errors, "%s\n", text.toLocal8Bit().constData());
    std::fflush(g_errors);
}

int Refuse(const QString& text) {
    Tell(text);
    return 2;
}

// The captions and ids of the ribbon the program builds, so that a script naming a button that
// does not exist is refused before the program starts.
void ReadRibbon(kvscenario::ScriptContext* context) {
    QFile definition(QStringLiteral(":/kelvaro/ribbon.json"));
    CRibbonBar ribbon;
    QString error;
    if (!definition.open(QIODevice::ReadOnly) || !ribbon.LoadFromDefinition(definition.readAll(), &error)) {
        return;
    }
    auto add = [context](const QString& caption, int id) {
        if (id > 0) {
            context->ribbonCaptions[kvscenario::ShownText(caption).toLower()] << id;
            context->ribbonIds << id;
        }
    };
    for (CRibbonButton* button : ribbon.findChildren<CRibbonButton*>()) {
        add(button->GetText(), button->GetID());
    }
    for (QAction* action : ribbon.findChildren<QAction*>()) {
        add(action->text(), action->data().toInt());
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (std::FILE* errors = fdopen(dup(STDERR_FILENO), "w")) {
        g_errors = errors;
        dup2(STDOUT_FILENO, STDERR_FILENO);
    }
    const QString usage = QStringLiteral("usage: kv_scenario SCRIPT [--keep DIR] [--timeout SECONDS]");
    QString scriptPath, keep;
    int timeout = kDefaultTimeoutSeconds;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--keep") && i + 1 < argc) {
            keep = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QLatin1String("--timeout") && i + 1 < argc) {
            bool ok = false;
            timeout = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || timeout <= 0) {
                return Refuse(usage);
            }
        } else if (scriptPath.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            scriptPath = arg;
        } else {
            return Refuse(usage);
        }
    }
    if (scriptPath.isEmpty()) {
        return Refuse(usage);
    }
    QFile scriptFile(scriptPath);
    if (!scriptFile.open(QIODevice::ReadOnly)) {
        return Refuse(QStringLiteral("kv_scenario: cannot read the script %1").arg(scriptPath));
    }
    const QString script = QString::fromUtf8(scriptFile.readAll());

    // The program sees only its own name on its command line.
    static int programArgc = 1;
    static char* programArgv[] = {argv[0], nullptr};
    CKelvaroApp app(programArgc, programArgv);

    std::unique_ptr<QTemporaryDir> temporary;
    QString work;
    if (keep.isEmpty()) {
        temporary = std::make_unique<QTemporaryDir>();
        work = temporary->path();
    } else {
        work = QDir(keep).absolutePath();
    }
    if (!QDir().mkpath(work + QStringLiteral("/kelvaro"))) {
        return Refuse(QStringLiteral("kv_scenario: cannot make the folder %1").arg(work));
    }

    kvscenario::ScriptContext context;
    context.scriptDir = QFileInfo(scriptPath).absolutePath();
    context.workDir = work;
    context.environment = [](const QString& name, bool* found) {
        *found = qEnvironmentVariableIsSet(name.toLocal8Bit().constData());
        return qEnvironmentVariable(name.toLocal8Bit().constData());
    };
    ReadRibbon(&context);
    std::vector<kvscenario::Step> steps;
    kvscenario::ScriptError error;
    if (!kvscenario::ParseScript(script, context, &steps, &error)) {
        return Refuse(QStringLiteral("line %1: %2").arg(error.line).arg(error.message));
    }

    // The program's own profile and working folder, with the user data of an operator who has
    // started it before, so that nothing is asked before the script's first step.
    ZQT_SetSpecialFolderRoot(work + QStringLiteral("/kelvaro"));
    ZQT_SetUserProfilePath(work + QStringLiteral("/kelvaro/profile.ini"));
    ZQT_WriteUserProfileString("UserData", "UserData_Name", "Scenario");
    ZQT_WriteUserProfileString("UserData", "UserData_Surname", "Runner");
    ZQT_WriteUserProfileString("UserData", "UserData_EMail", "scenario@example.org");
    SetDrawingConverterProgram(QStringLiteral(KV_KONVERTEL_EXE));
    CPLSetErrorHandler(CPLQuietErrorHandler);
    QDir::setCurrent(work);

    if (!app.InitInstance()) {
        app.ExitInstance();
        Tell(QStringLiteral("kv_scenario: the program did not start"));
        return 3;
    }
    QTextStream out(stdout);
    int status = 0;
    {
        kvscenario::Runner runner(app, std::move(steps), timeout, out, Tell);
        status = runner.Run();
        if (status != 0) {
            Tell(runner.Diagnosis());
        } else {
            out << "passed\n";
        }
    }
    out.flush();
    app.ExitInstance();
    return status;
}
