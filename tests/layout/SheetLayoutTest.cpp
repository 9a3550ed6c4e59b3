// "Sheet Layout": the map frame built through the ribbon command with scripted dialogs and picks,
// the dialog's fields, the layers and their dialog, and the geometry on its own.
#include <QApplication>
#include <QColorDialog>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "controls/KvIcons.h"
#include "document/DocTestSupport.h"
#include "layout/LayoutCommands.h"
#include "layout/SheetLayout.h"
#include "layout/SheetLayoutDlg.h"
#include "layout/SheetLayoutLayersPropertiesDlg.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CloseGuard.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::DocTest;

CSheetLayoutDlg& Sheet(QDialog& dialog) {
    return dynamic_cast<CSheetLayoutDlg&>(dialog);
}

// Chooses a list entry as the operator does (the program's own selection notifies nothing).
void Choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// Replaces the field's text key by key.
void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void Store(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [key, value] : values) {
        ZQT_WriteUserProfileString(kSheetLayoutSection, key, value);
    }
}

QString Stored(const char* key) {
    return ZQT_GetUserProfileString(QString::fromLatin1(kSheetLayoutSection), QString::fromLatin1(key),
                                    QStringLiteral("<none>"));
}

QString N(double v) {
    return QString::number(std::abs(v) < 1e-9 ? 0.0 : v, 'g', 12);
}

QString LayerName(CadLayer* layer) {
    char name[256] = {};
    CadLayerGetName(layer, name, sizeof name);
    return QString::fromUtf8(name);
}

// One entity as "layer kind geometry", for comparing whole layouts.
QString Describe(CadEntity* e) {
    const QString layer = LayerName(CadEntityGetLayer(e));
    double x1 = 0, y1 = 0, z1 = 0, x2 = 0, y2 = 0, z2 = 0, a = 0;
    switch (CadEntityGetType(e)) {
        case CAD_ENT_LINE:
            CadLineGet(e, &x1, &y1, &z1, &x2, &y2, &z2);
            return QStringLiteral("%1 line %2,%3 %4,%5").arg(layer, N(x1), N(y1), N(x2), N(y2));
        case CAD_ENT_RECT:
            CadRectGet(e, &x1, &y1, &z1, &x2, &y2, &a);
            return QStringLiteral("%1 rect %2,%3 %4x%5 a%6").arg(layer, N(x1), N(y1), N(x2), N(y2), N(a));
        case CAD_ENT_TEXT: {
            char text[256] = {};
            CadTextGetText(e, text, sizeof text);
            CadTextGetPoint(e, &x1, &y1, &z1);
            return QStringLiteral("%1 text %2 @%3,%4 h%5 a%6")
                .arg(layer, QString::fromUtf8(text), N(x1), N(y1), N(CadTextGetHeight(e)),
                     N(CadTextGetAngle(e) * 180.0 / M_PI));
        }
        default:
            return QStringLiteral("%1 type %2").arg(layer).arg(CadEntityGetType(e));
    }
}

// The entities of the named block, described and sorted.
QStringList BlockShapes(CadDrawing* d, const char* name) {
    QStringList shapes;
    CadBlock* block = CadGetBlockByName(d, name);
    for (CadEntity* e = CadBlockGetFirstEntity(block); e; e = CadBlockGetNextEntity(block, e)) {
        shapes << Describe(e);
    }
    shapes.sort();
    return shapes;
}

// What the first list holds beyond the second (both sorted).
QStringList Beyond(const QStringList& more, const QStringList& fewer) {
    QStringList out;
    std::set_difference(more.begin(), more.end(), fewer.begin(), fewer.end(), std::back_inserter(out));
    return out;
}

QStringList Filter(const QStringList& shapes, const QString& part) {
    return shapes.filter(part);
}

