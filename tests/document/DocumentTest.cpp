// The project document: what a new project holds, finding a project by its drawing, the prompt
// mirror, File Close with its save question and its refusal while something runs, and what
// closing leaves behind.
#include <QFileInfo>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "DocTestSupport.h"
#include "document/MapToolWindows.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/MainWindowService.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::DocTest;
using kvtest::PutDEM;

class FakeMainWindow : public kv::MainWindowService {
public:
    FakeMainWindow() { kv::SetMainWindowService(this); }
    ~FakeMainWindow() override { kv::SetMainWindowService(nullptr); }
    void SetStatusText(const QString&) override {}
    int OpacitySliderPos() const override { return slider; }
    void SetOpacitySliderPos(int pos) override { slider = pos; }
    QWidget* MainWindow() const override { return nullptr; }
    void UpdateCommandUI() override {}
    int slider = -1;
};

bool IsOpen(CKelvaroDoc* doc) {
    return CKelvaroDoc::GetOpenDocuments().contains(doc);
}

class DocumentTest : public DocTest {};

// A map tool's window as the project sees it: what it was told, and whether it still lives.
struct FakeMapWindow : MapToolWindow {
    explicit FakeMapWindow(MapToolWindowKind k) : kind(k) { made.push_back(this); }
    ~FakeMapWindow() override { made.erase(std::find(made.begin(), made.end(), this)); }
    void ForgetLayer(const void* layer) override { forgotten.push_back(layer); }
    bool IsShown() const override { return false; }
    MapToolWindowKind kind;
    std::vector<const void*> forgotten;
    static std::vector<FakeMapWindow*> made;
};
std::vector<FakeMapWindow*> FakeMapWindow::made;

TEST_F(DocumentTest, ANewProjectStartsEmptyWithItsDrawingAndTheMakersWindows) {
    FakeMainWindow main;
    {
        // Without a maker the project holds no map tool window, and removing layers needs none.
        CKelvaroDoc doc;
        EXPECT_NE(doc.m_pCad, nullptr);
        EXPECT_EQ(CadCountEntities(doc.m_pCad), 0);
        EXPECT_EQ(doc.GetDEMCount(), 0);
        EXPECT_EQ(doc.m_pMapRepresentationDlg, nullptr);
        EXPECT_EQ(doc.m_pColorClassificationDlg, nullptr);
        PutDEM(doc, "a.tif");
        doc.RemoveDEM("a.tif");
        EXPECT_EQ(doc.GetDEMCount(), 0);

        EXPECT_NE(doc.OnNewDocument(), 0);
        EXPECT_EQ(main.slider, 100);
        EXPECT_FALSE(doc.IsModified());
    }

    SetMapToolWindowMaker([](MapToolWindowKind kind) -> MapToolWindow* { return new FakeMapWindow(kind); });
    {
        CKelvaroDoc doc;
        SetMapToolWindowMaker(nullptr);
        ASSERT_EQ(FakeMapWindow::made.size(), 2u);
        auto* representation = FakeMapWindow::made[0];
        auto* classification = FakeMapWindow::made[1];
        EXPECT_EQ(representation->kind, MapToolWindowKind::MapRepresentation);
        EXPECT_EQ(classification->kind, MapToolWindowKind::ColorClassification);
        EXPECT_EQ(doc.m_pMapRepresentationDlg, representation);
        EXPECT_EQ(doc.m_pColorClassificationDlg, classification);

        // Both windows let go of a layer before it leaves, one by one or with all the others.
        const CDEM* first = PutDEM(doc, "a.tif");
        const CDEM* second = PutDEM(doc, "b.tif");
        doc.RemoveDEM("a.tif");
        EXPECT_EQ(representation->forgotten, std::vector<const void*>({first}));
        EXPECT_EQ(classification->forgotten, std::vector<const void*>({first}));
        doc.RemoveAllDEMs();
        EXPECT_EQ(classification->forgotten, std::vector<const void*>({first, second}));
    }
    // The project deletes its windows with itself.
    EXPECT_TRUE(FakeMapWindow::made.empty());
}

int g_installs = 0;

