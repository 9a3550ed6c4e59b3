// A CAD drawing of a dialog's own, shown in a drawing window over one of the dialog's controls,
// with the event procedures that serve it while the dialog is open. The profile dialog shows its
// graph and its plan view this way; any dialog that shows a drawing or a raster in a window of its
// own does the same:
//
//     HostedCadView m_view;                 // the drawing: read-only, line weights shown
//     m_view.Create(&m_hostStatic);         // the window, at the host's size and following it
//     m_view.drawImage = [this](...) { return DrawDemImage(..., m_cache, ...); };
//     m_events.emplace(std::vector<HostedCadView*>{&m_view});   // while the dialog is current
//     ...
//     m_events.reset();                     // on closing: the project's procedures are back
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

#include "platform/cad/Cad.h"

class CDEM;
struct RasterDisplayCache;

class HostedCadView : public QObject {
    Q_OBJECT
public:
    // Creates the drawing: read-only for the operator (the program still draws into it), line
    // weights shown.
    HostedCadView();
    // Destroys the window, then deletes the drawing.
    ~HostedCadView() override;
    HostedCadView(const HostedCadView&) = delete;
    HostedCadView& operator=(const HostedCadView&) = delete;

    CadDrawing* Drawing() const { return m_drawing; }
    // The drawing window, null before Create or once it is gone.
    QWidget* Window() const { return m_window; }

    // Makes the drawing window over the host's client area (an earlier window is destroyed
    // first); the window keeps the host's size from then on. Null when it could not be made.
    QWidget* Create(QWidget* host);
    // Destroys the window (the drawing stays).
    void Destroy();

    // What the view answers to the engine's events while they are routed to it (HostedViewEvents).
    // Unset handlers answer as the engine's defaults do. The mouse-move handler runs after the
    // window has taken the keyboard focus.
    std::function<int(QPainter* dc, const CadWinRect* update, int imageId, int placeLeft, int placeBottom,
                      int placeWidth, int placeHeight)>
        drawImage;
    std::function<void(int keyFlags, double x, double y)> mouseMove;
    std::function<void(QPainter* dc, int x, int y)> drawCursor;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitToHost();

    CadDrawing* m_drawing = nullptr;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_host;
};

// While an object of this class lives, the engine's draw-image, mouse-move and draw-cursor events
// of the views' drawings go to the views' handlers; the events of every other drawing go on to the
// project's own procedures, so the project windows keep drawing their rasters and readouts. When
// the last such object ends, the project's procedures are registered again.
class HostedViewEvents {
public:
    explicit HostedViewEvents(std::vector<HostedCadView*> views);
    ~HostedViewEvents();
    HostedViewEvents(const HostedViewEvents&) = delete;
    HostedViewEvents& operator=(const HostedViewEvents&) = delete;

private:
    std::vector<HostedCadView*> m_views;
};

// Draws a DEM on its image place in a hosted view as the plan view draws a raster: the visible
// cells at screen resolution, coloured with the elevation ramp between the DEM's lowest and
// highest elevation, through the given cache (a repaint of the same cells at nearly the same
// zoom draws the cached picture again and reads nothing). Records in the cache where the picture
// lies in the model. The cache is the view's own: the DEM's own cache feeds the project window.
// 1 when drawn, 0 when the DEM has no data to draw or the place is not visible.
int DrawDemImage(CadDrawing* drawing, CadEntity* place, CDEM& dem, RasterDisplayCache& cache, QPainter* dc,
                 const CadWinRect* update, int placeLeft, int placeBottom, int placeWidth, int placeHeight);
