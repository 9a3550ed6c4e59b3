#include "document/undo/UndoDEM.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cpl_string.h>
#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/cad/Cad.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/GdalFailures.h"
#include "platform/ui/DemUndoFolder.h"
#include "raster/BlockWalk.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

const char* const kCaption = "Saving DEM...";
// Attempts to find a file name that no earlier record uses.
constexpr int kNameAttempts = 100;

// A path in the undo folder for a new record of the layer that names no existing file; empty
// when the folder cannot be had.
QString NewUndoFilePath(const QString& layerName) {
    QString folder = GetDemUndoFolder();
    if (folder.isEmpty()) {
        return QString();
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        int number = static_cast<int>(QRandomGenerator::global()->bounded(1000000u));
        QString path = folder + DemUndoFileName(layerName, now, number);
        if (!QFileInfo::exists(path)) {
            return path;
        }
    }
    return QString();
}

// Writes one undo file: two Float32 bands with no data -9999, block by block, and the metadata.
// A file that is not finished is removed.
class UndoFileWriter {
public:
    // compress: for files that are nearly all -10000, Zstandard at its fastest level, each band
    // stored on its own so that the runs of -10000 are not broken by the other band's cells, in
    // small tiles of which those that hold -10000 alone are not stored at all: their no data is
    // -10000, which they read as.
    UndoFileWriter(const QString& layerName, cv::Size size, bool compress = false) {
        m_path = NewUndoFilePath(layerName);
        GDALDriverH gtiff = GDALGetDriverByName("GTiff");
        if (m_path.isEmpty() || !gtiff ||
            !kv::RasterFitsOnDisk(m_path, size.width, size.height, 2, GDT_Float32)) {
            return;
        }
        char** options = nullptr;
        if (compress) {
            options = CSLSetNameValue(options, "COMPRESS", "ZSTD");
            options = CSLSetNameValue(options, "ZSTD_LEVEL", "1");
            options = CSLSetNameValue(options, "INTERLEAVE", "BAND");
            options = CSLSetNameValue(options, "TILED", "YES");
            options = CSLSetNameValue(options, "BLOCKXSIZE", "128");
            options = CSLSetNameValue(options, "BLOCKYSIZE", "128");
            options = CSLSetNameValue(options, "SPARSE_OK", "TRUE");
        }
        m_dataset = GDALCreate(gtiff, QFile::encodeName(m_path).constData(), size.width, size.height, 2,
                               GDT_Float32, options);
        CSLDestroy(options);
        if (!m_dataset) {
            kv::RemoveRasterFile(m_path);
            return;
        }
        for (int band = 1; band <= 2; ++band) {
            if (GDALSetRasterNoDataValue(GDALGetRasterBand(m_dataset, band),
                                         compress ? kUndoUntouched : kNoData) != CE_None) {
                m_ok = false;
            }
        }
    }
    ~UndoFileWriter() { Finish(); }
    UndoFileWriter(const UndoFileWriter&) = delete;
    UndoFileWriter& operator=(const UndoFileWriter&) = delete;

    bool Ok() const { return m_dataset && m_ok; }

    // Writes a Float32 block at the window of the band.
    bool WriteBlock(int band, const cv::Mat& block, const cv::Rect& window) {
        if (!Ok()) {
            return false;
        }
        m_ok = GDALRasterIOEx(GDALGetRasterBand(m_dataset, band), GF_Write, window.x, window.y, window.width,
                              window.height, const_cast<uchar*>(block.data), block.cols, block.rows,
                              GDT_Float32, static_cast<GSpacing>(block.elemSize()),
                              static_cast<GSpacing>(block.step), nullptr) == CE_None;
        return m_ok;
    }

