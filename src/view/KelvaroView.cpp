#include "view/KelvaroView.h"

#include <QResizeEvent>

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
    CadExecute(doc->m_pCad, m_hCadWnd, CAD_CMD_ZOOM_EXTENTS);
    CadPutDirty(doc->m_pCad, 0);
}

void CKelvaroView::resizeEvent(QResizeEvent* event) {
    CView::resizeEvent(event);
    if (m_hCadWnd) {
        CadWndResize(m_hCadWnd, 0, 0, event->size().width(), event->size().height());
    }
}
