// Runs a checked scenario in the started program. Every step runs from the event loop, the way
// the operator's clicks and keys arrive: a step that opens a command, a dialog or a message box
// stays on the stack while the program waits in its own event loop, and the next steps run in
// that loop. A step runs once the program has settled (it waits for input, shows something to
// answer, or is idle); a step that awaits something the program does not show within the time
// limit fails with one line naming the script line, what it awaited and what came instead.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "scenario/Script.h"
#include "scenario/StepClock.h"
#include "scenario/TimerCensus.h"
#include "support/ScriptedInteraction.h"

class CKelvaroApp;
class CKelvaroDoc;
class QLineEdit;
class QPlainTextEdit;
class QTextStream;
class QUrl;
struct CadDrawing;

namespace kvscenario {

class Runner : public QObject {
    Q_OBJECT
public:
    // tell writes the diagnosis when the program does not come to rest and the process must end
    // at once.
    Runner(CKelvaroApp& app, std::vector<Step> steps, int timeoutSeconds, QTextStream& out,
           std::function<void(const QString&)> tell);
    ~Runner() override;

    // Runs the steps in the event loop; returns 0 when every step ran and every expectation held,
    // 1 otherwise (the diagnosis is in Diagnosis()).
    int Run();
    const QString& Diagnosis() const { return m_diagnosis; }

private slots:
    // A file the program hands to the desktop to open (a report): told, not opened.
    void OnOpenUrl(const QUrl& url);

private:
    class Interaction;
    struct State;
    enum class Readiness { Ready, Wait, Refuse };

    void Tick();
    void ScheduleTick(int ms);
    State Observe() const;
    Readiness ReadinessOf(const Step& step, const State& state, QString* awaited) const;
    void Perform(const Step& step, const State& state);
    bool Check(const Step& step, const State& state);
    void Fail(int line, const QString& text);
    void Unwind();

    // What the interaction service calls while a message box, chooser or dialog waits.
    void Await(const kvtest::Awaited& shown);
    void QueueSafeAnswer(const kvtest::Awaited& shown);
    void AnswerDialog(const Step& step, QDialog& dialog);
    // Whether the dialog acts by itself: a timer of its own is pending, or its work runs (it
    // holds more busy marks than when it was shown).
    bool ActsByItself(const QDialog& dialog, bool* working) const;
    // A shown modeless window (no modal dialog of a step) whose title matches.
    QDialog* ModelessWindow(const Step& step) const;

    // The program's ways in.
    bool Press(const Step& step, int id);
    // The active project's plan view: its size, centre and scale; a drag with the middle button,
    // each frame timed from the move to the repainted view.
    void ShowView(const Step& step);
    void Pan(const Step& step);
    void TypeLine(const QString& text);
    void MovePointer(CadDrawing* drawing, double x, double y);
    CKelvaroDoc* ActiveProject() const;

    void Print(const QString& line);
    void Seen(const QString& text);
    void ReadStatus();
    void ReadPrompt();
    void OnCommandLine(int position, int removed, int added);

    CKelvaroApp& m_app;
    std::vector<Step> m_steps;
    QTextStream& m_out;
    std::function<void(const QString&)> m_tell;
    std::unique_ptr<Interaction> m_ui;
    size_t m_next = 0;
    // Event-loop time the current step has been waiting, apart from the time a worker pumped.
    StepClock m_clock;
    QElapsedTimer m_sinceTick;
    bool m_settling = false;
    int m_waits = 0;  // looks in a row that found the program not yet ready for the step
    int m_depth = 0;  // steps on the stack
    // Messages, choosers and dialogs waiting for an answer, innermost last.
    struct Pending {
        const kvtest::Awaited* shown;
        QEventLoop* loop;
        bool answered;
    };
    std::vector<Pending> m_pending;
    // The modal dialogs being run, innermost last, with the timers registered and the busy marks
    // held just before each was shown.
    struct ShownDialog {
        QDialog* dialog;
        TimerCensus::Snapshot timers;
        int busy;
    };
    std::vector<ShownDialog> m_shown;
    TimerCensus m_census;
    QTimer m_tick;
    QStringList m_seen;  // texts shown since the last expect
    QString m_status;
    QString m_prompt;  // the active project's prompt at the last tick
    QPointer<QPlainTextEdit> m_history;
    QPointer<QLineEdit> m_commandLine;
    bool m_finishing = false;
    bool m_done = false;
    QString m_diagnosis;
    QElapsedTimer m_finishingSince;
    QEventLoop m_main;
};

}  // namespace kvscenario
