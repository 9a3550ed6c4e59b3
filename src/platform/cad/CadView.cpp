#include "platform/cad/CadView.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace cad {

namespace {

// The rubber band being drawn: the painter and view of the window that paints it.
QPainter* g_rubberPainter = nullptr;
ViewXform g_rubberXf;
std::vector<Vec3>& RubberVertices() {
    static std::vector<Vec3> v;
    return v;
}

int KeyFlagsOf(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
    return (b & Qt::LeftButton ? CAD_KEY_LBUTTON : 0) | (b & Qt::RightButton ? CAD_KEY_RBUTTON : 0) |
           (b & Qt::MiddleButton ? CAD_KEY_MBUTTON : 0) | (m & Qt::ShiftModifier ? CAD_KEY_SHIFT : 0) |
           (m & Qt::ControlModifier ? CAD_KEY_CONTROL : 0) | (m & Qt::AltModifier ? CAD_KEY_ALT : 0);
}

int ButtonOf(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return CAD_BUTTON_LEFT;
        case Qt::RightButton:
            return CAD_BUTTON_RIGHT;
        case Qt::MiddleButton:
            return CAD_BUTTON_MIDDLE;
        default:
            return 0;
    }
}

// The conventional PC key number of a Qt key (0 when it has none).
int VirtualKeyOf(const QKeyEvent* ev) {
    const int k = ev->key();
    const bool keypad = ev->modifiers() & Qt::KeypadModifier;
    if (keypad && k >= Qt::Key_0 && k <= Qt::Key_9)
        return CAD_VK_NUMPAD0 + (k - Qt::Key_0);
    switch (k) {
        case Qt::Key_Backspace:
            return CAD_VK_BACK;
        case Qt::Key_Tab:
            return CAD_VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return CAD_VK_RETURN;
        case Qt::Key_Escape:
            return CAD_VK_ESCAPE;
        case Qt::Key_Space:
            return CAD_VK_SPACE;
        case Qt::Key_PageUp:
            return CAD_VK_PRIOR;
        case Qt::Key_PageDown:
            return CAD_VK_NEXT;
        case Qt::Key_End:
            return CAD_VK_END;
        case Qt::Key_Home:
            return CAD_VK_HOME;
        case Qt::Key_Left:
            return CAD_VK_LEFT;
        case Qt::Key_Up:
            return CAD_VK_UP;
        case Qt::Key_Right:
            return CAD_VK_RIGHT;
        case Qt::Key_Down:
            return CAD_VK_DOWN;
        case Qt::Key_Insert:
            return CAD_VK_INSERT;
        case Qt::Key_Delete:
            return CAD_VK_DELETE;
        case Qt::Key_Asterisk:
            return keypad ? int(CAD_VK_MULTIPLY) : int('*');
        case Qt::Key_Plus:
            return keypad ? int(CAD_VK_ADD) : 0xBB;
        case Qt::Key_Minus:
            return keypad ? int(CAD_VK_SUBTRACT) : 0xBD;
        case Qt::Key_Slash:
            return keypad ? int(CAD_VK_DIVIDE) : 0xBF;
        default:
            break;
    }
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return CAD_VK_F1 + (k - Qt::Key_F1);
    if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z))
        return k;
    return 0;
}

CadView* ViewOf(QWidget* w) {
    return qobject_cast<CadView*>(w);
}

}  // namespace

void NotifyRepaint(CadDrawing* d) {
    if (d && d->window)
        d->window->Invalidate();
    LayersOrderChanged(d);
}

double PixelSizeOf(CadDrawing* d) {
    return d && d->window ? 1.0 / d->window->Xform().scale : 0.0;
}

void DestroyWindowOf(CadDrawing* d) {
    if (!d || !d->window)
        return;
    CadView* v = d->window;
    d->window = nullptr;
    v->Detach();
    v->hide();
    v->deleteLater();
}

