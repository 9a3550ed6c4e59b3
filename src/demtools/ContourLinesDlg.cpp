#include "demtools/ContourLinesDlg.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

const char* const kSection = "ContourLines";
// The range scan reads at most about this many cells, whatever the DEM's size.
constexpr double kScanCells = 1048576.0;

}  // namespace

int CountContourLevels(double minimum, double maximum, double step) {
    if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(minimum) || !std::isfinite(maximum)) {
        return -1;
    }
    double sum = minimum;
    for (int n = 1; n <= kMaxContourLevels; ++n) {
        const double next = sum + step;
        if (next == sum) {
            return -1;
        }
        sum = next;
        if (!(sum < maximum)) {
            return n;
        }
    }
    return -1;
}

std::vector<double> ContourLevels(double minimum, double maximum, double step) {
    std::vector<double> levels;
    const int count = CountContourLevels(minimum, maximum, step);
    double level = minimum;
    for (int k = 0; k < count; ++k) {
        levels.push_back(level);
        level += step;
    }
    return levels;
}

CContourLinesDlg::CContourLinesDlg(CDEM* dem, QWidget* parent)
    : KvDialog(parent),
      m_editMinElevation(this),
      m_editMaxElevation(this),
      m_editStep(this),
      m_btnGenerate(QStringLiteral("Generate"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_chkSimplification(QStringLiteral("Simplification Facor:"), this),
      m_editTolerance(this),
      m_pDEM(dem),
      m_chkHideText(QStringLiteral("Hide Text"), this),
      m_grpElevation(QStringLiteral("Elevation"), this),
      m_grpOptions(this),
      m_lblMinElevation(QStringLiteral("Minimum Elevation:"), this),
      m_lblMaxElevation(QStringLiteral("Maximum Elevation:"), this),
      m_lblStep(QStringLiteral("Contours Step:"), this) {
    setWindowTitle(QStringLiteral("Contour Lines"));
    setFixedSize(kv::DluSize(this, 213, 161));
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_grpElevation, 0, {7, 7, 199, 72}},
        {&m_lblMinElevation, 0, {16, 22, 84, 8}},
        {&m_editMinElevation, IDC_MIN_ELEVATION, {104, 20, 92, 14}},
        {&m_lblMaxElevation, 0, {16, 40, 84, 8}},
        {&m_editMaxElevation, IDC_MAX_ELEVATION, {104, 38, 92, 14}},
        {&m_lblStep, 0, {16, 58, 84, 8}},
        {&m_editStep, IDC_STEP, {104, 56, 92, 14}},
        {&m_grpOptions, 0, {7, 84, 199, 46}},
        {&m_chkSimplification, IDC_SIMPLIFICATION, {16, 95, 86, 10}},
        {&m_editTolerance, IDC_TOLERANCE, {104, 93, 92, 14}},
        {&m_chkHideText, IDC_HIDE_TEXT, {16, 113, 86, 10}},
        {&m_btnGenerate, IDC_GENERATE, {100, 138, 50, 16}},
        {&m_btnCancel, IDC_CANCEL, {156, 138, 50, 16}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        if (item.id) {
            item.widget->setObjectName(QString::number(item.id));
        }
    }
    m_editTolerance.setEnabled(false);
    m_btnGenerate.setDefault(true);
    connect(&m_btnGenerate, &QPushButton::clicked, this, [this] { OnBnClickedGenerate(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_chkSimplification, &QCheckBox::clicked, this, [this] { OnBnClickedSimplification(); });
}

bool CContourLinesDlg::OnInitDialog() {
    if (!m_pDEM) {
        EndDialog(IDCANCEL);
        return false;
    }
    m_editStep.setText(ZQT_GetUserProfileString(kSection, "ContourLines_Step", "10.0"));
    double stored = 0.0;
    m_chkSimplification.setChecked(
        ZQT_StringToDouble(ZQT_GetUserProfileString(kSection, "IsSimplification", "0"), &stored) &&
        stored != 0.0);
    OnBnClickedSimplification();

    // The heights the generator will see, decimated to about a million cells.
    const int width = m_pDEM->Width();
    const int height = m_pDEM->Height();
    if (m_pDEM->m_geoTransform[1] > 0.0) {
        m_dToleranceBound = m_pDEM->m_geoTransform[1];
    }
    const double cells = double(width) * double(height);
    const double factor = cells <= kScanCells ? 1.0 : std::sqrt(kScanCells / cells);
    const cv::Mat heights = m_pDEM->CreateRegionImage(
        nullptr, cv::Size(std::max(1, int(width * factor)), std::max(1, int(height * factor))));
    if (heights.empty()) {
        EndDialog(IDCANCEL);
        return false;
    }
    double minimum = 0.0;
    double maximum = 0.0;
    bool counted = false;
    for (int r = 0; r < heights.rows; ++r) {
        const float* row = heights.ptr<float>(r);
        for (int c = 0; c < heights.cols; ++c) {
            if (IsNoData(row[c])) {
                continue;
            }
            if (!counted || row[c] < minimum) {
                minimum = row[c];
            }
            if (!counted || row[c] > maximum) {
                maximum = row[c];
            }
            counted = true;
        }
    }
    m_editTolerance.setText(QString::asprintf("%.9lf", m_dToleranceBound / 1000.0));
    if (!counted) {
        minimum = 0.0;
        maximum = 100.0;
    }
    minimum = std::trunc(minimum / 10.0) * 10.0;
    maximum = std::trunc(maximum / 10.0) * 10.0 + 10.0;
    m_dMinElevation = minimum;
    m_dMaxElevation = maximum;
    m_editMinElevation.setText(QString::asprintf("%.3lf", minimum));
    m_editMaxElevation.setText(QString::asprintf("%.3lf", maximum));
    m_btnGenerate.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    return true;
}

void CContourLinesDlg::OnBnClickedSimplification() {
    m_editTolerance.setEnabled(m_chkSimplification.isChecked());
}

void CContourLinesDlg::OnBnClickedGenerate() {
    const struct {
        const QLineEdit* edit;
        const char* key;
        double* value;
    } fields[] = {
        {&m_editMinElevation, "ContourLines_MinElev", &m_dMinElevation},
        {&m_editMaxElevation, "ContourLines_MaxElev", &m_dMaxElevation},
        {&m_editStep, "ContourLines_Step", &m_dStep},
        {&m_editTolerance, "Simplification", &m_dTolerance},
    };
    for (const auto& field : fields) {
        const QString text = field.edit->text();
        ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(field.key), text);
        double value = 0.0;
        if (ZQT_StringToDouble(text, &value)) {
            *field.value = value;
        }
    }
    m_bSimplification = m_chkSimplification.isChecked() ? 1 : 0;
    ZQT_WriteUserProfileString(kSection, "IsSimplification", m_bSimplification ? "1" : "0");
    m_bHideText = m_chkHideText.isChecked() ? 1 : 0;

    // A step that never reaches the maximum would trace levels without end. Levels whose minimum is
    // not below the maximum are none at all; the command then does nothing.
    const bool stepUsable = m_dStep > 0.0 && std::isfinite(m_dStep) &&
                            (!(m_dMinElevation < m_dMaxElevation) ||
                             CountContourLevels(m_dMinElevation, m_dMaxElevation, m_dStep) > 0);
    if (!stepUsable) {
        KvMessageBox(QStringLiteral("Invalid contours step"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (m_bSimplification && !(m_dTolerance > 0.0 && m_dTolerance < m_dToleranceBound)) {
        KvMessageBox(QStringLiteral("Invalid simplification factor"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    EndDialog(IDOK);
}
