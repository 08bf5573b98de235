// The byte ring at its wrap points: puts and takes across the physical end, the full ring whose
// positions meet, the empty ring, a block that fits exactly, peeks that take nothing; and the
// input buffer's full ring purged while a delivery runs, through the real dispatch path.
#include "fake_dispatcher.h"

#include "platform/message_window.h"
#include "serial/byte_ring.h"
#include "serial/notify_messages.h"

#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace mbus::serial {
namespace {

// A 16-byte ring with both positions at `position`, empty.
ByteRing<std::uint32_t> RingAt(std::uint32_t position) {
    ByteRing<std::uint32_t> ring(16);
    ring.Storage = std::make_unique<std::uint8_t[]>(16);
    ring.Head = position;
    ring.Tail = position;
    return ring;
}

std::vector<std::uint8_t> Sequence(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

std::vector<std::uint8_t> Peeked(const ByteRing<std::uint32_t>& ring) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t byte;
    for (std::uint32_t i = 0; ring.Peek(i, byte); ++i)
        bytes.push_back(byte);
    return bytes;
}

TEST(ByteRing, PutAndTakeAcrossThePhysicalEnd) {
    ByteRing<std::uint32_t> ring = RingAt(13);
    const auto bytes = Sequence(10, 1);
    EXPECT_EQ(ring.Put(bytes.data(), 10), 10u);
    // 3 bytes at 13..15, 7 at 0..6.
    EXPECT_EQ(ring.Head, 7u);
    EXPECT_EQ(ring.Storage[15], 3);
    EXPECT_EQ(ring.Storage[0], 4);
    EXPECT_EQ(ring.Count(), 10u);
    EXPECT_EQ(ring.Free(), 6u);
    EXPECT_EQ(ring.Offset(ring.Head), 10u);
    EXPECT_EQ(ring.Advance(13, 10), 7u);

    std::vector<std::uint8_t> block;
    ring.TakeAll(block);
    EXPECT_EQ(block, bytes);
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_EQ(ring.Head, 0u);
    EXPECT_EQ(ring.Tail, 0u);

    // Dropping across the end moves the tail round to the front.
    ring = RingAt(14);
    ring.Put(bytes.data(), 5);
    ring.Drop(3);
    EXPECT_EQ(ring.Tail, 1u);
    EXPECT_EQ(Peeked(ring), Sequence(2, 4));
}

TEST(ByteRing, ExactFitFillsTheRingAndMoreIsRefused) {
    // Exactly up to the physical end: the head wraps to 0 and the ring is not full.
    ByteRing<std::uint32_t> ring = RingAt(10);
    const auto bytes = Sequence(16, 1);
    EXPECT_EQ(ring.Put(bytes.data(), 6), 6u);
    EXPECT_EQ(ring.Head, 0u);
    EXPECT_FALSE(ring.Full);

    // Exactly the free room: the positions meet and the ring holds all 16 bytes.
    EXPECT_EQ(ring.Put(bytes.data() + 6, 10), 10u);
    EXPECT_EQ(ring.Head, ring.Tail);
    EXPECT_TRUE(ring.Full);
    EXPECT_EQ(ring.Count(), 16u);
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_TRUE(ring.WritableStretch().empty());
    EXPECT_EQ(ring.Put(bytes.data(), 1), 0u);
    EXPECT_EQ(Peeked(ring), bytes);

    // A full ring taken whole comes out oldest first.
    std::vector<std::uint8_t> block;
    ring.TakeAll(block);
    EXPECT_EQ(block, bytes);
    EXPECT_FALSE(ring.Full);

    // A block larger than the room puts only what fits.
    ring = RingAt(5);
    EXPECT_EQ(ring.Put(bytes.data(), 12), 12u);
    EXPECT_EQ(ring.Put(bytes.data(), 12), 4u);
    EXPECT_TRUE(ring.Full);
}

TEST(ByteRing, EmptyRingGivesNothing) {
    ByteRing<std::uint32_t> ring = RingAt(7);
    std::uint8_t byte = 0xAA;
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_EQ(ring.Free(), 16u);
    EXPECT_FALSE(ring.Peek(0, byte));
    EXPECT_EQ(byte, 0xAA);
    std::vector<std::uint8_t> block;
    ring.TakeAll(block);
    EXPECT_TRUE(block.empty());

    // Dropping nothing leaves a full ring full; dropping all empties it where it stands.
    const auto bytes = Sequence(16, 1);
    ring = RingAt(7);
    ring.Put(bytes.data(), 16);
    ring.Drop(0);
    EXPECT_TRUE(ring.Full);
    ring.DropAll();
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_EQ(ring.Tail, 7u);

    // A ring without storage takes nothing and gives nothing.
    ByteRing<std::uint32_t> released(16);
    EXPECT_EQ(released.Put(bytes.data(), 4), 0u);
    EXPECT_FALSE(released.Peek(0, byte));
}

TEST(ByteRing, PeekTakesNothing) {
    ByteRing<std::uint32_t> ring = RingAt(14);
    const auto bytes = Sequence(4, 1);
    ring.Put(bytes.data(), 4);
    std::uint8_t byte = 0;
    ASSERT_TRUE(ring.Peek(3, byte)); // past the physical end
    EXPECT_EQ(byte, 4);
    ASSERT_TRUE(ring.Peek(0, byte));
    EXPECT_EQ(byte, 1);
    EXPECT_FALSE(ring.Peek(4, byte));
    EXPECT_EQ(ring.Count(), 4u);
    EXPECT_EQ(ring.Tail, 14u);
}

// The way the dispatcher fills its input buffer: straight into the free stretch up to the
// physical end, then from the start up to the oldest unread byte.
TEST(ByteRing, WritableStretchesStopAtTheEndAndAtTheTail) {
    ByteRing<std::int32_t> ring(16);
    ring.Storage = std::make_unique<std::uint8_t[]>(16);
    ring.Head = 12;
    ring.Tail = 4;
    EXPECT_EQ(ring.WritableStretch().size(), 4u);
    EXPECT_EQ(ring.WritableStretch().data(), ring.Storage.get() + 12);
    ring.Commit(4);
    EXPECT_EQ(ring.Head, 0);
    EXPECT_EQ(ring.WritableStretch().size(), 4u);
    ring.Commit(9); // more than there is room for counts as the room
    EXPECT_EQ(ring.Head, 4);
    EXPECT_TRUE(ring.Full);
    EXPECT_EQ(ring.Count(), 16);
    EXPECT_EQ(ring.Offset(ring.Tail), 0);
}

// A handler that purges a full input buffer while its delivery runs keeps a count that never
// drops below what it has taken; the delivery then drops every byte and the next arrival is
// announced alone.
TEST(ByteRingInDispatcher, FullInputBufferPurgedDuringADelivery) {
    testing::FakeDispatcher dispatcher;
    ASSERT_EQ(dispatcher.OpenPort("fake", 9600, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn),
              ecOK);
    std::vector<std::uintptr_t> announced;
    std::vector<std::int32_t> countsAfterPurge;
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [&](platform::WindowHandle, std::uint32_t msg, std::uintptr_t count, std::intptr_t) {
            if (msg != MsgTriggerAvail)
                return std::intptr_t{0};
            announced.push_back(count);
            if (announced.size() == 1) {
                std::uint8_t byte;
                for (int i = 0; i < 3; ++i)
                    dispatcher.TakeByte(byte);
                dispatcher.PurgeInput();
                countsAfterPurge.push_back(dispatcher.InputCount());
            } else {
                std::uint8_t byte;
                while (dispatcher.TakeByte(byte) == ecOK) {
                }
            }
            return std::intptr_t{0};
        });
    dispatcher.Receive(std::string(kInBufferSize, 'x'));
    dispatcher.SetAvailThreshold(1);
    dispatcher.AddNotifyWindow(window);
    dispatcher.UpdateNotifyNeed(kNotifyNeedComponentWants);

    ASSERT_TRUE(mbus::testing::PumpUntil([&] { return announced.size() == 1; }));
    EXPECT_EQ(announced[0], static_cast<std::uintptr_t>(kInBufferSize));
    ASSERT_TRUE(mbus::testing::PumpUntil([&] { return !dispatcher.InDispatchNow(); }));
    EXPECT_EQ(countsAfterPurge, std::vector<std::int32_t>{kInBufferSize - 3});
    EXPECT_EQ(dispatcher.InputCount(), 0);

    dispatcher.Receive("y");
    ASSERT_TRUE(mbus::testing::PumpUntil([&] { return announced.size() == 2; }));
    EXPECT_EQ(announced[1], 1u);
    dispatcher.ClosePort();
    platform::DestroyMessageWindow(window);
}

} // namespace
} // namespace mbus::serial
