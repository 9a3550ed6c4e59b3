// The project's commands that hand over to the CAD engine (refused while a CAD user command runs),
// the snap buttons, the orthophoto controls, "Data" and the "Layers Order" window.
#include <QComboBox>
#include <QFile>
#include <QWidget>

#include "DocTestSupport.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DataDetailsDlg.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::CadCallLog;
using kvtest::DocTest;

// The main window as far as the opacity slider goes.
class SliderWindow : public kv::MainWindowService {
public:
    SliderWindow() { kv::SetMainWindowService(this); }
    ~SliderWindow() override { kv::SetMainWindowService(nullptr); }
    void SetStatusText(const QString&) override {}
    int OpacitySliderPos() const override { return pos; }
    void SetOpacitySliderPos(int p) override { pos = p; }
    QWidget* MainWindow() const override { return nullptr; }
    void UpdateCommandUI() override {}
    int pos = 100;
};

QString CopyData(const QString& name, const QString& folder, const QString& as = QString()) {
    QString target = kvtest::NewTempFolder(folder) + QLatin1Char('/') + (as.isEmpty() ? name : as);
    EXPECT_TRUE(QFile::copy(kvtest::DataPath(name), target));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

// Answers the "Data Type Selection" dialog with a kind of the list.
void ChooseDataType(kvtest::ScriptedInteraction& ui, const QString& kind) {
    ui.AnswerModal([kind](QDialog& dialog) {
        auto& data = dynamic_cast<CDataDetailsDlg&>(dialog);
        data.m_cbType.setCurrentIndex(data.m_cbType.findText(kind));
        data.m_btnOK.click();
        return -1;
    });
}

void CloseLayersOrderWindow(CKelvaroDoc& doc) {
    if (CadLayersOrderWindow()) {
        CadExecute(doc.m_pCad, CadGetWindow(doc.m_pCad), CAD_CMD_LAYERS_ORDER);
    }
}

class DrawCommandsTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        GDALAllRegister();
    }
    kvtest::ScriptedInteraction ui;
};

TEST_F(DrawCommandsTest, DrawingAndMeasuringWaitForTheActiveCommandDialogsDoNot) {
    CKelvaroDoc doc;
    CadCallLog log;
    ActiveCadCommandId = CMD_VOLUME;
    EXPECT_TRUE(doc.OnCommand(ID_DRAW_LINE));
    EXPECT_TRUE(doc.OnCommand(ID_BUTTON_AREA));
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Close active command before", "Close active command before"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Information);
    EXPECT_TRUE(log.Texts().isEmpty());
    EXPECT_TRUE(doc.OnCommand(ID_BUTTON_LINEWEIGHT));
    EXPECT_TRUE(doc.OnCommand(ID_BUTTON_NONE));
    EXPECT_EQ(log.Texts(), (QStringList{"CmdFinish", "Execute 805", "Execute 410"}));

    ActiveCadCommandId = 0;
    log.calls.clear();
    EXPECT_TRUE(doc.OnCommand(ID_DRAW_LINE));
    EXPECT_TRUE(doc.OnCommand(ID_BUTTON_DISTANCE));
    EXPECT_TRUE(doc.OnCommand(ID_DRAW_POLYGON));
    EXPECT_TRUE(doc.OnCommand(ID_DIMENSION_STYLE));
    EXPECT_TRUE(doc.OnCommand(ID_CIRCLE_CIRCLE));
    EXPECT_TRUE(doc.OnCommand(32822));
    EXPECT_EQ(log.Texts(), (QStringList{"CmdFinish", "Execute 205", "Execute 911", "CmdFinish", "Execute 952",
                                        "CmdFinish", "Execute 210", "CmdFinish", "Execute 807"}));
    EXPECT_EQ(ui.Messages().size(), 2u);
}

TEST_F(DrawCommandsTest, ASnapButtonPressedTwiceKeepsItsBitAndTurnsSnappingOn) {
    CKelvaroDoc doc;
    CadSnapPutMode(doc.m_pCad, CAD_SNAP_END);
    CadSnapPutOn(doc.m_pCad, 0);
    doc.OnCommand(ID_BUTTON_NODE);
    EXPECT_EQ(CadSnapGetMode(doc.m_pCad), CAD_SNAP_END | CAD_SNAP_NODE);
    doc.OnCommand(ID_BUTTON_NODE);
    EXPECT_EQ(CadSnapGetMode(doc.m_pCad), CAD_SNAP_END);
    EXPECT_EQ(CadSnapGetOn(doc.m_pCad), 1);

    doc.OnCommand(ID_OSNAP_DEM);
    kv::CommandUI dem{ID_OSNAP_DEM, false, false};
    EXPECT_TRUE(doc.OnUpdateCommand(dem));
    EXPECT_TRUE(dem.checked);
    EXPECT_FALSE(dem.enabled);  // the update leaves the enabled state alone
    kv::CommandUI node{ID_BUTTON_NODE, true, true};
    doc.OnUpdateCommand(node);
    EXPECT_FALSE(node.checked);
}

