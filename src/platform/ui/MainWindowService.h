// What the layers below the application reach of the main window without knowing it: the status
// bar text, the orthophoto opacity slider of the ribbon, the window that parents dialogs, and the
// road of the ribbon's commands. The main frame implements the service and installs it while it
// lives; the active project installs itself as the first target of the commands.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace kv {

class MainWindowService : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Sets the text of the first status-bar pane.
    virtual void SetStatusText(const QString& text) = 0;
    // Position of the orthophoto opacity slider (0 to 100), -1 when the ribbon has none.
    virtual int OpacitySliderPos() const = 0;
    // Moves the slider without sending its command.
    virtual void SetOpacitySliderPos(int pos) = 0;
    // The main window, which parents dialogs and message boxes.
    virtual QWidget* MainWindow() const = 0;
    // Runs every update handler of the ribbon now (the frame otherwise does it whenever the
    // program waits for input), so a command that just started shows as checked at once.
    virtual void UpdateCommandUI() = 0;
    // A project closed: the status bar and the output pane show nothing of it any more.
    virtual void ProjectClosed() {}

signals:
    // The operator moved the opacity slider (its command is sent as well).
    void OpacitySliderChanged(int pos);
};

// The service of the main window; null while there is none.
MainWindowService* GetMainWindowService();
void SetMainWindowService(MainWindowService* service);

// The state an update handler gives a ribbon element or menu item.
struct CommandUI {
    int id = 0;
    bool enabled = true;
    bool checked = false;
};

// A receiver of commands ahead of the main frame (the active project). Each answers false for a
// command it has no handler for, and the command goes on to the frame and the application; an
// element whose command nobody handles is disabled.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Runs the handler of the command.
    virtual bool OnCommand(int id) = 0;
    // Fills the element's state; the state arrives enabled and unchecked.
    virtual bool OnUpdateCommand(CommandUI& ui) = 0;
};

// The command target that comes first; null when none (no project open). The caller keeps ownership.
CommandTarget* GetCommandTarget();
void SetCommandTarget(CommandTarget* target);

}  // namespace kv
