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
    // extents and leaves the drawing clean: a project just opened is not modified. Until the
    // operator moves or zooms the view, every resize shows the extents again, so that a project
    // opened before its window has its final size fills the view once sized.
    void OnInitialUpdate() override;

    // A project window that is not maximized opens at this size.
    QSize sizeHint() const override { return QSize(640, 480); }

    // The drawing window; null before the initial update and after destruction.
    QWidget* GetCadWindow() const { return m_hCadWnd.data(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Zooms to the drawing's extents and remembers the view it gave.
    void ZoomToExtents();
    // Whether the drawing window still shows the view the last zoom to the extents gave.
    bool ShowsFittedView() const;

    QPointer<QWidget> m_hCadWnd;
    // Set while the view follows its size with the drawing's extents.
    bool m_bFitExtents = false;
    // Centre and model size of one pixel of the view the last fit gave.
    double m_fitX = 0.0, m_fitY = 0.0, m_fitPixel = 0.0;
};
