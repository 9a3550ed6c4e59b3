// A report-style list: rows of texts and small images under a header, with a colour record per
// row (a text and a background colour for every cell), a caller pointer per row, check-box clicks
// that select the row and tell the owner, and header clicks that sort the rows by the clicked
// column. The comparison recognises hexadecimal numbers, decimal numbers with an optional
// trailing "%", dates and plain text, in that order.
//
// Cells are not edited in place: EndEdit finds no open editor and returns 0.
#pragma once

#include <QList>
#include <QPixmap>
#include <QTreeWidget>
#include <vector>

#include "controls/ColorRef.h"

class CReportCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CReportCtrl(QWidget* parent = nullptr);

    // Columns.
    int InsertColumn(int column, const QString& heading, int width = -1);
    int GetColumnCount() const { return columnCount(); }

    // Rows. InsertItem returns the new row's index, -1 when it cannot insert; it also forgets the
    // sort column, so the next header click sorts ascending.
    int InsertItem(int row, const QString& text);
    int GetItemCount() const { return topLevelItemCount(); }
    // Removes every row with its record; returns the number of rows removed.
    int DeleteAllItems();
    QString GetItemText(int row, int column) const;
    int SetItemText(int row, int column, const QString& text);
    // Images are indices into the image list of SetImageListFromBitmap; -1 shows none.
    int SetItemImage(int row, int column, int image);
    int GetItemImage(int row, int column) const;
    // Check boxes in the first column.
    void SetCheckboxes(bool on);
    int GetCheck(int row) const;
    int SetCheck(int row, bool checked);

    // The row's colour record: the window-text and window colours for every present column.
    // A caller pointer already stored with the row is kept.
    void InitItemColors(int row);
    // After a column was inserted: the default colours at that position in every row's record.
    void InsertColumnColors(int column);
    // Every row's record back to the default colours, one entry per present column.
    void ResetColumnColors();
    // The text colour of the row's first column; a row outside the list sets every row.
    void SetItemTextColor(int row, COLORREF color);
    COLORREF GetItemTextColor(int row, int column) const;
    COLORREF GetItemBkColor(int row, int column) const;

    // The caller's pointer kept with the row (the raster calculator keeps the row's dataset).
    void SetRowDataPointer(int row, void* data);
    void SetItemDataPtr(int row, void* data) { SetRowDataPointer(row, data); }
    void* GetItemDataPtr(int row) const;

    // Replaces the image list with the images of the report bitmap, 16 pixels wide, black masked.
    void SetImageListFromBitmap();
    const QList<QPixmap>& ImageList() const { return m_images; }

    // Sorts every row by the column's texts; does nothing for a column outside the list or when
    // the header cannot be clicked. Tells the owner through Sorted.
    virtual void SortItems(int column, bool ascending);
    int GetSortColumn() const { return m_nSortColumn; }
    bool IsSortAscending() const { return m_bSortAscending; }
    // Ends an in-place edit; returns non-zero when a cell's text changed.
    int EndEdit(bool commit = true);

    // The sort comparison of two cell texts: negative, 0 or positive.
    static int CompareTexts(const QString& a, const QString& b);

signals:
    // A click changed the row's check box (the button and whether it was a double click).
    void CheckChangedByClick(int row, Qt::MouseButton button, bool doubleClick);
    // The rows were sorted by the column (ascending 1, descending 0).
    void Sorted(int column, int ascending);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class Row;
    friend class Row;

    Row* RowAt(int row) const;
    void OnColumnClick(int column);
    void SortRange(int first, int last);
    void TrackCheck(QMouseEvent* event);
    COLORREF DefaultTextColor() const;
    COLORREF DefaultBkColor() const;

    QList<QPixmap> m_images;
    bool m_bCheckboxes = false;
    int m_nSortColumn = -1;
    bool m_bSortAscending = true;
    Qt::MouseButton m_lastButton = Qt::NoButton;
    bool m_bLastDouble = false;
};