TEST_F(DrawCommandsTest, OrthophotoControlsActOnTheOrthophotos) {
    SliderWindow main;
    CKelvaroDoc doc;
    kv::CommandUI visible{ID_BUTTON_ORTHOVISIBLE};
    kv::CommandUI slider{ID_SLIDER_ORTHOOPACITY};
    doc.OnUpdateCommand(visible);
    doc.OnUpdateCommand(slider);
    EXPECT_FALSE(visible.enabled);
    EXPECT_FALSE(slider.enabled);

    auto* ortho = new COrtho(&doc);
    ortho->m_imageEntity = CadAddImagePlace(doc.m_pCad, 2000, 10, 10, 0, 0, 0, 1);
    doc.m_Orthos["o.tif"] = ortho;
    doc.OnCommand(ID_BUTTON_ORTHOVISIBLE);
    EXPECT_EQ(CadEntityGetVisible(ortho->m_imageEntity), 0);
    visible = {ID_BUTTON_ORTHOVISIBLE};
    doc.OnUpdateCommand(visible);
    EXPECT_TRUE(visible.enabled);
    EXPECT_FALSE(visible.checked);

    main.pos = 0;
    doc.OnCommand(ID_SLIDER_ORTHOOPACITY);
    EXPECT_DOUBLE_EQ(doc.m_dOrthoOpacity, 0.01);
    main.pos = 55;
    doc.OnCommand(ID_SLIDER_ORTHOOPACITY);
    EXPECT_DOUBLE_EQ(doc.m_dOrthoOpacity, 0.55);
}

TEST_F(DrawCommandsTest, DataAddsAnOpaqueMapAndKeepsItInView) {
    CKelvaroDoc doc;
    QWidget* window = CadWndCreate(doc.m_pCad, nullptr, 0, 0, 400, 300);
    CadViewRect(window, 0, 0, 10, 10);
    const QString path = CopyData("olinda_dem_utm25s.tif", "data");
    ChooseDataType(ui, "Other Map");
    ui.AnswerFile(path);
    doc.OnCommand(ID_ADD_ADDDATA);
    ASSERT_EQ(doc.m_Maps.count("olinda_dem_utm25s"), 1u);
    CMapData* map = doc.m_Maps["olinda_dem_utm25s"];
    EXPECT_DOUBLE_EQ(map->m_opacity, 1.0);
    EXPECT_EQ(map->m_mapType, MapTypeOther);
    // The map stays in view: its empty record extent is not zoomed to.
    double left = 0, bottom = 0, right = 0, top = 0;
    CadGetViewRect(window, &left, &bottom, &right, &top);
    EXPECT_LE(left, 288777.0);
    EXPECT_GE(right, 298765.0);
    EXPECT_GT(top - bottom, 9000.0);
    // The legend of an "other" map is built; one map alone opens no layer-order window.
    EXPECT_FALSE(doc.m_ColorLegend.empty());
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);

    // The same title from a file of another extension is refused.
    const QString img = CopyData("olinda_dem_utm25s.tif", "data2", "olinda_dem_utm25s.img");
    ChooseDataType(ui, "Slope Map");
    ui.AnswerFile(img);
    doc.OnCommand(ID_ADD_ADDDATA);
    EXPECT_EQ(ui.MessageTexts().last(), "A Map with this name is already loaded!");
    EXPECT_EQ(doc.GetMapCount(), 1);

    // A second layer opens the window where the profile keeps it.
    ZQT_WriteUserProfileString("LayerWindow", "top", "40");
    ZQT_WriteUserProfileString("LayerWindow", "left", "30");
    ZQT_WriteUserProfileString("LayerWindow", "bottom", "340");
    ZQT_WriteUserProfileString("LayerWindow", "right", "230");
    ChooseDataType(ui, "Slope Map");
    ui.AnswerFile(CopyData("olinda_dem_utm25s.tif", "data3", "slope.tif"));
    doc.OnCommand(ID_ADD_ADDDATA);
    EXPECT_EQ(doc.GetMapCount(), 2);
    QWidget* order = CadLayersOrderWindow();
    ASSERT_NE(order, nullptr);
    EXPECT_EQ(order->frameGeometry(), QRect(30, 40, 200, 300));
    CloseLayersOrderWindow(doc);

    // Cancelling the kind or the file adds nothing.
    ui.AnswerModal(IDCANCEL);
    doc.OnCommand(ID_ADD_ADDDATA);
    ChooseDataType(ui, "Slope Map");
    doc.OnCommand(ID_ADD_ADDDATA);
    EXPECT_EQ(doc.GetMapCount(), 2);
}

TEST_F(DrawCommandsTest, InsertDemAddsEveryChosenFileAndOpensTheLayerOrderForTwo) {
    CKelvaroDoc doc;
    ui.AnswerFile(CopyData("elev.tif", "ins1") + "\n" + CopyData("elev.tif", "ins2", "Second.TIF"));
    doc.OnCommand(ID_BUTTON_INSERTDEM);
    EXPECT_EQ(doc.GetDEMCount(), 2);
    EXPECT_EQ(doc.m_DEMs.count("second.tif"), 1u);
    EXPECT_NE(CadLayersOrderWindow(), nullptr);
    CloseLayersOrderWindow(doc);

    // A cancelled chooser adds nothing.
    doc.OnCommand(ID_BUTTON_INSERTORTHO);
    EXPECT_EQ(doc.GetOrthoCount(), 0);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

}  // namespace
