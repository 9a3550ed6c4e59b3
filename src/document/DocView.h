// The base of a project's views: a widget that shows one document and lives in a project window.
// The document keeps the list of its views; a view leaves that list when it is destroyed.
#pragma once

#include <QPointer>
#include <QWidget>

class CKelvaroDoc;

class CView : public QWidget {
    Q_OBJECT
public:
    // Joins the document's views.
    explicit CView(CKelvaroDoc* document, QWidget* parent = nullptr);
    ~CView() override;

    // Null once the document is gone.
    CKelvaroDoc* GetDocument() const;
    // The project window that holds the view (the nearest sub-window of the main window's
    // project area), or the view's top-level window when it stands alone.
    QWidget* GetParentFrame() const;

    // Runs once the document has been created or read, before the view is first used.
    virtual void OnInitialUpdate() {}

private:
    QPointer<CKelvaroDoc> m_pDocument;
};
