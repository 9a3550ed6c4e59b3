// The drawing window: shows a drawing with pan and zoom, delivers clicks, typed keys and the
// wheel to the waiting input call or to the selection, draws the rubber band and the cursor, and
// calls the event procedures.
#pragma once

#include <QImage>
#include <QWidget>

#include <string>
#include <vector>

#include "platform/cad/CadInternal.h"

class CadView : public QWidget {
    Q_OBJECT
public:
    CadView(CadDrawing* drawing, QWidget* parent);
    ~CadView() override;

    CadDrawing* Drawing() const { return drawing_; }
    void Detach() { drawing_ = nullptr; }
    const cad::ViewXform& Xform() const { return xf_; }
    // Content changed: the drawing is painted again at the next paint.
    void Invalidate();
    // Takes the window's size into the view. Qt delivers the resize of a window that is not yet
    // on screen only when it is shown; a zoom made meanwhile must see the size set.
    void SizeChanged();
    // Paints the drawing now (images, vectors, paint event).
    void RenderNow();
    void SetView(double cx, double cy, double scale, bool remember = true);
    bool ShowRect(double l, double b, double r, double t, bool remember = true);
    void ZoomExtents();
    void ZoomBy(double factor, const QPointF& about);
    void ZoomPrevious();
    // The text typed into the view when there is no command-line window.
    std::string& Typed() { return typed_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void leaveEvent(QEvent*) override;
    void focusInEvent(QFocusEvent*) override;

private:
    void ShowMenu(int menu, const QPoint& at);
    void DrawOverlay(QPainter& p);

    CadDrawing* drawing_;
    cad::ViewXform xf_;
    std::vector<cad::ViewXform> previous_;
    QImage back_;   // the last complete picture of the drawing
    QImage spare_;  // the buffer the next picture is drawn into
    bool backDirty_ = true;
    bool rendering_ = false;
    QPoint cursor_;
    bool cursorIn_ = false;
    bool panning_ = false;
    QPoint panFrom_;
    bool selCorner_ = false;  // idle window selection: first corner given
    cad::Vec3 selCornerPt_{0, 0, 0};
    int snapKind_ = 0;
    cad::Vec3 snapPt_{0, 0, 0};
    std::string typed_;
};
