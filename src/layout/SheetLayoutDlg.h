// "Sheet Layout": the operator sets the extent, grid steps, output format, style and title block
// of a map frame and builds it into the drawing as one CAD block. The settings live in the
// profile section "SheetLayout" and come back each time the dialog opens.
//
// One dialog serves a whole run of the ribbon command: "Lower-Left" and "Upper-Right" store the
// settings and end the dialog with a result of their own; the command lets the operator pick
// the corner in the drawing, stores it and opens the dialog again, which reloads everything.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <vector>

#include "controls/ButtonST.h"
#include "layout/SheetLayout.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;
struct CadBlock;
struct CadLayer;

class CSheetLayoutDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 366,
        IDC_CROSS_SIZE = 1034,
        IDC_LAYER_PROPERTIES = 1055,
        IDC_BUILD = 1072,
        IDC_Y0 = 1529,
        IDC_Y1 = 1530,
        IDC_WIDTH = 1531,
        IDC_HEIGHT = 1532,
        IDC_FORMAT = 1536,
        IDC_LOWER_LEFT = 1537,
        IDC_UPPER_RIGHT = 1538,
        IDC_STYLE = 1539,
        IDC_TITLE = 1540,
        IDC_STEP_X = 1541,
        IDC_STEP_Y = 1542,
        IDC_X0 = 1543,
        IDC_SITE = 1544,
        IDC_SCALE = 1545,
        IDC_DATE = 1546,
        IDC_X1 = 1547,
        IDC_STYLE_PREVIEW = 1548,
    };
    // Results that ask the command for a corner pick.
    enum { IDR_PICK_LOWER_LEFT = 1000, IDR_PICK_UPPER_RIGHT = 1001 };

    explicit CSheetLayoutDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    // Reads the profile into the fields.
    void LoadSettings();
    // Rewrites the corner fields other than the changed one and the width and height after a
    // corner field changed.
    void UpdateExtent(int changedId);
    // Stores every field in the profile.
    void SaveSettings();
    void OnSelchangeStyle();
    void UpdateStylePreview();
    void OnSelchangeFormat();
    void OnBnClickedLowerLeft();
    void OnBnClickedUpperRight();
    void OnBnClickedLayerProperties();
    // Checks the fields, stores them and builds the layout into the drawing.
    void OnBnClickedOk();
    // The drawing routines: each sets up its layers and adds its shapes to the block being built.
    void DrawBorders(double x0, double y0, double width, double height);
    void DrawCoordinates(double x0, double y0, double width, double height, double stepX, double stepY);
    void DrawComments();

    CKelvaroDoc* m_pDoc;
    // 0 Simple, 1 Cross, 2 Line.
    int m_nStyle = 0;
    // Decimals of the chosen output format; -1 while none is chosen.
    int m_nDecimals = -1;
    // Set while UpdateExtent rewrites fields, whose change notifications then do nothing.
    int m_bUpdatingExtent = 0;

    QGroupBox* m_grpStyle;
    QComboBox* m_cbStyle;
    QLabel* m_stPreview;
    QLabel* m_stCrossSize;
    QLineEdit* m_edCrossSize;
    QGroupBox* m_grpStep;
    QLabel* m_stStepX;
    QLineEdit* m_edStepX;
    QLabel* m_stStepY;
    QLineEdit* m_edStepY;
    QLabel* m_stFormat;
    QComboBox* m_cbFormat;
    QGroupBox* m_grpExtent;
    CButtonST* m_btnLowerLeft;
    QLineEdit* m_edX0;
    QLineEdit* m_edY0;
    CButtonST* m_btnUpperRight;
    QLineEdit* m_edX1;
    QLineEdit* m_edY1;
    QLabel* m_stWidth;
    QLineEdit* m_edWidth;
    QLabel* m_stHeight;
    QLineEdit* m_edHeight;
    QGroupBox* m_grpComments;
    QLabel* m_stTitle;
    QLineEdit* m_edTitle;
    QLabel* m_stSite;
    QLineEdit* m_edSite;
    QLabel* m_stScale;
    QLineEdit* m_edScale;
    QLabel* m_stDate;
    QLineEdit* m_edDate;
    CButtonST* m_btnLayerProperties;
    CButtonST* m_btnOK;
    CButtonST* m_btnCancel;

protected:
    bool OnInitDialog() override;
    // Enter: only the build button builds.
    void OnOK() override {}
    void showEvent(QShowEvent* event) override;

private:
    // What every opening does: the cross size enabled, the fields loaded, the preview shown.
    void OpenFields();
    // Decimals the numbers are shown with: the format's, or 2 while no format is chosen.
    int ShownDecimals() const;
    QLineEdit* CornerField(int id) const;
    // The style chosen in the list.
    SheetStyle ChosenStyle() const;
    // The layer found or added for one of the four, made current.
    CadLayer* SetupLayer(SheetLayer layer);
    void AddShapes(const std::vector<SheetShape>& shapes);

    CadBlock* m_pBlock = nullptr;
    CadLayer* m_layers[4] = {};
    bool m_bOpened = false;
};