void ZoomCommand(CadDrawing* d, QWidget* window, int command) {
    CadView* v = ViewOf(window);
    if (!v)
        v = d->window;
    if (!v || v->Drawing() != d)
        return;
    switch (command) {
        case CAD_CMD_ZOOM_EXTENTS:
            v->ZoomExtents();
            break;
        case CAD_CMD_ZOOM_IN:
            v->ZoomBy(2.0, QPointF(v->width() / 2.0, v->height() / 2.0));
            break;
        case CAD_CMD_ZOOM_OUT:
            v->ZoomBy(0.5, QPointF(v->width() / 2.0, v->height() / 2.0));
            break;
        case CAD_CMD_ZOOM_PREVIOUS:
            v->ZoomPrevious();
            break;
        default:
            break;
    }
}

void ZoomToRect(CadDrawing* d, QWidget* window, const Vec3& a, const Vec3& b) {
    CadView* v = ViewOf(window);
    if (!v)
        v = d->window;
    if (v && v->Drawing() == d)
        v->ShowRect(a.x, a.y, b.x, b.y);
}

}  // namespace cad

using namespace cad;

CadView::CadView(CadDrawing* drawing, QWidget* parent) : QWidget(parent), drawing_(drawing) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::BlankCursor);
    xf_.width = std::max(1, width());
    xf_.height = std::max(1, height());
}

CadView::~CadView() {
    if (drawing_ && drawing_->window == this)
        drawing_->window = nullptr;
}

void CadView::Invalidate() {
    backDirty_ = true;
    update();
}

void CadView::RenderNow() {
    if (!drawing_ || rendering_) {
        Invalidate();
        return;
    }
    rendering_ = true;
    // A change made while the picture is drawn asks for the next one.
    backDirty_ = false;
    // The picture is drawn aside and shown only when complete: event procedures may let events
    // through (a question, a grid that loads), and a paint meanwhile shows the last picture.
    QImage next = std::move(spare_);
    if (next.size() != size() || next.isNull())
        next = QImage(std::max(1, width()), std::max(1, height()), QImage::Format_RGB32);
    {
        QPainter p(&next);
        RenderDrawing(drawing_, p, xf_, true, true);
        if (Events().paint && drawing_) {
            p.save();
            CadDrawing* d = drawing_;
            CallEvent(CadGetKeyFlags(), [&] { return Events().paint(d, &p, xf_.width); });
            p.restore();
        }
    }
    rendering_ = false;
    spare_ = std::move(back_);
    back_ = std::move(next);
    update();
}

void CadView::SetView(double cx, double cy, double scale, bool remember) {
    if (!(scale > 0) || !std::isfinite(scale) || !std::isfinite(cx) || !std::isfinite(cy))
        return;
    if (remember) {
        previous_.push_back(xf_);
        if (previous_.size() > 32)
            previous_.erase(previous_.begin());
    }
    xf_.cx = cx;
    xf_.cy = cy;
    xf_.scale = scale;
    Invalidate();
}

bool CadView::ShowRect(double l, double b, double r, double t, bool remember) {
    if (l > r)
        std::swap(l, r);
    if (b > t)
        std::swap(b, t);
    double w = r - l, h = t - b;
    if (!(w > 0) && !(h > 0))
        return false;
    double sx = w > 0 ? xf_.width / w : 1e300, sy = h > 0 ? xf_.height / h : 1e300;
    SetView((l + r) / 2, (b + t) / 2, std::min(sx, sy), remember);
    return true;
}

void CadView::ZoomExtents() {
    double l, b, r, t;
    if (!drawing_ || !CadGetExtents(drawing_, &l, &b, &r, &t))
        return;
    double mx = std::max((r - l) * 0.03, 1e-9), my = std::max((t - b) * 0.03, 1e-9);
    if (r - l <= 0 && t - b <= 0) {
        SetView(l, b, xf_.scale);
        return;
    }
    ShowRect(l - mx, b - my, r + mx, t + my);
}

