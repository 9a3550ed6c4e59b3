#include "analysis/CompareDEMDlg.h"

#include <QFile>
#include <QFileInfo>

#include <gdal.h>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

// The cell size of a DEM file chosen in a chooser; shows why a file is refused and answers false.
bool TakeDemFile(const QString& path, double* gsd) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open selected file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    double gt[6] = {0, 1, 0, 0, 0, -1};
    const bool valid = CDEM::IsValidDemDataset(ds) && GDALGetGeoTransform(ds, gt) == CE_None;
    GDALClose(ds);
    if (!valid) {
        KvMessageBox(QStringLiteral("Invalid DEM file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    *gsd = gt[1];
    return true;
}

}  // namespace

QString ComparisonStepText(double gsd) {
    for (int decimals = 2; decimals <= 8; ++decimals) {
        const QString text = QString::asprintf("%.*lf", decimals, gsd);
        if (gsd <= 0.0 || text.toDouble() != 0.0) {
            return text;
        }
    }
    return QString::asprintf("%g", gsd);
}

CCompareDEMDlg::CCompareDEMDlg(CKelvaroDoc* doc, CadDrawing* drawing, QString referencePath,
                               QString comparedPath, double step, double value1, double value2,
                               double referenceGsd, double comparedGsd, QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_pCad(drawing),
      m_strReferencePath(std::move(referencePath)),
      m_strComparedPath(std::move(comparedPath)),
      m_dStep(step),
      m_dReferenceGSD(referenceGsd),
      m_dComparedGSD(comparedGsd),
      m_dValue1(value1),
      m_dValue2(value2),
      m_grpReference(QStringLiteral("Reference DEM"), this),
      m_grpCompared(QStringLiteral("DEM - ASCII - LAS"), this),
      m_editReference(this),
      m_btnBrowseReference(QStringLiteral("..."), this),
      m_btnPickReference(QStringLiteral("Pick DEM"), this),
      m_lblReferenceGsd(QStringLiteral("GSD(m)"), this),
      m_editReferenceGsd(this),
      m_editCompared(this),
      m_btnBrowseCompared(QStringLiteral("..."), this),
      m_btnPickCompared(QStringLiteral("Pick DEM"), this),
      m_lblComparedGsd(QStringLiteral("GSD(m)"), this),
      m_editComparedGsd(this),
      m_lblStep(QStringLiteral("Comparison Step"), this),
      m_editStep(this),
      m_lblNote(QStringLiteral(
                    "If 2 DEMs are selected, this is the distance between two subsequent compared points. "
                    "If LAS or ASCII is selected, a value  equal to one means all the values will be "
                    "compared, higher value, less comparison and more speed"),
                this),
      m_lblValue1(QStringLiteral("Value 1"), this),
      m_editValue1(this),
      m_lblValue2(QStringLiteral("Value 2"), this),
      m_editValue2(this),
      m_lblBelow(QStringLiteral("Color of points with difference below Value 1"), this),
      m_btnBelow(this),
      m_lblBetween(QStringLiteral("Color of points with difference between Value 1 and Value 2"), this),
      m_btnBetween(this),
      m_lblAbove(QStringLiteral("Color of points with difference above Value 2"), this),
      m_btnAbove(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Compare surfaces"));
    setFixedSize(kv::DluSize(this, 371, 206));
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_grpReference, 0, {7, 4, 357, 36}},
        {&m_editReference, IDC_REFERENCE_PATH, {14, 18, 190, 14}},
        {&m_btnBrowseReference, IDC_BROWSE_REFERENCE, {208, 18, 20, 14}},
        {&m_btnPickReference, IDC_PICK_REFERENCE, {232, 18, 50, 14}},
        {&m_lblReferenceGsd, 0, {288, 20, 28, 10}},
        {&m_editReferenceGsd, IDC_REFERENCE_GSD, {318, 18, 40, 14}},
        {&m_grpCompared, 0, {7, 44, 357, 36}},
        {&m_editCompared, IDC_COMPARED_PATH, {14, 58, 190, 14}},
        {&m_btnBrowseCompared, IDC_BROWSE_COMPARED, {208, 58, 20, 14}},
        {&m_btnPickCompared, IDC_PICK_COMPARED, {232, 58, 50, 14}},
        {&m_lblComparedGsd, 0, {288, 60, 28, 10}},
        {&m_editComparedGsd, IDC_COMPARED_GSD, {318, 58, 40, 14}},
        {&m_lblStep, 0, {7, 88, 60, 10}},
        {&m_editStep, IDC_STEP, {70, 86, 44, 14}},
        {&m_lblNote, 0, {122, 84, 242, 30}},
        {&m_lblValue1, 0, {7, 118, 30, 10}},
        {&m_editValue1, IDC_VALUE1, {40, 116, 44, 14}},
        {&m_lblValue2, 0, {96, 118, 30, 10}},
        {&m_editValue2, IDC_VALUE2, {128, 116, 44, 14}},
        {&m_lblBelow, 0, {7, 138, 260, 10}},
        {&m_btnBelow, IDC_COLOUR_BELOW, {300, 136, 40, 14}},
        {&m_lblBetween, 0, {7, 154, 260, 10}},
        {&m_btnBetween, IDC_COLOUR_BETWEEN, {300, 152, 40, 14}},
        {&m_lblAbove, 0, {7, 170, 260, 10}},
        {&m_btnAbove, IDC_COLOUR_ABOVE, {300, 168, 40, 14}},
        {&m_btnOK, IDOK, {250, 188, 54, 14}},
        {&m_btnCancel, IDCANCEL, {310, 188, 54, 14}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        if (item.id) {
            item.widget->setObjectName(QString::number(item.id));
        }
    }
    m_lblNote.setWordWrap(true);
    m_editReference.setReadOnly(true);
    m_editCompared.setReadOnly(true);
    m_editReferenceGsd.setReadOnly(true);
    m_editComparedGsd.setReadOnly(true);
    m_btnOK.setDefault(true);
    connect(&m_btnBrowseReference, &QPushButton::clicked, this, [this] { OnBnClickedBrowseReference(); });
    connect(&m_btnBrowseCompared, &QPushButton::clicked, this, [this] { OnBnClickedBrowseCompared(); });
    connect(&m_btnPickReference, &QPushButton::clicked, this, [this] { EndDialog(IDC_PICK_REFERENCE); });
    connect(&m_btnPickCompared, &QPushButton::clicked, this, [this] { EndDialog(IDC_PICK_COMPARED); });
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

void CCompareDEMDlg::EnableValueFields() {
    const bool both = !m_strReferencePath.isEmpty() && !m_strComparedPath.isEmpty();
    m_editStep.setEnabled(both);
    m_editValue1.setEnabled(both);
    m_editValue2.setEnabled(both);
}

bool CCompareDEMDlg::OnInitDialog() {
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_editReference.setText(m_strReferencePath);
    m_editCompared.setText(m_strComparedPath);
    EnableValueFields();
    const bool both = !m_strReferencePath.isEmpty() && !m_strComparedPath.isEmpty();
    m_editReferenceGsd.setEnabled(both);
    m_editComparedGsd.setEnabled(both);
    m_btnBetween.SetColor(0x00FFFF);
    m_btnAbove.SetColor(0x0000FF);
    m_btnBelow.SetColor(0x00FF00);
    m_editValue1.setText(QString::asprintf("%.2lf", m_dValue1));
    m_editValue2.setText(QString::asprintf("%.2lf", m_dValue2));
    m_editReferenceGsd.setText(QString::asprintf("%.4lf", m_dReferenceGSD));
    m_editComparedGsd.setText(QString::asprintf("%.4lf", m_dComparedGSD));
    m_editStep.setText(m_dComparedGSD != 0.0 ? ComparisonStepText(m_dReferenceGSD) : QStringLiteral("1"));
    return true;
}

void CCompareDEMDlg::OnBnClickedBrowseReference() {
    const QString path = kv::GetInteraction().ChooseOpenFile(QStringLiteral("Open"), QString(),
                                                             QStringLiteral("GeoTiff DEM (*.gtif *.tif)"));
    double gsd = 0.0;
    if (path.isEmpty() || !TakeDemFile(path, &gsd)) {
        return;
    }
    m_strReferencePath = path;
    m_dReferenceGSD = gsd;
    m_editReferenceGsd.setText(QString::asprintf("%.4lf", gsd));
    m_editStep.setText(QString::asprintf("%.4lf", gsd));
    EnableValueFields();
    m_editReferenceGsd.setEnabled(true);
    m_editReference.setText(path);
}

void CCompareDEMDlg::OnBnClickedBrowseCompared() {
    const QStringList chosen = kv::GetInteraction().ChooseOpenFiles(
        QStringLiteral("Open"), QString(), QStringLiteral("DEM ASCIIxyz LAS(*.gtif *.tif *.xyz *.las)"));
    if (chosen.isEmpty()) {
        return;
    }
    const QString suffix = QFileInfo(chosen.first()).suffix();
    for (const QString& path : chosen) {
        if (QFileInfo(path).suffix().compare(suffix, Qt::CaseInsensitive) != 0) {
            KvMessageBox(QStringLiteral("The extension of selected files does not match"), MB_OK);
            return;
        }
    }
    m_editComparedGsd.setEnabled(false);
    if (suffix.compare(QLatin1String("xyz"), Qt::CaseInsensitive) == 0 ||
        suffix.compare(QLatin1String("las"), Qt::CaseInsensitive) == 0) {
        // A new choice of point files replaces the earlier one.
        const bool ascii = suffix.compare(QLatin1String("xyz"), Qt::CaseInsensitive) == 0;
        m_asciiFiles = ascii ? chosen : QStringList();
        m_lasFiles = ascii ? QStringList() : chosen;
        m_dComparedGSD = 0.0;
        m_editStep.setText(QStringLiteral("1"));
    } else {
        if (chosen.size() > 1) {
            KvMessageBox(QStringLiteral("Only 1 DEM allowed"), MB_OK);
            return;
        }
        double gsd = 0.0;
        if (!TakeDemFile(chosen.first(), &gsd)) {
            return;
        }
        m_asciiFiles.clear();
        m_lasFiles.clear();
        m_dComparedGSD = gsd;
        m_editComparedGsd.setText(QString::asprintf("%.4lf", gsd));
        m_editComparedGsd.setEnabled(true);
        m_editStep.setText(ComparisonStepText(m_dReferenceGSD));
    }
    if (chosen.size() == 1) {
        m_strComparedPath = chosen.first();
    } else {
        m_strComparedPath = QFileInfo(chosen.first()).absolutePath() + QLatin1Char('/');
    }
    if (!m_editComparedGsd.isEnabled()) {
        m_editComparedGsd.clear();
    }
    EnableValueFields();
    m_editCompared.setText(m_strComparedPath);
}

void CCompareDEMDlg::OnOK() {
    const auto read = [](const QLineEdit& edit) {
        double value = 0.0;
        return ZQT_StringToDouble(edit.text(), &value) ? value : 0.0;
    };
    const double step = read(m_editStep);
    // A step that is not positive would never end the sampling of two DEMs.
    if (!(step > 0.0)) {
        KvMessageBox(QStringLiteral("Invalid comparison step!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_dStep = step;
    m_dValue1 = read(m_editValue1);
    m_dValue2 = read(m_editValue2);
    m_crBelow = m_btnBelow.GetColor();
    m_crBetween = m_btnBetween.GetColor();
    m_crAbove = m_btnAbove.GetColor();
    EndDialog(IDOK);
}
