// One DEM edit's saved window: the cells before and after the edit in a two-band Float32 GeoTIFF
// (extension "demundo", no data -9999) in this process's undo folder, so that the history costs
// no memory however large the edited windows are. Band 1 holds the cells before the edit, band 2
// the cells after it; cells of the window that the edit did not touch hold -10000 in both (an edit
// that changes few cells may leave its unchanged cells at -10000 too, and compress the file, whose
// no data is then -10000 and whose tiles of -10000 alone are left out).
// Metadata: "TL_X" and "TL_Y", the window's top-left cell in the DEM grid, and for an outline
// record "AOI_NVERS" and "AOI_VER_<i>_X" / "AOI_VER_<i>_Y", the outline's vertices relative to the
// window. Applying a record writes back exactly the cells the edit touched: those inside the
// outline (when the record has one) where either band holds something other than -10000.
#pragma once

#include <opencv2/core.hpp>

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class CDEM;
class CKelvaroDoc;
class ProgressSink;

// Finds the DEM layer with the serial number (CDEM::m_serial) among the document's layers, or
// answers nullptr when no layer has it any more.
using DemUndoLookup = std::function<CDEM*(uint64_t serial)>;

// A cell of the window that the edit did not touch; distinct from no data.
inline constexpr float kUndoUntouched = -10000.0f;

class CUndoDEM {
public:
    // An empty record that applies to nothing.
    CUndoDEM() = default;
    // Outline form: before and after are single-channel Float32 images of the window whose top-left
    // cell in the grid is topLeft, each holding -10000 where the edit does not reach; the outline's
    // vertices are relative to the window and bound the cells that come back on applying. The
    // record is refused (IsValid() 0, no file) unless the DEM and both images of equal size are
    // given, or when the file cannot be written.
    CUndoDEM(CDEM* dem, CKelvaroDoc* doc, const cv::Mat& before, const cv::Mat& after, cv::Point topLeft,
             std::vector<cv::Point> outline, ProgressSink* progress = nullptr);
    // The cells of a block of the window (relative to its top-left) before and after the edit.
    using BlockCells = std::function<void(const cv::Rect& block, cv::Mat& before, cv::Mat& after)>;
    // Outline form with the window's cells made block by block, so that an edit that changes few
    // cells of a large window needs no image of the whole window: the same file as the images of
    // those blocks give. Refused unless the DEM, a window and the blocks are given, or when a
    // block is not two single-channel Float32 images of the block's size. With fewCells (blocks
    // that hold -10000 nearly everywhere) the file is compressed, which makes it a fraction of
    // the window's size at less cost than writing the window's cells uncompressed.
    CUndoDEM(CDEM* dem, CKelvaroDoc* doc, cv::Size window, const BlockCells& cells, cv::Point topLeft,
             std::vector<cv::Point> outline, ProgressSink* progress = nullptr, bool fewCells = false);
    // Region form, which also performs the edit: the mask is 8-bit and two cells wider and higher
    // than the grid (cell (c + 1, r + 1) stands for grid cell (c, r)); every grid cell of the
    // rectangle under the mask is set to the value. The cells are saved first: the edit is made
    // only once the file is written. Refused unless the DEM's grid is in memory and the mask has
    // that size.
    CUndoDEM(CDEM* dem, CKelvaroDoc* doc, const cv::Mat& mask, const cv::Rect& rect, float value,
             ProgressSink* progress = nullptr);
    CUndoDEM(const CUndoDEM& other) { Copy(other); }
    CUndoDEM& operator=(const CUndoDEM& other) {
        Copy(other);
        return *this;
    }
    // The file stays on disk: it belongs to whichever copy of the record the history keeps.
    virtual ~CUndoDEM() = default;

    // Takes DEM, document and path of the other record; the file is shared, not duplicated.
    virtual void Copy(const CUndoDEM& other);

    // 1 when the record's file was written.
    int IsValid() const { return m_path.isEmpty() ? 0 : 1; }
    // Writes band 1 (undo) or band 2 (redo) of the file back into the DEM that the lookup finds.
    // 0, and nothing changed, when the DEM is gone or its image place erased, the file cannot be
    // read, or the window misses the grid.
    int Apply(int band, ProgressSink* progress, const DemUndoLookup& lookup) const;
    // Removes the record's file.
    void DeleteFile() const;

    // Serial number of the DEM the record restores (0: none).
    uint64_t m_demSerial = 0;
    // The document that owned the DEM when the record was made; not owned.
    CKelvaroDoc* m_pDoc = nullptr;
    // The record's undo file; empty for a refused record.
    QString m_path;

private:
    void WriteOutlineRecord(CDEM* dem, cv::Size window, const BlockCells& cells, cv::Point topLeft,
                            const std::vector<cv::Point>& outline, ProgressSink* progress, bool compress);
};

// File name of an undo record: "<layer>_<yyyymmdd>-<hhmmss>_<number>.demundo".
QString DemUndoFileName(const QString& layerName, const QDateTime& when, int number);
