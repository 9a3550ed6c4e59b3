#include "app/KelvaroApp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>

#include "app/AboutDlg.h"
#include "app/CommandLineInfo.h"
#include "app/FileTypeRegistration.h"
#include "app/FrameworkSettings.h"
#include "app/KelvaroDocTemplate.h"
#include "app/MainFrm.h"
#include "app/ProgramVersion.h"
#include "app/Ribbon.h"
#include "app/UserDataDlg.h"
#include "platform/cad/Cad.h"
#include "platform/changelog/ChangeLog.h"
#include "platform/crash/CrashReporter.h"
#include "platform/tools/MakerInfo.h"
#include "platform/tools/Threads.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/DemUndoFolder.h"
#include "platform/ui/ElevationColorRamp.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"

namespace {

CKelvaroApp* g_app = nullptr;

// What the kinds of failure a report names mean, one line per code.
const char* const kExceptionTypeMeaning =
    "0 Structured exception (a hardware fault without a signal of its own)\n"
    "1 Call of terminate\n"
    "2 Call of unexpected\n"
    "3 Call of a pure virtual function\n"
    "4 Fault of the new operator\n"
    "5 Buffer overrun\n"
    "6 Invalid parameter\n"
    "7 Signal SIGABRT\n"
    "8 Signal SIGFPE\n"
    "9 Signal SIGILL\n"
    "10 Signal SIGINT\n"
    "11 Signal SIGSEGV\n"
    "12 Signal SIGTERM;";

constexpr unsigned kCrashInstallFlags = 0xF01FFF;
constexpr int kRecentFileCount = 4;

bool AllowCrashReport() {
    return true;
}

void ReportFailedOpen(const QString& path) {
    KvMessageBox(QStringLiteral("Unable to open the project \"%1\".").arg(QDir::toNativeSeparators(path)),
                 MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CKelvaroApp::CKelvaroApp(int& argc, char** argv)
    : m_recentFiles(QStringLiteral("Recent File List"), QStringLiteral("File%1"), kRecentFileCount) {
    // File names reach GDAL as they are, without a conversion from UTF-8.
    GDALAllRegister();
    CPLSetConfigOption("GDAL_FILENAME_IS_UTF8", "NO");

    if (QCoreApplication::instance() == nullptr) {
        m_ownApplication = std::make_unique<QApplication>(argc, argv);
    }
    // The arguments left after Qt took its own.
    for (int i = 1; i < argc; ++i) {
        m_arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCoreApplication::setOrganizationName(QStringLiteral("DrovaneSoftware"));
    QCoreApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV_VERSION_TEXT));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Kelvaro"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kKelvaroAppId));
    Q_INIT_RESOURCE(kelvaro);

    // As many threads as the processors this process may run on, in every pool.
    kv::UseAllowedProcessors();
    BuildElevationColorRamp();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    g_app = this;
}

CKelvaroApp::~CKelvaroApp() {
    ZQT_CloseSplashScreen();
    m_pMainWnd.reset();
    m_pDocTemplate.reset();
    FreeElevationColorRamp();
    if (g_app == this) {
        g_app = nullptr;
    }
}

CKelvaroApp* CKelvaroApp::Instance() {
    return g_app;
}

void CKelvaroApp::SetProjectTemplate(std::unique_ptr<CProjectTemplate> projectTemplate) {
    m_pDocTemplate = std::move(projectTemplate);
}

void CKelvaroApp::SetUpCadEngine() {
    CadAccelSetDefault();
    CadPluginImageRead("jpg", "image", "ImgReadJPEG", 1);
    CadPluginImageRead("jpeg", "image", "ImgReadJPEG", 1);
    CadPluginImageRead("tif", "image", "ImgReadTIFF", 1);
    CadPluginImageRead("tiff", "image", "ImgReadTIFF", 1);
    CadPluginImageRead("gif", "image", "ImgReadGIF", 1);
    CadPluginImageRead("bmp", "image", "ImgReadBMP", 1);
    CadSetParam(1, 0);
    CadSetParam(3, 1);
    CadSetParam(2, 5);
    CadSetParam(21, 0);
}

int CKelvaroApp::InitInstance() {
    KvSetRegistryKey(QStringLiteral("Kelvaro"));
    m_recentFiles.ReadList();

    SetUpCadEngine();
    GDALAllRegister();
    OGRRegisterAll();

    ConnectProjectParts();
    if (!m_pDocTemplate) {
        m_pDocTemplate = std::make_unique<CKelvaroDocTemplate>();
    }

    ZQT_ShowSplashScreen(KvSplashPicture(), 1500);

    auto frame = std::make_unique<CMainFrame>();
    if (!frame->LoadFrame()) {
        return 0;
    }
    m_pMainWnd = std::move(frame);
    ShowRecentFiles();

    CCommandLineInfo cmdInfo;
    cmdInfo.ParseCommandLine(m_arguments);
    // The desktop learns at every start that this program opens project files.
    RegisterShellFileTypes(ZQT_GetSpecialFolder(CSIDL_LOCAL_APPDATA, 1, 1),
                           QCoreApplication::applicationFilePath());

    // Only an open is carried out here: no empty project at start-up, and a print or DDE
    // request starts the program without running its command.
    if (cmdInfo.m_nShellCommand == CCommandLineInfo::FileOpen && !OpenDocumentFile(cmdInfo.m_strFileName)) {
        return 0;
    }

    m_pMainWnd->showMaximized();
    DeleteDemUndoTempFiles();
    // The step after start-up (user data, crash reporter, news) comes only when start-up went
    // through: a failed start ends with its own message alone.
    m_pMainWnd->StartStartupStep();
    return 1;
}

int CKelvaroApp::ExitInstance() {
    RSSCL_Uninit();
    if (m_bCrashReporterInstalled) {
        UninstallCrashReporter();
        m_bCrashReporterInstalled = 0;
    }
    DeleteDemUndoTempFiles();
    ReleaseDemUndoFolder();
    ZQT_CloseSplashScreen();
    m_pMainWnd.reset();
    return 0;
}

int CKelvaroApp::Run() {
    if (!InitInstance()) {
        ExitInstance();
        return 1;
    }
    int loop = QApplication::exec();
    int exit = ExitInstance();
    return loop != 0 ? loop : exit;
}

int CKelvaroApp::InstallCrashReporter() {
    if (m_bCrashReporterInstalled) {
        return 1;
    }
    UserDataValues user = ReadUserDataProfile();
    char language[1024];
    ZQT_GetUserProfileString("Language", "lastLanguageFileName", "english", language, sizeof language);
    if (!user.IsComplete()) {
        CUserDataDlg dlg(m_pMainWnd.get());
        dlg.SetValues(user);
        if (dlg.DoModal() == IDOK) {
            user = ReadUserDataProfile();
        }
    }

    QString baseName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QString version = KvGetCutVersion();
    CrashReporterInstallInfo info;
    info.appName = baseName;
    info.appVersion = version;
    info.emailTo = QStringLiteral(KV_MAKER_SUPPORT_EMAIL);
    info.emailSubject =
        QStringLiteral("%1 %2 Error report - %3 %4").arg(baseName, version, user.name, user.surname);
    // The folder the User Data dialog's "View crash history" opens, whatever the program file is called.
    info.reportFolder = CrashReportsFolder(QStringLiteral("Kelvaro"), version);
    info.flags = kCrashInstallFlags;
    info.crashCallback = AllowCrashReport;
    if (!::InstallCrashReporter(info)) {
        QString error = CrashReporterLastError().left(511);
        std::printf("%s\n", error.toLocal8Bit().constData());
        std::fflush(stdout);
        KvMessageBox(error, MB_OK | MB_ICONERROR);
        return 0;
    }
    m_bCrashReporterInstalled = 1;

    auto add = [](const QString& name, const QString& value) {
        CrashReporterAddProperty(name, value.left(1023));
    };
    add(QStringLiteral("ExceptionTypeMeaning"), QString::fromLatin1(kExceptionTypeMeaning));
    add(QStringLiteral("OS_Info"), ZQT_GetOSInfo());
    add(QStringLiteral("Screen_Pixel_Depth"), ZQT_GetPixelDepth());
    add(QStringLiteral("Screen_Resolution"), ZQT_GetResolution());
    add(QStringLiteral("RAM_Info"), ZQT_GetRAMInfo());
    QStringList adapters;
    ZQT_GetDisplayAdaptersList(&adapters);
    for (int i = 0; i < adapters.size(); ++i) {
        add(QStringLiteral("Graphic_Adapter_%1").arg(i), adapters[i]);
    }
    add(QStringLiteral("User Data - Name"), user.name);
    add(QStringLiteral("User Data - Surname"), user.surname);
    add(QStringLiteral("User Data - email"), user.email);
    add(QStringLiteral("User Data - company"), user.company);
    add(QStringLiteral("User Data - telephone"), user.telephone);
    add(QStringLiteral("User Data - selected language"), QString::fromUtf8(language));
    return 1;
}

void CKelvaroApp::SetUpChangeLog() {
    RSSCL_AppRecord record;
    record.feedUrl = QStringLiteral(KV_CHANGELOG_FEED_URL);
    record.pageUrl = QStringLiteral(KV_CHANGELOG_PAGE_URL);
    record.appName = QStringLiteral("Kelvaro");
    record.appVersion = KvGetCutVersion();
    record.userAgent = QStringLiteral("Kelvaro/%1 (Linux)").arg(record.appVersion);
    if (RSSCL_Init(record, m_pMainWnd.get(), 0) == 0) {
        RSSCL_GrabRSS(0, nullptr, 5000);
    }
}

void CKelvaroApp::OnStartupStep() {
    if (m_startupStepDone) {
        return;
    }
    m_startupStepDone = true;
    InstallCrashReporter();
    SetUpChangeLog();
}

int CKelvaroApp::OpenDocumentFile(const QString& path) {
    QFileInfo file(path);
    if (!m_pDocTemplate || !file.isFile()) {
        ReportFailedOpen(path);
        return 0;
    }
    if (!m_pDocTemplate->OpenDocumentFile(file.absoluteFilePath())) {
        return 0;
    }
    m_recentFiles.Add(file.absoluteFilePath());
    ShowRecentFiles();
    return 1;
}

void CKelvaroApp::ShowRecentFiles() {
    if (m_pMainWnd && m_pMainWnd->GetRibbonBar()) {
        m_pMainWnd->GetRibbonBar()->SetRecentFiles(m_recentFiles.Files());
    }
}

bool CKelvaroApp::OnCommand(int id) {
    switch (id) {
        case ID_APP_ABOUT:
            OnAppAbout();
            return true;
        case ID_FILE_NEW:
            OnFileNew();
            return true;
        case ID_FILE_OPEN:
            OnFileOpen();
            return true;
        case ID_APP_EXIT:
            if (m_pMainWnd) {
                m_pMainWnd->close();
            }
            return true;
        default:
            break;
    }
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kRecentFileCount) {
        OnOpenRecentFile(id - ID_FILE_MRU_FILE1);
        return true;
    }
    return false;
}

bool CKelvaroApp::OnUpdateCommand(kv::CommandUI& ui) {
    switch (ui.id) {
        case ID_APP_ABOUT:
        case ID_FILE_OPEN:
        case ID_APP_EXIT:
            return true;
        case ID_FILE_NEW:
            ui.enabled = m_pDocTemplate != nullptr;
            return true;
        default:
            break;
    }
    if (ui.id >= ID_FILE_MRU_FILE1 && ui.id < ID_FILE_MRU_FILE1 + kRecentFileCount) {
        ui.enabled = ui.id - ID_FILE_MRU_FILE1 < m_recentFiles.Files().size();
        return true;
    }
    return false;
}

void CKelvaroApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd.get());
    dlg.DoModal();
}

void CKelvaroApp::OnFileNew() {
    if (m_pDocTemplate) {
        m_pDocTemplate->NewDocument();
    }
}

void CKelvaroApp::OnFileOpen() {
    QString path = kv::GetInteraction().ChooseOpenFile(
        QStringLiteral("Open"), QString(), QStringLiteral("Kelvaro Files (*.kvp);;All Files (*)"));
    if (!path.isEmpty()) {
        OpenDocumentFile(path);
    }
}

void CKelvaroApp::OnOpenRecentFile(int index) {
    QString path = m_recentFiles.Files().value(index);
    if (path.isEmpty()) {
        return;
    }
    if (!OpenDocumentFile(path)) {
        // A project that no longer opens leaves the list.
        m_recentFiles.Remove(m_recentFiles.Files().indexOf(path));
        ShowRecentFiles();
    }
}

int DeleteDemUndoTempFiles() {
    QString folder = ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
    if (folder.isEmpty()) {
        return 0;
    }
    int removed = 0;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.demundo")}, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& file : files) {
        if (!file.isDir() && QFile::remove(file.absoluteFilePath())) {
            ++removed;
        }
    }
    return removed + RemoveStaleDemUndoFolders();
}
