// What the mosaic tests share: the two orthophotos cut from the Landsat scene, and synthetic image
// records whose extents are given by hand.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "raster/Ortho.h"
#include "support/ScriptedInteraction.h"

class CKelvaroDoc;
// Sends the ribbon command to the project (what pressing its button does).
bool RunDocCommand(CKelvaroDoc& doc, int ribbonId);

namespace mtest {

// Bands 3, 2, 1 of tests/data/L7_ETMs.tif (349 x 352 cells of 28.5 m) cut to the pixel window as a
// GeoTIFF at the target path; its geotransform goes to gt when given. Empty on failure.
QString CutLandsat(const QString& target, int column, int row, int width, int height, double* gt = nullptr);

// Bands 3, 2, 1 of tests/data/L7_ETMs.tif (28.5 m cells, 352 rows) as two GeoTIFFs in a new
// folder: columns 0-219 and 130-348, so that the two overlap in 90 columns.
struct LandsatPair {
    explicit LandsatPair(const QString& folder);
    QString paths[2];
    double geoTransforms[2][6];
    static constexpr double kPixel = 28.5;
};

// Orthophoto records without a project: each owns a dataset of the given size (no bands) and the
// rectangle of its extent as a closed polyline in one drawing, which outlives them.
class SyntheticImages {
public:
    SyntheticImages();
    ~SyntheticImages();
    // An image of width × height pixels of size 1 whose top-left corner is (x, y).
    COrtho* Add(int width, int height, double x, double y);
    std::vector<COrtho*> Records() const;

private:
    CadDrawing* m_drawing;
    std::vector<std::unique_ptr<COrtho>> m_images;
};

// What a test of the mosaic commands starts from: GDAL's drivers, the command tables holding only
// the mosaic tools' procedures, no active CAD command. Returns a new temporary folder named after
// the running test.
QString PrepareMosaicCommands();

// Answers every dialog of the type that a ribbon button opens: its work starts from its timer, the
// script waits until the dialog closes and keeps its result, and onProgress sees each new
// position of the dialog's progress bar (the member given), so that a test can press Abort or
// take a picture while the work runs.
template <class Dialog, class Bar>
class DialogRunner : public QObject {
public:
    DialogRunner(kvtest::ScriptedInteraction& ui, Bar Dialog::*bar) : m_ui(ui), m_bar(bar) {
        qApp->installEventFilter(this);
    }
    ~DialogRunner() override { qApp->removeEventFilter(this); }

    // Presses the ribbon button; the dialog's result, or -1 when no dialog ran.
    int Press(CKelvaroDoc& doc, int ribbonId) {
        int result = -1;
        m_ui.AnswerModal([&result](QDialog& dialog) {
            QElapsedTimer clock;
            clock.start();
            while (dialog.isVisible() && clock.elapsed() < 120000) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            }
            result = dialog.result();
            return -1;
        });
        EXPECT_TRUE(RunDocCommand(doc, ribbonId));
        return result;
    }

    std::function<void(Dialog&, int)> onProgress;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        // A dialog is met as it is shown, before its timer can start the work.
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<Dialog*>(object)) {
                QObject::connect(&(dialog->*m_bar), &QProgressBar::valueChanged, dialog,
                                 [this, dialog](int value) {
                                     if (onProgress) {
                                         onProgress(*dialog, value);
                                     }
                                 });
            }
        }
        return false;
    }

private:
    kvtest::ScriptedInteraction& m_ui;
    Bar Dialog::*m_bar;
};

}  // namespace mtest
