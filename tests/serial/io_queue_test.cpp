#include "serial/io_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace mbus::serial {
namespace {

std::unique_ptr<TDataBuffer> Data(std::int32_t capacity, std::int32_t filled = 0) {
    auto buffer = std::make_unique<TDataBuffer>(capacity);
    buffer->Filled = filled;
    return buffer;
}

TEST(IOQueue, ClaimingFollowsTheHeadAndItsClaim) {
    TIOQueue queue;
    EXPECT_EQ(queue.ClaimHead(), nullptr);

    queue.Append(Data(16));
    queue.Append(Data(32));
    TIOBuffer* head = queue.ClaimHead();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->Span(), 16);
    EXPECT_TRUE(head->Claimed());
    // The head is claimed: nothing else can be claimed, although more buffers follow.
    EXPECT_EQ(queue.ClaimHead(), nullptr);

    queue.ReleaseClaim(head);
    EXPECT_EQ(queue.ClaimHead(), head);

    // RemoveHead takes a claimed head all the same.
    std::unique_ptr<TIOBuffer> removed = queue.RemoveHead();
    EXPECT_EQ(removed.get(), head);
    EXPECT_EQ(queue.QueuedBytes(), 32u);
    EXPECT_EQ(queue.ClaimHead()->Span(), 32);
}

TEST(IOQueue, QueuedBytesCountsSpansOnly) {
    TIOQueue queue;
    queue.Append(Data(256));
    queue.Append(std::make_unique<TStatusBuffer>(0x08));
    queue.Append(std::make_unique<TStatusBuffer>(0x10));
    EXPECT_EQ(queue.QueuedBytes(), 256u);

    const std::uint8_t bytes[3] = {1, 2, 3};
    queue.Append(std::make_unique<TLogBuffer>(1, 2, 0, 0, bytes, 0));
    EXPECT_EQ(queue.QueuedBytes(), 256u);
    while (queue.RemoveHead()) {
    }
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(IOQueue, LogEntryCopiesItsData) {
    std::uint8_t bytes[3] = {7, 8, 9};
    TLogBuffer entry(2, 5, 1234, 42, bytes, 3);
    bytes[0] = 0;
    EXPECT_EQ(entry.Span(), 3);
    EXPECT_EQ(entry.Payload(), (std::vector<std::uint8_t>{7, 8, 9}));
    EXPECT_TRUE(TLogBuffer(2, 5, 0, 0, nullptr, 0).Payload().empty());
}

TEST(IOQueue, ClearKeepsTheClaimedHead) {
    TIOQueue queue;
    queue.Append(Data(100));
    for (int i = 0; i < 3; ++i)
        queue.Append(Data(10));
    TIOBuffer* head = queue.ClaimHead();
    queue.Clear();
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.QueuedBytes(), 100u);
    EXPECT_EQ(queue.RemoveHead().get(), head);
}

TEST(IOQueue, AwaitBufferReturnsAtOnceWhileSomethingIsQueued) {
    TIOQueue queue;
    EXPECT_EQ(queue.AwaitBuffer(20), platform::WAIT_TIMEOUT);
    queue.Append(Data(1));
    // The first wait consumes the signal; the queue is still not empty, so the second one
    // returns at once as well.
    EXPECT_EQ(queue.AwaitBuffer(50), platform::WAIT_OBJECT_0);
    EXPECT_EQ(queue.AwaitBuffer(50), platform::WAIT_OBJECT_0);
}

TEST(IOQueue, AppendWakesAWaitingConsumer) {
    TIOQueue queue;
    std::thread producer([&] { queue.Append(Data(1)); });
    EXPECT_EQ(queue.AwaitBuffer(5000), platform::WAIT_OBJECT_0);
    producer.join();
}

// Appenders, one consumer and a purging thread at once: the consumer's claimed buffer is never
// freed under it, and every byte it takes belongs to a buffer that was appended.
TEST(IOQueue, ConcurrentAppendClaimAndClear) {
    TIOQueue queue;
    std::atomic<int> running{2};
    std::atomic<bool> stop{false};
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 20000; ++i) {
                auto buffer = Data(4, 4);
                for (int k = 0; k < 4; ++k)
                    buffer->Bytes()[k] = static_cast<std::uint8_t>(p + 1);
                queue.Append(std::move(buffer));
            }
            running.fetch_sub(1);
        });
    }
    std::thread purger([&] {
        while (!stop.load())
            queue.Clear();
    });

    std::size_t taken = 0;
    const auto consume = [&] {
        TIOBuffer* head = queue.ClaimHead();
        if (head == nullptr)
            return false;
        auto* data = static_cast<TDataBuffer*>(head);
        for (std::int32_t k = data->Taken; k < data->Filled; ++k) {
            const std::uint8_t b = data->Bytes()[k];
            EXPECT_TRUE(b == 1 || b == 2);
            ++taken;
        }
        data->Taken = data->Filled;
        queue.RemoveHead();
        return true;
    };
    while (running.load() > 0 || queue.Count() > 0) {
        if (!consume())
            queue.AwaitBuffer(1);
    }
    for (auto& producer : producers)
        producer.join();
    stop.store(true);
    purger.join();
    while (consume()) {
    }
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_LE(taken, 2u * 20000u * 4u);
}

} // namespace
} // namespace mbus::serial