// The layout of the corners (0, 0) and (1000, 500) with steps of 100 and format "0", style Simple,
// title "T": the frame, the ticks and labels of the four sides, the title.
QStringList SimpleThousandByFiveHundred() {
    QStringList s = {"Bordi rect 500,250 1000x500 a0", "Bordi rect 500,250 1040x540 a0",
                     "Commenti text T @493.75,581.25 h12.5 a0"};
    for (int x = 100; x <= 900; x += 100) {
        s << QStringLiteral("Parametri line %1,0 %1,-10").arg(x)
          << QStringLiteral("Parametri line %1,500 %1,510").arg(x)
          << QStringLiteral("Coordinate text %1 @%1,-7.5 h5 a0").arg(x)
          << QStringLiteral("Coordinate text %1 @%1,502.5 h5 a0").arg(x);
    }
    for (int y = 100; y <= 400; y += 100) {
        s << QStringLiteral("Parametri line 0,%1 -10,%1").arg(y)
          << QStringLiteral("Parametri line 1000,%1 1010,%1").arg(y)
          << QStringLiteral("Coordinate text %1 @-2.5,%1 h5 a90").arg(y)
          << QStringLiteral("Coordinate text %1 @1007.5,%1 h5 a90").arg(y);
    }
    s.sort();
    return s;
}

class SheetLayoutTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        RegisterLayoutCommands(GetDocumentProcedures());
        m_profile = ZQT_GetUserProfilePath();
        ZQT_SetUserProfilePath(kvtest::NewTempFolder(QStringLiteral("sheet_layout")) + "/profile.ini");
        doc = std::make_unique<CKelvaroDoc>();
        d = doc->m_pCad;
    }
    void TearDown() override {
        doc.reset();
        ZQT_SetUserProfilePath(m_profile);
        DocTest::TearDown();
    }

    // Runs the ribbon command once: the dialog opens on the stored settings, fill changes them,
    // then the build button is clicked.
    void Build(const std::function<void(CSheetLayoutDlg&)>& fill = {}) {
        ui.AnswerModal([fill](QDialog& dialog) {
            CSheetLayoutDlg& sheet = Sheet(dialog);
            if (fill) {
                fill(sheet);
            }
            sheet.m_btnOK->click();
            return -1;
        });
        EXPECT_TRUE(doc->OnCommand(ID_DRAW_SHEETLAYOUT));
    }

    // Stores the corners (0, 0) and (1000, 500), steps of 100 and the format "0".
    static void StoreThousandByFiveHundred() {
        Store({{"BottomLeftX", "0"},
               {"BottomLeftY", "0"},
               {"TopRightX", "1000"},
               {"TopRightY", "500"},
               {"stepX", "100"},
               {"stepY", "100"},
               {"format", "0"}});
    }

    kvtest::ScriptedInteraction ui;
    std::unique_ptr<CKelvaroDoc> doc;
    CadDrawing* d = nullptr;
    QString m_profile;
};

