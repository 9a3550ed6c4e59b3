#include "scenario/Runner.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <gdal.h>

#include "app/KelvaroApp.h"
#include "app/MainFrm.h"
#include "app/OutputWnd.h"
#include "app/Ribbon.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "scenario/DialogFields.h"

namespace kvscenario {
namespace {

// How long the program may take to come to rest once the script is over before the runner
// gives up on it.
constexpr qint64 kUnwindLimitMs = 20000;

QString OneLine(const QString& text, int limit = 0) {
    QString t = text;
    t.replace('\n', QLatin1String(" / "));
    if (limit > 0 && t.size() > limit) {
        t = t.left(limit - 3) + QLatin1String("...");
    }
    return t;
}

// The lines of a file's text: a PDF's as pdftotext lays them out, any other file as it stands.
// Empty, with the reason in *why, when the file cannot be read.
QStringList FileTextLines(const QString& path, QString* why) {
    if (!QFileInfo(path).isFile()) {
        *why = QStringLiteral("no such file");
        return {};
    }
    QByteArray text;
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
        if (!pdftotext.waitForFinished(30000) || pdftotext.exitStatus() != QProcess::NormalExit ||
            pdftotext.exitCode() != 0) {
            *why = QStringLiteral("pdftotext could not read it");
            return {};
        }
        text = pdftotext.readAllStandardOutput();
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *why = file.errorString();
            return {};
        }
        text = file.readAll();
    }
    return QString::fromUtf8(text).split(QRegularExpression(QStringLiteral("[\\r\\n\\f]+")),
                                         Qt::SkipEmptyParts);
}

QString Quoted(const QString& text) {
    return '"' + OneLine(text, 120) + '"';
}

QString AnswerName(int id) {
    switch (id) {
        case IDOK:
            return QStringLiteral("OK");
        case IDCANCEL:
            return QStringLiteral("Cancel");
        case IDYES:
            return QStringLiteral("Yes");
        case IDNO:
            return QStringLiteral("No");
        case IDRETRY:
            return QStringLiteral("Retry");
        case IDABORT:
            return QStringLiteral("Abort");
        case IDIGNORE:
            return QStringLiteral("Ignore");
        default:
            return QString::number(id);
    }
}

// The buttons of a message box type.
QList<int> ButtonsOf(unsigned type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE:
            return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL:
            return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO:
            return {IDYES, IDNO};
        case MB_RETRYCANCEL:
            return {IDRETRY, IDCANCEL};
        default:
            return {IDOK};
    }
}

// The answer that leaves everything as it is: No, else Cancel, else the only button.
int SafeAnswer(unsigned type) {
    const QList<int> buttons = ButtonsOf(type);
    for (int id : {IDNO, IDCANCEL, IDABORT}) {
        if (buttons.contains(id)) {
            return id;
        }
    }
    return buttons.first();
}

QString Number(double v) {
    return QString::number(v, 'g', 12);
}

QString LayerName(CadDrawing* drawing, CadEntity* entity) {
    char name[256] = {};
    if (CadLayer* layer = CadGetLayerByID(drawing, CadEntityGetLayerID(entity))) {
        CadLayerGetName(layer, name, sizeof name);
    }
    return QString::fromUtf8(name);
}

QStringList LayerNames(CKelvaroDoc* doc) {
    QStringList names;
    if (doc) {
        for (const auto& entry : doc->m_DEMs) {
            names << entry.first;
        }
        for (const auto& entry : doc->m_Orthos) {
            names << entry.first;
        }
        for (const auto& entry : doc->m_Maps) {
            names << entry.first;
        }
    }
    return names;
}

// Band 1 of the raster at the world position; NaN outside it or when it cannot be read.
double BandValueAt(GDALDatasetH dataset, const double* gt, double x, double y) {
    if (!dataset || gt[1] == 0.0 || gt[5] == 0.0 || GDALGetRasterCount(dataset) < 1) {
        return std::nan("");
    }
    const double column = std::floor((x - gt[0]) / gt[1]), row = std::floor((y - gt[3]) / gt[5]);
    if (column < 0 || row < 0 || column >= GDALGetRasterXSize(dataset) ||
        row >= GDALGetRasterYSize(dataset)) {
        return std::nan("");
    }
    double value = 0.0;
    if (GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, int(column), int(row), 1, 1, &value, 1, 1,
                     GDT_Float64, 0, 0) != CE_None) {
        return std::nan("");
    }
    return value;
}

