// The application object: start-up, the command line, the recent projects, the crash reporter
// and the change-log feed installed shortly after start-up, and shut-down. There is one per
// process; it owns the QApplication unless one exists already (tests make their own).
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

#include "app/ProjectTemplate.h"
#include "app/RecentFileList.h"

class CMainFrame;
class QApplication;
class QPixmap;

namespace kv {
struct CommandUI;
}

class CKelvaroApp : public QObject {
    Q_OBJECT
public:
    // argc and argv as main received them; they must outlive the object.
    CKelvaroApp(int& argc, char** argv);
    ~CKelvaroApp() override;

    // The application object of the process, null when there is none.
    static CKelvaroApp* Instance();

    // Start-up: settings, engine set-up, splash, main frame, command line, file type, the project
    // the command line names, the main window shown maximised. 0 when start-up failed (the
    // process then ends), non-zero otherwise.
    int InitInstance();
    // Shut-down: the change-log feed, the crash reporter and the undo files. Returns the exit code.
    int ExitInstance();
    // The whole life of the program: InitInstance, the event loop, ExitInstance. Returns the
    // process exit status: non-zero when start-up failed.
    int Run();

    // Installs the crash reporter once (asking for the user data first when they are missing).
    // Non-zero when it is installed, now or before.
    int InstallCrashReporter();
    // The one-shot step the main frame runs half a second after it was created: the crash
    // reporter and the change-log feed, once.
    void OnStartupStep();

    // Opens a project through the project template and lists it among the recent projects.
    // Tells the operator when it fails. Non-zero on success.
    int OpenDocumentFile(const QString& path);

    // Installs the template that creates and opens projects (before InitInstance; without one,
    // InitInstance installs the project template of the program).
    void SetProjectTemplate(std::unique_ptr<CProjectTemplate> projectTemplate);
    CProjectTemplate* GetProjectTemplate() const { return m_pDocTemplate.get(); }
    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }
    const CRecentFileList& GetRecentFileList() const { return m_recentFiles; }

    // The application's own commands (About, New, Open, the recent projects, Exit).
    bool OnCommand(int id);
    bool OnUpdateCommand(kv::CommandUI& ui);
    void OnAppAbout();
    void OnFileNew();
    void OnFileOpen();
    void OnOpenRecentFile(int index);

    // The visual style's command id (205 to 219), kept by the main frame.
    int m_nAppLook = 0;
    // The frame uses its high-colour icons.
    int m_bHiColorIcons = 1;
    int m_bCrashReporterInstalled = 0;

private:
    // The CAD engine's accelerators, image readers and parameters are set here, before any
    // drawing exists.
    void SetUpCadEngine();
    void SetUpChangeLog();
    void ShowRecentFiles();

    std::unique_ptr<QApplication> m_ownApplication;
    QStringList m_arguments;
    std::unique_ptr<CProjectTemplate> m_pDocTemplate;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    CRecentFileList m_recentFiles;
    bool m_startupStepDone = false;
};

// Deletes the DEM undo files ("*.demundo") left in the working folder, leaving sub-folders alone,
// and the undo folders of instances that no longer run. Returns how many files and folders went.
int DeleteDemUndoTempFiles();

// The picture shown while the program starts.
QPixmap KvSplashPicture();
