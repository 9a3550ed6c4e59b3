#include "raster/ShownValues.h"

#include <opencv2/core/hal/intrin.hpp>

#include <cmath>

#include "raster/DEM.h"

namespace kv {

ShownValues::ShownValues(GDALRasterBandH band) {
    if (!band) {
        return;
    }
    m_type = GDALGetRasterDataType(band);
    int set = 0;
    m_noData = GDALGetRasterNoDataValue(band, &set);
    m_hasNoData = set != 0;
    double value = GDALGetRasterScale(band, &set);
    m_scale = set && value != 0.0 ? value : 1.0;
    value = GDALGetRasterOffset(band, &set);
    m_offset = set ? value : 0.0;
}

bool ShownValues::IsEmpty(double stored) const {
    if (!std::isfinite(stored)) {
        return true;
    }
    if (!m_hasNoData) {
        return stored == kNoData;
    }
    return stored == m_noData || stored == static_cast<double>(static_cast<float>(m_noData)) ||
           stored == kNoData;
}

float ShownValues::Of(double stored) const {
    return IsEmpty(stored) ? kNoData : static_cast<float>(stored * m_scale + m_offset);
}

void ShownValues::InPlace(cv::Mat& cells, float empty) const {
    const bool plain = (!m_hasNoData || m_noData == kNoData) && m_scale == 1.0 && m_offset == 0.0;
    for (int r = 0; r < cells.rows; ++r) {
        float* p = cells.ptr<float>(r);
        if (plain) {
            // No data only where -9999 or no finite number; v x 1 + 0 is v (a negative zero turns
            // positive, as it does in double).
            int c = 0;
#if CV_SIMD128
            const cv::v_int32x4 exponent = cv::v_setall_s32(0x7F800000);
            const cv::v_float32x4 noData = cv::v_setall_f32(kNoData);
            const cv::v_float32x4 fill = cv::v_setall_f32(empty);
            const cv::v_float32x4 zero = cv::v_setall_f32(0.0f);
            for (; c + 4 <= cells.cols; c += 4) {
                const cv::v_float32x4 v = cv::v_load(p + c);
                const cv::v_float32x4 finite =
                    cv::v_reinterpret_as_f32((cv::v_reinterpret_as_s32(v) & exponent) != exponent);
                cv::v_store(p + c, cv::v_select(finite & (v != noData), v + zero, fill));
            }
#endif
            for (; c < cells.cols; ++c) {
                p[c] = std::isfinite(p[c]) && p[c] != kNoData ? p[c] + 0.0f : empty;
            }
            continue;
        }
        for (int c = 0; c < cells.cols; ++c) {
            const float shown = Of(p[c]);
            p[c] = shown == kNoData ? empty : shown;
        }
    }
}

void ShownValues::Convert(const cv::Mat& stored, cv::Mat& shown) const {
    cv::Mat values;
    stored.convertTo(values, CV_64F);
    shown.create(stored.size(), CV_32FC1);
    for (int r = 0; r < values.rows; ++r) {
        const double* s = values.ptr<double>(r);
        float* d = shown.ptr<float>(r);
        for (int c = 0; c < values.cols; ++c) {
            d[c] = Of(s[c]);
        }
    }
}

}  // namespace kv