// The value of the layer (by its name) at the world position: a DEM's elevation, band 1 of an
// orthophoto or a map. False when the project has no such layer.
bool CellValue(CKelvaroDoc* doc, const QString& name, double x, double y, double* value) {
    if (!doc) {
        return false;
    }
    if (doc->m_DEMs.count(name)) {
        *value = doc->m_DEMs.at(name)->GetElevation(x, y);
    } else if (doc->m_Orthos.count(name)) {
        const COrtho* ortho = doc->m_Orthos.at(name);
        *value = BandValueAt(ortho->m_pDataset, ortho->m_geoTransform, x, y);
    } else {
        // A map keeps the case of its title; the script names it in lower case.
        const auto map = std::find_if(doc->m_Maps.begin(), doc->m_Maps.end(), [&](const auto& entry) {
            return entry.first.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (map == doc->m_Maps.end()) {
            return false;
        }
        *value = BandValueAt(map->second->m_pDataset, map->second->m_geoTransform, x, y);
    }
    return true;
}

bool IsChooser(const kvtest::Awaited& shown) {
    return shown.kind != kvtest::Awaited::Message && shown.kind != kvtest::Awaited::Dialog;
}

QString Describe(const kvtest::Awaited& shown) {
    switch (shown.kind) {
        case kvtest::Awaited::Message:
            return QStringLiteral("message box %1").arg(Quoted(shown.text));
        case kvtest::Awaited::Dialog:
            return QStringLiteral("dialog %1").arg(Quoted(shown.title));
        default:
            return QStringLiteral("file chooser %1").arg(Quoted(shown.title));
    }
}

}  // namespace

// The scripted interaction of the tests, telling the transcript every answer it gives.
class Runner::Interaction : public kvtest::ScriptedInteraction {
public:
    explicit Interaction(Runner& runner) : m_runner(runner) {
        SetAwait([this](const kvtest::Awaited& shown) { m_runner.Await(shown); });
    }

    int ShowMessage(const QString& text, unsigned type, const QString& caption) override {
        m_runner.Seen(text);
        m_runner.Print(QStringLiteral("    message %1: %2").arg(Quoted(caption), Quoted(text)));
        const int id = ScriptedInteraction::ShowMessage(text, type, caption);
        m_runner.Print(QStringLiteral("    answered %1").arg(AnswerName(id)));
        return id;
    }
    QString ChooseOpenFile(const QString& title, const QString& folder, const QString& filter) override {
        return Told(title, ScriptedInteraction::ChooseOpenFile(title, folder, filter));
    }
    QStringList ChooseOpenFiles(const QString& title, const QString& folder, const QString& filter) override {
        const QStringList paths = ScriptedInteraction::ChooseOpenFiles(title, folder, filter);
        Told(title, paths.join(QLatin1String("; ")));
        return paths;
    }
    QString ChooseSaveFile(const QString& title, const QString& path, const QString& filter,
                           QString* selectedFilter) override {
        return Told(title, ScriptedInteraction::ChooseSaveFile(title, path, filter, selectedFilter));
    }
    QString ChooseFolder(const QString& title, const QString& folder) override {
        return Told(title, ScriptedInteraction::ChooseFolder(title, folder));
    }
    // What is pending before the dialog shows, so that what it starts once shown is known as its.
    int RunModal(QDialog& dialog) override {
        m_runner.m_shown.push_back({&dialog, m_runner.m_census.Take(), kv::BusyCount()});
        const int result = ScriptedInteraction::RunModal(dialog);
        m_runner.m_shown.pop_back();
        return result;
    }

private:
    QString Told(const QString& title, const QString& path) {
        m_runner.Print(QStringLiteral("    file %1: %2")
                           .arg(Quoted(title), path.isEmpty() ? QStringLiteral("cancelled") : path));
        return path;
    }

    Runner& m_runner;
};

// What the program is doing at one moment, as far as a step cares.
struct Runner::State {
    const Pending* pending = nullptr;  // the innermost message box, chooser or dialog not answered
    bool resuming = false;             // it is answered, but the program has not taken it yet
    // The pending dialog acts by itself (a timer of its own, or its work runs); working: its work runs.
    bool byItself = false;
    bool working = false;
    QWidget* foreign = nullptr;     // a modal window or menu that no step can answer
    CadDrawing* waiting = nullptr;  // the drawing whose command waits for input
    int waitKind = 0;
    QString prompt;
    bool busy = false;

    bool Blocked() const { return pending || resuming || foreign; }
    bool Input() const { return !Blocked() && waiting; }
    bool Idle() const { return !Blocked() && !waiting && !busy && ActiveCadCommandId == 0; }
    bool AtWork() const { return !Blocked() && !waiting && busy; }
    // A message box or chooser: it goes nowhere without an answer.
    bool Stuck() const { return pending && pending->shown->kind != kvtest::Awaited::Dialog; }

    QString Describe() const {
        if (pending) {
            return kvscenario::Describe(*pending->shown);
        }
        if (foreign) {
            return QStringLiteral("window %1, which no step can answer").arg(Quoted(foreign->windowTitle()));
        }
        if (waiting) {
            return prompt.isEmpty() ? QStringLiteral("a command waiting for input")
                                    : QStringLiteral("the prompt %1").arg(Quoted(prompt));
        }
        if (busy || resuming || ActiveCadCommandId != 0) {
            return QStringLiteral("the program still at work");
        }
        return QStringLiteral("nothing (the program is idle)");
    }
};

Runner::Runner(CKelvaroApp& app, std::vector<Step> steps, int timeoutSeconds, QTextStream& out,
               std::function<void(const QString&)> tell)
    : m_app(app),
      m_steps(std::move(steps)),
      m_out(out),
      m_tell(std::move(tell)),
      m_clock(qint64(timeoutSeconds) * 1000),
      m_tick(this) {
    m_ui = std::make_unique<Interaction>(*this);
    m_tick.setSingleShot(true);
    connect(&m_tick, &QTimer::timeout, this, &Runner::Tick);
}

Runner::~Runner() = default;

int Runner::Run() {
    CMainFrame* frame = m_app.GetMainFrame();
    if (QWidget* commandLine = frame->GetOutputWnd()->CommandLineHost()->GetCommandLineWindow()) {
        m_history = commandLine->findChild<QPlainTextEdit*>();
        m_commandLine = commandLine->findChild<QLineEdit*>();
    }
    if (m_history) {
        connect(m_history->document(), &QTextDocument::contentsChange, this, &Runner::OnCommandLine);
    }
    m_status = frame->GetStatusPane(0) ? frame->GetStatusPane(0)->text() : QString();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "OnOpenUrl");
    m_sinceTick.start();
    ScheduleTick(0);
    m_main.exec();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    CadScriptSetStrict(0);
    return m_diagnosis.isEmpty() ? 0 : 1;
}

