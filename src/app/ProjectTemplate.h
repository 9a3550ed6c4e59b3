// The project template: how the application creates, opens and closes projects. Start-up installs
// the program's own (CKelvaroDocTemplate) unless another was set before (CKelvaroApp::
// SetProjectTemplate).
#pragma once

#include <QString>

class CProjectTemplate {
public:
    virtual ~CProjectTemplate() = default;

    // Opens the project file in a new project window. On failure the template has told the
    // operator why. Non-zero on success.
    virtual int OpenDocumentFile(const QString& path) = 0;
    // Creates an empty project in a new project window. Non-zero on success.
    virtual int NewDocument() = 0;
    // Before the program closes: marks projects with unsaved drawings or DEMs as modified and
    // asks to save each modified one. 0 when the operator cancels the close.
    virtual int SaveAllModified() = 0;
    // Closes every project without asking.
    virtual void CloseAllDocuments() = 0;
};
