// The refinement of a contour's vertices in three oriented images: the operator measures each
// vertex in the images; a vertex measured in two of them is intersected into its 3D position,
// written back into the contour and projected into the third image. Apply writes the mean
// elevation of the intersected vertices into the target DEM inside the contour.
#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

#include <gdal.h>
#include <vtkSmartPointer.h>
#include <opencv2/core.hpp>

#include "analysis/HostedCadView.h"
#include "document/DocRecords.h"
#include "platform/cad/Cad.h"
#include "platform/math/Wml.h"
#include "platform/photo/Orientation.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;
class QCheckBox;
class QFont;
class QFrame;
class QLabel;
class QPushButton;
class vtkPointLocator;
class vtkPolyData;

// One candidate image of the contour.
struct OrientedImageEntry {
    // The ".jpg" file.
    QString path;
    zqc::COrientation orientation{1};
    // The contour's vertices projected into the image, in image pixels with y counted upward
    // (x = column, y = image height - row): a closed polyline of view 0's drawing, on its layer
    // "Contours", shown only while its image is the current one.
    CadEntity* contour = nullptr;
    // Vertex indices the operator measured in this image, in the order measured.
    std::vector<int> measured;
    // The image opened for display: a dataset when images are large, else the picture.
    GDALDatasetH dataset = nullptr;
    cv::Mat picture;
};

// Sort order of the candidates: the image whose projected contour lies nearer to its own centre
// (width / 2, height / 2) comes first; contours of different vertex counts compare equal.
bool CompareImagesByDistance(const OrientedImageEntry& a, const OrientedImageEntry& b);

class CRefineContourElevationDlg : public KvDialog {
    Q_OBJECT
public:
    // Control ids of the dialog's template.
    enum : int {
        IDC_VIEW0 = 1025,
        IDC_VIEW1 = 1077,
        IDC_VIEW2 = 1078,
        IDC_CHECK1 = 1068,
        IDC_CHECK2 = 1069,
        IDC_CHECK3 = 1070,
        IDC_VIEW_VERTEX_INDEX = 1073,
        IDC_VIEW_VERTEX_ELEVATION = 1074,
        IDC_APPLY = 1055,
        IDC_OK = 1072,
        IDC_CANCEL = 1071,
    };
    // Images with more pixels than this are read through GDAL as they are shown.
    static constexpr double kLargeImagePixels = 20000000.0;
    // Candidates nearest to the contour that are projected.
    static constexpr int kCandidates = 10;