// The runner's own timer, a child of the runner, which the census of a dialog's timers leaves out.
void Runner::ScheduleTick(int ms) {
    m_tick.start(ms);
}

// One look at the program: every tick schedules the next one before anything it does can block.
void Runner::Tick() {
    if (m_done) {
        return;
    }
    const qint64 elapsed = m_sinceTick.restart();
    ReadStatus();
    ReadPrompt();
    // A dialog that ended by itself needs no answer any more.
    if (!m_pending.empty() && !m_pending.back().answered && m_pending.back().shown->dialog &&
        !m_pending.back().shown->dialog->isVisible()) {
        m_pending.back().answered = true;
        m_pending.back().loop->quit();
    }
    if (m_finishing) {
        Unwind();
        if (!m_done) {
            ScheduleTick(10);
        }
        return;
    }
    if (m_next >= m_steps.size()) {
        Print(QStringLiteral("end of script"));
        m_finishing = true;
        m_finishingSince.start();
        ScheduleTick(0);
        return;
    }
    const Step& step = m_steps[m_next];
    const State state = Observe();
    QString awaited;
    const Readiness readiness = ReadinessOf(step, state, &awaited);
    if (readiness == Readiness::Refuse) {
        Fail(step.line, QStringLiteral("awaited %1, came %2").arg(awaited, state.Describe()));
        ScheduleTick(0);
        return;
    }
    if (readiness == Readiness::Wait) {
        m_settling = false;
        // Time the program spends at work is not waiting: a worker pumps its messages between
        // blocks, and this look runs inside its pump. A program marked busy whose event loop runs
        // without a worker pumping waits like an idle one.
        m_clock.Add(elapsed, (state.AtWork() || state.working) && kv::Pumping());
        if (m_clock.WaitedOut() || m_clock.WorkedOut()) {
            const qint64 seconds =
                m_clock.LimitMs() / 1000 * (m_clock.WaitedOut() ? 1 : StepClock::kWorkFactor);
            Fail(step.line, QStringLiteral("awaited %1 for %2 s%3, came %4")
                                .arg(awaited)
                                .arg(seconds)
                                .arg(m_clock.WaitedOut() ? QString() : QStringLiteral(" of work"))
                                .arg(state.Describe()));
            ScheduleTick(0);
            return;
        }
        // The first looks follow each other closely, since most waits are short (a dialog about to
        // show), the later ones every 10 ms.
        ScheduleTick(std::min(10, 1 << std::min(m_waits++, 4)));
        return;
    }
    m_waits = 0;
    // Ready twice in a row: what the last step posted to the event loop has run meanwhile.
    if (!m_settling) {
        m_settling = true;
        ScheduleTick(0);
        return;
    }
    m_settling = false;
    m_clock.Restart();
    ++m_next;
    ScheduleTick(0);
    Print(QStringLiteral("%1: %2").arg(step.line, 3).arg(step.source));
    ++m_depth;
    Perform(step, state);
    --m_depth;
}

Runner::State Runner::Observe() const {
    State s;
    if (!m_pending.empty()) {
        if (m_pending.back().answered) {
            s.resuming = true;
        } else {
            s.pending = &m_pending.back();
            if (s.pending->shown->kind == kvtest::Awaited::Dialog && s.pending->shown->dialog) {
                s.byItself = ActsByItself(*s.pending->shown->dialog, &s.working);
            }
        }
    }
    QWidget* modal = QApplication::activeModalWidget();
    const bool ours = std::any_of(m_pending.begin(), m_pending.end(),
                                  [modal](const Pending& p) { return p.shown->dialog == modal; });
    if (modal && !ours) {
        s.foreign = modal;
    }
    if (QWidget* popup = QApplication::activePopupWidget()) {
        s.foreign = popup;
    }
    QList<CKelvaroDoc*> documents = CKelvaroDoc::GetOpenDocuments();
    if (CKelvaroDoc* active = ActiveProject()) {
        documents.removeAll(active);
        documents.prepend(active);
    }
    for (CKelvaroDoc* doc : documents) {
        if (const int kind = CadCmdGetWaiting(doc->m_pCad)) {
            s.waiting = doc->m_pCad;
            s.waitKind = kind;
            char prompt[512] = {};
            CadCmdGetPrompt(doc->m_pCad, prompt, sizeof prompt);
            s.prompt = QString::fromUtf8(prompt);
            break;
        }
    }
    s.busy = kv::BusyCount() > 0;
    return s;
}

