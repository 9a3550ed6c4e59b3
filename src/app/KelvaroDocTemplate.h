// The project template of the program: a project document shown in a project window with its
// plan view, inside the main window's project area.
#pragma once

#include "app/ProjectTemplate.h"

class QMdiArea;

class CKelvaroDocTemplate : public CProjectTemplate {
public:
    int OpenDocumentFile(const QString& path) override;
    int NewDocument() override;
    int SaveAllModified() override;
    void CloseAllDocuments() override;

private:
    // The main window's project area; null before the main window exists.
    static QMdiArea* ProjectArea();

    // New projects are called "Kelvaro1", "Kelvaro2" ... until they are saved.
    int m_nUntitledCount = 0;
};

// Connects the parts of a project that the layers below the application cannot reach: the plan
// view's CAD event procedures, the command and document procedures of every tool folder and the
// map tools' windows. Called once at start-up; calling it again changes nothing.
void ConnectProjectParts();
