// Pumping messages inside work: a close that arrives meanwhile must wait until the work ends.
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/tools/ZQT.h"
#include "platform/ui/CloseGuard.h"

TEST(Pump, ACloseArrivingWhileWorkIsPumpedIsRefused) {
    bool refusedInside = false;
    QTimer::singleShot(0, [&] { refusedInside = kv::IsCloseRefused(); });
    ZQT_PumpMessages();
    EXPECT_TRUE(refusedInside);
    EXPECT_EQ(kv::BusyCount(), 0);
}
