// Blending of two overlapping single-band rasters without a visible step: each Laplacian level is
// mixed with the weight mask smoothed to that level, so fine detail switches quickly from one
// source to the other and coarse structure changes slowly.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

class LaplacianPyramidBlender {
public:
    // left, right and mask are single-channel 32-bit float images of one size; the mask is the
    // weight of left (1: left only, 0: right only). They are shared, not copied. The pyramids
    // and their blend are built here.
    LaplacianPyramidBlender(const cv::Mat& left, const cv::Mat& right, const cv::Mat& mask);

    // Collapses the blended pyramid into result (the inputs' size and type) and returns it.
    cv::Mat& Blend(cv::Mat& result);

private:
    void BuildLaplacianPyramid(const cv::Mat& image, std::vector<cv::Mat>& pyramid, cv::Mat& smallest) const;
    void BuildGaussianPyramid();
    void BlendPyramids();
    void Collapse(cv::Mat& result) const;

    cv::Mat m_left;
    cv::Mat m_right;
    cv::Mat m_mask;
    std::vector<cv::Mat> m_leftPyramid;
    std::vector<cv::Mat> m_rightPyramid;
    std::vector<cv::Mat> m_resultPyramid;
    cv::Mat m_leftSmallest;
    cv::Mat m_rightSmallest;
    cv::Mat m_resultSmallest;
    std::vector<cv::Mat> m_maskPyramid;
    // Four levels, fewer in a narrow window (LevelsFor).
    int m_levels = 4;
};

// The levels a window of this size is blended with: at most four, and as many as keep the
// coarsest level at least six cells across its smaller side. A coarser level would mix the two
// sources over the whole window, so that its edges no longer meet the cells of either source.
int LaplacianLevelsFor(const cv::Size& size);

// The blend of left and right under the mask (see LaplacianPyramidBlender) into result, which is
// also returned. A NaN in either input spreads to the cells near it.
cv::Mat& LaplacianPyramidBlend(cv::Mat& result, const cv::Mat& left, const cv::Mat& right,
                               const cv::Mat& mask);