    // Writes both bands of a window of the given size block by block; make(window, before, after)
    // gives the two blocks of a window. The progress advances before each band's block and, when
    // stepToMake, also before the blocks are made. Each row of blocks goes to the file once it is
    // written, so that GDAL's cache holds one row of blocks and not the whole file.
    template <typename F>
    void WriteBands(cv::Size size, ProgressSink* progress, bool stepToMake, F&& make) {
        kv::BlockProgress steps(progress, (stepToMake ? 3 : 2) * kv::BlockCount(size.width, size.height),
                                QString::fromLatin1(kCaption));
        int done = 0;
        kv::ForEachBlock(size.width, size.height, [&](const cv::Rect& window, int) {
            if (stepToMake) {
                steps.Step(++done);
            }
            cv::Mat before;
            cv::Mat after;
            make(window, before, after);
            if (before.type() != CV_32FC1 || after.type() != CV_32FC1 || before.size() != window.size() ||
                after.size() != window.size()) {
                m_ok = false;
                return false;
            }
            steps.Step(++done);
            if (!WriteBlock(1, before, window)) {
                return false;
            }
            steps.Step(++done);
            return WriteBlock(2, after, window) && (window.br().x < size.width || Flush());
        });
    }

    // Writes what GDAL holds of the file and lets it go.
    bool Flush() {
        kv::GdalFailureWatch watch;
        GDALFlushCache(m_dataset);
        m_ok = m_ok && !watch.Failed();
        return m_ok;
    }

    void SetValue(const std::string& key, int value) {
        if (Ok() &&
            GDALSetMetadataItem(m_dataset, key.c_str(), std::to_string(value).c_str(), nullptr) != CE_None) {
            m_ok = false;
        }
    }

    // Closes the file; the path when everything reached it, otherwise empty (file removed).
    QString Finish() {
        if (m_finished) {
            return m_path;
        }
        m_finished = true;
        m_ok = m_dataset && kv::CloseDataset(m_dataset) && m_ok;
        m_dataset = nullptr;
        if (!m_ok && !m_path.isEmpty()) {
            kv::RemoveRasterFile(m_path);
            m_path.clear();
        }
        return m_path;
    }

private:
    QString m_path;
    GDALDatasetH m_dataset = nullptr;
    bool m_ok = true;
    bool m_finished = false;
};

// An int of the file's metadata; 0 when absent or not a number.
int MetadataInt(GDALDatasetH dataset, const std::string& key) {
    const char* text = GDALGetMetadataItem(dataset, key.c_str(), nullptr);
    return text ? QByteArray(text).trimmed().toInt() : 0;
}

std::string VertexKey(int index, char axis) {
    return "AOI_VER_" + std::to_string(index) + '_' + axis;
}

// Reads the band of the open undo file into a new Float32 image, block by block, with the mask of
// the cells the edit touched: those where either band holds something other than -10000 (a NaN
// counts as touched). The scratch images of an edit hold -10000 in both bands wherever the edit
// does not reach, such as the holes of its area.
bool ReadUndoBand(GDALDatasetH dataset, int band, cv::Mat& image, cv::Mat& touched, ProgressSink* progress) {
    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    image.create(height, width, CV_32FC1);
    touched.create(height, width, CV_8UC1);
    GDALRasterBandH h = GDALGetRasterBand(dataset, band);
    // The other band of the pair; a file with one band only marks by the band it has.
    GDALRasterBandH other =
        GDALGetRasterCount(dataset) >= 2 ? GDALGetRasterBand(dataset, band == 1 ? 2 : 1) : nullptr;
    auto read = [](GDALRasterBandH b, const cv::Rect& window, cv::Mat& block) {
        return GDALRasterIOEx(b, GF_Read, window.x, window.y, window.width, window.height, block.data,
                              block.cols, block.rows, GDT_Float32, static_cast<GSpacing>(block.elemSize()),
                              static_cast<GSpacing>(block.step), nullptr) == CE_None;
    };
    kv::BlockProgress steps(progress, kv::BlockCount(width, height), QString::fromLatin1(kCaption));
    cv::Mat pair;
    return h && kv::ForEachBlock(width, height, [&](const cv::Rect& window, int index) {
               steps.Step(index + 1);
               cv::Mat block = image(window);
               if (!read(h, window, block)) {
                   return false;
               }
               pair.create(window.size(), CV_32FC1);
               if (other && !read(other, window, pair)) {
                   return false;
               }
               for (int r = 0; r < block.rows; ++r) {
                   const float* v = block.ptr<float>(r);
                   const float* o = other ? pair.ptr<float>(r) : v;
                   uchar* m = touched.ptr<uchar>(window.y + r) + window.x;
                   for (int c = 0; c < block.cols; ++c) {
                       m[c] = (v[c] != kUndoUntouched || o[c] != kUndoUntouched) ? 1 : 0;
                   }
               }
               return true;
           });
}