void CadView::ZoomBy(double factor, const QPointF& about) {
    double mx = xf_.MX(about.x()), my = xf_.MY(about.y());
    double s = xf_.scale * factor;
    // Keep the model point under the cursor where it is.
    double cx = mx - (about.x() - xf_.width * 0.5) / s;
    double cy = my + (about.y() - xf_.height * 0.5) / s;
    SetView(cx, cy, s);
}

void CadView::ZoomPrevious() {
    if (previous_.empty())
        return;
    ViewXform v = previous_.back();
    previous_.pop_back();
    SetView(v.cx, v.cy, v.scale, false);
}

void CadView::SizeChanged() {
    xf_.width = std::max(1, width());
    xf_.height = std::max(1, height());
    Invalidate();
}

void CadView::resizeEvent(QResizeEvent*) {
    SizeChanged();
}

void CadView::paintEvent(QPaintEvent*) {
    if (!drawing_) {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        return;
    }
    if (backDirty_ || back_.size() != size()) {
        RenderNow();
        if (!drawing_)
            return;
    }
    QPainter p(this);
    // Until the first picture is complete the window shows the drawing's background.
    if (back_.size() != size())
        p.fillRect(rect(), Qt::black);
    if (!back_.isNull())
        p.drawImage(0, 0, back_);
    DrawOverlay(p);
}

