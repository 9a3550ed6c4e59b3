// "Layers' Properties" of the sheet layout: the name and colour of each of its four layers,
// kept in the profile section "SheetLayout", where the drawing routines read them.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "controls/ButtonST.h"
#include "controls/ColorRef.h"
#include "controls/KvColorButton.h"
#include "layout/SheetLayout.h"
#include "platform/ui/KvDialog.h"

// Where a layer of the sheet layout keeps its name and colour in the profile, and their
// defaults. The drawing routines and the dialog have different name defaults: the routines use
// the drawing default until the dialog has been confirmed once.
struct SheetLayerProfile {
    SheetLayer layer;
    const char* nameKey;      // "BorderName"
    const char* colorKey;     // "BorderColor", followed by "R", "G" or "B"
    const char* drawingName;  // what the drawing routines use while no name is stored
    const char* dialogName;   // what the dialog shows while no name is stored
    COLORREF defaultColor;
};
const SheetLayerProfile& SheetLayerKeys(SheetLayer layer);
// The stored name (or the default of the drawing routines or of the dialog) and colour; a
// component that is not a number keeps its default.
QString ReadSheetLayerName(SheetLayer layer, bool dialogDefault);
COLORREF ReadSheetLayerColor(SheetLayer layer);

class CSheetLayoutLayersPropertiesDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 360,
        IDC_BORDERS_NAME = 1525,
        IDC_COMMENTS_NAME = 1526,
        IDC_COORDINATES_NAME = 1527,
        IDC_PARAMETERS_NAME = 1528,
        IDC_BORDERS_COLOR = 1535,
        IDC_PARAMETERS_COLOR = 1536,
        IDC_COORDINATES_COLOR = 1537,
        IDC_COMMENTS_COLOR = 1538,
    };

    explicit CSheetLayoutLayersPropertiesDlg(QWidget* parent = nullptr);

    // By layer: Borders, Parameters, Coordinates, Comments.
    QGroupBox* m_groups[4];
    QLabel* m_labels[4];
    QLineEdit* m_edNames[4];
    KvColorButton* m_btnColors[4];
    CButtonST* m_btnOK;
    CButtonST* m_btnCancel;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
};
