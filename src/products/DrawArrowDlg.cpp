#include "products/DrawArrowDlg.h"

#include <QFile>

#include <gdal.h>

#include <cmath>
#include <limits>

#include "controls/DialogUnits.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"

namespace {

// Profile keys, each in a section of its own name.
const char* const kMinLengthKey = "Min vec lenght";
const char* const kMultiplierKey = "Max vec lenght MLT";
const char* const kMaxSlopeKey = "Max Slope";

QString ProfileValue(const char* key, const char* def) {
    return ZQT_GetUserProfileString(QString::fromLatin1(key), QString::fromLatin1(key),
                                    QString::fromLatin1(def));
}

void StoreProfileValue(const char* key, const QString& value) {
    ZQT_WriteUserProfileString(QString::fromLatin1(key), QString::fromLatin1(key), value);
}

// A slope that can stand for the longest arrow: a number above 0.
bool IsUsableMaxSlope(double value) {
    return std::isfinite(value) && value > 0.0;
}

}  // namespace

bool ReadSlopeBands(const QString& path, bool requireNoData, SlopeBands* bands) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open Slope file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    bool valid = GDALGetGeoTransform(ds, bands->geoTransform) == CE_None && GDALGetRasterCount(ds) == 3 &&
                 GDALGetRasterDataType(GDALGetRasterBand(ds, 1)) == GDT_Float32;
    if (valid) {
        bands->noData = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &bands->hasNoData);
        valid = bands->hasNoData || !requireNoData;
    }
    if (valid) {
        const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
        bands->grid.create(h, w, CV_32FC3);
        int bandMap[3] = {1, 2, 3};
        valid = GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, bands->grid.data, w, h, GDT_Float32, 3, bandMap,
                                    3 * sizeof(float), static_cast<GSpacing>(bands->grid.step),
                                    sizeof(float)) == CE_None;
        const char* wkt = GDALGetProjectionRef(ds);
        bands->projection = wkt ? QString::fromUtf8(wkt) : QString();
    }
    GDALClose(ds);
    if (!valid) {
        bands->grid.release();
        KvMessageBox(QStringLiteral("Invalid Slope file!"), MB_OK | MB_ICONEXCLAMATION);
    }
    return valid;
}

float SampledMaxSlopePercent(const cv::Mat& slope, double noData) {
    float maximum = std::numeric_limits<float>::lowest();
    const float fill = static_cast<float>(noData);
    for (int r = 0; r < slope.rows; r += 10) {
        const auto* row = slope.ptr<cv::Vec3f>(r);
        for (int c = 0; c < slope.cols; c += 10) {
            if (row[c][0] != fill) {
                maximum = std::max(maximum, row[c][2] * 100.0f);
            }
        }
    }
    return maximum;
}

CDrawArrowDlg::CDrawArrowDlg(CKelvaroDoc* doc, QWidget* parent)
    : KvDialog(parent),
      m_editMinLength(this),
      m_editMaxMultiplier(this),
      m_editMaxSlope(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_pDoc(doc),
      m_labelMinLength(QStringLiteral("Min vector length"), this),
      m_labelMaxMultiplier(QStringLiteral("Max vector length mlt"), this),
      m_labelMaxSlope(QStringLiteral("Max slope %"), this) {
    setFixedSize(kv::DluSize(this, 186, 86));
    m_labelMinLength.setGeometry(kv::DluRect(this, 7, 9, 90, 8));
    m_editMinLength.setGeometry(kv::DluRect(this, 104, 7, 75, 12));
    m_labelMaxMultiplier.setGeometry(kv::DluRect(this, 7, 27, 90, 8));
    m_editMaxMultiplier.setGeometry(kv::DluRect(this, 104, 25, 75, 12));
    m_labelMaxSlope.setGeometry(kv::DluRect(this, 7, 45, 90, 8));
    m_editMaxSlope.setGeometry(kv::DluRect(this, 104, 43, 75, 12));
    m_btnOK.setGeometry(kv::DluRect(this, 129, 65, 50, 14));
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
}

bool CDrawArrowDlg::OnInitDialog() {
    if (!m_pDoc) {
        EndDialog(IDCANCEL);
        return true;
    }
    m_editMinLength.setText(ProfileValue(kMinLengthKey, "20"));
    m_editMaxMultiplier.setText(ProfileValue(kMultiplierKey, "0.5"));
    const QString storedSlope = ProfileValue(kMaxSlopeKey, "0.12");
    m_editMaxSlope.setText(storedSlope);
    // Closing the dialog without OK keeps a slope that can stand for the longest arrow: the stored
    // one, the default when the stored text is none.
    double stored = 0.0;
    m_dMaxSlope = ZQT_StringToDouble(storedSlope, &stored) && IsUsableMaxSlope(stored) ? stored : 0.12;

    const QString path = products::ChooseSlopeMapFile();
    SlopeBands bands;
    if (path.isEmpty() || !ReadSlopeBands(path, true, &bands)) {
        return true;
    }
    const float maximum = SampledMaxSlopePercent(bands.grid, bands.noData);
    // A map without a sampled slope above 0 (all flat, or all no data) has no maximum to offer.
    if (IsUsableMaxSlope(maximum)) {
        m_dMaxSlope = maximum;
        m_editMaxSlope.setText(QString::asprintf("%.2lf", double(maximum)));
    }
    return true;
}

void CDrawArrowDlg::OnOK() {
    const QString minLength = m_editMinLength.text();
    const QString multiplier = m_editMaxMultiplier.text();
    const QString maxSlope = m_editMaxSlope.text();
    double slope = 0.0;
    if (!ZQT_StringToDouble(maxSlope, &slope) || !IsUsableMaxSlope(slope)) {
        KvMessageBox(QStringLiteral("Invalid value"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    StoreProfileValue(kMinLengthKey, minLength);
    StoreProfileValue(kMultiplierKey, multiplier);
    StoreProfileValue(kMaxSlopeKey, maxSlope);
    ZQT_StringToDouble(minLength, &m_dMinVectorLength);
    ZQT_StringToDouble(multiplier, &m_dMaxLengthMultiplier);
    m_dMaxSlope = slope;
    EndDialog(IDOK);
}
