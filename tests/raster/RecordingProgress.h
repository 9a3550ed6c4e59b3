// A progress sink that records what it is told and can ask to stop.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "platform/tools/ProgressSink.h"

namespace rtest {

class RecordingProgress : public ProgressSink {
public:
    void SetRange(int lower, int upper) override { ranges.push_back({lower, upper}); }
    void SetPos(int pos) override {
        positions.push_back(pos);
        if (abortWhen && abortWhen(pos)) {
            aborted = true;
        }
    }
    void SetCaption(const QString& caption) override { captions.push_back(caption); }
    void SetBarText(const QString& text) override { barTexts.push_back(text); }
    void SetStartTime() override { ++starts; }
    bool IsAborted() const override { return aborted; }

    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    QStringList captions;
    QStringList barTexts;
    int starts = 0;
    bool aborted = false;
    // Decides from each position whether the operator asks to stop from then on.
    std::function<bool(int)> abortWhen;
};

}  // namespace rtest