Runner::Readiness Runner::ReadinessOf(const Step& step, const State& s, QString* awaited) const {
    // A dialog that acts by itself is left alone: whatever the step awaits may come once it has.
    const Readiness pendingNotAnswered = s.byItself ? Readiness::Wait : Readiness::Refuse;
    switch (step.kind) {
        case StepKind::Dialog:
            *awaited = QStringLiteral("a dialog titled /%1/").arg(step.text);
            if (s.pending) {
                if (s.byItself || s.pending->shown->kind != kvtest::Awaited::Dialog) {
                    return pendingNotAnswered;
                }
                return step.expression.match(s.pending->shown->title).hasMatch() ? Readiness::Ready
                                                                                 : Readiness::Refuse;
            }
            return !s.Blocked() && !s.AtWork() && ModelessWindow(step) ? Readiness::Ready : Readiness::Wait;
        case StepKind::Message:
            *awaited = QStringLiteral("a message box to answer %1").arg(step.text);
            if (s.pending) {
                return s.pending->shown->kind == kvtest::Awaited::Message ? Readiness::Ready
                                                                          : pendingNotAnswered;
            }
            return Readiness::Wait;
        case StepKind::File:
        case StepKind::CancelFile:
            *awaited = QStringLiteral("a file chooser");
            if (s.pending) {
                return IsChooser(*s.pending->shown) ? Readiness::Ready : pendingNotAnswered;
            }
            return Readiness::Wait;
        case StepKind::Type:
        case StepKind::Enter:
        case StepKind::Escape:
        case StepKind::Pick:
        case StepKind::RightClick:
            *awaited = QStringLiteral("a prompt waiting for input");
            return s.Input() ? Readiness::Ready : s.pending ? pendingNotAnswered : Readiness::Wait;
        case StepKind::SelectEntity:
            *awaited = QStringLiteral("a prompt waiting for an entity");
            if (s.Input()) {
                return s.waitKind == CAD_WAIT_ENTITY || s.waitKind == CAD_WAIT_SELECT ? Readiness::Ready
                                                                                      : Readiness::Refuse;
            }
            return s.pending ? pendingNotAnswered : Readiness::Wait;
        case StepKind::WaitIdle:
            // A dialog may still end by itself; a message box, a chooser or a prompt never does.
            *awaited = QStringLiteral("the program to become idle");
            if (s.Idle()) {
                return Readiness::Ready;
            }
            return s.Stuck() || s.Input() ? Readiness::Refuse : Readiness::Wait;
        case StepKind::Expect:
        case StepKind::ExpectFile:
        case StepKind::ExpectNoFile:
        case StepKind::ExpectSame:
        case StepKind::ExpectLayers:
        case StepKind::ExpectCell:
        case StepKind::ExpectEntities:
        case StepKind::ExpectText:
            *awaited = QStringLiteral("the program to settle");
            return (s.pending && !s.byItself) || s.Input() || s.Idle() ? Readiness::Ready : Readiness::Wait;
        default:
            *awaited = QStringLiteral("the program ready for %1").arg(step.source.section(' ', 0, 0));
            if (s.Idle() || s.Input()) {
                return Readiness::Ready;
            }
            return s.pending ? pendingNotAnswered : Readiness::Wait;
    }
}

bool Runner::ActsByItself(const QDialog& dialog, bool* working) const {
    auto shown = std::find_if(m_shown.rbegin(), m_shown.rend(),
                              [&dialog](const ShownDialog& d) { return d.dialog == &dialog; });
    if (shown == m_shown.rend()) {
        *working = false;
        return false;
    }
    *working = kv::BusyCount() > shown->busy;
    return *working || m_census.Pending(dialog, shown->timers, this) > 0;
}

QDialog* Runner::ModelessWindow(const Step& step) const {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        const bool modal = std::any_of(m_shown.begin(), m_shown.end(),
                                       [dialog](const ShownDialog& d) { return d.dialog == dialog; });
        if (dialog && !modal && dialog->isVisible() &&
            step.expression.match(dialog->windowTitle()).hasMatch()) {
            return dialog;
        }
    }
    return nullptr;
}

