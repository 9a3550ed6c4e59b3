// Walking a raster in blocks of at most 1024 x 1024 cells, rows of blocks from the top and
// within a row from the left, with a progress bar that counts the blocks. Whole bands are read and
// written this way so that no second full-size buffer is ever needed.
#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include <algorithm>

#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"

namespace kv {

// Side of the blocks.
inline constexpr int kBlockSide = 1024;

// Number of blocks of a raster of this size (0 for an empty one).
inline int BlockCount(int width, int height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    return ((width + kBlockSide - 1) / kBlockSide) * ((height + kBlockSide - 1) / kBlockSide);
}

// Calls f(window, index) for the blocks of a raster in order; stops and answers false at the first
// block for which f answers false.
template <typename F>
bool ForEachBlock(int width, int height, F&& f) {
    int index = 0;
    for (int y = 0; y < height; y += kBlockSide) {
        for (int x = 0; x < width; x += kBlockSide) {
            cv::Rect window(x, y, std::min(kBlockSide, width - x), std::min(kBlockSide, height - y));
            if (!f(window, index++)) {
                return false;
            }
        }
    }
    return true;
}

// The progress of a block walk: range 0 .. steps and, on a time-to-complete bar, the operation's
// name while it lives; position and name cleared afterwards. Each step pumps messages so that
// windows repaint meanwhile.
class BlockProgress {
public:
    BlockProgress(ProgressSink* sink, int steps, const QString& caption) : m_sink(sink) {
        if (m_sink) {
            m_sink->SetRange(0, steps);
            m_sink->SetPos(0);
            m_sink->SetStartTime();
            ZQT_PumpMessages();
            m_sink->SetBarText(caption);
        }
    }
    ~BlockProgress() {
        if (m_sink) {
            m_sink->SetPos(0);
            m_sink->SetBarText(QString());
        }
    }
    BlockProgress(const BlockProgress&) = delete;
    BlockProgress& operator=(const BlockProgress&) = delete;

    // Sets the position to the steps done so far.
    void Step(int done) {
        if (m_sink) {
            m_sink->SetPos(done);
        }
        ZQT_PumpMessages();
    }

private:
    ProgressSink* m_sink;
};

}  // namespace kv
