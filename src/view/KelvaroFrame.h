// A project window: a tab of the main window's project area holding the project's view. Closing
// it is refused while a command or a worker runs; otherwise a project with an edited drawing or
// DEM is marked modified, the operator is asked whether to save it, and the project closes.
#pragma once

#include <QMdiSubWindow>

class CKelvaroDoc;
class CKelvaroView;
class QMdiArea;

class CKelvaroFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    // The window with a new view of the document; not yet shown.
    explicit CKelvaroFrame(CKelvaroDoc* document, QWidget* parent = nullptr);

    CKelvaroView* GetView() const { return m_pView; }
    // The first open project whose first view lives in this window; null when none.
    CKelvaroDoc* FindDocument() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateTitle();

    CKelvaroView* m_pView;
};

// Opens a project window for the document in the project area, makes it the active window and
// runs the view's initial update. The window is the first command target while it is active.
CKelvaroFrame* CreateProjectWindow(CKelvaroDoc* document, QMdiArea* area);
