#include "mosaic/LaplacianBlend.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

int LaplacianLevelsFor(const cv::Size& size) {
    constexpr int kMostLevels = 4;
    constexpr int kCoarsestCells = 6;
    int levels = 0;
    int side = std::min(size.width, size.height);
    while (levels < kMostLevels && (side + 1) / 2 >= kCoarsestCells) {
        side = (side + 1) / 2;
        ++levels;
    }
    return levels;
}

LaplacianPyramidBlender::LaplacianPyramidBlender(const cv::Mat& left, const cv::Mat& right,
                                                 const cv::Mat& mask)
    : m_left(left), m_right(right), m_mask(mask), m_levels(LaplacianLevelsFor(left.size())) {
    BuildLaplacianPyramid(m_left, m_leftPyramid, m_leftSmallest);
    BuildLaplacianPyramid(m_right, m_rightPyramid, m_rightSmallest);
    BuildGaussianPyramid();
    BlendPyramids();
}

void LaplacianPyramidBlender::BuildLaplacianPyramid(const cv::Mat& image, std::vector<cv::Mat>& pyramid,
                                                    cv::Mat& smallest) const {
    pyramid.clear();
    cv::Mat current = image;
    for (int l = 0; l < m_levels; ++l) {
        cv::Mat down, up;
        cv::pyrDown(current, down);
        // Every upsampling is told the finer size, so odd sizes come back exactly.
        cv::pyrUp(down, up, current.size());
        pyramid.push_back(current - up);
        current = down;
    }
    current.copyTo(smallest);
}

void LaplacianPyramidBlender::BuildGaussianPyramid() {
    m_maskPyramid.clear();
    m_maskPyramid.push_back(m_mask);
    cv::Mat current = m_mask;
    for (int l = 1; l <= m_levels; ++l) {
        const cv::Size size = l < int(m_leftPyramid.size()) ? m_leftPyramid[l].size() : m_leftSmallest.size();
        cv::Mat down;
        cv::pyrDown(current, down, size);
        m_maskPyramid.push_back(down);
        current = down;
    }
}

void LaplacianPyramidBlender::BlendPyramids() {
    const auto mix = [](const cv::Mat& a, const cv::Mat& b, const cv::Mat& weight) {
        cv::Mat inverse = 1.0 - weight;
        cv::Mat mixed = a.mul(weight) + b.mul(inverse);
        mixed.convertTo(mixed, CV_32F);
        return mixed;
    };
    m_resultSmallest = mix(m_leftSmallest, m_rightSmallest, m_maskPyramid.back());
    m_resultPyramid.clear();
    for (int l = 0; l < m_levels; ++l) {
        m_resultPyramid.push_back(mix(m_leftPyramid[l], m_rightPyramid[l], m_maskPyramid[l]));
    }
}

void LaplacianPyramidBlender::Collapse(cv::Mat& result) const {
    cv::Mat current = m_resultSmallest;
    for (int l = m_levels - 1; l >= 0; --l) {
        cv::Mat up;
        cv::pyrUp(current, up, m_resultPyramid[l].size());
        current = up + m_resultPyramid[l];
    }
    result = current;
}

cv::Mat& LaplacianPyramidBlender::Blend(cv::Mat& result) {
    Collapse(result);
    return result;
}

cv::Mat& LaplacianPyramidBlend(cv::Mat& result, const cv::Mat& left, const cv::Mat& right,
                               const cv::Mat& mask) {
    LaplacianPyramidBlender blender(left, right, mask);
    return blender.Blend(result);
}
