#include "analysis/ObjectElevation.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <vector>

#include "analysis/RefineContourElevationDlg.h"
#include "controls/DialogUnits.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/math/Wml.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "view/CadEventProcs.h"

namespace {

// The vertices of the contour being drawn, read by the rubber band.
std::vector<Wml::Point3> g_contourVertices;

const char* const kContourLayer = "ObjectContours";

// The command line's prompt and the project's prompt beside the cursor, which differ while a
// contour is drawn.
void PromptPair(CadDrawing* drawing, const char* commandLine, const char* document) {
    CadCmdPrompt(drawing, commandLine, "");
    SetDocCommandPrompt(drawing, QString::fromLatin1(document));
}

bool IsLoadedDem(const CKelvaroDoc& doc, const CDEM* dem) {
    if (!dem) {
        return false;
    }
    for (const auto& layer : doc.m_DEMs) {
        if (layer.second == dem) {
            return true;
        }
    }
    return false;
}

// Every text filled and both DEMs among the project's layers.
bool SetupComplete(const CKelvaroDoc& doc) {
    const ObjectElevationSetup& s = doc.m_ObjectElevationSetup;
    return !s.text1.isEmpty() && !s.text2.isEmpty() && !s.imagesFolder.isEmpty() && !s.text4.isEmpty() &&
           IsLoadedDem(doc, s.elevationDEM) && IsLoadedDem(doc, s.targetDEM);
}

// The layer the contours go on, added (and the layers ordered again) when the drawing has none.
CadLayer* ContourLayer(CadDrawing* drawing) {
    CadLayer* layer = CadGetLayerByName(drawing, kContourLayer);
    if (layer) {
        CadLayerPutDeleted(layer, 0);
        return layer;
    }
    layer = CadAddLayer(drawing, kContourLayer, CAD_COLOR_YELLOW, CAD_LTYPE_CONTINUOUS, 30);
    SetCadLayerOrder(drawing, CadGetLayerByName(drawing, "0"));
    CadRegen(drawing);
    return layer;
}

enum class ContourSource { Picked, Draw };

// Asks for an existing contour; right click asks to draw one.
ContourSource PickContour(CadDrawing* drawing, CadEntity*& contour) {
    Prompt(drawing, QStringLiteral("Select contour polyline (right click to define new one)"));
    for (;;) {
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            return ContourSource::Draw;
        }
        if (CadEntityGetType(entity) == CAD_ENT_POLYLINE && CadPlineGetClosed(entity) &&
            CadPlineGetNumVers(entity) > 2) {
            contour = entity;
            return ContourSource::Picked;
        }
        CadCmdPromptAdd(drawing, "Invalid entity");
    }
}

// Collects the vertices of a new contour, each at the elevation DEM's height. False when the
// operator cancelled the command, or the DEM left the project meanwhile.
bool DrawContour(CadDrawing* drawing, const ObjectElevationSetup& setup) {
    static const char* const kCommandLine[3] = {"Pick first contour vertex", "Pick second contour vertex",
                                                "Pick next contour vertex (right click to end)"};
    static const char* const kDocument[3] = {"Pick contour polyline vertex (right click to close command)",
                                             "Pick second contour vertex  (right click to close command)",
                                             "Pick next contour vertex (right click to end)"};
    for (;;) {
        const size_t step = std::min<size_t>(g_contourVertices.size(), 2);
        PromptPair(drawing, kCommandLine[step], kDocument[step]);
        switch (CadCmdUserInput(drawing)) {
            case CAD_INPUT_POINT: {
                double x = 0.0, y = 0.0, z = 0.0;
                CadCmdGetInputPoint(drawing, &x, &y, &z);
                if (!setup.elevationDEM) {
                    return false;
                }
                z = setup.elevationDEM->GetElevation(x, y);
                if (z == kNoData) {
                    QApplication::beep();
                    break;
                }
                g_contourVertices.emplace_back(x, y, z);
                break;
            }
            case CAD_INPUT_FINISH:
                return true;
            case CAD_INPUT_TEXT:
                break;
            default:
                return false;
        }
    }
}

// What a run leaves behind on every way out: the drawn vertices forgotten, the contour out of the
// record, the project's event procedures back (none for mouse-down and key-down), the drawing
// regenerated.
class ContourRunEnd {
public:
    ContourRunEnd(CadDrawing* drawing, CKelvaroDoc* doc) : m_drawing(drawing), m_doc(doc) {}
    ~ContourRunEnd() {
        g_contourVertices.clear();
        m_doc->m_ObjectElevationSetup.contour = nullptr;
        RegisterDocumentEventProcs();
        CadOnEventMouseDown(nullptr);
        CadOnEventKeyDown(nullptr);
        CadRegen(m_drawing);
    }
    ContourRunEnd(const ContourRunEnd&) = delete;
    ContourRunEnd& operator=(const ContourRunEnd&) = delete;

private:
    CadDrawing* m_drawing;
    CKelvaroDoc* m_doc;
};

