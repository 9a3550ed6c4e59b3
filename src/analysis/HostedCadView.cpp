#include "analysis/HostedCadView.h"

#include <QApplication>
#include <QEvent>

#include <algorithm>

#include "raster/DEM.h"
#include "view/CadEventProcs.h"
#include "view/RasterRendering.h"

namespace {

// The views whose events are routed to them now, and how many scopes route them.
std::vector<HostedCadView*>& RoutedViews() {
    static std::vector<HostedCadView*> views;
    return views;
}
int g_scopes = 0;

HostedCadView* RoutedView(CadDrawing* drawing) {
    for (HostedCadView* view : RoutedViews()) {
        if (view->Drawing() == drawing) {
            return view;
        }
    }
    return nullptr;
}

int RoutedDrawImage(CadDrawing* drawing, QPainter* dc, const CadWinRect* update, int imageId, int placeLeft,
                    int placeBottom, int placeWidth, int placeHeight) {
    if (HostedCadView* view = RoutedView(drawing)) {
        return view->drawImage
                   ? view->drawImage(dc, update, imageId, placeLeft, placeBottom, placeWidth, placeHeight)
                   : 0;
    }
    return OnCadDrawImage(drawing, dc, update, imageId, placeLeft, placeBottom, placeWidth, placeHeight);
}

int RoutedMouseMove(CadDrawing* drawing, int keyFlags, double x, double y) {
    HostedCadView* view = RoutedView(drawing);
    if (!view) {
        return OnCadMouseMove(drawing, keyFlags, x, y);
    }
    QWidget* window = view->Window();
    if (window && QApplication::focusWidget() != window) {
        CadWinSetFocus(window);
    }
    if (view->mouseMove) {
        view->mouseMove(keyFlags, x, y);
    }
    return 0;
}

int RoutedDrawCursor(CadDrawing* drawing, QPainter* dc, int x, int y) {
    if (HostedCadView* view = RoutedView(drawing)) {
        if (view->drawCursor) {
            view->drawCursor(dc, x, y);
        }
        return 0;
    }
    return OnCadDrawCursor(drawing, dc, x, y);
}

}  // namespace

HostedCadView::HostedCadView() : m_drawing(CadCreate()) {
    CadPutReadOnly(m_drawing, 1);
    CadPutLwDisplay(m_drawing, 1);
}

HostedCadView::~HostedCadView() {
    Destroy();
    auto& views = RoutedViews();
    views.erase(std::remove(views.begin(), views.end(), this), views.end());
    CadDelete(m_drawing);
}

QWidget* HostedCadView::Create(QWidget* host) {
    Destroy();
    if (!host) {
        return nullptr;
    }
    m_host = host;
    const QRect client = host->contentsRect();
    m_window = CadWndCreate(m_drawing, host, client.x(), client.y(), client.width(), client.height());
    host->installEventFilter(this);
    return m_window;
}

void HostedCadView::Destroy() {
    if (m_host) {
        m_host->removeEventFilter(this);
    }
    if (m_window) {
        CadWndDestroy(m_window);
    }
    m_window = nullptr;
    m_host = nullptr;
}

void HostedCadView::FitToHost() {
    if (m_window && m_host) {
        const QRect client = m_host->contentsRect();
        CadWndResize(m_window, client.x(), client.y(), client.width(), client.height());
    }
}

bool HostedCadView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_host && event->type() == QEvent::Resize) {
        FitToHost();
    }
    return QObject::eventFilter(watched, event);
}

HostedViewEvents::HostedViewEvents(std::vector<HostedCadView*> views) : m_views(std::move(views)) {
    auto& routed = RoutedViews();
    routed.insert(routed.end(), m_views.begin(), m_views.end());
    ++g_scopes;
    CadOnEventDrawImage(RoutedDrawImage);
    CadOnEventMouseMove(RoutedMouseMove);
    CadOnEventDrawCursor(RoutedDrawCursor);
}

HostedViewEvents::~HostedViewEvents() {
    auto& routed = RoutedViews();
    for (HostedCadView* view : m_views) {
        const auto at = std::find(routed.begin(), routed.end(), view);
        if (at != routed.end()) {
            routed.erase(at);
        }
    }
    if (--g_scopes == 0) {
        RegisterDocumentEventProcs();
    }
}

int DrawDemImage(CadDrawing* drawing, CadEntity* place, CDEM& dem, RasterDisplayCache& cache, QPainter* dc,
                 const CadWinRect* update, int placeLeft, int placeBottom, int placeWidth, int placeHeight) {
    if (!dc || dem.m_busy || (!dem.m_pDataset && dem.m_grid.empty())) {
        return 0;
    }
    RasterDrawTarget target;
    if (!LayoutPlace(update, placeLeft, placeBottom, placeWidth, placeHeight, dem.Width(), dem.Height(),
                     target)) {
        return 0;
    }
    target.dc = dc;
    target.opacity = 1.0;
    const int drawn = DrawCached(cache, target, [&](cv::Mat& values, cv::Mat& picture) {
        if (dem.m_pDataset) {
            return DrawRasterBand(dem.m_pDataset, target, dem.m_minElevation, dem.m_maxElevation, values,
                                  picture);
        }
        return DrawFloatImageRegion(dem.m_grid, target, dem.m_minElevation, dem.m_maxElevation, values,
                                    picture);
    });
    SetDisplayGeoTransform(drawing, place, target, placeLeft, placeBottom, placeWidth, cache);
    return drawn;
}