TEST_F(SheetLayoutTest, PickedCornersGiveTheFrameTicksLabelsAndTitleInOneInsertedBlock) {
    // Not a CAD user command: enabled and run whatever command is active, which stays active.
    ActiveCadCommandId = CMD_VOLUME;
    kv::CommandUI state;
    state.id = ID_DRAW_SHEETLAYOUT;
    EXPECT_TRUE(doc->OnUpdateCommand(state));
    EXPECT_TRUE(state.enabled);
    CadLayer* work = CadAddLayer(d, "Work", 3, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    CadSetCurLayer(d, work);
    CadScriptPushPoint(d, 0, 0, 0);
    CadScriptPushPoint(d, 1000, 500, 0);
    ui.AnswerModal([](QDialog& dialog) {
        // The dialog holds the project: closing it is refused until the command ends.
        EXPECT_TRUE(kv::IsCloseRefused());
        Sheet(dialog).m_btnLowerLeft->click();
        return -1;
    });
    ui.AnswerModal([](QDialog& dialog) {
        // A pick is stored as "%.3lf" and shown with the format's decimals.
        EXPECT_EQ(Stored("BottomLeftX"), "0.000");
        EXPECT_EQ(Sheet(dialog).m_edX0->text(), "0.00");
        Sheet(dialog).m_btnUpperRight->click();
        return -1;
    });
    Build([](CSheetLayoutDlg& sheet) {
        EXPECT_EQ(Stored("TopRightY"), "500.000");
        EXPECT_EQ(sheet.m_edY1->text(), "500.00");
        Type(sheet.m_edStepX, "100");
        Type(sheet.m_edStepY, "100");
        Choose(sheet.m_cbFormat, "0");
        Choose(sheet.m_cbStyle, "Simple");
        Type(sheet.m_edTitle, "T");
    });
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join('|').toStdString();
    EXPECT_EQ(ui.Dialogs(), QStringList({"CSheetLayoutDlg", "CSheetLayoutDlg", "CSheetLayoutDlg"}));

    EXPECT_EQ(BlockShapes(d, "Parametratura"), SimpleThousandByFiveHundred());
    CadBlock* block = CadGetBlockByName(d, "Parametratura");
    for (CadEntity* e = CadBlockGetFirstEntity(block); e; e = CadBlockGetNextEntity(block, e)) {
        EXPECT_EQ(CadEntityGetColor(e), CAD_COLOR_BYLAYER) << Describe(e).toStdString();
    }
    double bx = 1, by = 1, bz = 1;
    CadBlockGetBase(block, &bx, &by, &bz);
    EXPECT_EQ(N(bx) + "," + N(by) + "," + N(bz), "0,0,0");

    // The drawing holds the one reference, and the current layer is the one before.
    ASSERT_EQ(CadCountEntities(d), 1);
    int blockId = 0;
    double x = 1, y = 1, z = 1, scale = 0, angle = 1;
    ASSERT_TRUE(CadInsertGet(CadGetFirstEntity(d), &blockId, &x, &y, &z, &scale, &angle));
    EXPECT_EQ(blockId, CadBlockGetID(block));
    EXPECT_EQ(N(x) + "," + N(y) + "," + N(z) + " s" + N(scale) + " a" + N(angle), "0,0,0 s1 a0");
    EXPECT_EQ(CadGetCurLayer(d), work);
    EXPECT_EQ(ActiveCadCommandId, CMD_VOLUME);
}

TEST_F(SheetLayoutTest, GridStartsAtTheFirstMultipleOfTheStepInsideTheFrame) {
    EXPECT_EQ(SheetFirstGridPosition(-250, 100), -200);
    EXPECT_EQ(SheetFirstGridPosition(-200, 100), -200);
    EXPECT_EQ(SheetFirstGridPosition(200, 100), 300);
    EXPECT_EQ(SheetFirstGridPosition(0, 100), 100);
    // Positions are multiples, not sums: ten steps of 0.1 reach the frame at 1 and stop there.
    EXPECT_EQ(SheetGridPositions(0, 1, 0.1).size(), 9u);
    // A start just below 0 puts its first label at 0, not "-0".
    SheetGrid grid;
    grid.decimals = 0;
    const std::vector<SheetShape> shapes = SheetCoordinates({-50, 0, 300, 100}, grid);
    ASSERT_GE(shapes.size(), 3u);
    EXPECT_EQ(shapes[2].text, "0");

    // Steps are refused before a layout of millions of entities: more than 10,000 positions on a
    // side, or, for crosses, more than a million crosses (the side with more positions is named).
    SheetGrid dense;
    dense.stepX = 1;
    dense.stepY = 1;
    const SheetExtent big{0, 0, 5000, 2000};
    EXPECT_EQ(SheetRefusedStep(big, dense), 0);
    dense.style = SheetStyle::Cross;
    EXPECT_EQ(SheetRefusedStep(big, dense), 1);
    dense.stepX = 100;
    EXPECT_EQ(SheetRefusedStep(big, dense), 0);
    dense.stepY = 0.1;
    EXPECT_EQ(SheetRefusedStep(big, dense), 2);
    dense.stepX = std::nan("");
    EXPECT_EQ(SheetRefusedStep(big, dense), 1);
    EXPECT_TRUE(SheetGridPositions(0, 100, -1).empty());

    // Through the command: x0 = -250 labels its first position -200.
    Store({{"BottomLeftX", "-250"},
           {"BottomLeftY", "0"},
           {"TopRightX", "250"},
           {"TopRightY", "100"},
           {"format", "0"}});
    Build();
    const QStringList labels = Filter(BlockShapes(d, "Parametratura"), "h1 a0");
    EXPECT_EQ(labels.size(), 10) << labels.join('|').toStdString();
    for (int x = -200; x <= 200; x += 100) {
        EXPECT_EQ(Filter(labels, QStringLiteral("text %1 @%1,-1.5 ").arg(x)).size(), 1) << x;
    }
}

TEST_F(SheetLayoutTest, StylesTextsAndTheNextFreeBlockName) {
    StoreThousandByFiveHundred();
    Store({{"style", "Semplice"}, {"title", "T"}});
    Build([](CSheetLayoutDlg& sheet) {
        // A stored style that is none of the three opens on Simple.
        EXPECT_EQ(sheet.m_cbStyle->currentText(), "Simple");
    });
    Build([](CSheetLayoutDlg& sheet) {
        Choose(sheet.m_cbStyle, "Cross");
        Type(sheet.m_edCrossSize, "10");
    });
    Build([](CSheetLayoutDlg& sheet) {
        Choose(sheet.m_cbStyle, "Line");
        Type(sheet.m_edSite, "S");
        Type(sheet.m_edScale, "500");
        Type(sheet.m_edDate, "D");
    });
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_EQ(CadCountEntities(d), 3);

    // Simple: the frame, ticks, labels and exactly one comment text, the title.
    const QStringList simple = BlockShapes(d, "Parametratura");
    EXPECT_EQ(simple, SimpleThousandByFiveHundred());
    EXPECT_EQ(Filter(simple, "Commenti").size(), 1);

    // Cross: crosses of size 10 at the inner intersections only, nothing else added.
    QStringList crosses;
    for (int y = 100; y <= 400; y += 100) {
        for (int x = 100; x <= 900; x += 100) {
            crosses << QStringLiteral("Parametri line %1,%2 %3,%2").arg(x - 5).arg(y).arg(x + 5)
                    << QStringLiteral("Parametri line %1,%2 %1,%3").arg(x).arg(y - 5).arg(y + 5);
        }
    }
    crosses.sort();
    EXPECT_EQ(Beyond(BlockShapes(d, "Parametratura_1"), simple), crosses);

    // Line: full lines across the frame at the grid positions, and the other three texts.
    QStringList lines = {"Commenti text 1:500 @478.125,543.75 h8.75 a0",
                         "Commenti text D @495.625,525 h8.75 a0", "Commenti text S @495.625,562.5 h8.75 a0"};
    for (int x = 100; x <= 900; x += 100) {
        lines << QStringLiteral("Parametri line %1,0 %1,500").arg(x);
    }
    for (int y = 100; y <= 400; y += 100) {
        lines << QStringLiteral("Parametri line 0,%1 1000,%1").arg(y);
    }
    lines.sort();
    EXPECT_EQ(Beyond(BlockShapes(d, "Parametratura_2"), simple), lines);
    EXPECT_EQ(Stored("style"), "Line");
}

TEST_F(SheetLayoutTest, FieldsFollowCornerEditsPicksAndRefusals) {
    Store({{"BottomLeftX", "0"},
           {"BottomLeftY", "0"},
           {"TopRightX", "1000"},
           {"TopRightY", "500"},
           {"format", "0.000"}});
    CadScriptPushPoint(d, 12.34567, -8.9, 0);
    ui.AnswerModal([this](QDialog& dialog) {
        CSheetLayoutDlg& sheet = Sheet(dialog);
        EXPECT_EQ(sheet.windowTitle(), "Sheet Layout");
        EXPECT_EQ(sheet.m_edX1->text(), "1000.000");
        EXPECT_EQ(sheet.m_edWidth->text(), "1000.000000");
        EXPECT_EQ(sheet.m_edCrossSize->text(), "1.0");
        // Typing a corner rewrites the other corners and both sizes, never the field typed in.
        Type(sheet.m_edX0, "12.5");
        EXPECT_EQ(sheet.m_edX0->text(), "12.5");
        EXPECT_EQ(sheet.m_edY0->text(), "0.000");
        EXPECT_EQ(sheet.m_edX1->text(), "1000.000");
        EXPECT_EQ(sheet.m_edY1->text(), "500.000");
        EXPECT_EQ(sheet.m_edWidth->text(), "987.500");
        EXPECT_EQ(sheet.m_edHeight->text(), "500.000");
        Type(sheet.m_edX0, "abc");
        EXPECT_EQ(sheet.m_edWidth->text(), "1000.000");
        // Enter builds nothing and leaves the dialog open.
        QTest::keyClick(sheet.m_edTitle, Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible());
        // Steps of 0, of no number and of a million positions are refused before anything is drawn.
        for (const char* step : {"0", "-5", "x", "0.001"}) {
            Type(sheet.m_edStepX, step);
            sheet.m_btnOK->click();
            EXPECT_TRUE(sheet.isVisible()) << step;
        }
        Type(sheet.m_edStepX, "100");
        Type(sheet.m_edStepY, "0");
        sheet.m_btnOK->click();
        Type(sheet.m_edStepY, "100");
        EXPECT_EQ(CadGetFirstBlock(d), nullptr);
        // The cross size is for crosses only.
        Choose(sheet.m_cbStyle, "Line");
        EXPECT_FALSE(sheet.m_edCrossSize->isEnabled());
        EXPECT_EQ(sheet.m_stPreview->pixmap().toImage(), KvLoadBitmap(IDB_SHEET_STYLE_LINE).toImage());
        Choose(sheet.m_cbStyle, "Cross");
        EXPECT_TRUE(sheet.m_edCrossSize->isEnabled());
        Choose(sheet.m_cbStyle, "Simple");
        sheet.m_btnLowerLeft->click();
        return -1;
    });
    ui.AnswerModal([](QDialog& dialog) {
        CSheetLayoutDlg& sheet = Sheet(dialog);
        // The picked corner, stored as "%.3lf", is what the reopened dialog shows.
        EXPECT_EQ(Stored("BottomLeftX"), "12.346");
        EXPECT_EQ(Stored("BottomLeftY"), "-8.900");
        EXPECT_EQ(sheet.m_edX0->text(), "12.346");
        EXPECT_EQ(sheet.m_edY0->text(), "-8.900");
        EXPECT_TRUE(sheet.m_edCrossSize->isEnabled());
        sheet.m_btnUpperRight->click();  // no point comes back
        return -1;
    });
    ui.AnswerModal([](QDialog& dialog) {
        CSheetLayoutDlg& sheet = Sheet(dialog);
        EXPECT_EQ(sheet.m_edX1->text(), "1000.000");
        EXPECT_EQ(Stored("TopRightX"), "1000.000");
        // An upper-right x below x0 makes the width negative and OK refuses, with all stored.
        Type(sheet.m_edX1, "5");
        EXPECT_EQ(sheet.m_edWidth->text(), "-7.346");
        sheet.m_btnOK->click();
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(Stored("TopRightX"), "5");
        sheet.m_btnCancel->click();
        return -1;
    });
    EXPECT_TRUE(doc->OnCommand(ID_DRAW_SHEETLAYOUT));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Select the X step", "Select the X step", "Select the X step",
                                              "Select the X step", "Select the Y step", "Wrong dimensions"}));
    EXPECT_EQ(ui.Messages().back().icon(), kv::MessageIcon::Warning);
    EXPECT_EQ(CadGetFirstBlock(d), nullptr);
    EXPECT_EQ(CadCountEntities(d), 0);

    // Opened again, the width shows the absolute difference; an unknown format selects none, the
    // numbers show 2 decimals and OK asks for a format.
    ui.Clear();
    Store({{"format", "0.00000000"}});
    ui.AnswerModal([](QDialog& dialog) {
        CSheetLayoutDlg& sheet = Sheet(dialog);
        EXPECT_EQ(sheet.m_edWidth->text(), "7.346000");
        EXPECT_EQ(sheet.m_cbFormat->currentIndex(), -1);
        EXPECT_EQ(sheet.m_edX0->text(), "12.35");
        sheet.m_btnOK->click();
        EXPECT_TRUE(sheet.isVisible());
        return IDCANCEL;
    });
    EXPECT_TRUE(doc->OnCommand(ID_DRAW_SHEETLAYOUT));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Select the format of the output"}));
}