void CadView::DrawOverlay(QPainter& p) {
    CadDrawing* d = drawing_;
    const double mx = xf_.MX(cursor_.x()), my = xf_.MY(cursor_.y());
    const bool waiting = !d->waits.empty();
    // Rubber band of the waiting command.
    const WaitFrame* top = waiting ? d->waits.back() : nullptr;
    if (top && cursorIn_ && (top->rubberBand || top->band)) {
        Vec3 at = snapKind_ ? snapPt_ : Vec3{mx, my, 0};
        p.save();
        p.setPen(QPen(QColor(255, 255, 255), 0, Qt::DashLine));
        QPainter* saved = g_rubberPainter;
        ViewXform savedXf = g_rubberXf;
        g_rubberPainter = &p;
        g_rubberXf = xf_;
        RubberVertices().clear();
        if (top->band)
            top->band(at);
        else
            top->rubberBand(d, &p, at.x, at.y, at.z);
        RubberVertices().clear();
        g_rubberPainter = saved;
        g_rubberXf = savedXf;
        p.restore();
    }
    // Selection window.
    const Vec3* corner = nullptr;
    if (selCorner_ && !waiting)
        corner = &selCornerPt_;
    if (waiting && d->waits.back()->haveCorner)
        corner = &d->waits.back()->corner;
    if (corner && cursorIn_) {
        bool crossing = mx < corner->x;
        p.setPen(QPen(crossing ? QColor(0, 255, 0) : QColor(80, 160, 255), 0,
                      crossing ? Qt::DashLine : Qt::SolidLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(QPointF(xf_.X(corner->x), xf_.Y(corner->y)), QPointF(cursor_)).normalized());
    }
    if (snapKind_ && waiting && cursorIn_) {
        p.setPen(QPen(QColor(255, 255, 0), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(xf_.X(snapPt_.x) - 5, xf_.Y(snapPt_.y) - 5, 10, 10));
    }
    if (cursorIn_) {
        p.setPen(QPen(QColor(255, 255, 255), 0));
        const int x = cursor_.x(), y = cursor_.y();
        bool pickBox = !waiting || d->waits.back()->kind == WaitKind::Entity ||
                       d->waits.back()->kind == WaitKind::Select;
        bool cross =
            !waiting || d->waits.back()->kind == WaitKind::Input || d->waits.back()->kind == WaitKind::Point;
        if (cross) {
            p.drawLine(x - 20, y, x + 20, y);
            p.drawLine(x, y - 20, x, y + 20);
        }
        if (pickBox)
            p.drawRect(x - 4, y - 4, 8, 8);
        if (Events().drawCursor) {
            p.save();
            CallEvent(CadGetKeyFlags(), [&] { return Events().drawCursor(d, &p, x, y); });
            p.restore();
        }
    }
}

void CadView::mousePressEvent(QMouseEvent* ev) {
    CadDrawing* d = drawing_;
    if (!d)
        return;
    SetActiveDrawing(d);
    setFocus();
    const int button = ButtonOf(ev->button());
    const int flags = KeyFlagsOf(ev->modifiers(), ev->buttons());
    const QPoint pos = ev->position().toPoint();
    cursor_ = pos;
    const double mx = xf_.MX(pos.x()), my = xf_.MY(pos.y());
    // Answer 0: the program took the press and the engine does nothing with it.
    if (Events().preMouseDown &&
        (CallEvent(flags, [&] { return Events().preMouseDown(d, button, mx, my); }) == 0 || !drawing_))
        return;
    SetKeyFlags(flags);
    if (button == CAD_BUTTON_MIDDLE) {
        panning_ = true;
        panFrom_ = pos;
    } else if (button == CAD_BUTTON_LEFT) {
        if (!d->waits.empty()) {
            ScriptItem item;
            item.kind = ScriptKind::Point;
            item.point = {mx, my, 0};
            item.keyFlags = flags;
            DeliverInput(d, item);
        } else if (selCorner_) {
            selCorner_ = false;
            SelectWindow(d, selCornerPt_, {mx, my, 0});
        } else {
            CadEntity* e = PickEntity(d, mx, my, ApertureOf(d));
            if (e) {
                CadLayer* l = LayerOf(e);
                if (!l || !l->locked)
                    CadSelectEntity(e, (flags & CAD_KEY_SHIFT) ? 0 : 1);
            } else {
                selCorner_ = true;
                selCornerPt_ = {mx, my, 0};
            }
        }
    } else if (button == CAD_BUTTON_RIGHT) {
        if (selCorner_) {
            selCorner_ = false;
        } else if (!d->waits.empty()) {
            // Inside an engine command the command menu offers Enter, Enter Closed, Undo and
            // Cancel; elsewhere the right button is Enter.
            if (d->waits.back()->engine && !MenuItems(CAD_MENU_COMMAND).empty()) {
                ShowMenu(CAD_MENU_COMMAND, ev->globalPosition().toPoint());
                if (!drawing_)
                    return;
            } else {
                ScriptItem item;
                item.kind = ScriptKind::Finish;
                DeliverInput(d, item);
            }
        } else {
            ShowMenu(d->selection.empty() ? CAD_MENU_DEFAULT : CAD_MENU_SELECTION,
                     ev->globalPosition().toPoint());
            if (!drawing_)
                return;
        }
    }
    if (Events().mouseDown && drawing_)
        CallEvent(flags, [&] { return Events().mouseDown(d, button, mx, my); });
    update();
}

void CadView::ShowMenu(int which, const QPoint& at) {
    const auto& items = MenuItems(which);
    if (items.empty())
        return;
    QMenu menu(this);
    for (const auto& [text, command] : items) {
        if (text == "-") {
            menu.addSeparator();
            continue;
        }
        QAction* a = menu.addAction(QString::fromStdString(text));
        a->setData(command);
    }
    QAction* chosen = menu.exec(at);
    if (chosen && drawing_)
        CadExecute(drawing_, this, chosen->data().toInt());
}

void CadView::mouseReleaseEvent(QMouseEvent* ev) {
    CadDrawing* d = drawing_;
    if (!d)
        return;
    const int button = ButtonOf(ev->button());
    if (button == CAD_BUTTON_MIDDLE)
        panning_ = false;
    if (Events().mouseUp)
        CallEvent(KeyFlagsOf(ev->modifiers(), ev->buttons()), [&] { return Events().mouseUp(d, button); });
}

void CadView::mouseMoveEvent(QMouseEvent* ev) {
    CadDrawing* d = drawing_;
    if (!d)
        return;
    const QPoint pos = ev->position().toPoint();
    if (panning_) {
        QPoint delta = pos - panFrom_;
        panFrom_ = pos;
        SetView(xf_.cx - delta.x() / xf_.scale, xf_.cy + delta.y() / xf_.scale, xf_.scale, false);
    }
    cursor_ = pos;
    cursorIn_ = true;
    const int flags = KeyFlagsOf(ev->modifiers(), ev->buttons());
    const double mx = xf_.MX(pos.x()), my = xf_.MY(pos.y());
    snapKind_ = 0;
    if (!d->waits.empty() &&
        (d->waits.back()->kind == WaitKind::Input || d->waits.back()->kind == WaitKind::Point)) {
        EventCall keys(flags);  // the snap event sees this move's key flags
        snapPt_ = SnapPoint(d, mx, my, ApertureOf(d), &snapKind_);
    }
    d->cursor = snapKind_ ? snapPt_ : Vec3{mx, my, 0};
    d->haveCursor = true;
    if (Events().mouseMove)
        CallEvent(flags, [&] { return Events().mouseMove(d, flags, mx, my); });
    update();
}

void CadView::wheelEvent(QWheelEvent* ev) {
    CadDrawing* d = drawing_;
    if (!d)
        return;
    const int flags = KeyFlagsOf(ev->modifiers(), ev->buttons());
    const int delta = ev->angleDelta().y();
    int consumed = 0;
    if (Events().mouseWheel) {
        consumed = CallEvent(flags, [&] { return Events().mouseWheel(d, flags, delta); });
    }
    if (consumed || delta == 0 || !drawing_)
        return;
    ZoomBy(std::pow(1.25, delta / 120.0), ev->position());
}

void CadView::keyPressEvent(QKeyEvent* ev) {
    CadDrawing* d = drawing_;
    if (!d)
        return;
    const int flags = KeyFlagsOf(ev->modifiers(), Qt::NoButton);
    const int vk = VirtualKeyOf(ev);
    if (Events().keyDown && vk) {
        if (CallEvent(flags, [&] { return Events().keyDown(d, vk, flags); }) != 0 || !drawing_)
            return;
    }
    switch (ev->key()) {
        case Qt::Key_Escape:
            if (selCorner_) {
                selCorner_ = false;
            } else if (!d->waits.empty()) {
                ScriptItem item;
                item.kind = ScriptKind::Cancel;
                DeliverInput(d, item);
            } else {
                CadSelectClear(d);
            }
            CommandLineTyped(d, std::string(), TypedEdit::Clear);
            update();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            std::string t = CommandLineTyped(d, std::string(), TypedEdit::Take);
            SubmitTyped(d, t);
            return;
        }
        case Qt::Key_Backspace:
            CommandLineTyped(d, std::string(), TypedEdit::Backspace);
            return;
        case Qt::Key_F3:
            if (AcceleratorsOn()) {
                d->snapOn = !d->snapOn;
                return;
            }
            break;
        case Qt::Key_Delete:
            if (AcceleratorsOn() && !d->selection.empty()) {
                CadExecute(d, this, CAD_CMD_ERASE);
                return;
            }
            break;
        case Qt::Key_A:
            if (AcceleratorsOn() && (ev->modifiers() & Qt::ControlModifier)) {
                CadSelectAll(d);
                return;
            }
            break;
        default:
            break;
    }
    QString text = ev->text();
    if (!text.isEmpty() && text[0].isPrint() && !(ev->modifiers() & Qt::ControlModifier))
        CommandLineTyped(d, text.toStdString(), TypedEdit::Append);
}

void CadView::leaveEvent(QEvent*) {
    cursorIn_ = false;
    update();
}

void CadView::focusInEvent(QFocusEvent*) {
    if (drawing_)
        SetActiveDrawing(drawing_);
}

// ---------------------------------------------------------------------------------------------
// Window calls

QWidget* CadWndCreate(CadDrawing* d, QWidget* parent, int x, int y, int width, int height) {
    if (!d || d->deletePending)
        return nullptr;
    DestroyWindowOf(d);
    auto* v = new CadView(d, parent);
    v->setGeometry(x, y, std::max(1, width), std::max(1, height));
    v->SizeChanged();
    d->window = v;
    v->show();
    SetActiveDrawing(d);
    return v;
}

void CadWndDestroy(QWidget* window) {
    CadView* v = ViewOf(window);
    if (!v)
        return;
    if (v->Drawing())
        DestroyWindowOf(v->Drawing());
    else
        v->deleteLater();
}

int CadWndResize(QWidget* window, int x, int y, int width, int height) {
    CadView* v = ViewOf(window);
    if (!v)
        return 0;
    v->setGeometry(x, y, std::max(1, width), std::max(1, height));
    v->SizeChanged();
    return 1;
}

QWidget* CadGetWindow(CadDrawing* d) {
    return d ? d->window.data() : nullptr;
}

CadDrawing* CadWndGetDrawing(QWidget* window) {
    CadView* v = ViewOf(window);
    return v ? v->Drawing() : nullptr;
}

void CadWinSetFocus(QWidget* window) {
    if (window)
        window->setFocus();
}

void CadWndRedraw(QWidget* window) {
    if (CadView* v = ViewOf(window))
        v->Invalidate();
}

void CadWinPaint(QWidget* window) {
    if (CadView* v = ViewOf(window))
        v->RenderNow();
}

int CadViewRect(QWidget* window, double left, double bottom, double right, double top) {
    CadView* v = ViewOf(window);
    return v && v->ShowRect(left, bottom, right, top) ? 1 : 0;
}

int CadGetViewRect(QWidget* window, double* left, double* bottom, double* right, double* top) {
    CadView* v = ViewOf(window);
    if (!v)
        return 0;
    const ViewXform& xf = v->Xform();
    if (left)
        *left = xf.MX(0);
    if (right)
        *right = xf.MX(xf.width);
    if (bottom)
        *bottom = xf.MY(xf.height);
    if (top)
        *top = xf.MY(0);
    return 1;
}

int CadCoordWinToModel(QWidget* window, int x, int y, double* mx, double* my) {
    CadView* v = ViewOf(window);
    if (!v)
        return 0;
    if (mx)
        *mx = v->Xform().MX(x);
    if (my)
        *my = v->Xform().MY(y);
    return 1;
}

int CadCoordModelToWin(QWidget* window, double mx, double my, int* x, int* y) {
    CadView* v = ViewOf(window);
    if (!v)
        return 0;
    if (x)
        *x = int(std::lround(v->Xform().X(mx)));
    if (y)
        *y = int(std::lround(v->Xform().Y(my)));
    return 1;
}

double CadDistWinToModel(QWidget* window, double pixels) {
    CadView* v = ViewOf(window);
    return v ? pixels / v->Xform().scale : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Rubber band drawing

void CadDrawAddVertex(double x, double y, double z) {
    RubberVertices().push_back({x, y, z});
}

void CadDrawPolyline(int closed) {
    std::vector<Vec3> v;
    v.swap(RubberVertices());
    if (!g_rubberPainter || v.size() < 2)
        return;
    QPolygonF poly;
    for (const Vec3& p : v)
        poly.append(QPointF(g_rubberXf.X(p.x), g_rubberXf.Y(p.y)));
    if (closed)
        g_rubberPainter->drawPolygon(poly);
    else
        g_rubberPainter->drawPolyline(poly);
}
