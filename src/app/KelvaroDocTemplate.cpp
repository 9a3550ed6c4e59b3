#include "app/KelvaroDocTemplate.h"

#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>

#include "analysis/AnalysisCommands.h"
#include "app/KelvaroApp.h"
#include "app/MainFrm.h"
#include "demtools/DemToolsCommands.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "layout/LayoutCommands.h"
#include "mosaic/MosaicCommands.h"
#include "products/ProductsCommands.h"
#include "view/CadEventProcs.h"
#include "view/KelvaroFrame.h"

void ConnectProjectParts() {
    SetCadEventInstaller(RegisterDocumentEventProcs);
    CommandRegistry& registry = GetCommandRegistry();
    RegisterDemToolsCommands(registry);
    RegisterAnalysisCommands(registry);
    RegisterMosaicCommands(registry, GetDocumentProcedures());
    RegisterProductsCommands(registry);
    RegisterLayoutCommands(GetDocumentProcedures());
}

QMdiArea* CKelvaroDocTemplate::ProjectArea() {
    CKelvaroApp* app = CKelvaroApp::Instance();
    return app && app->GetMainFrame() ? app->GetMainFrame()->GetMDIArea() : nullptr;
}

int CKelvaroDocTemplate::OpenDocumentFile(const QString& path) {
    const QString wanted = QFileInfo(path).absoluteFilePath();
    // A project that is open already comes to the front.
    for (CKelvaroDoc* doc : CKelvaroDoc::GetOpenDocuments()) {
        if (!doc->GetPathName().isEmpty() && QFileInfo(doc->GetPathName()).absoluteFilePath() == wanted) {
            CView* view = doc->GetFirstView();
            auto* frame = view ? qobject_cast<QMdiSubWindow*>(view->GetParentFrame()) : nullptr;
            if (frame && ProjectArea()) {
                ProjectArea()->setActiveSubWindow(frame);
            }
            return 1;
        }
    }
    QMdiArea* area = ProjectArea();
    if (!area) {
        return 0;
    }
    auto* doc = new CKelvaroDoc();
    if (!doc->OnOpenDocument(wanted)) {
        delete doc;
        return 0;
    }
    doc->SetPathName(wanted);
    doc->SetModifiedFlag(0);
    CreateProjectWindow(doc, area);
    return 1;
}

int CKelvaroDocTemplate::NewDocument() {
    QMdiArea* area = ProjectArea();
    if (!area) {
        return 0;
    }
    auto* doc = new CKelvaroDoc();
    doc->SetTitle(QStringLiteral("Kelvaro%1").arg(++m_nUntitledCount));
    if (!doc->OnNewDocument()) {
        delete doc;
        return 0;
    }
    CreateProjectWindow(doc, area);
    return 1;
}

int CKelvaroDocTemplate::SaveAllModified() {
    const QList<CKelvaroDoc*> documents = CKelvaroDoc::GetOpenDocuments();
    for (CKelvaroDoc* doc : documents) {
        doc->MarkModifiedIfEdited();
        if (!doc->SaveModified()) {
            return 0;
        }
    }
    return 1;
}

void CKelvaroDocTemplate::CloseAllDocuments() {
    const QList<CKelvaroDoc*> documents = CKelvaroDoc::GetOpenDocuments();
    for (CKelvaroDoc* doc : documents) {
        doc->OnCloseDocument();
    }
}