TEST_F(SheetLayoutTest, LayersComeFromTheProfileAndTheirDialog) {
    StoreThousandByFiveHundred();
    // A layer the drawing has keeps its colour.
    CadAddLayer(d, "Commenti", CAD_COLOR_GREEN, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    Build([](CSheetLayoutDlg& sheet) { Type(sheet.m_edTitle, "T"); });
    auto colourOf = [this](const char* name) {
        CadLayer* layer = CadGetLayerByName(d, name);
        return layer ? CadLayerGetColor(layer) : -1;
    };
    EXPECT_EQ(colourOf("Bordi"), CadColorSeek(kv::Rgb(0, 0, 255)));
    EXPECT_EQ(colourOf("Bordi"), CAD_COLOR_BLUE);
    EXPECT_EQ(colourOf("Coordinate"), CAD_COLOR_RED);
    EXPECT_EQ(colourOf("Parametri"), CadColorSeek(kv::Rgb(0, 0, 0)));
    EXPECT_EQ(colourOf("Commenti"), CAD_COLOR_GREEN);

    // The layer dialog shows the English defaults and refuses empty names in its own order.
    ui.AnswerModal([](QDialog& dialog) {
        Sheet(dialog).m_btnLayerProperties->click();
        Sheet(dialog).m_btnOK->click();
        return -1;
    });
    ui.AnswerModal([](QDialog& dialog) {
        auto& layers = dynamic_cast<CSheetLayoutLayersPropertiesDlg&>(dialog);
        EXPECT_EQ(layers.windowTitle(), "Layers' Properties");
        QStringList names;
        for (QLineEdit* edit : layers.m_edNames) {
            names << edit->text();
            edit->clear();
        }
        EXPECT_EQ(names, QStringList({"Borders", "Parameters", "Coordinates", "Comments"}));
        EXPECT_EQ(layers.m_btnColors[0]->GetColor(), kv::Rgb(0, 0, 255));
        EXPECT_EQ(layers.m_btnColors[2]->GetColor(), kv::Rgb(255, 0, 0));
        const char* refill[] = {"Borders", "Comments", "Parameters", "Coordinates"};
        const int order[] = {0, 3, 1, 2};
        for (int i = 0; i < 4; ++i) {
            layers.m_btnOK->click();
            EXPECT_TRUE(layers.isVisible());
            layers.m_edNames[order[i]]->setText(refill[i]);
        }
        layers.m_btnColors[3]->click();  // the chooser below answers yellow
        layers.m_btnOK->click();
        return -1;
    });
    ui.AnswerModal([](QDialog& dialog) {
        dynamic_cast<QColorDialog&>(dialog).setCurrentColor(QColor(255, 255, 0));
        return IDOK;
    });
    EXPECT_TRUE(doc->OnCommand(ID_DRAW_SHEETLAYOUT));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"The name of the borders' layer is not valid!",
                                              "The name of the comments' layer is not valid!",
                                              "The name of the parameters' layer is not valid!",
                                              "The name of the coordinates' layer is not valid!"}));
    EXPECT_EQ(Stored("CommentsColorR") + Stored("CommentsColorG") + Stored("CommentsColorB"), "2552550");
    EXPECT_EQ(colourOf("Comments"), CAD_COLOR_YELLOW);
    const QStringList second = BlockShapes(d, "Parametratura_1");
    QStringList layers;
    for (const QString& shape : second) {
        const QString layer = shape.section(' ', 0, 0);
        if (!layers.contains(layer)) {
            layers << layer;
        }
    }
    layers.sort();
    EXPECT_EQ(layers, QStringList({"Borders", "Comments", "Coordinates", "Parameters"}));
}