void Runner::Perform(const Step& step, const State& state) {
    auto answer = [this] {
        m_pending.back().answered = true;
        m_pending.back().loop->quit();
    };
    auto needFile = [this, &step](const QString& path) {
        if (QFileInfo(path).isFile()) {
            return true;
        }
        Fail(step.line, QStringLiteral("awaited the file %1, came no such file").arg(path));
        return false;
    };
    // A step that answers its chooser ahead: the chooser must have come by the time it is done.
    auto pressWithFile = [&](int id) {
        if (!needFile(step.text)) {
            return;
        }
        m_ui->AnswerFile(step.text);
        if (Press(step, id) && m_ui->PendingFileAnswers() > 0 && !m_finishing) {
            Fail(step.line, QStringLiteral("awaited a file chooser, came none"));
        }
    };
    switch (step.kind) {
        case StepKind::New:
            Press(step, ID_FILE_NEW);
            break;
        case StepKind::Open:
            pressWithFile(ID_FILE_OPEN);
            break;
        case StepKind::Save:
            if (step.text.isEmpty()) {
                Press(step, ID_FILE_SAVE);
            } else {
                m_ui->AnswerFile(step.text);
                Press(step, ID_FILE_SAVE_AS);
            }
            break;
        case StepKind::Close:
            Press(step, ID_FILE_CLOSE);
            break;
        case StepKind::Copy: {
            if (!needFile(step.text)) {
                break;
            }
            QDir().mkpath(QFileInfo(step.path2).absolutePath());
            QFile::remove(step.path2);
            // The copy is the operator's own file, writable whatever the source was.
            if (!QFile::copy(step.text, step.path2) ||
                !QFile::setPermissions(
                    step.path2, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
                Fail(step.line, QStringLiteral("awaited a copy at %1, came none").arg(step.path2));
                break;
            }
            Print(QStringLiteral("    copied to %1").arg(step.path2));
            break;
        }
        case StepKind::Truncate: {
            if (!needFile(step.text)) {
                break;
            }
            const qint64 size = QFileInfo(step.text).size();
            const qint64 kept = static_cast<qint64>(static_cast<double>(size) * step.value / 100.0);
            if (!QFile::resize(step.text, kept)) {
                Fail(step.line,
                     QStringLiteral("awaited %1 cut to %2 bytes, came no change").arg(step.text).arg(kept));
                break;
            }
            Print(QStringLiteral("    cut from %1 to %2 bytes").arg(size).arg(kept));
            break;
        }
        case StepKind::AddDem:
            pressWithFile(ID_BUTTON_INSERTDEM);
            break;
        case StepKind::AddOrtho:
            pressWithFile(ID_BUTTON_INSERTORTHO);
            break;
        case StepKind::AddMap:
            pressWithFile(ID_ADD_ADDDATA);
            break;
        case StepKind::Button:
            Press(step, step.id);
            break;
        case StepKind::Command:
        case StepKind::Type:
            TypeLine(step.text);
            break;
        case StepKind::Enter:
            TypeLine(QString());
            break;
        case StepKind::Escape:
            if (m_commandLine) {
                QTest::keyClick(m_commandLine, Qt::Key_Escape);
            }
            break;
        case StepKind::Pick:
            MovePointer(state.waiting, step.x, step.y);
            CadScriptPushPoint(state.waiting, step.x, step.y, 0.0, step.keyFlags);
            break;
        case StepKind::RightClick:
            if (step.hasPoint) {
                MovePointer(state.waiting, step.x, step.y);
            }
            CadScriptPushFinish(state.waiting);
            break;
        case StepKind::SelectEntity: {
            CadEntity* entity = nullptr;
            if (step.entityId > 0) {
                entity = CadGetEntityByID(state.waiting, step.entityId);
            } else {
                for (CadEntity* e = CadGetFirstEntity(state.waiting); e;
                     e = CadGetNextEntity(state.waiting, e)) {
                    if (!CadEntityGetDeleted(e)) {
                        entity = e;
                    }
                }
            }
            if (!entity || CadEntityGetDeleted(entity)) {
                Fail(step.line, QStringLiteral("awaited an entity to select, came none"));
                break;
            }
            Print(QStringLiteral("    entity %1 on layer %2")
                      .arg(CadEntityGetID(entity))
                      .arg(Quoted(LayerName(state.waiting, entity))));
            CadScriptPushEntity(state.waiting, entity);
            break;
        }
        case StepKind::Dialog: {
            if (!state.pending) {
                // A modeless window: answered here, what it opens comes as it is shown.
                if (QDialog* window = ModelessWindow(step)) {
                    AnswerDialog(step, *window);
                }
                break;
            }
            const Step* dialogStep = &step;
            m_ui->AnswerModal([this, dialogStep](QDialog& dialog) {
                AnswerDialog(*dialogStep, dialog);
                return -1;
            });
            answer();
            break;
        }
        case StepKind::Message:
            if (!ButtonsOf(state.pending->shown->type).contains(step.id)) {
                Fail(step.line, QStringLiteral("awaited a message box with a %1 button, came %2")
                                    .arg(step.text, state.Describe()));
                break;
            }
            m_ui->AnswerMessage(step.id);
            answer();
            break;
        case StepKind::File: {
            // What an open or folder chooser is given must be there; a save chooser names a new file.
            const kvtest::Awaited::Kind kind = state.pending->shown->kind;
            if (kind == kvtest::Awaited::Folder && !QFileInfo(step.text).isDir()) {
                Fail(step.line, QStringLiteral("awaited the folder %1, came no such folder").arg(step.text));
                break;
            }
            if ((kind == kvtest::Awaited::OpenFile || kind == kvtest::Awaited::OpenFiles) &&
                !needFile(step.text)) {
                break;
            }
            m_ui->AnswerFile(step.text);
            answer();
            break;
        }
        case StepKind::CancelFile:
            m_ui->AnswerFile(QString());
            answer();
            break;
        case StepKind::WaitIdle:
            break;
        case StepKind::View:
            ShowView(step);
            break;
        case StepKind::Pan:
            Pan(step);
            break;
        default:
            Check(step, state);
            break;
    }
}

void Runner::ShowView(const Step& step) {
    CKelvaroDoc* doc = ActiveProject();
    QWidget* view = doc ? CadGetWindow(doc->m_pCad) : nullptr;
    if (!view) {
        Fail(step.line, QStringLiteral("awaited a project's plan view, came none"));
        return;
    }
    // The main window grows or shrinks by what the view lacks.
    const QSize size(step.width, step.height);
    QWidget* window = view->window();
    if (window->isMaximized() || window->isFullScreen()) {
        window->showNormal();
    }
    // Only the posted events (the layouts) are delivered: the event loop would run the next steps.
    for (int attempt = 0; attempt < 3 && view->size() != size; ++attempt) {
        window->resize(window->size() + size - view->size());
        QCoreApplication::sendPostedEvents();
    }
    if (view->size() != size) {
        Fail(step.line, QStringLiteral("awaited a plan view of %1 x %2, came %3 x %4")
                            .arg(step.width)
                            .arg(step.height)
                            .arg(view->width())
                            .arg(view->height()));
        return;
    }
    const double halfWidth = step.width / (2.0 * step.value), halfHeight = step.height / (2.0 * step.value);
    CadViewRect(view, step.x - halfWidth, step.y - halfHeight, step.x + halfWidth, step.y + halfHeight);
    view->repaint();
    Print(QStringLiteral("    plan view of %1 x %2 pixels").arg(step.width).arg(step.height));
}

void Runner::Pan(const Step& step) {
    CKelvaroDoc* doc = ActiveProject();
    QWidget* view = doc ? CadGetWindow(doc->m_pCad) : nullptr;
    if (!view) {
        Fail(step.line, QStringLiteral("awaited a project's plan view, came none"));
        return;
    }
    QPoint at = view->rect().center();
    auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), view->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    send(QEvent::MouseButtonPress, Qt::MiddleButton, Qt::MiddleButton);
    // COUNT moves forth, then as many back: the view ends where it started.
    QStringList frames;
    for (int k = 0; k < 2 * step.count; ++k) {
        const int sign = k < step.count ? 1 : -1;
        at += QPoint(sign * step.dx, sign * step.dy);
        QElapsedTimer frame;
        frame.start();
        send(QEvent::MouseMove, Qt::NoButton, Qt::MiddleButton);
        view->repaint();
        frames << QString::number(double(frame.nsecsElapsed()) / 1e6, 'f', 3);
        // What else the move asked for (the status bar's readout), untimed; not the event loop,
        // which would run the next steps.
        QCoreApplication::sendPostedEvents();
    }
    send(QEvent::MouseButtonRelease, Qt::MiddleButton, Qt::NoButton);
    Print(QStringLiteral("    %1 frames of %2 x %3, in ms: %4")
              .arg(frames.size())
              .arg(view->width())
              .arg(view->height())
              .arg(frames.join(' ')));
    if (!step.text.isEmpty() && !view->grab().save(step.text, "PNG")) {
        Fail(step.line, QStringLiteral("awaited the picture %1, came none").arg(step.text));
    }
}