// The command once its inputs are complete; answers the message the command line keeps at the
// end (empty for none).
QString RunObjectElevation(CadDrawing* drawing, CKelvaroDoc* doc) {
    ObjectElevationSetup& setup = doc->m_ObjectElevationSetup;
    ContourRunEnd end(drawing, doc);
    g_contourVertices.clear();
    CadEntity* contour = setup.contour;
    bool drawn = false;
    if (!contour && PickContour(drawing, contour) == ContourSource::Draw) {
        if (!DrawContour(drawing, setup)) {
            return QString();
        }
        if (g_contourVertices.size() < 3) {
            return QStringLiteral("At least 3 points are needed");
        }
        CadClearVertices();
        for (const Wml::Point3& p : g_contourVertices) {
            CadAddVertex(p.X(), p.Y(), p.Z());
        }
        contour = CadAddPolyline(drawing, 0, 1);
        drawn = true;
        if (!contour) {
            return QString();
        }
    }
    Prompt(drawing, QString());
    if (CadLayer* layer = ContourLayer(drawing)) {
        CadEntityPutLayerID(contour, CadLayerGetID(layer));
    }
    setup.contour = contour;

    CRefineContourElevationDlg dialog(doc);
    if (dialog.DoModal() == IDCANCEL && drawn) {
        CadEntityErase(contour, 1);
    }
    return QString();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The inputs

CObjectElevationSetupDlg::CObjectElevationSetupDlg(CKelvaroDoc* doc, QWidget* parent)
    : KvDialog(parent), m_pDoc(doc) {
    setWindowTitle(QStringLiteral("Object Elevation"));
    setFixedSize(kv::DluSize(this, 260, 92));
    auto label = [this](const char* text, int x, int y, int w) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(kv::DluRect(this, x, y, w, 9));
    };
    label("Folder of the oriented images (*.jpg with their .yml):", 7, 6, 246);
    m_folder = new QLineEdit(this);
    m_folder->setGeometry(kv::DluRect(this, 7, 16, 222, 12));
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setGeometry(kv::DluRect(this, 232, 15, 21, 14));
    m_browse->setAutoDefault(false);
    label("Heights of drawn vertices from:", 7, 33, 124);
    m_elevationDem = new QComboBox(this);
    m_elevationDem->setGeometry(kv::DluRect(this, 7, 43, 120, 12));
    label("DEM written by Apply:", 133, 33, 120);
    m_targetDem = new QComboBox(this);
    m_targetDem->setGeometry(kv::DluRect(this, 133, 43, 120, 12));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setGeometry(kv::DluRect(this, 133, 70, 120, 16));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { OnCancel(); });
    connect(m_browse, &QPushButton::clicked, this, &CObjectElevationSetupDlg::OnBrowse);
}

bool CObjectElevationSetupDlg::OnInitDialog() {
    if (!m_pDoc) {
        EndDialog(IDCANCEL);
        return true;
    }
    const ObjectElevationSetup& setup = m_pDoc->m_ObjectElevationSetup;
    m_folder->setText(setup.imagesFolder);
    for (const auto& layer : m_pDoc->m_DEMs) {
        m_elevationDem->addItem(layer.first);
        m_targetDem->addItem(layer.first);
    }
    auto select = [this](QComboBox* box, const CDEM* dem) {
        for (const auto& layer : m_pDoc->m_DEMs) {
            if (layer.second == dem) {
                box->setCurrentText(layer.first);
            }
        }
    };
    select(m_elevationDem, setup.elevationDEM);
    select(m_targetDem, setup.targetDEM);
    return true;
}

void CObjectElevationSetupDlg::OnBrowse() {
    const QString folder = ZQT_PickFolderPath(QStringLiteral("Select the folder of the oriented images"),
                                              m_folder->text(), this);
    if (!folder.isEmpty()) {
        m_folder->setText(folder);
    }
}

void CObjectElevationSetupDlg::OnOK() {
    if (m_pDoc) {
        ObjectElevationSetup& setup = m_pDoc->m_ObjectElevationSetup;
        auto demNamed = [this](const QString& name) -> CDEM* {
            auto found = m_pDoc->m_DEMs.find(name);
            return found == m_pDoc->m_DEMs.end() ? nullptr : found->second;
        };
        const QString folder = m_folder->text().trimmed();
        setup.elevationDEM = demNamed(m_elevationDem->currentText());
        setup.text1 = setup.elevationDEM ? m_elevationDem->currentText() : QString();
        setup.targetDEM = demNamed(m_targetDem->currentText());
        setup.text2 = setup.targetDEM ? m_targetDem->currentText() : QString();
        setup.imagesFolder = folder;
        setup.text4 = folder;
    }
    EndDialog(IDOK);
}

// ---------------------------------------------------------------------------------------------
// The command

void CmdObjectElevationDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_contourVertices, x, y, z);
}

void CmdObjectElevation(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    // The inputs are asked first; the command only starts with all of them, both DEMs loaded.
    CObjectElevationSetupDlg inputs(doc);
    if (inputs.DoModal() != IDOK || !SetupComplete(*doc)) {
        CadCmdPrompt(drawing, "Not all needed data were selected", "");
        return;
    }
    QString message;
    {
        ActiveCommandScope active(drawing, CMD_OBJECTELEVATION);
        message = RunObjectElevation(drawing, doc);
    }
    if (!message.isEmpty()) {
        CadCmdPrompt(drawing, message.toUtf8().constData(), "");
    }
}
