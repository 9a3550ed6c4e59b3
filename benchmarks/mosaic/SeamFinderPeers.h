// The peers of the seam routing: OpenCV's dynamic-programming (COLOR_GRAD) and graph-cut
// (COST_COLOR) seam finders, run on the images the builders route (reduced and masked), placed at
// their corners at the working scale, each with a full mask.
#pragma once

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/stitching/detail/seam_finders.hpp>

#include <vector>

template <class Finder>
void RunSeamFinder(benchmark::State& state, Finder& finder, const std::vector<cv::Mat>& reduced,
                   const std::vector<cv::Point>& corners) {
    std::vector<cv::UMat> images(reduced.size()), masks(reduced.size());
    for (size_t i = 0; i < reduced.size(); ++i) {
        reduced[i].convertTo(images[i], CV_32FC3);
    }
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < reduced.size(); ++i) {
            cv::Mat(reduced[i].size(), CV_8U, cv::Scalar(255)).copyTo(masks[i]);
        }
        state.ResumeTiming();
        finder.find(images, corners, masks);
        benchmark::DoNotOptimize(masks[0].u);
    }
}

inline void RunDpSeamFinder(benchmark::State& state, const std::vector<cv::Mat>& reduced,
                            const std::vector<cv::Point>& corners) {
    cv::detail::DpSeamFinder finder(cv::detail::DpSeamFinder::COLOR_GRAD);
    RunSeamFinder(state, finder, reduced, corners);
}

inline void RunGraphCutSeamFinder(benchmark::State& state, const std::vector<cv::Mat>& reduced,
                                  const std::vector<cv::Point>& corners) {
    cv::detail::GraphCutSeamFinder finder(cv::detail::GraphCutSeamFinderBase::COST_COLOR);
    RunSeamFinder(state, finder, reduced, corners);
}