bool Runner::Check(const Step& step, const State& state) {
    auto fail = [&](const QString& awaited, const QString& came) {
        Fail(step.line, QStringLiteral("awaited %1, came %2").arg(awaited, came));
        return false;
    };
    CKelvaroDoc* doc = ActiveProject();
    switch (step.kind) {
        case StepKind::Expect: {
            QStringList texts = m_seen;
            if (!state.prompt.isEmpty()) {
                texts << state.prompt;
            }
            for (const QString& text : texts) {
                if (step.expression.match(text).hasMatch()) {
                    Print(QStringLiteral("    seen %1").arg(Quoted(text)));
                    m_seen.clear();
                    return true;
                }
            }
            QStringList last;
            for (int i = std::max<int>(0, texts.size() - 3); i < texts.size(); ++i) {
                last << Quoted(texts[i]);
            }
            return fail(QStringLiteral("a text matching /%1/").arg(step.text),
                        texts.isEmpty() ? QStringLiteral("no text") : last.join(QLatin1String(", ")));
        }
        case StepKind::ExpectFile:
            if (!QFileInfo(step.text).isFile()) {
                return fail(QStringLiteral("the file %1").arg(step.text), QStringLiteral("no such file"));
            }
            return true;
        case StepKind::ExpectNoFile: {
            // The name may hold wildcards; hidden files count.
            const QFileInfo pattern(step.text);
            const QStringList found =
                pattern.dir().entryList({pattern.fileName()}, QDir::Files | QDir::Hidden | QDir::System);
            if (!found.isEmpty()) {
                return fail(QStringLiteral("no file %1").arg(step.text), found.join(QLatin1String(", ")));
            }
            return true;
        }
        case StepKind::ExpectSame: {
            QFile first(step.text), second(step.path2);
            if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly)) {
                return fail(QStringLiteral("the files %1 and %2").arg(step.text, step.path2),
                            QStringLiteral("a file that cannot be read"));
            }
            if (first.readAll() != second.readAll()) {
                return fail(QStringLiteral("%1 the same as %2").arg(step.text, step.path2),
                            QStringLiteral("other bytes"));
            }
            return true;
        }
        case StepKind::ExpectLayers: {
            const std::map<QString, int> counts = {{QStringLiteral("dem"), doc ? doc->GetDEMCount() : 0},
                                                   {QStringLiteral("ortho"), doc ? doc->GetOrthoCount() : 0},
                                                   {QStringLiteral("map"), doc ? doc->GetMapCount() : 0}};
            QStringList wanted, came;
            bool same = true;
            for (const auto& [kind, count] : step.layers) {
                wanted << QStringLiteral("%1=%2").arg(kind).arg(count);
                came << QStringLiteral("%1=%2").arg(kind).arg(counts.at(kind));
                same = same && counts.at(kind) == count;
            }
            return same || fail(wanted.join(' '), came.join(' '));
        }
        case StepKind::ExpectCell: {
            double value = 0.0;
            if (!CellValue(doc, step.text, step.x, step.y, &value)) {
                const QStringList names = LayerNames(doc);
                return fail(QStringLiteral("the layer %1").arg(Quoted(step.text)),
                            names.isEmpty() ? QStringLiteral("no raster layer")
                                            : QStringLiteral("only ") + names.join(", "));
            }
            const QString at = QStringLiteral("%1 at %2, %3").arg(step.text, Number(step.x), Number(step.y));
            if (!(std::fabs(value - step.value) <= step.tolerance)) {
                return fail(QStringLiteral("%1 = %2").arg(at, Number(step.value)), Number(value));
            }
            Print(QStringLiteral("    %1 = %2").arg(at, Number(value)));
            return true;
        }
        case StepKind::ExpectEntities: {
            int count = 0;
            CadDrawing* drawing = doc ? doc->m_pCad : nullptr;
            for (CadEntity* e = CadGetFirstEntity(drawing); drawing && e; e = CadGetNextEntity(drawing, e)) {
                count += !CadEntityGetDeleted(e) && step.expression.match(LayerName(drawing, e)).hasMatch();
            }
            if (count != step.count) {
                return fail(QStringLiteral("%1 entities on layers /%2/").arg(step.count).arg(step.text),
                            QString::number(count));
            }
            return true;
        }
        case StepKind::ExpectText: {
            QString why;
            const QStringList lines = FileTextLines(step.text, &why);
            for (const QString& text : lines) {
                if (step.expression.match(text).hasMatch()) {
                    Print(QStringLiteral("    %1").arg(text.simplified()));
                    return true;
                }
            }
            return fail(
                QStringLiteral("a line matching /%1/ in %2").arg(step.expression.pattern(), step.text),
                why.isEmpty() ? QStringLiteral("%1 lines, none matching").arg(lines.size()) : why);
        }
        default:
            return true;
    }
}

