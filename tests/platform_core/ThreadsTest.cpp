#include <QThreadPool>

#include <cpl_conv.h>
#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>

#include <mutex>
#include <set>
#include <thread>

#include "platform/tools/Threads.h"
#include "support/TestEnv.h"

namespace {

// The threads an OpenCV parallel loop of many busy stripes ran on.
std::set<std::thread::id> LoopThreads() {
    std::mutex lock;
    std::set<std::thread::id> ran;
    cv::parallel_for_(cv::Range(0, 64), [&](const cv::Range& range) {
        volatile double sum = 0.0;
        for (int i = 0; i < 200000 * (range.end - range.start); ++i) {
            sum = sum + i;
        }
        const std::lock_guard<std::mutex> hold(lock);
        ran.insert(std::this_thread::get_id());
    });
    return ran;
}

}  // namespace

TEST(Threads, TheProgramsThreadsFollowTheProcessorsItMayRunOn) {
    const int all = kv::AllowedProcessors();
    ASSERT_GE(all, 1);
    {
        // On one processor every pool holds one thread and a parallel loop runs on the calling
        // thread alone.
        const kvtest::ProcessorsScope one(1);
        ASSERT_EQ(one.Count(), 1);
        EXPECT_EQ(kv::AllowedProcessors(), 1);
        EXPECT_EQ(kv::ProgramThreads(), 1);
        EXPECT_EQ(cv::getNumThreads(), 1);
        EXPECT_EQ(QThreadPool::globalInstance()->maxThreadCount(), 1);
        EXPECT_STREQ(CPLGetConfigOption("GDAL_NUM_THREADS", ""), "1");
        EXPECT_EQ(LoopThreads(), std::set<std::thread::id>{std::this_thread::get_id()});
    }
    EXPECT_EQ(kv::AllowedProcessors(), all);
    EXPECT_EQ(kv::ProgramThreads(), all);
    EXPECT_EQ(cv::getNumThreads(), all);
    if (all >= 2) {
        const kvtest::ProcessorsScope two(2);
        EXPECT_EQ(kv::ProgramThreads(), 2);
        EXPECT_EQ(QThreadPool::globalInstance()->maxThreadCount(), 2);
        EXPECT_LE(LoopThreads().size(), 2u);
    }
}
