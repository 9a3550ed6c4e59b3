// The editor of a classification: a list whose only visible part is its header, one column per
// value range (class) of a thematic map. The header spans the map's value range from its minimum
// at the left edge to its maximum at the right edge; each column's text is the value at its left
// edge and its background the class colour.
//
// The operator drags dividers to move range bounds (the map follows while dragging), holds the
// left button on a range to see that range alone on the map, reads the value under the cursor in
// a small tooltip window and manages the ranges with the context menu of the right button. The
// geometry and the palette rewrites are those of ColorRangeModel; this control shows the model's
// columns in its header and turns the header's events into model operations.
//
// Header events: a resized section (the operator's drag) normalises the widths; a press on a
// divider starts tracking it and shows every range, the release ends it.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QTableWidget>

#include <functional>
#include <vector>

#include "controls/ColorHeaderCtrl.h"
#include "controls/TooltipDlg.h"
#include "products/ColorRangeModel.h"

class CMapData;

class CHeaderColorListCtrl : public QTableWidget {
    Q_OBJECT
public:
    // The tooltip window's background.
    static constexpr COLORREF kTooltipColor = 0x75E8EC;

    explicit CHeaderColorListCtrl(QWidget* parent = nullptr);
    ~CHeaderColorListCtrl() override;

    // Binds the map (whose palette the control rewrites), the change callback and the owner; W
    // becomes the control's width. With an owner the hidden tooltip window is made.
    void Init(CMapData* map, std::function<void()> changed, QWidget* owner);
    void SetRange(float minimum, float maximum);
    // Deletes every column without rewriting the palette.
    void DeleteAllColumns();

    // The operations of ColorRangeModel, shown in the header afterwards. AddRange splits the
    // range under the client point, or appends one without a point.
    int AddRange(const QPoint* point = nullptr);
    int AddThresholdRange(const ColorClassEntry& entry);
    void RemoveRange(int index, bool normalise);
    // Rebuilds the columns from the palette's classes.
    void SetColors(const CAGColors& palette);
    // Sets a range's colour; without one the colour dialog asks (Cancel: nothing changes).
    void SetRangeColor(int index, const COLORREF* color = nullptr);
    void ShowOnlyRange(int index);
    void ShowAllRanges();
    bool ScaleColumnWidths(double factor, int newWidth);
    // Rescales the columns to the control's present width.
    void OnResize();
    int ColumnAtPixel(int x) const { return m_model.ColumnAtPixel(x); }

    // A right click at the client point: remembers the point and the column under it (0 beyond
    // the last) and answers the menu to show.
    std::vector<ColorRangeModel::MenuItem> ContextMenuAt(const QPoint& client);
    // Runs a command of the context menu on the remembered point and column.
    void OnContextCommand(int id);
    void OnAddRangeHere();
    void OnAddThresholdByValue();
    void OnChangeRangeColor();
    void OnViewThisRangeOnly();
    void OnViewAll();
    void OnRemoveThisRange();

    void HideTooltip();
    CTooltipDlg* Tooltip() const { return m_pTooltip; }
    CColorHeaderCtrl* Header() const { return m_pHeader; }
    const ColorRangeModel& Model() const { return m_model; }
    int TrackedDivider() const { return m_nTrackedDivider; }
    bool IsPressed() const { return m_bPressed; }

    // The header's mouse handling, public so that tests can send what a mouse would: a left press
    // on a divider begins tracking it, elsewhere it shows that range alone; a move follows a
    // tracked divider and moves the tooltip; the release shows every range again.
    void OnLeftButtonDown(const QPoint& client);
    void OnLeftButtonUp();
    void OnMouseMove(const QPoint& client, const QPoint& global);
    // The divider under the client point (the index of the column to its left), -1 when none.
    int DividerAt(const QPoint& client) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the model's columns: count, widths, texts and colours, without header notifications.
    void SyncColumns();
    void OnSectionResized(int logicalIndex, int oldSize, int newSize);

    CColorHeaderCtrl* m_pHeader = nullptr;
    ColorRangeModel m_model;
    CMapData* m_pMap = nullptr;
    QWidget* m_pOwner = nullptr;
    QPointer<CTooltipDlg> m_pTooltip;
    bool m_bUpdating = false;
    int m_nTrackedDivider = -1;
    bool m_bPressed = false;
    QPoint m_menuPoint;
    int m_nMenuColumn = 0;
    int m_nLastScreenX = -1;
};