void Runner::AnswerDialog(const Step& step, QDialog& dialog) {
    const QString title = Quoted(dialog.windowTitle());
    for (const DialogLine& line : step.dialogLines) {
        if (m_finishing || !dialog.isVisible()) {
            return;
        }
        const QString named =
            line.index > 0 ? QStringLiteral("%1 #%2").arg(line.label).arg(line.index) : line.label;
        if (line.kind == DialogLine::Press) {
            // Told first: what the button sets off (a message box, another dialog) comes after it.
            Print(QStringLiteral("    dialog %1: press %2").arg(title, Quoted(named)));
            const QString error = PressDialogButton(dialog, line.label, line.index);
            if (!error.isEmpty()) {
                Fail(line.line, QStringLiteral("awaited a button %1 in dialog %2, came %3")
                                    .arg(Quoted(named), title, error));
                return;
            }
            continue;
        }
        const std::vector<DialogField> fields = DialogFields(dialog);
        int matches = 0;
        const DialogField* found = FindDialogField(fields, line.labelExpression, line.index, &matches);
        if (!found) {
            QStringList labels;
            for (const DialogField& f : fields) {
                labels << Quoted(f.label);
            }
            const QString all = labels.isEmpty()
                                    ? QStringLiteral("no field")
                                    : QStringLiteral("fields ") + labels.join(QLatin1String(", "));
            Fail(line.line, matches == 0
                                ? QStringLiteral("awaited a field labelled /%1/ in dialog %2, came %3")
                                      .arg(named, title, all)
                                : QStringLiteral("awaited one field labelled /%1/ in dialog %2, came %3 "
                                                 "that match it (%4)")
                                      .arg(named, title)
                                      .arg(matches)
                                      .arg(all));
            return;
        }
        if (line.kind == DialogLine::Expect) {
            const QString value = ShownValue(found->widget);
            if (!line.valueExpression.match(value).hasMatch()) {
                Fail(line.line, QStringLiteral("awaited field %1 of dialog %2 to show /%3/, came %4")
                                    .arg(Quoted(found->label), title, line.value, Quoted(value)));
                return;
            }
            Print(
                QStringLiteral("    dialog %1: %2 shows %3").arg(title, Quoted(found->label), Quoted(value)));
            continue;
        }
        QString shown;
        const QString error = SetDialogField(found->widget, line.value, &shown);
        if (!error.isEmpty()) {
            Fail(line.line, QStringLiteral("awaited field %1 of dialog %2 to take %3, came %4")
                                .arg(Quoted(found->label), title, Quoted(line.value), error));
            return;
        }
        Print(QStringLiteral("    dialog %1: set %2 = %3").arg(title, Quoted(found->label), Quoted(shown)));
    }
}

void Runner::Fail(int line, const QString& text) {
    if (m_finishing) {
        return;
    }
    m_diagnosis = QStringLiteral("line %1: %2").arg(line).arg(text);
    Print(QStringLiteral("FAILED %1").arg(m_diagnosis));
    m_finishing = true;
    m_finishingSince.start();
}

// Brings the program to rest once the script is over: commands cancelled, what waits answered
// with the answer that changes nothing, then the projects closed without saving.
void Runner::Unwind() {
    CadScriptSetStrict(1);
    for (CKelvaroDoc* doc : CKelvaroDoc::GetOpenDocuments()) {
        CadCmdFinish(doc->m_pCad);
    }
    if (!m_pending.empty() && !m_pending.back().answered) {
        QueueSafeAnswer(*m_pending.back().shown);
        m_pending.back().answered = true;
        m_pending.back().loop->quit();
    }
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
    if (m_depth == 0 && m_pending.empty() && kv::BusyCount() == 0) {
        if (CProjectTemplate* projects = m_app.GetProjectTemplate()) {
            projects->CloseAllDocuments();
        }
        m_done = true;
        m_main.quit();
        return;
    }
    if (m_finishingSince.elapsed() > kUnwindLimitMs) {
        if (m_diagnosis.isEmpty()) {
            m_diagnosis = QStringLiteral("the program did not come to rest after the script");
        }
        m_tell(m_diagnosis);
        std::_Exit(1);
    }
}

// Once the script is over nothing more is asked of the program: the answer that changes nothing
// (a chooser with no answer queued is refused).
void Runner::QueueSafeAnswer(const kvtest::Awaited& shown) {
    if (shown.kind == kvtest::Awaited::Message) {
        m_ui->AnswerMessage(SafeAnswer(shown.type));
    } else if (shown.kind == kvtest::Awaited::Dialog) {
        m_ui->AnswerModal([](QDialog& dialog) {
            dialog.reject();
            return IDCANCEL;
        });
    }
}