// Which cells of the window come back: the touched cells inside the outline when the file has one
// (filled as the edit filled it: 8-connected, no sub-pixel shift), otherwise every touched cell.
// The outline alone is not enough: an area with holes has only its outer outline in the file, and
// the cells of its holes, which the edit left alone, hold -10000.
bool BuildRestoreMask(GDALDatasetH dataset, const cv::Mat& touched, cv::Mat& mask) {
    const int vertices = MetadataInt(dataset, "AOI_NVERS");
    // A vertex takes two metadata items: a larger count is damage, not an outline.
    if (vertices < 0 || vertices > CSLCount(GDALGetMetadata(dataset, nullptr))) {
        return false;
    }
    if (vertices == 0) {
        mask = touched;
        return true;
    }
    std::vector<cv::Point> outline(static_cast<size_t>(vertices));
    for (int i = 0; i < vertices; ++i) {
        outline[static_cast<size_t>(i)] =
            cv::Point(MetadataInt(dataset, VertexKey(i, 'X')), MetadataInt(dataset, VertexKey(i, 'Y')));
    }
    mask = cv::Mat::zeros(touched.size(), CV_8UC1);
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(1), cv::LINE_8, 0);
    mask &= touched;
    return true;
}

void RedrawDrawingOf(CadEntity* entity) {
    if (QWidget* window = CadGetWindow(CadEntityGetDrawing(entity))) {
        CadWndRedraw(window);
    }
}

}  // namespace

QString DemUndoFileName(const QString& layerName, const QDateTime& when, int number) {
    const QDate d = when.date();
    const QTime t = when.time();
    const bool known = when.isValid();
    return QString::asprintf("%s_%04d%02d%02d-%02d%02d%02d_%d.demundo", layerName.toUtf8().constData(),
                             known ? d.year() : 0, known ? d.month() : 0, known ? d.day() : 0,
                             known ? t.hour() : -1, known ? t.minute() : -1, known ? t.second() : -1, number);
}

CUndoDEM::CUndoDEM(CDEM* dem, CKelvaroDoc* doc, const cv::Mat& before, const cv::Mat& after,
                   cv::Point topLeft, std::vector<cv::Point> outline, ProgressSink* progress)
    : m_pDoc(doc) {
    if (before.empty() || before.type() != CV_32FC1 || after.type() != CV_32FC1 ||
        after.size() != before.size()) {
        return;
    }
    WriteOutlineRecord(
        dem, before.size(),
        [&](const cv::Rect& block, cv::Mat& b, cv::Mat& a) {
            b = before(block);
            a = after(block);
        },
        topLeft, outline, progress, false);
}

CUndoDEM::CUndoDEM(CDEM* dem, CKelvaroDoc* doc, cv::Size window, const BlockCells& cells, cv::Point topLeft,
                   std::vector<cv::Point> outline, ProgressSink* progress, bool fewCells)
    : m_pDoc(doc) {
    WriteOutlineRecord(dem, window, cells, topLeft, outline, progress, fewCells);
}

void CUndoDEM::WriteOutlineRecord(CDEM* dem, cv::Size window, const BlockCells& cells, cv::Point topLeft,
                                  const std::vector<cv::Point>& outline, ProgressSink* progress,
                                  bool compress) {
    if (!dem || window.empty() || !cells) {
        return;
    }
    UndoFileWriter file(dem->m_name, window, compress);
    file.WriteBands(window, progress, false, cells);
    file.SetValue("TL_X", topLeft.x);
    file.SetValue("TL_Y", topLeft.y);
    file.SetValue("AOI_NVERS", static_cast<int>(outline.size()));
    for (size_t i = 0; i < outline.size(); ++i) {
        file.SetValue(VertexKey(static_cast<int>(i), 'X'), outline[i].x);
        file.SetValue(VertexKey(static_cast<int>(i), 'Y'), outline[i].y);
    }
    m_path = file.Finish();
    if (!m_path.isEmpty()) {
        m_demSerial = dem->m_serial;
    }
}

