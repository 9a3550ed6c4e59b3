// What the tests of the DEM-writing commands share: the answer to the cell-size dialog, and what
// they read back (the command line's last lines, a raster file's form and cells).
#pragma once

#include <QFile>
#include <QString>

#include <gdal.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "controls/InputValueDlg.h"
#include "platform/cad/Cad.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace dtest {

// The last lines of the drawing's command line, newest first, one a line.
inline QString CommandLineHistory(CadDrawing* drawing, int lines) {
    QString text;
    char line[1024];
    for (int i = 0; i < lines && CadCmdGetHistory(drawing, i, line, sizeof line); ++i) {
        text += QString::fromUtf8(line) + '\n';
    }
    return text;
}

struct Raster {
    int width = 0, height = 0, bands = 0, blockX = 0, blockY = 0;
    GDALDataType type = GDT_Unknown;
    double noData = 0.0;
    int hasNoData = 0;
    std::array<double, 6> gt{};
    std::vector<float> cells;  // band 1, row by row
};

inline Raster ReadRaster(const QString& path) {
    Raster r;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr) << path.toStdString();
    if (!ds) {
        return r;
    }
    r.width = GDALGetRasterXSize(ds);
    r.height = GDALGetRasterYSize(ds);
    r.bands = GDALGetRasterCount(ds);
    GDALGetGeoTransform(ds, r.gt.data());
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    r.type = GDALGetRasterDataType(band);
    GDALGetBlockSize(band, &r.blockX, &r.blockY);
    r.noData = GDALGetRasterNoDataValue(band, &r.hasNoData);
    r.cells.resize(size_t(r.width) * size_t(r.height));
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, r.width, r.height, r.cells.data(), r.width, r.height,
                           GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
    return r;
}

// The Olinda DEM with the cell of column 10, row 10 at +infinity, copied to the path (writable);
// with a value, that cell holds it instead.
inline QString CopyInfiniteDem(const QString& path, const float* value = nullptr) {
    EXPECT_TRUE(QFile::copy(kvtest::DataPath("dem_one_infinite_cell.tif"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (value) {
        GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
        EXPECT_NE(ds, nullptr);
        EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 10, 10, 1, 1, const_cast<float*>(value), 1,
                               1, GDT_Float32, 0, 0),
                  CE_None);
        GDALClose(ds);
    }
    return path;
}

// Answers the next cell-size dialog ("Insert DEM GSD") with the text and keeps the text it showed.
inline void AnswerGsd(kvtest::ScriptedInteraction& ui, const QString& text, QString* proposal = nullptr) {
    ui.AnswerModal([text, proposal](QDialog& dialog) {
        auto& input = static_cast<CInputValueDlg&>(dialog);
        EXPECT_EQ(input.windowTitle(), "Insert DEM GSD");
        if (proposal) {
            *proposal = input.m_Edit.text();
        }
        input.m_Edit.setText(text);
        input.m_btnOK.click();
        return -1;
    });
}

}  // namespace dtest