void Runner::Await(const kvtest::Awaited& shown) {
    if (m_finishing) {
        QueueSafeAnswer(shown);
        return;
    }
    QEventLoop loop;
    // A dialog that ends by itself (its own timer ran the work) needs no answer any more.
    QMetaObject::Connection ended;
    if (shown.kind == kvtest::Awaited::Dialog && shown.dialog) {
        ended = QObject::connect(shown.dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    }
    m_pending.push_back({&shown, &loop, false});
    loop.exec();
    QObject::disconnect(ended);
    m_pending.pop_back();
}

bool Runner::Press(const Step& step, int id) {
    CMainFrame* frame = m_app.GetMainFrame();
    frame->UpdateCommandUI();
    const QString name = kv::CommandNameFromId(id);
    auto refuse = [&](const QString& came) {
        Fail(step.line, QStringLiteral("awaited the ribbon's %1 enabled, came %2").arg(name, came));
        return false;
    };
    CRibbonBar* ribbon = frame->GetRibbonBar();
    for (CRibbonButton* button : ribbon->findChildren<CRibbonButton*>()) {
        if (button->GetID() == id && !button->menu()) {
            if (!button->isEnabled()) {
                return refuse(QStringLiteral("it disabled"));
            }
            button->click();
            return true;
        }
    }
    for (QAction* action : ribbon->findChildren<QAction*>()) {
        if (!action->isSeparator() && action->data().toInt() == id) {
            if (!action->isEnabled()) {
                return refuse(QStringLiteral("it disabled"));
            }
            action->trigger();
            return true;
        }
    }
    // A command the ribbon does not show (Save As) takes the ribbon's road all the same.
    if (!frame->OnCmdMsg(id)) {
        return refuse(QStringLiteral("no handler"));
    }
    frame->UpdateCommandUI();
    return true;
}

void Runner::TypeLine(const QString& text) {
    if (!m_commandLine) {
        return;
    }
    m_commandLine->clear();
    QTest::keyClicks(m_commandLine, text);
    QTest::keyClick(m_commandLine, Qt::Key_Return);
}

// The pointer goes where the operator clicks, so that readouts and snaps see it there.
void Runner::MovePointer(CadDrawing* drawing, double x, double y) {
    QWidget* window = CadGetWindow(drawing);
    int px = 0, py = 0;
    if (!window || !CadCoordModelToWin(window, x, y, &px, &py) || !window->rect().contains(px, py)) {
        return;
    }
    const QPointF at(px, py);
    QMouseEvent move(QEvent::MouseMove, at, window->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(window, &move);
}

CKelvaroDoc* Runner::ActiveProject() const {
    if (auto* doc = dynamic_cast<CKelvaroDoc*>(kv::GetCommandTarget())) {
        return doc;
    }
    const QList<CKelvaroDoc*>& documents = CKelvaroDoc::GetOpenDocuments();
    return documents.isEmpty() ? nullptr : documents.last();
}

void Runner::OnOpenUrl(const QUrl& url) {
    const QString text =
        QStringLiteral("opened %1").arg(url.isLocalFile() ? url.toLocalFile() : url.toString());
    Print(QStringLiteral("    %1").arg(text));
    Seen(text);
}

void Runner::Print(const QString& line) {
    m_out << line << '\n';
    m_out.flush();
}

void Runner::Seen(const QString& text) {
    m_seen << text;
    if (m_seen.size() > 1000) {
        m_seen.removeFirst();
    }
}

void Runner::ReadStatus() {
    QLabel* pane = m_app.GetMainFrame() ? m_app.GetMainFrame()->GetStatusPane(0) : nullptr;
    if (pane && pane->text() != m_status) {
        m_status = pane->text();
        if (!m_status.isEmpty()) {
            Print(QStringLiteral("    status %1").arg(Quoted(m_status)));
            Seen(m_status);
        }
    }
}

// A prompt stays in the command line after its command ended ("Undo buffer empty" of a command
// that had nothing to do and waits for nothing): it counts as shown, as the prompt of a waiting
// command does, so that an expect finds it before the next command replaces it.
void Runner::ReadPrompt() {
    CKelvaroDoc* doc = ActiveProject();
    char prompt[512] = {};
    if (doc) {
        CadCmdGetPrompt(doc->m_pCad, prompt, sizeof prompt);
    }
    const QString text = QString::fromUtf8(prompt);
    if (text == m_prompt) {
        return;
    }
    m_prompt = text;
    if (!text.isEmpty() && !CadCmdGetWaiting(doc->m_pCad)) {
        Print(QStringLiteral("    prompt %1").arg(Quoted(text)));
        Seen(text);
    }
}

void Runner::OnCommandLine(int position, int, int added) {
    if (added <= 0 || !m_history) {
        return;
    }
    QTextDocument* document = m_history->document();
    QTextCursor cursor(document);
    cursor.setPosition(std::min(position, document->characterCount() - 1));
    cursor.setPosition(std::min(position + added, document->characterCount() - 1), QTextCursor::KeepAnchor);
    for (const QString& line : cursor.selectedText().split(QChar::ParagraphSeparator, Qt::SkipEmptyParts)) {
        Print(QStringLiteral("    | %1").arg(line));
        Seen(line);
    }
}

}  // namespace kvscenario
