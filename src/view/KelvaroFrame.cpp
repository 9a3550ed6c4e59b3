#include "view/KelvaroFrame.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>

#include "document/KelvaroDoc.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/MainWindowService.h"
#include "view/KelvaroView.h"

CKelvaroFrame::CKelvaroFrame(CKelvaroDoc* document, QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName(QStringLiteral("KelvaroFrame"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_pView = new CKelvaroView(document, this);
    setWidget(m_pView);
    if (document) {
        connect(document, &CKelvaroDoc::TitleChanged, this, &CKelvaroFrame::UpdateTitle);
    }
    // The active project receives the ribbon's commands first.
    connect(this, &QMdiSubWindow::aboutToActivate, this, [this] {
        if (CKelvaroDoc* doc = m_pView->GetDocument()) {
            kv::SetCommandTarget(doc);
        }
    });
    UpdateTitle();
}

CKelvaroDoc* CKelvaroFrame::FindDocument() const {
    for (CKelvaroDoc* doc : CKelvaroDoc::GetOpenDocuments()) {
        CView* view = doc->GetFirstView();
        if (view && view->GetParentFrame() == this) {
            return doc;
        }
    }
    return nullptr;
}

void CKelvaroFrame::UpdateTitle() {
    if (CKelvaroDoc* doc = m_pView->GetDocument()) {
        setWindowTitle(doc->GetTitle() + QStringLiteral("[*]"));
        setWindowModified(doc->IsModified() != 0);
    }
}

void CKelvaroFrame::closeEvent(QCloseEvent* event) {
    if (kv::RefuseCloseWhileBusy()) {
        event->ignore();
        return;
    }
    CKelvaroDoc* doc = FindDocument();
    if (!doc) {
        event->accept();
        return;
    }
    doc->MarkModifiedIfEdited();
    if (!doc->CanCloseFrame(this)) {
        event->ignore();
        return;
    }
    event->accept();
    doc->OnCloseDocument();
}

CKelvaroFrame* CreateProjectWindow(CKelvaroDoc* document, QMdiArea* area) {
    auto* frame = new CKelvaroFrame(document);
    if (area) {
        area->addSubWindow(frame);
    }
    // Project windows open maximized, as tabbed windows show.
    frame->showMaximized();
    if (area) {
        area->setActiveSubWindow(frame);
    }
    kv::SetCommandTarget(document);
    // The view gets its place in the window now, so that the drawing window starts at its size.
    if (frame->layout()) {
        frame->layout()->activate();
    }
    frame->GetView()->OnInitialUpdate();
    return frame;
}
