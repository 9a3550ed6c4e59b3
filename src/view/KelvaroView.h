// The plan view of a project: it paints nothing itself but carries the CAD engine's drawing
// window for the project's drawing over its whole area, from the initial update until it is
// destroyed. Right clicks and context menus belong to the engine.
#pragma once

#include <QPointer>

#include "document/DocView.h"

class CKelvaroView : public CView {
    Q_OBJECT
public:
    explicit CKelvaroView(CKelvaroDoc* document, QWidget* parent = nullptr);
    ~CKelvaroView() override;

    // Creates the drawing window over the view, gives it the focus, zooms to the drawing's
    // extents and leaves the drawing clean: a project just opened is not modified.
    void OnInitialUpdate() override;

    // A project window that is not maximized opens at this size.
    QSize sizeHint() const override { return QSize(640, 480); }

    // The drawing window; null before the initial update and after destruction.
    QWidget* GetCadWindow() const { return m_hCadWnd.data(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<QWidget> m_hCadWnd;
};
