// The engine's dialogs (layers, line type, line weight, dimension and point styles, object
// snaps, properties) answered by scripts, locked and hidden layers against the operator, and the
// drawing window's rubber band and command menu under real clicks.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

template <typename T>
T* Child(QDialog& dlg, const char* name) {
    T* w = dlg.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void Click(QDialog& dlg, const char* button) {
    if (QPushButton* b = Child<QPushButton>(dlg, button))
        b->click();
}

void ChooseData(QComboBox* box, const QVariant& value) {
    ASSERT_NE(box, nullptr);
    const int i = box->findData(value);
    ASSERT_GE(i, 0) << value.toString().toStdString();
    box->setCurrentIndex(i);
}

int RowOf(QTableWidget* table, const char* name) {
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, 1)->text() == QString::fromUtf8(name))
            return r;
    return -1;
}

std::string LayerName(CadLayer* l) {
    char buf[128];
    CadLayerGetName(l, buf, sizeof buf);
    return buf;
}

CadEntity* LastEntity(CadDrawing* d) {
    CadEntity* last = nullptr;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e))
        last = e;
    return last;
}

bool HistoryHas(CadDrawing* d, const char* text) {
    char line[512];
    for (int i = 0; CadCmdGetHistory(d, i, line, sizeof line); ++i)
        if (std::strstr(line, text))
            return true;
    return false;
}

// Lit pixels of a window picture along a horizontal run.
int LitAlong(const QImage& img, int y, int x0, int x1) {
    int n = 0;
    for (int x = x0; x <= x1; ++x)
        for (int dy = -1; dy <= 1; ++dy)
            n += QColor(img.pixel(x, y + dy)).value() > 60 ? 1 : 0;
    return n;
}

class CadDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        d = CadCreate();
        wnd = CadWndCreate(d, nullptr, 0, 0, 400, 300);
        CadViewRect(wnd, 0, 0, 400, 300);
        QApplication::processEvents();
        CadScriptSetStrict(1);
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        CadDelete(d);
        QApplication::processEvents();
    }
    int Run(int command) { return CadExecute(d, wnd, command); }
    QImage Grab() {
        CadWinPaint(wnd);
        return wnd->grab().toImage();
    }
    kvtest::ScriptedInteraction ui;
    CadDrawing* d = nullptr;
    QWidget* wnd = nullptr;
};

}  // namespace

TEST_F(CadDialogs, TheLayersDialogCreatesRenamesStylesAndDeletes) {
    CadLayer* roads = CadAddLayer(d, "Roads", 3, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    CadLayer* rivers = CadAddLayer(d, "Rivers", 5, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    CadLayer* old = CadAddLayer(d, "Old", 7, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    CadSetCurLayer(d, old);
    CadEntity* oldLine = CadAddLine(d, 0, 0, 0, 10, 0, 0);
    CadSetCurLayer(d, roads);

    ui.AnswerMessage(IDYES);  // delete "Old" with its entity
    ui.AnswerModal([](QDialog& dlg) {
        auto* table = Child<QTableWidget>(dlg, "layers");
        // Swap two names, restyle one, hide and lock, delete one, add one and make it current.
        const int r = RowOf(table, "Rivers");
        table->item(RowOf(table, "Roads"), 1)->setText("Rivers");
        table->item(r, 1)->setText("Roads");
        ChooseData(static_cast<QComboBox*>(table->cellWidget(r, 4)), 1);
        ChooseData(static_cast<QComboBox*>(table->cellWidget(r, 5)), qlonglong(CAD_LTYPE_DASHED));
        ChooseData(static_cast<QComboBox*>(table->cellWidget(r, 6)), 50);
        table->item(r, 2)->setCheckState(Qt::Unchecked);
        table->item(r, 3)->setCheckState(Qt::Checked);
        table->selectRow(RowOf(table, "Old"));
        Click(dlg, "delete");
        Click(dlg, "new");
        const int added = table->rowCount() - 1;
        table->item(added, 1)->setText("Contours");
        Click(dlg, "current");
        Click(dlg, "ok");
        return -1;
    });
    EXPECT_EQ(Run(CAD_CMD_LAYERS), 1);
    EXPECT_EQ(ui.Dialogs(), QStringList{"CadLayersDlg"});
    EXPECT_EQ(LayerName(roads), "Rivers");
    EXPECT_EQ(LayerName(rivers), "Roads");
    EXPECT_EQ(CadLayerGetColor(rivers), 1);
    EXPECT_EQ(CadLayerGetLineType(rivers), CAD_LTYPE_DASHED);
    EXPECT_EQ(CadLayerGetLineWeight(rivers), 50);
    EXPECT_EQ(CadLayerGetVisible(rivers), 0);
    EXPECT_EQ(CadLayerGetLock(rivers), 1);
    EXPECT_EQ(CadLayerGetColor(roads), 3);
    EXPECT_EQ(CadLayerGetDeleted(old), 1);
    EXPECT_EQ(CadEntityGetDeleted(oldLine), 1);
    CadLayer* contours = CadGetLayerByName(d, "Contours");
    ASSERT_NE(contours, nullptr);
    EXPECT_EQ(CadGetCurLayer(d), contours);

    // Refusals: layer "0" and the current layer stay; a name taken twice keeps the dialog open.
    ui.Clear();
    ui.AnswerModal([](QDialog& dlg) {
        auto* table = Child<QTableWidget>(dlg, "layers");
        table->selectRow(RowOf(table, "0"));
        Click(dlg, "delete");
        table->selectRow(RowOf(table, "Contours"));
        Click(dlg, "delete");
        const int r = RowOf(table, "Roads");
        table->item(r, 1)->setText("Contours");
        Click(dlg, "ok");
        EXPECT_TRUE(dlg.isVisible());
        table->item(r, 1)->setText("Roads");
        table->item(RowOf(table, "0"), 1)->setText("Zero");
        Click(dlg, "ok");
        EXPECT_TRUE(dlg.isVisible());
        Click(dlg, "cancel");
        return -1;
    });
    EXPECT_EQ(Run(CAD_CMD_LAYERS), 1);
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"Layer \"0\" cannot be deleted.", "The current layer cannot be deleted.",
                           "A layer named \"Contours\" already exists.", "Layer \"0\" cannot be renamed."}));
    EXPECT_EQ(LayerName(rivers), "Roads");
}

