#include "protocol/receive_framing.h"

#include <gtest/gtest.h>

namespace mbus::protocol {
namespace {

TEST(ReceiveFraming, AFrameIsDueAtTheEleventhQuietTick) {
    ComRec_Struct frame;
    ReceiveByte(frame, '\x68');
    ReceiveByte(frame, '\x16');
    for (int tick = 1; tick <= 10; ++tick)
        EXPECT_FALSE(IdleTick(frame)) << tick;
    EXPECT_TRUE(IdleTick(frame));
    EXPECT_TRUE(frame.RecDone);
    EXPECT_EQ(frame.IdleTicks, 0);
    EXPECT_EQ(frame.RecData, "\x68\x16");
}

TEST(ReceiveFraming, BytesWithShortGapsJoinOneFrame) {
    ComRec_Struct frame;
    for (int burst = 0; burst < 3; ++burst) {
        ReceiveByte(frame, static_cast<char>(burst));
        for (int tick = 0; tick < 10; ++tick)
            EXPECT_FALSE(IdleTick(frame));
        EXPECT_FALSE(frame.RecDone);
    }
    EXPECT_TRUE(IdleTick(frame));
    EXPECT_EQ(frame.RecData.size(), 3u);
}

TEST(ReceiveFraming, AQuietLineCyclesWithoutFrames) {
    ComRec_Struct frame;
    for (int tick = 0; tick < 100; ++tick) {
        EXPECT_FALSE(IdleTick(frame));
        EXPECT_LE(frame.IdleTicks, 10);
    }
    EXPECT_TRUE(frame.RecDone);
    ReceiveByte(frame, 'x');
    EXPECT_FALSE(frame.RecDone);
}

} // namespace
} // namespace mbus::protocol