CUndoDEM::CUndoDEM(CDEM* dem, CKelvaroDoc* doc, const cv::Mat& mask, const cv::Rect& rect, float value,
                   ProgressSink* progress)
    : m_pDoc(doc) {
    if (!dem || dem->m_grid.empty() || dem->m_grid.type() != CV_32FC1 || mask.type() != CV_8UC1 ||
        mask.cols != dem->m_grid.cols + 2 || mask.rows != dem->m_grid.rows + 2) {
        return;
    }
    const cv::Rect region = rect & cv::Rect(0, 0, dem->m_grid.cols, dem->m_grid.rows);
    if (region.empty()) {
        return;
    }
    // The mask cells of the region, one cell in from the mask's edge.
    const cv::Mat regionMask = mask(region + cv::Point(1, 1));
    UndoFileWriter file(dem->m_name, region.size());
    file.WriteBands(region.size(), progress, true,
                    [&](const cv::Rect& window, cv::Mat& before, cv::Mat& after) {
                        const cv::Mat under = regionMask(window);
                        before.create(window.size(), CV_32FC1);
                        before.setTo(cv::Scalar(kUndoUntouched));
                        after.create(window.size(), CV_32FC1);
                        after.setTo(cv::Scalar(kUndoUntouched));
                        dem->m_grid(window + region.tl()).copyTo(before, under);
                        after.setTo(cv::Scalar(value), under);
                    });
    file.SetValue("TL_X", region.x);
    file.SetValue("TL_Y", region.y);
    m_path = file.Finish();
    if (m_path.isEmpty()) {
        return;
    }
    m_demSerial = dem->m_serial;
    cv::Mat cells = dem->m_grid(region);
    cells.setTo(cv::Scalar(value), regionMask);
}

void CUndoDEM::Copy(const CUndoDEM& other) {
    m_demSerial = other.m_demSerial;
    m_pDoc = other.m_pDoc;
    m_path = other.m_path;
}

int CUndoDEM::Apply(int band, ProgressSink* progress, const DemUndoLookup& lookup) const {
    if (m_demSerial == 0 || m_path.isEmpty() || !lookup || (band != 1 && band != 2)) {
        return 0;
    }
    CDEM* dem = lookup(m_demSerial);
    if (!dem || dem->m_serial != m_demSerial || !dem->m_imageEntity ||
        CadEntityGetDeleted(dem->m_imageEntity)) {
        return 0;
    }
    GDALDatasetH dataset = GDALOpen(QFile::encodeName(m_path).constData(), GA_ReadOnly);
    if (!dataset) {
        return 0;
    }
    cv::Mat image;
    cv::Mat mask;
    int tlX = 0;
    int tlY = 0;
    // A record never holds a window larger than its DEM: a file that says otherwise is damage,
    // refused before its cells are read.
    bool ok = GDALGetRasterCount(dataset) >= band && GDALGetRasterXSize(dataset) <= dem->Width() &&
              GDALGetRasterYSize(dataset) <= dem->Height();
    if (ok && dem->m_grid.empty()) {
        ok = dem->LoadData(progress) && !dem->m_grid.empty();
    }
    cv::Mat touched;
    ok = ok && ReadUndoBand(dataset, band, image, touched, progress) &&
         BuildRestoreMask(dataset, touched, mask);
    if (ok) {
        tlX = MetadataInt(dataset, "TL_X");
        tlY = MetadataInt(dataset, "TL_Y");
    }
    GDALClose(dataset);
    // A window placed beyond the grid's own size from it cannot meet the grid.
    if (!ok || std::abs(static_cast<int64_t>(tlX)) > dem->m_grid.cols ||
        std::abs(static_cast<int64_t>(tlY)) > dem->m_grid.rows) {
        return 0;
    }
    // The part of the window that lies on the grid.
    const cv::Rect window(tlX, tlY, image.cols, image.rows);
    const cv::Rect target = window & cv::Rect(0, 0, dem->m_grid.cols, dem->m_grid.rows);
    if (target.empty()) {
        return 0;
    }
    const cv::Rect source = target - window.tl();
    dem->m_busy = 1;
    cv::Mat cells = dem->m_grid(target);
    image(source).copyTo(cells, mask(source));
    dem->ReleaseDisplayCache();
    dem->m_modified = 1;
    dem->m_busy = 0;
    RedrawDrawingOf(dem->m_imageEntity);
    return 1;
}

void CUndoDEM::DeleteFile() const {
    if (!m_path.isEmpty()) {
        kv::RemoveRasterFile(m_path);
    }
}
