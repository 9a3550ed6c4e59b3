#include "products/HistogramsDlg.h"

#include <QFileInfo>
#include <QResizeEvent>

#include <gdal.h>

#include <algorithm>
#include <cmath>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "document/LayerFiles.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/MapData.h"

namespace {

constexpr int kBlock = 2048;
constexpr double kGridNoData = -9999.0;

// The class of a value, -1 for none.
int ClassOfValue(double v, const std::vector<ColorClassEntry>& classes) {
    for (size_t i = 0; i < classes.size(); ++i) {
        const double lower = classes[i].lowerLimit;
        const double upper = classes[i].upperLimit;
        // The first class starts at the map's minimum: its cells belong to it.
        if ((lower < v || (i == 0 && lower == v)) && v <= upper) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

bool CountClassFrequencies(const CMapData& map, const std::vector<ColorClassEntry>& classes,
                           std::vector<int64_t>* counts) {
    counts->assign(classes.size(), 0);
    auto count = [&](double v, double noData) {
        if (IsNoDataValue(v, noData)) {
            return;
        }
        const int i = ClassOfValue(v, classes);
        if (i >= 0) {
            ++(*counts)[size_t(i)];
        }
    };
    if (!map.m_values.empty() && map.m_values.type() == CV_32FC1) {
        for (int r = 0; r < map.m_values.rows; ++r) {
            const float* row = map.m_values.ptr<float>(r);
            for (int c = 0; c < map.m_values.cols; ++c) {
                count(row[c], kGridNoData);
            }
        }
        return true;
    }
    if (!map.m_pDataset || GDALGetRasterCount(map.m_pDataset) < 1) {
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(map.m_pDataset, 1);
    int hasNoData = 0;
    double noData = GDALGetRasterNoDataValue(band, &hasNoData);
    if (!hasNoData) {
        noData = kGridNoData;
    }
    const int width = GDALGetRasterXSize(map.m_pDataset);
    const int height = GDALGetRasterYSize(map.m_pDataset);
    std::vector<double> buffer;
    for (int y = 0; y < height; y += kBlock) {
        const int bh = std::min(kBlock, height - y);
        for (int x = 0; x < width; x += kBlock) {
            const int bw = std::min(kBlock, width - x);
            buffer.resize(size_t(bw) * size_t(bh));
            if (GDALRasterIO(band, GF_Read, x, y, bw, bh, buffer.data(), bw, bh, GDT_Float64, 0, 0) !=
                CE_None) {
                return false;
            }
            for (double v : buffer) {
                count(v, noData);
            }
        }
    }
    return true;
}

CHistogramsDlg::CHistogramsDlg(CMapData* map, QWidget* parent)
    : KvDialog(parent),
      m_Graph(this),
      m_chkClasses(QStringLiteral("Check Classes"), this),
      m_lblDecimals(QStringLiteral("Number of decimals"), this),
      m_cmbDecimals(this),
      m_btnSave(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_pMap(map) {
    setWindowTitle(QStringLiteral("Frequencies"));
    for (int i = 0; i <= 6; ++i) {
        m_cmbDecimals.addItem(QString::number(i));
    }
    m_btnSave.setText(QStringLiteral("save"));
    connect(&m_chkClasses, &QCheckBox::clicked, this, &CHistogramsDlg::OnOptionsChanged);
    connect(&m_cmbDecimals, &QComboBox::currentIndexChanged, this, &CHistogramsDlg::OnOptionsChanged);
    connect(&m_btnSave, &QPushButton::clicked, this, &CHistogramsDlg::OnBnClickedSave);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    // The template's layout: the graph above, the options and buttons in a row below it.
    const QSize size = kv::DluSize(this, 341, 176).expandedTo(QSize(kMinWidth, kMinHeight));
    const int w = size.width();
    const int h = size.height();
    m_Graph.setGeometry(8, 8, w - 16, h - 52);
    const int y = h - 36;
    m_chkClasses.setGeometry(8, y, 120, 28);
    m_lblDecimals.setGeometry(132, y, 130, 28);
    m_cmbDecimals.setGeometry(264, y + 2, 50, 24);
    m_btnSave.setGeometry(w - 250, y, 70, 28);
    m_btnOK.setGeometry(w - 170, y, 76, 28);
    m_btnCancel.setGeometry(w - 86, y, 78, 28);
    setMinimumSize(kMinWidth, kMinHeight);
    resize(size);
}

bool CHistogramsDlg::OnInitDialog() {
    m_nLeft = m_Graph.x();
    m_nTop = m_Graph.y();
    m_nRight = width() - (m_Graph.x() + m_Graph.width());
    m_nBottom = height() - (m_Graph.y() + m_Graph.height());
    LayoutGraph();
    m_btnSave.SetIcon(IDI_SAVE, IDI_SAVE_DISABLED);
    if (!m_pMap || m_pMap->m_colors.m_classes.empty()) {
        EndDialog(IDCANCEL);
        return true;
    }
    m_Graph.SetTitle(m_pMap->GetUnitName());
    m_Graph.SetStep(10);
    m_Graph.SetBackgroundColor(0x000000);
    m_Graph.SetTextColor(0xFFFFFF);
    m_Graph.DrawGraph();
    m_chkClasses.setChecked(true);
    {
        const QSignalBlocker quiet(&m_cmbDecimals);
        m_cmbDecimals.setCurrentIndex(2);
    }
    FillHistogram(true, 2);
    return true;
}

void CHistogramsDlg::FillHistogram(bool showBounds, int decimals) {
    if (!m_pMap) {
        return;
    }
    const std::vector<ColorClassEntry>& classes = m_pMap->m_colors.m_classes;
    if (!m_bCounted || m_counts.size() != classes.size()) {
        m_bCounted = true;
        if (!CountClassFrequencies(*m_pMap, classes, &m_counts)) {
            m_counts.assign(classes.size(), 0);
            KvMessageBox(QStringLiteral("File reading error"), MB_OK | MB_ICONERROR);
        }
    }
    const int64_t largest = m_counts.empty() ? 0 : *std::max_element(m_counts.begin(), m_counts.end());
    if (largest == 0) {
        return;
    }
    m_Graph.RemoveAllBars();
    m_Graph.SetRange(0, 100);
    m_Graph.SetShowLabels(0);
    m_Graph.SetAxisColor(0xFFFFFF);
    decimals = std::clamp(decimals, 0, 6);
    for (size_t i = 0; i < classes.size(); ++i) {
        const int64_t count = m_counts[i];
        const QString label =
            showBounds
                ? QString::asprintf("%lld [%.*f,%.*f]", static_cast<long long>(count), decimals,
                                    double(classes[i].lowerLimit), decimals, double(classes[i].upperLimit))
                : QString::asprintf("%lld", static_cast<long long>(count));
        m_Graph.AddBar(static_cast<int>(count * 100 / largest), classes[i].color, label.left(255));
    }
    m_Graph.DrawGraph();
}

void CHistogramsDlg::OnOptionsChanged() {
    FillHistogram(m_chkClasses.isChecked(), std::max(0, m_cmbDecimals.currentIndex()));
}

void CHistogramsDlg::OnBnClickedSave() {
    const QString path = ChooseOutputFile(QStringLiteral("BMP File (*.bmp)"), QStringLiteral("bmp"));
    if (path.isEmpty()) {
        return;
    }
    if (!ZQT_CaptureWindow(&m_Graph, path)) {
        KvMessageBox(QStringLiteral("Unable to save image!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CHistogramsDlg::LayoutGraph() {
    m_Graph.setGeometry(m_nLeft, m_nTop, std::max(0, width() - m_nLeft - m_nRight),
                        std::max(0, height() - m_nTop - m_nBottom));
    const int y = height() - 36;
    m_chkClasses.move(m_chkClasses.x(), y);
    m_lblDecimals.move(m_lblDecimals.x(), y);
    m_cmbDecimals.move(m_cmbDecimals.x(), y + 2);
    m_btnSave.move(width() - 250, y);
    m_btnOK.move(width() - 170, y);
    m_btnCancel.move(width() - 86, y);
}

void CHistogramsDlg::resizeEvent(QResizeEvent* event) {
    KvDialog::resizeEvent(event);
    if (m_nTop > 0) {
        LayoutGraph();
        m_Graph.DrawGraph();
    }
}