// Pictures of both dialogs and of the built sheet in the drawing window.
TEST_F(SheetLayoutTest, Screenshots) {
    StoreThousandByFiveHundred();
    Store({{"title", "Olinda"},
           {"where", "Pernambuco"},
           {"scale", "5000"},
           {"date", "2024"},
           {"style", "Cross"},
           {"dimCroce", "12"}});
    ui.AnswerModal([](QDialog& dialog) {
        CSheetLayoutDlg& sheet = Sheet(dialog);
        sheet.adjustSize();
        QApplication::processEvents();
        const QImage shot = kvtest::Screenshot(&sheet, "CSheetLayoutDlg");
        // The Cross preview sits centred in its frame: its blue inner frame and a cross.
        const QPixmap preview = KvLoadBitmap(IDB_SHEET_STYLE_CROSS);
        const QRect cr = sheet.m_stPreview->contentsRect();
        const QPoint origin =
            sheet.m_stPreview->mapTo(&sheet, cr.topLeft()) +
            QPoint((cr.width() - preview.width()) / 2, (cr.height() - preview.height()) / 2);
        EXPECT_EQ(shot.pixelColor(origin + QPoint(14, 40)), QColor(30, 60, 200));
        EXPECT_EQ(shot.pixelColor(origin + QPoint(48, 39)), QColor(40, 40, 40));
        EXPECT_EQ(shot.pixelColor(origin + QPoint(40, 46)), QColor(Qt::white));
        sheet.m_btnLayerProperties->click();
        sheet.m_btnOK->click();
        return -1;
    });
    ui.AnswerModal([](QDialog& dialog) {
        auto& layers = dynamic_cast<CSheetLayoutLayersPropertiesDlg&>(dialog);
        layers.adjustSize();
        QApplication::processEvents();
        const QImage shot = kvtest::Screenshot(&layers, "CSheetLayoutLayersPropertiesDlg");
        const QColor faces[4] = {QColor(0, 0, 255), QColor(0, 0, 0), QColor(255, 0, 0), QColor(0, 0, 0)};
        for (int i = 0; i < 4; ++i) {
            KvColorButton* button = layers.m_btnColors[i];
            const QPoint centre = button->mapTo(&layers, button->rect().center());
            EXPECT_EQ(shot.pixelColor(centre), faces[i]) << i;
        }
        return IDCANCEL;
    });
    EXPECT_TRUE(doc->OnCommand(ID_DRAW_SHEETLAYOUT));
    ASSERT_NE(CadGetBlockByName(d, "Parametratura"), nullptr);

    QWidget* window = CadWndCreate(d, nullptr, 0, 0, 1000, 700);
    ASSERT_NE(window, nullptr);
    CadExecute(d, window, CAD_CMD_ZOOM_EXTENTS);
    CadWinPaint(window);
    const QImage shot = kvtest::Screenshot(window, "sheet_layout_drawing");
    auto win = [window](double x, double y) {
        int wx = 0, wy = 0;
        CadCoordModelToWin(window, x, y, &wx, &wy);
        return QPoint(wx, wy);
    };
    // Whether any pixel within two of the point matches.
    auto near = [&shot](QPoint p, const std::function<bool(QColor)>& match) {
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                const QPoint q = p + QPoint(dx, dy);
                if (shot.rect().contains(q) && match(shot.pixelColor(q))) {
                    return true;
                }
            }
        }
        return false;
    };
    // Whether any pixel of the model rectangle matches.
    auto anyIn = [&](double left, double bottom, double right, double top,
                     const std::function<bool(QColor)>& match) {
        const QRect box = QRect(win(left, top), win(right, bottom)).normalized() & shot.rect();
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x) {
                if (match(shot.pixelColor(x, y))) {
                    return true;
                }
            }
        }
        return false;
    };
    auto blue = [](QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; };
    auto red = [](QColor c) { return c.red() > 100 && c.green() < 40 && c.blue() < 40; };
    auto lit = [](QColor c) { return c.red() + c.green() + c.blue() > 0; };
    // Inner and outer frame on both sides, dark between them away from ticks and labels.
    EXPECT_TRUE(near(win(0, 250), blue));
    EXPECT_TRUE(near(win(-20, 250), blue));
    EXPECT_TRUE(near(win(1000, 250), blue));
    EXPECT_TRUE(near(win(1020, 250), blue));
    EXPECT_FALSE(near(win(-11, 250), lit));
    // Labels in red under the frame and beside it, none between them; the title above.
    EXPECT_TRUE(anyIn(500, -8, 512, -3, red));
    EXPECT_FALSE(anyIn(530, -8, 570, -3, lit));
    EXPECT_TRUE(anyIn(-7, 300, -2, 312, red));
    EXPECT_TRUE(anyIn(462.5, 581.25, 537.5, 592, lit));
    // A cross inside, nothing between the crosses.
    EXPECT_TRUE(near(win(300, 200), lit));
    EXPECT_FALSE(near(win(350, 250), lit));
}

}  // namespace