TEST_F(CadDialogs, LockedLayersResistTheOperatorAndHiddenOnesAreNotDrawn) {
    CadLayer* locked = CadAddLayer(d, "Locked", 7, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    CadLayerPutLock(locked, 1);
    CadSetCurLayer(d, locked);
    CadEntity* line = CadAddLine(d, 50, 100, 0, 350, 100, 0);  // the program still adds to it
    ASSERT_NE(line, nullptr);
    CadSetCurLayerByName(d, "0");
    CadEntity* free = CadAddLine(d, 50, 200, 0, 350, 200, 0);

    // Picks, windows and erase pass it by.
    CadScriptPushPoint(d, 200, 100, 0);
    CadScriptPushPoint(d, 200, 200, 0);
    CadScriptPushPoint(d, 10, 250, 0);
    CadScriptPushPoint(d, 390, 50, 0);  // a window round both
    CadScriptPushFinish(d);
    Run(CAD_CMD_ERASE);
    EXPECT_EQ(CadEntityGetDeleted(line), 0);
    EXPECT_EQ(CadEntityGetDeleted(free), 1);
    CadSelectEntity(line, 1);  // selected by the program
    Run(CAD_CMD_ERASE);
    EXPECT_EQ(CadEntityGetDeleted(line), 0);
    EXPECT_EQ(CadEntityGetSelected(line), 0);
    EXPECT_TRUE(HistoryHas(d, "1 objects were on a locked layer."));

    // An operator's click in the window does not select it.
    CadScriptSetStrict(0);
    wnd->show();
    QTest::mouseClick(wnd, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));  // y up: model y 100
    EXPECT_EQ(CadSelCount(d), 0);

    // Drawn while its layer is visible, not drawn once the layer is hidden.
    CadWinPaint(wnd);
    EXPECT_GT(LitAlong(kvtest::Screenshot(wnd, "cad_locked_layer"), 200, 60, 170), 100);
    CadLayerPutVisible(locked, 0);
    CadWinPaint(wnd);
    EXPECT_EQ(LitAlong(kvtest::Screenshot(wnd, "cad_hidden_layer"), 200, 60, 170), 0);
}

