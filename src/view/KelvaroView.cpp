#include "view/KelvaroView.h"

#include <QResizeEvent>

#include <algorithm>
#include <cmath>

#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"

CKelvaroView::CKelvaroView(CKelvaroDoc* document, QWidget* parent) : CView(document, parent) {
    setObjectName(QStringLiteral("KelvaroView"));
    setMinimumSize(1, 1);
}

CKelvaroView::~CKelvaroView() {
    if (m_hCadWnd) {
        CadWndDestroy(m_hCadWnd);
    }
}

void CKelvaroView::OnInitialUpdate() {
    CKelvaroDoc* doc = GetDocument();
    if (!doc || m_hCadWnd) {
        return;
    }
    const QRect client = rect();
    // One pixel wider and taller than the view; the first resize fits it exactly.
    m_hCadWnd =
        CadWndCreate(doc->m_pCad, this, client.left(), client.top(), client.width() + 1, client.height() + 1);
    if (!m_hCadWnd) {
        return;
    }
    CadWinSetFocus(m_hCadWnd);
    ZoomToExtents();
    m_bFitExtents = true;
    CadPutDirty(doc->m_pCad, 0);
}

void CKelvaroView::ZoomToExtents() {
    CKelvaroDoc* doc = GetDocument();
    if (!doc || !m_hCadWnd) {
        return;
    }
    CadExecute(doc->m_pCad, m_hCadWnd, CAD_CMD_ZOOM_EXTENTS);
    double left = 0.0, bottom = 0.0, right = 0.0, top = 0.0;
    CadGetViewRect(m_hCadWnd, &left, &bottom, &right, &top);
    m_fitX = (left + right) * 0.5;
    m_fitY = (bottom + top) * 0.5;
    m_fitPixel = (right - left) / std::max(1, m_hCadWnd->width());
}

bool CKelvaroView::ShowsFittedView() const {
    double left = 0.0, bottom = 0.0, right = 0.0, top = 0.0;
    if (!m_hCadWnd || !CadGetViewRect(m_hCadWnd, &left, &bottom, &right, &top)) {
        return false;
    }
    // Resizing keeps the centre and the scale; a pan or a zoom changes one of them.
    const double pixel = (right - left) / std::max(1, m_hCadWnd->width());
    const double tolerance = 1e-9 * std::max(1.0, std::abs(m_fitPixel));
    return std::abs(pixel - m_fitPixel) <= tolerance &&
           std::abs((left + right) * 0.5 - m_fitX) <= m_fitPixel * 1e-3 &&
           std::abs((bottom + top) * 0.5 - m_fitY) <= m_fitPixel * 1e-3;
}

void CKelvaroView::resizeEvent(QResizeEvent* event) {
    CView::resizeEvent(event);
    if (!m_hCadWnd) {
        return;
    }
    // Checked before the resize, which keeps centre and scale but changes the width.
    const bool fitted = m_bFitExtents && ShowsFittedView();
    CadWndResize(m_hCadWnd, 0, 0, event->size().width(), event->size().height());
    if (!fitted) {
        m_bFitExtents = false;
        return;
    }
    CKelvaroDoc* doc = GetDocument();
    const int dirty = doc ? CadGetDirty(doc->m_pCad) : 0;
    ZoomToExtents();
    // Showing the drawing at a new size changes nothing in it.
    if (doc) {
        CadPutDirty(doc->m_pCad, dirty);
    }
}