TEST_F(DocumentTest, EveryNewProjectInstallsTheEventProceduresThroughTheInstallerSet) {
    SetCadEventInstaller([] { ++g_installs; });
    {
        CKelvaroDoc first;
        CKelvaroDoc second;
    }
    SetCadEventInstaller(nullptr);
    CKelvaroDoc third;
    EXPECT_EQ(g_installs, 2);
}

TEST_F(DocumentTest, EachDrawingFindsItsOwnProjectAndPromptsStayWithTheirProject) {
    CKelvaroDoc first;
    CKelvaroDoc second;
    EXPECT_EQ(FindDocByCad(first.m_pCad), &first);
    EXPECT_EQ(FindDocByCad(second.m_pCad), &second);
    EXPECT_EQ(FindDocByCad(nullptr), nullptr);
    CadDrawing* loose = CadCreate();
    EXPECT_EQ(FindDocByCad(loose), nullptr);

    SetDocCommandPrompt(second.m_pCad, QStringLiteral("Pick first point"));
    SetDocCommandPrompt(loose, QStringLiteral("lost"));
    SetDocCommandPrompt(nullptr, QStringLiteral("lost"));
    EXPECT_TRUE(first.m_strCommandPrompt.isEmpty());
    EXPECT_EQ(second.m_strCommandPrompt, QStringLiteral("Pick first point"));
    SetDocCommandPrompt(second.m_pCad, QString());
    EXPECT_TRUE(second.m_strCommandPrompt.isEmpty());
    CadDelete(loose);
}

TEST_F(DocumentTest, RemovingAllDemsEmptiesTheTablesAndErasesTheImagePlaces) {
    CKelvaroDoc doc;
    CDEM* dem = PutDEM(doc, "site.tif");
    dem->m_imageEntity = CadAddImagePlace(doc.m_pCad, 1000, 10, 10, 0, 0, 0, 1);
    CadEntity* place = dem->m_imageEntity;
    doc.m_DEMIdNames[1000] = "site.tif";
    doc.m_DEMHandleNames[place] = "site.tif";
    doc.RemoveAllDEMs();
    EXPECT_EQ(doc.GetDEMCount(), 0);
    EXPECT_TRUE(doc.m_DEMIdNames.empty());
    EXPECT_TRUE(doc.m_DEMHandleNames.empty());
    EXPECT_NE(CadEntityGetDeleted(place), 0);
}

TEST_F(DocumentTest, FileCloseIsRefusedWhileACommandRunsOrAWorkerIsBusy) {
    kvtest::ScriptedInteraction ui;
    auto* doc = new CKelvaroDoc();
    ActiveCadCommandId = CMD_DEMHOLE;
    doc->OnFileClose();
    ActiveCadCommandId = 0;
    {
        kv::BusyScope worker;
        doc->OnFileClose();
    }
    ASSERT_EQ(ui.Messages().size(), 2u);
    for (const kvtest::ShownMessage& m : ui.Messages()) {
        EXPECT_EQ(m.text, QStringLiteral("Close active command before exit"));
        EXPECT_EQ(m.icon(), kv::MessageIcon::Warning);
    }
    ASSERT_TRUE(IsOpen(doc));
    // Idle again, an unmodified project closes without a question.
    ui.Clear();
    CadDrawing* drawing = doc->m_pCad;
    doc->OnFileClose();
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(FindDocByCad(drawing), nullptr);
}