TEST_F(CadDialogs, StyleDialogsSetWhatTheOperatorDrawsNext) {
    ui.AnswerModal([](QDialog& dlg) {
        auto* list = Child<QListWidget>(dlg, "types");
        list->setCurrentRow(2);  // ByLayer, Continuous, Dashed
        Click(dlg, "ok");
        return -1;
    });
    ui.AnswerModal([](QDialog& dlg) {
        auto* list = Child<QListWidget>(dlg, "weights");
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->data(Qt::UserRole).toInt() == 35)
                list->setCurrentRow(i);
        Child<QCheckBox>(dlg, "display")->setChecked(true);
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_LINETYPES);
    Run(CAD_CMD_LINEWEIGHTS);
    EXPECT_EQ(CadGetLwDisplay(d), 1);
    CadScriptPushPoint(d, 0, 0, 0);
    CadScriptPushPoint(d, 10, 0, 0);
    Run(CAD_CMD_DRAW_LINE);
    CadEntity* drawn = LastEntity(d);
    EXPECT_EQ(CadEntityGetLineType(drawn), CAD_LTYPE_DASHED);
    EXPECT_EQ(CadEntityGetLineWeight(drawn), 35);
    // The program's own entities stay "by layer".
    CadEntity* own = CadAddLine(d, 0, 5, 0, 10, 5, 0);
    EXPECT_EQ(CadEntityGetLineType(own), CAD_LTYPE_BYLAYER);
    EXPECT_EQ(CadEntityGetLineWeight(own), CAD_LWEIGHT_BYLAYER);

    // Dimension style: three decimals in the label; point style kept.
    ui.AnswerModal([](QDialog& dlg) {
        Child<QSpinBox>(dlg, "decimals")->setValue(3);
        Child<QDoubleSpinBox>(dlg, "arrowSize")->setValue(2);
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_DIMSTYLES);
    CadScriptPushPoint(d, 100, 100, 0);
    CadScriptPushPoint(d, 130, 100, 0);
    CadScriptPushPoint(d, 115, 120, 0);
    Run(CAD_CMD_DIM_LINEAR);
    EXPECT_TRUE(HistoryHas(d, "Dimension text = 30.000"));
    ui.AnswerModal([](QDialog& dlg) {
        ChooseData(Child<QComboBox>(dlg, "mark"), 3);
        Child<QSpinBox>(dlg, "size")->setValue(12);
        Click(dlg, "cancel");
        return -1;
    });
    Run(CAD_CMD_POINTSTYLE);
    ui.AnswerModal([](QDialog& dlg) {
        EXPECT_EQ(Child<QComboBox>(dlg, "mark")->currentData().toInt(), 0);  // the cancel kept nothing
        ChooseData(Child<QComboBox>(dlg, "mark"), 3);
        Child<QSpinBox>(dlg, "size")->setValue(12);
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_POINTSTYLE);
    CadAddPoint(d, 300, 50, 0);
    QImage img = Grab();
    EXPECT_GT(QColor(img.pixel(306, 250)).value(), 60);  // the circle's rim, 6 pixels out
    EXPECT_EQ(QColor(img.pixel(300, 250)).value(), 0);   // and nothing at its centre

    // The styles travel with the drawing's file.
    const QByteArray path = (kvtest::TempDir() + "/styles.vec").toUtf8();
    ASSERT_EQ(CadFileSaveAs(d, 0, path.constData()), 1);
    CadDrawing* other = CadCreate();
    ASSERT_EQ(CadFileOpen(other, 0, path.constData()), 1);
    for (double x : {0.0, 30.0})
        CadScriptPushPoint(other, x, 0, 0);
    CadScriptPushPoint(other, 15, 20, 0);
    CadExecute(other, nullptr, CAD_CMD_DIM_LINEAR);
    EXPECT_TRUE(HistoryHas(other, "Dimension text = 30.000"));
    CadScriptPushPoint(other, 0, 0, 0);
    CadScriptPushPoint(other, 10, 0, 0);
    CadExecute(other, nullptr, CAD_CMD_DRAW_LINE);
    EXPECT_EQ(CadEntityGetLineType(LastEntity(other)), CAD_LTYPE_DASHED);
    CadDelete(other);
}

TEST_F(CadDialogs, TheSnapPaneAndNoneSetTheSnaps) {
    CadSnapPutMode(d, CAD_SNAP_IMAGEPLACE);
    ui.AnswerModal([](QDialog& dlg) {
        Click(dlg, "clear");
        Child<QCheckBox>(dlg, "end")->setChecked(true);
        Child<QCheckBox>(dlg, "intersection")->setChecked(true);
        Child<QCheckBox>(dlg, "on")->setChecked(true);
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_SNAP_PANE);
    EXPECT_EQ(CadSnapGetMode(d), CAD_SNAP_END | CAD_SNAP_INTERSECTION);
    EXPECT_EQ(CadSnapGetOn(d), 1);
    ui.AnswerModal([](QDialog& dlg) {
        Click(dlg, "all");
        Click(dlg, "cancel");
        return -1;
    });
    Run(CAD_CMD_SNAP_PANE);
    EXPECT_EQ(CadSnapGetMode(d), CAD_SNAP_END | CAD_SNAP_INTERSECTION);
    Run(CAD_CMD_SNAP_NONE);
    EXPECT_EQ(CadSnapGetMode(d), 0);
}

TEST_F(CadDialogs, PropertiesChangeTheSelectionOrTheDefaults) {
    CadLayer* roads = CadAddLayer(d, "Roads", 3, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    CadEntity* a = CadAddLine(d, 0, 0, 0, 10, 0, 0);
    CadEntity* b = CadAddCircle(d, 50, 50, 0, 5);
    CadEntityPutColor(b, 2);
    CadSelectEntity(a, 1);
    CadSelectEntity(b, 1);
    ui.AnswerModal([](QDialog& dlg) {
        auto* colour = Child<QComboBox>(dlg, "colour");
        EXPECT_EQ(colour->currentText(), "*VARIES*");
        ChooseData(Child<QComboBox>(dlg, "layer"), 1);
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_PROPERTIES);
    EXPECT_EQ(CadEntityGetLayer(a), roads);
    EXPECT_EQ(CadEntityGetLayer(b), roads);
    EXPECT_EQ(CadEntityGetColor(a), CAD_COLOR_BYLAYER);  // "*VARIES*" kept each colour
    EXPECT_EQ(CadEntityGetColor(b), 2);

    CadSelectClear(d);
    CadEntity* t = CadAddText(d, "old", 0, 0, 0);
    CadSelectEntity(t, 1);
    ui.AnswerModal([](QDialog& dlg) {
        Child<QLineEdit>(dlg, "text")->setText("new");
        Child<QLineEdit>(dlg, "height")->setText("-1");
        Click(dlg, "ok");  // refused: the height must be positive
        Child<QLineEdit>(dlg, "height")->setText("4");
        Child<QLineEdit>(dlg, "angle")->setText("90");
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_PROPERTIES);
    char text[16];
    CadTextGetText(t, text, sizeof text);
    EXPECT_STREQ(text, "new");
    EXPECT_EQ(CadTextGetHeight(t), 4);
    EXPECT_EQ(ui.Messages().size(), 1u);

    // Nothing selected: the current layer and the colour of new entities.
    CadSelectClear(d);
    ui.AnswerModal([](QDialog& dlg) {
        ChooseData(Child<QComboBox>(dlg, "layer"), 1);
        ChooseData(Child<QComboBox>(dlg, "colour"), 1);
        Click(dlg, "ok");
        return -1;
    });
    Run(CAD_CMD_PROPERTIES);
    EXPECT_EQ(CadGetCurLayer(d), roads);
    CadScriptPushPoint(d, 100, 100, 0);
    Run(CAD_CMD_DRAW_POINT);
    EXPECT_EQ(CadEntityGetColor(LastEntity(d)), 1);
    EXPECT_EQ(CadEntityGetLayer(LastEntity(d)), roads);
}

TEST_F(CadDialogs, TheRubberBandFollowsTheCursorAndTheCommandMenuClosesThePolyline) {
    CadMenuClear(CAD_MENU_COMMAND);
    CadMenuAdd(CAD_MENU_COMMAND, "Enter", CAD_CMD_ENTER);
    CadMenuAdd(CAD_MENU_COMMAND, "Enter Closed", CAD_CMD_ENTER_CLOSED);
    CadMenuAdd(CAD_MENU_COMMAND, "-", 0);
    CadMenuAdd(CAD_MENU_COMMAND, "Undo", CAD_CMD_UNDO_VERTEX);
    CadMenuAdd(CAD_MENU_COMMAND, "-", 0);
    CadMenuAdd(CAD_MENU_COMMAND, "Cancel", CAD_CMD_CANCEL);
    CadScriptSetStrict(0);
    wnd->show();
    QImage band;
    QStringList offered;
    // Each click answers one wait of the command, as the operator's clicks come one after another.
    auto click = [this](QPoint at) {
        CadScriptPushCall(d, [this, at] { QTest::mouseClick(wnd, Qt::LeftButton, Qt::NoModifier, at); });
    };
    click(QPoint(50, 250));
    click(QPoint(350, 250));
    CadScriptPushCall(d, [&] {
        QTest::mouseMove(wnd, QPoint(350, 50));
        band = Grab();
        QTest::mouseClick(wnd, Qt::LeftButton, Qt::NoModifier, QPoint(350, 50));
    });
    // The right button offers the command menu; the operator takes "Enter Closed".
    CadScriptPushCall(d, [&] {
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            for (QAction* a : menu->actions()) {
                if (!a->isSeparator())
                    offered << a->text();
                if (a->text() == "Enter Closed")
                    menu->setActiveAction(a);
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::mouseClick(wnd, Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
    });
    Run(CAD_CMD_DRAW_POLYLINE);
    EXPECT_EQ(offered, (QStringList{"Enter", "Enter Closed", "Undo", "Cancel"}));
    CadEntity* e = LastEntity(d);
    ASSERT_EQ(CadEntityGetType(e), CAD_ENT_POLYLINE);
    EXPECT_EQ(CadPlineGetNumVers(e), 3);
    EXPECT_EQ(CadPlineGetClosed(e), 1);
    // While the third vertex was being placed the band showed the first side and the one to the cursor.
    ASSERT_FALSE(band.isNull());
    EXPECT_GT(LitAlong(band, 250, 80, 320), 60);
    int column = 0;
    for (int y = 90; y <= 220; ++y)
        column += QColor(band.pixel(350, y)).value() > 60 ? 1 : 0;
    EXPECT_GT(column, 30);
}
