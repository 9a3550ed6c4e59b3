// OBJECTELEVATION: an outline drawn over a DEM (a roof, a footprint) gets its true elevation from
// oriented aerial images, and that elevation is written into a DEM inside the outline.
#pragma once

#include <QString>

#include "platform/cad/Cad.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;
class QComboBox;
class QLineEdit;
class QPushButton;

// The inputs of the command, asked before each run: the folder of the oriented images, the DEM
// whose elevations seed vertices picked in the drawing and the DEM that Apply writes, both among
// the project's DEM layers. Opens with what the project's record holds; OK writes the record
// (the texts take the two DEM names and the folder), Cancel leaves it as it was.
class CObjectElevationSetupDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CObjectElevationSetupDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    QComboBox* m_elevationDem = nullptr;
    QComboBox* m_targetDem = nullptr;

    // Asks for the images folder, starting from the one typed.
    void OnBrowse();

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    CKelvaroDoc* m_pDoc;
};

// The command procedure of 11008 and its rubber band (the picked vertices, the cursor and, once
// two vertices exist, back to the first).
void CmdObjectElevation(CadDrawing* drawing);
void CmdObjectElevationDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
