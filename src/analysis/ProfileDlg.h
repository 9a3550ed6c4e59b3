// "Profile": the terrain section of the running PROFILE command's line in a CAD window of its own
// (the graph), beside a plan view of the DEM with the line. Moving the cursor over the graph shows
// the absolute and relative elevation under it and a dot at that place of the line in the plan
// view. The graph is rebuilt on Update and exported as a DXF drawing.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include <map>
#include <optional>

#include "analysis/HostedCadView.h"
#include "controls/ButtonST.h"
#include "platform/math/Wml.h"
#include "platform/ui/KvDialog.h"
#include "raster/RasterDisplayCache.h"

class CProfileDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 314,
        IDC_CLOSE = 1005,
        IDC_REFERENCE = 1018,
        IDC_PROFILE_HOST = 1025,
        IDC_EXPORT = 1027,
        IDC_BREAK_ON_NO_DATA = 1030,
        IDC_UPDATE = 1031,
        IDC_ZSCALE = 1033,
        IDC_REFERENCE_LABEL = 1046,
        IDC_ZSCALE_LABEL = 1047,
        IDC_FRAME = 1048,
        IDC_PLAN_HOST = 1056,
        kPlanImageId = 1000,
    };
    // The smallest size the dialog can be given, in pixels.
    static constexpr int kMinWidth = 905;
    static constexpr int kMinHeight = 504;

    // Creates both drawings and puts the zoom commands into the engine's context menu 3 while the
    // dialog lives; the project's own menu comes back when it closes.
    explicit CProfileDlg(QWidget* parent = nullptr);
    ~CProfileDlg() override;

    // Rebuilds the graph from the command's line: with zoom to extents, or keeping the view (its
    // height follows a changed Z scale).
    void UpdateProfile(bool zoomToExtents);
    // Shows the DEM and the line in the plan view. 1 when built, 0 without a DEM in use.
    int DrawPlanView();
    // Puts the layer on top of the drawing's others.
    void OrderLayers(CadDrawing* drawing, CadLayer* top);
    // The event procedures of the two views, called by the engine through HostedViewEvents.
    int OnCadDrawImage(QPainter* dc, const CadWinRect* update, int imageId, int placeLeft, int placeBottom,
                       int placeWidth, int placeHeight);
    void OnCadMouseMove(int keyFlags, double x, double y);
    void OnCadDrawCursor(QPainter* dc, int x, int y);
    // Records the controls' places (record) or places them for the present size.
    void LayoutControls(bool record);

    void OnBnClickedUpdate();
    void OnBnClickedBreakOnNoData();
    void OnBnClickedExport();
    void OnBnClickedClose();

    HostedCadView m_profile;
    HostedCadView m_plan;
    CadLayer* m_profileLayer = nullptr;
    int m_updating = 0;
    double m_referenceZ = -9999.0;
    double m_zScale = 1.0;
    // The place of the line the cursor points to on the graph; (0, 0) when it points to none.
    Wml::Point2 m_hoverDot;
    // The plan view's own rendering of the DEM.
    RasterDisplayCache m_planCache;
    CadEntity* m_planPlace = nullptr;
    bool m_current = false;

    QFrame m_hostProfile;
    QFrame m_hostPlan;
    QFrame m_frame;
    QLabel m_lblReference;
    QLineEdit m_editReference;
    QLabel m_lblZScale;
    QLineEdit m_editZScale;
    QCheckBox m_chkBreak;
    CButtonST m_btnUpdate;
    CButtonST m_btnExport;
    CButtonST m_btnClose;

protected:
    bool OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

private:
    // What closing does: the views' procedures end (the project's are registered again), both
    // windows go, the dialog is no longer the current one and the project's context menu is back.
    void OnDestroy();
    // The Z scale in the field: a value not above 0 (or no number) becomes 1, shown as "1.000".
    double ZScaleOfField();

    std::optional<HostedViewEvents> m_events;
    std::map<QWidget*, QRect> m_recorded;
    QSize m_recordedClient;
    bool m_destroyed = false;
};