    explicit CRefineContourElevationDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);
    ~CRefineContourElevationDlg() override;

    // The dialog whose procedures are registered, or null.
    static CRefineContourElevationDlg* Current();

    // Shows entry `index` (0 to 2) in view 0 and the two others in views 1 and 2, each centred on
    // the current vertex. 1 when shown.
    int ShowImage(int index);
    // Hides the current entry's contour and shows the next entry (0, 1, 2, 0, ...).
    void ShowNextImage();
    // The action of a virtual key pressed in view 0; 1 when the key has one.
    int HandleKey(int virtualKey);

    int IsVertexMeasured(int vertex, int image) const;
    int CountVertexMeasures(int vertex) const;
    void SetVertexMeasured(int vertex, int image);
    void ClearVertexMeasured(int vertex, int image);
    // Intersects the vertex from the images it is measured in (at least two); on success the
    // contour's vertex takes the 3D point and the images it is not measured in take its
    // projection. 1 when the intersection ran.
    int IntersectVertex(int vertex);
    // The vertex circle and its label at the window position, when that lies in view 0.
    void DrawVertexMarker(QPainter* dc, const QPoint& position, const Wml::Point3& vertex);

    // Event procedures of the three views' drawings (other drawings get the engine's defaults).
    // While the dialog is current, draw-image, mouse-move and draw-cursor reach them through the
    // hosted views' routing, which hands every other drawing's events to the project's own
    // procedures; key-down and mouse-down are registered with the engine.
    static int OnCadDrawImage(CadDrawing* drawing, QPainter* dc, const CadWinRect* update, int imageId,
                              int placeLeft, int placeBottom, int placeWidth, int placeHeight);
    static int OnCadMouseMove(CadDrawing* drawing, int keyFlags, double x, double y);
    static int OnCadKeyDown(CadDrawing* drawing, int virtualKey, int keyFlags);
    static int OnCadMouseDown(CadDrawing* drawing, int button, double x, double y);
    static int OnCadDrawCursor(CadDrawing* drawing, QPainter* dc, int x, int y);

    void OnBnClickedCheck1();
    void OnBnClickedCheck2();
    void OnBnClickedCheck3();
    void OnBnClickedViewVertexIndex();
    void OnBnClickedViewVertexElevation();
    // Intersects every vertex from its positions in the three images and writes the mean
    // elevation into the target DEM inside the contour.
    void OnBnClickedApply();

    // Applies the layout recorded at opening to the dialog's size.
    void LayoutControls();
    void OnSize();
    // Releases what the dialog holds: its procedures (the project's are back), windows, images and
    // the intersection.
    void OnDestroy();

    // ---- What the dialog works on.
    CKelvaroDoc* m_pDoc;
    ObjectElevationSetup m_setup;
    struct View {
        // The static the view lies over, and the view's drawing with its window.
        QFrame* host = nullptr;
        HostedCadView hosted;
        CadEntity* imagePlace = nullptr;
        int imageLayerId = 0;
        int contourLayerId = 0;
        // The entry the view shows.
        int entry = -1;
        CadDrawing* Cad() const { return hosted.Drawing(); }
        QWidget* Window() const { return hosted.Window(); }
    };
    View m_views[3];
    int m_nCurrentImage = 0;
    int m_nCurrentVertex = 0;
    int m_nVertexCount = 0;
    std::vector<OrientedImageEntry> m_entries;
    std::vector<zqc::COrientation> m_orientations;
    vtkSmartPointer<vtkPolyData> m_cameraPoints;
    vtkSmartPointer<vtkPointLocator> m_cameraLocator;
    int m_bLargeImages = 0;
    std::optional<HostedViewEvents> m_events;
    std::unique_ptr<QFont> m_labelFont;
    std::unique_ptr<zqc::CMultiImageIntersection> m_pIntersection;
    // Images of the folder whose orientation could not be read.
    int m_nFailedImages = 0;

    QCheckBox* m_imageChecks[3] = {};
    QCheckBox* m_viewIndex = nullptr;
    QCheckBox* m_viewElevation = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_info = nullptr;

protected:
    bool OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

private:
    // Steps of the opening.
    bool CreateViews();
    bool LoadCandidates();
    // The entry a view shows: view 0 the current one, view i the i-th after it.
    int EntryOfView(int view) const { return (m_nCurrentImage + view) % 3; }
    // The view of a drawing, or -1.
    int ViewOf(CadDrawing* drawing) const;
    // Position of a vertex in an entry's image (y upward); false when there is none.
    bool EntryPosition(int entry, int vertex, Wml::Point2& position) const;
    // The pixel (column, row) of a position in an entry's image; false outside the image.
    bool PixelOf(int entry, const Wml::Point2& position, Wml::Point2& pixel) const;
    // Opens or loads the entry's image for display.
    bool PrepareImage(OrientedImageEntry& entry);
    void CentreView(int view);
    void RedrawView(int view);
    // Moves the current vertex of the current image to a position, measures and intersects it.
    void MeasureCurrentVertex(const Wml::Point2& position);
    void StoreViewOptions();
    void RegisterProcedures();

    // Recorded at opening: margins of the controls that follow the dialog's size.
    struct Layout {
        bool recorded = false;
        QSize dialog;
        QRect view0, apply, ok, cancel, checks[3], info;
    } m_layout;
    bool m_destroyed = false;
};