TEST_F(DocumentTest, FileCloseAfterADemEditAsksToSaveAndASaveThatCannotBeMadeKeepsTheProject) {
    kvtest::ScriptedInteraction ui;
    auto* doc = new CKelvaroDoc();
    doc->SetTitle(QStringLiteral("Kelvaro1"));
    CDEM* dem = PutDEM(*doc, "site.tif");
    dem->m_grid = cv::Mat(4, 4, CV_32FC1, cv::Scalar(10.0f));
    dem->m_grid.at<float>(1, 1) = 12.5f;
    dem->m_modified = 1;
    // A file in a folder that does not exist: the edits cannot be written back.
    dem->m_path = kvtest::TempDir() + "/no-such-folder/site.tif";
    ASSERT_FALSE(doc->IsModified());

    ui.AnswerMessage(IDCANCEL);
    doc->OnFileClose();
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_TRUE(doc->IsModified());
    ASSERT_TRUE(IsOpen(doc));

    // Yes, but the DEM cannot be written and the operator stops the save: nothing is written and
    // the project stays open.
    ui.Clear();
    ui.AnswerMessage(IDYES);
    ui.AnswerFile(kvtest::TempDir() + "/site.kvp");
    ui.AnswerMessage(IDNO);
    doc->OnFileClose();
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?", "Unable to save DEM site.tif"}));
    EXPECT_FALSE(QFileInfo::exists(kvtest::TempDir() + "/site.kvp"));
    EXPECT_FALSE(QFileInfo::exists(kvtest::TempDir() + "/site.vec"));
    ASSERT_TRUE(IsOpen(doc));
    EXPECT_TRUE(doc->GetPathName().isEmpty());
    EXPECT_TRUE(doc->IsModified());

    ui.Clear();
    ui.AnswerMessage(IDNO);
    doc->OnFileClose();
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_FALSE(IsOpen(doc));
}

TEST_F(DocumentTest, ADirtyDrawingMarksTheProjectModified) {
    CKelvaroDoc doc;
    doc.MarkModifiedIfEdited();
    EXPECT_FALSE(doc.IsModified());
    CadAddPoint(doc.m_pCad, 1, 2, 3);
    ASSERT_NE(CadGetDirty(doc.m_pCad), 0);
    doc.MarkModifiedIfEdited();
    EXPECT_TRUE(doc.IsModified());
    // Marking never clears the flag.
    CadPutDirty(doc.m_pCad, 0);
    doc.MarkModifiedIfEdited();
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(DocumentTest, AProjectThatCannotBeReadOpensNothing) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    EXPECT_EQ(doc.OnOpenDocument(kvtest::TempDir() + "/any.kvp"), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"File reading error"}));
    EXPECT_TRUE(doc.GetPathName().isEmpty());
}

TEST_F(DocumentTest, ClosingKeepsThePlaceOfTheLayerOrderWindowAndClosesIt) {
    kvtest::ScriptedInteraction ui;
    ZQT_WriteUserProfileString("LayerWindow", "top", "-5");
    auto* untouched = new CKelvaroDoc();
    untouched->OnFileClose();
    EXPECT_EQ(ZQT_GetUserProfileString("LayerWindow", "top", ""), QStringLiteral("-5"));

    auto* doc = new CKelvaroDoc();
    ASSERT_NE(CadExecute(doc->m_pCad, nullptr, CAD_CMD_LAYERS_ORDER), 0);
    QWidget* window = CadLayersOrderWindow();
    ASSERT_NE(window, nullptr);
    window->setGeometry(40, 50, 200, 300);
    const QRect r = window->frameGeometry();
    kvtest::CadCallLog log;
    CadDrawing* drawing = doc->m_pCad;
    doc->OnFileClose();
    // The screen rectangle, right and bottom edges outside it.
    EXPECT_EQ(ZQT_GetUserProfileString("LayerWindow", "top", ""), QString::number(r.top()));
    EXPECT_EQ(ZQT_GetUserProfileString("LayerWindow", "left", ""), QString::number(r.left()));
    EXPECT_EQ(ZQT_GetUserProfileString("LayerWindow", "bottom", ""), QString::number(r.top() + r.height()));
    EXPECT_EQ(ZQT_GetUserProfileString("LayerWindow", "right", ""), QString::number(r.left() + r.width()));
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);
    EXPECT_EQ(log.Texts(drawing), QStringList({"Execute 911", "CmdFinish", "Execute 802"}));

    // Reopened and closed again and again, the window keeps its place and size.
    for (int round = 0; round < 3; ++round) {
        auto* next = new CKelvaroDoc();
        next->OnCommand(ID_BUTTON_LAYERSORDER);
        ASSERT_NE(CadLayersOrderWindow(), nullptr);
        EXPECT_EQ(CadLayersOrderWindow()->frameGeometry(), r) << "round " << round;
        next->OnFileClose();
        EXPECT_EQ(CadLayersOrderWindow(), nullptr);
    }
}

}  // namespace
