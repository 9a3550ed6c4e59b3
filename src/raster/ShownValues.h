// How the cells a band stores become the values the plan view shows: the picture of a one-band
// layer is coloured from them and the readout under the cursor names them, so that both read a
// cell alike.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

namespace kv {

class ShownValues {
public:
    // The rule of band 1's no-data value, scale and offset (a scale of 0 counts as none).
    explicit ShownValues(GDALRasterBandH band);

    GDALDataType Type() const { return m_type; }
    // True for a stored value without data: the band's no-data value (also as a Float32 read of
    // it holds it), -9999, and any value that is no finite number.
    bool IsEmpty(double stored) const;
    // The value shown for a stored value: value x scale + offset, reckoned in double; -9999 for no
    // data and for a value that would show as -9999.
    float Of(double stored) const;
    // Float32 cells as read to the values shown, in place, with `empty` for no data.
    void InPlace(cv::Mat& cells, float empty) const;
    // Cells of any depth to the values shown (Float32, -9999 for no data).
    void Convert(const cv::Mat& stored, cv::Mat& shown) const;

private:
    GDALDataType m_type = GDT_Unknown;
    bool m_hasNoData = false;
    double m_noData = 0.0;
    double m_scale = 1.0;
    double m_offset = 0.0;
};

}  // namespace kv
