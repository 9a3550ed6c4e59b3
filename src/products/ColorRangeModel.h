// The geometry of a classification editor, without a window: the value range of a map laid over a
// strip W pixels wide, cut into columns, one per value range (class). Each column's width is
// proportional to its range; its left edge gives the class's lower limit and its right edge the
// upper one. After every change the class entries of the bound palette are rewritten from the
// columns and the change callback runs, so that the map is drawn with the new classes at once.
//
// The list control (CHeaderColorListCtrl) shows these columns in its header and hands the
// operator's drags, clicks and menu commands to this model.
//
// Widths come in two kinds: the current ones (what the header shows, changed by a drag) and the
// stored ones (the last accepted). A change that would leave a column narrower than kMinWidth
// pixels goes back to the stored widths.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "controls/ColorRef.h"
#include "raster/AGColors.h"

class ColorRangeModel {
public:
    static constexpr int kMinWidth = 5;

    // An entry of the context menu: its command id and text; id 0 is a separator.
    struct MenuItem {
        int id = 0;
        QString text;
    };
    enum : int {
        ID_ADD_RANGE = 10000,
        ID_REMOVE_RANGE = 10001,
        ID_CHANGE_COLOR = 10002,
        ID_VIEW_ONLY = 10003,
        ID_VIEW_ALL = 10004,
        ID_ADD_THRESHOLD = 10005,
    };

    // Binds the palette the columns are written to (null: none) and the callback that runs after
    // every rewrite; W becomes the given width.
    void Bind(CAGColors* palette, std::function<void()> changed, int width);
    CAGColors* Palette() const { return m_palette; }

    // The value range the strip spans (32-bit floats, as the classes store them).
    void SetRange(float minimum, float maximum);
    float Minimum() const { return m_min; }
    float Maximum() const { return m_max; }
    int Width() const { return m_W; }

    // The value at pixel x: 0 when the range or W is empty; min at or left of 0, max at or right
    // of W, linear between.
    double PixelToValue(int x) const;
    // The pixel of a value: 0 when the range or W is empty or the value is not above min, W at or
    // above max, otherwise truncated toward zero.
    int ValueToPixel(double value) const;

    int Count() const { return static_cast<int>(m_widths.size()); }
    const std::vector<int>& Widths() const { return m_widths; }
    const std::vector<int>& StoredWidths() const { return m_stored; }
    const std::vector<COLORREF>& Colors() const { return m_colors; }
    // The left edge of a column in pixels (the sum of the current widths before it).
    int LeftEdge(int column) const;
    // The column's header text: the value at its left edge, "%.3lf".
    QString HeaderText(int column) const;
    // True while a class of the palette is hidden.
    bool AnyHidden() const;

    // Deletes every column (no palette rewrite).
    void DeleteAllColumns();
    // Splits the column under pixel x (x < 0: appends a column and spreads all evenly). Returns
    // the new column's index, -1 without a palette or when x lies at or past the strip's end.
    int InsertRangeAtPixel(int x);
    // The same split at the pixel of the value.
    int InsertRangeAtValue(double value);
    // Takes a width the header reports for a column (the operator dragged a divider).
    void SetColumnWidth(int column, int width);
    // Makes the widths fill W again after column `changed` moved: the column after it (or the last
    // one) takes up the difference; a width under kMinWidth brings back the stored widths. Then
    // the palette is rewritten.
    void NormalizeColumnWidths(int changed);
    // The palette as it would be with the right divider of column `index` at pixel x (the columns
    // themselves stay): the map follows a divider while it is dragged.
    void TrackDivider(int index, int x);
    // Rewrites the palette's class entries from the columns: limits from the edges (of the given
    // widths, else the current ones), colours from the columns; texts and visible flags stay when
    // the palette held one entry per column (flags given override them), otherwise all entries
    // are new, visible and without texts. Then the change callback.
    void UpdatePaletteFromColumns(const std::vector<int>* widths = nullptr,
                                  const std::vector<int>* visible = nullptr);

    // Splits the column under pixel x, or appends a column when there is no x (x < 0); then
    // normalises and recolours every column along the palette's ramp. 0 without a palette or when
    // nothing was split.
    int AddRange(int x = -1);
    // Splits at the pixel of the entry's lower limit; the new class takes the entry's texts; then
    // normalises and recolours. 0 when nothing was split (a value at or past max).
    int AddThresholdRange(const ColorClassEntry& entry);
    // Deletes the column and gives the others W / count each; with normalise, the widths fill W
    // and the palette is rewritten with one entry fewer.
    void RemoveRange(int index, bool normalise);
    // Rebuilds the columns from the palette's class entries: column i spans from the pixel of
    // entry i - 1's upper limit (0 for the first) to the pixel of its own, in its colour.
    void SetColors(const CAGColors& palette);
    // Sets one column's colour and rewrites the palette.
    void SetRangeColor(int index, COLORREF color);
    // Only that column's class visible, or all of them.
    void ShowOnlyRange(int index);
    void ShowAllRanges();
    // Every width times the factor, truncated; refused (false, nothing changed, W kept) when a
    // width would fall under kMinWidth. Otherwise W becomes newWidth. The palette is not
    // rewritten.
    bool ScaleColumnWidths(double factor, int newWidth);
    // The column whose right edge is the first beyond x; -1 past the last or while the stored
    // widths do not match the columns.
    int ColumnAtPixel(int x) const;

    // The context menu for a right click at pixel x.
    std::vector<MenuItem> ContextMenuItems(int x) const;

private:
    // Recolours every column with colour i of a ramp of Count() colours of the palette's settings
    // and rewrites the palette.
    void RecolourAll();
    int InsertAt(int x, float provisionalLower, const ColorClassEntry* texts);

    CAGColors* m_palette = nullptr;
    std::function<void()> m_changed;
    int m_W = 0;
    float m_min = 0.0f;
    float m_max = 0.0f;
    std::vector<int> m_widths;
    std::vector<int> m_stored;
    std::vector<COLORREF> m_colors;
};
