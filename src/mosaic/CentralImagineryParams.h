// Settings of an optional extra seam-routing cost that grows with the distance from the centre of
// the image being processed, so that seams keep to the image's border rather than cross its
// middle. The seamline generation builds it switched off and hands it to the builders by value.
#pragma once

#include <cstdint>

#include <opencv2/core/mat.hpp>

class CCentralImagineryParams {
public:
    CCentralImagineryParams() = default;
    CCentralImagineryParams(uint32_t enable, double radiusDivisor, double maximumCost, int32_t mode)
        : m_enable(enable), m_radiusDivisor(radiusDivisor), m_maximumCost(maximumCost), m_mode(mode) {}
    virtual ~CCentralImagineryParams() = default;

    // Ramp shapes.
    static constexpr int32_t kLinear = 0;
    static constexpr int32_t kQuadratic = 1;

    // False when the settings are switched on with a mode other than linear or quadratic or a
    // maximum cost outside 1 to 128 (the build then fails); true otherwise.
    bool IsValid() const;

    // Adds the penalty to the 8-bit cost image when the settings are switched on and valid: with
    // D the image's diagonal and R = D / radius divisor, nothing inside radius R of the centre,
    // beyond it a ramp (linear or quadratic in the distance beyond R) that reaches the maximum cost
    // at half the diagonal; every changed pixel is limited to 254, and pixels of 254 or more are
    // left as they are. A radius divisor below 2 (or one that leaves no ramp) adds nothing.
    void AddPenalty(cv::Mat& cost) const;

    uint32_t m_enable = 0;
    double m_radiusDivisor = 4.0;
    double m_maximumCost = 128.0;
    int32_t m_mode = kLinear;
};
