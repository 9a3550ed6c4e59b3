// DEM analysis: slope, catchment area and topographic wetness rasters of a DEM, made by SAGA's
// basic terrain analysis and written as GeoTIFF files beside the DEM ("%s_SLOPE.tif",
// "%s_CAREA.tif", "%s_WETNESS.tif" from the DEM file's base name), then added to the project as
// map layers. The dialog also offers shade and slope length; they keep their choices and make
// nothing.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QString>
#include <QStringList>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"
#include "raster/MapData.h"

class CKelvaroDoc;
class ProgressSink;
struct CadDrawing;

// Which products the operator ticked (1 or 0).
struct DemAnalysisChoice {
    int slope = 1;
    int catchmentArea = 1;
    int wetness = 1;
    int lsFactor = 1;
    int shade = 1;
};

// One product the run made or could not make.
struct DemAnalysisProduct {
    QString path;     // the file beside the DEM
    QString title;    // the layer's name: the file's name
    MapType mapType;  // 15 slope, 14 catchment area, 16 wetness
    QString failure;  // the word listed when it could not be made: "Slope", "CMap", "Wetness"
};

// The products of a DEM file, in the order they are exported: slope, catchment area, wetness, each
// when ticked. Their layers are added with the catchment area first.
std::vector<DemAnalysisProduct> DemAnalysisProducts(const QString& demPath, const DemAnalysisChoice& choice);

struct DemAnalysisResult {
    // 0: the DEM's file could not be read whole, a tool library did not load, the import did not
    // give exactly one grid, or the terrain analysis failed; nothing was written. 1: the analysis
    // ran.
    int ran = 0;
    // What GDAL said when a block of the DEM's file could not be read; empty otherwise.
    QString unreadable;
    std::vector<DemAnalysisProduct> written;
    // One line per product not written ("Slope\n", "CMap\n", "Wetness\n"): its export failed, or
    // its file is a loaded layer's or the DEM's, which is never replaced.
    QString notCreated;
    // Why each of them was not written, one text each: its word and the cause ("Slope: No space
    // left on device", "CMap: The file is used by a loaded layer"), the word alone when the cause
    // is not known.
    QStringList causes;
};

// Reads every block of the DEM file, imports it, runs the terrain analysis and exports the ticked
// products. Each file is
// written under a temporary name beside it and replaces an older file only once complete; files of
// unticked products are left alone. progress runs from 0 to (ticked products + 2).
DemAnalysisResult RunDemAnalysis(const QString& demPath, const DemAnalysisChoice& choice,
                                 ProgressSink* progress);

// The dialog in which the operator ticks the products; the choices are kept per user.
class CDEMAnalysisDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 380,
        IDC_SLOPE = 1584,
        IDC_CAREA = 1614,
        IDC_WETNESS = 1615,
        IDC_LSFACTOR = 1616,
        IDC_SHADE = 1618,
        IDC_CANCEL = 1071,
    };

    CDEMAnalysisDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    // The choices taken when the dialog closed with OK.
    int m_bSlope = 0;
    int m_bCatchmentArea = 0;
    int m_bWetness = 0;
    int m_bLSFactor = 0;
    int m_bShade = 0;
    DemAnalysisChoice Choice() const;

    QGroupBox m_group;
    QCheckBox m_checkSlope;
    QCheckBox m_checkCatchmentArea;
    QCheckBox m_checkWetness;
    QCheckBox m_checkLSFactor;
    QCheckBox m_checkShade;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;

protected:
    bool OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }

private:
    void OnBnClickedOk();

    CKelvaroDoc* m_pDoc;
};

// The command DEMANALYSIS: the DEM (the only one, or picked), a question for DEMs finer than
// 0.5, the dialog, the run under a progress window, the layers added and the layers window shown.
void CmdDemAnalysis(CadDrawing* drawing);
