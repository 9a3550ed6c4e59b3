#include "document/DocView.h"

#include <QMdiSubWindow>

#include "document/KelvaroDoc.h"

CView::CView(CKelvaroDoc* document, QWidget* parent) : QWidget(parent), m_pDocument(document) {
    if (document) {
        document->AddView(this);
    }
}

CView::~CView() {
    if (m_pDocument) {
        m_pDocument->RemoveView(this);
    }
}

CKelvaroDoc* CView::GetDocument() const {
    return m_pDocument.data();
}

QWidget* CView::GetParentFrame() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (qobject_cast<QMdiSubWindow*>(w)) {
            return w;
        }
    }
    return window();
}
