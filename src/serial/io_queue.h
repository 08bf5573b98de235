// The thread-safe queue that carries everything the I/O threads receive to the dispatcher thread
// (data blocks and comm-event reports), and the dispatch log's entries. Any number of threads
// append at the tail; one consumer claims, reads and removes at the head; another thread may
// purge at any time. A claimed buffer survives a purge, which is what keeps the consumer's buffer
// alive while it reads it. A producer that must not run ahead of the consumer waits for room.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/event.h"

namespace mbus::serial {

// Base of every queued buffer. The buffer kind replaces run-time type tests.
class TIOBuffer {
public:
    enum class Kind { Data, Status, Log };

    virtual ~TIOBuffer() = default;
    TIOBuffer(const TIOBuffer&) = delete;
    TIOBuffer& operator=(const TIOBuffer&) = delete;

    Kind BufferKind() const { return Kind_; }
    // The byte count this buffer adds to its queue's QueuedBytes.
    std::int32_t Span() const { return Span_; }
    // Set while a consumer holds the buffer after ClaimHead (guarded by the queue's lock).
    bool Claimed() const { return Claimed_; }

protected:
    TIOBuffer(Kind kind, std::int32_t span) : Kind_(kind), Span_(span) {}

private:
    friend class TIOQueue;
    const Kind Kind_;
    const std::int32_t Span_;
    bool Claimed_ = false;
};

// A block of received bytes: Bytes holds Span bytes, zero-filled at creation; Filled of them are
// valid, Taken of those have been consumed. 0 <= Taken <= Filled <= Span.
class TDataBuffer : public TIOBuffer {
public:
    // Throws Exception("Insufficient memory to allocate I/O buffer.") when the storage cannot be
    // obtained.
    explicit TDataBuffer(std::int32_t capacity);

    std::uint8_t* Bytes() { return Bytes_.get(); }
    const std::uint8_t* Bytes() const { return Bytes_.get(); }
    std::int32_t Filled = 0;
    std::int32_t Taken = 0;

private:
    std::unique_ptr<std::uint8_t[]> Bytes_;
};

// One comm-event report of the status thread.
class TStatusBuffer : public TIOBuffer {
public:
    explicit TStatusBuffer(std::uint32_t events) : TIOBuffer(Kind::Status, 0), Events(events) {}
    const std::uint32_t Events;
};

// One dispatch-log entry with a private copy of its data.
class TLogBuffer : public TIOBuffer {
public:
    TLogBuffer(std::uint8_t kind, std::uint16_t detail, std::uint32_t stamp, std::uint32_t value,
               const std::uint8_t* data, std::int32_t length);

    const std::uint8_t Kind;
    const std::uint16_t Detail;
    const std::uint32_t Stamp;
    const std::uint32_t Value;
    // The entry's data; empty when it was made without data.
    const std::vector<std::uint8_t>& Payload() const { return Payload_; }

private:
    std::vector<std::uint8_t> Payload_;
};

class TIOQueue {
public:
    TIOQueue();
    // Clears the queue; buffers still claimed at that point are freed with it, since no consumer
    // outlives the queue's owner.
    ~TIOQueue();
    TIOQueue(const TIOQueue&) = delete;
    TIOQueue& operator=(const TIOQueue&) = delete;

    // Adds the buffer at the tail, adds its Span to QueuedBytes and wakes a waiting consumer.
    void Append(std::unique_ptr<TIOBuffer> buffer);
    // Appends the buffers in order as one step: one lock and one wake for all of them.
    void AppendAll(std::vector<std::unique_ptr<TIOBuffer>>& buffers);

    // Marks the head claimed and returns it, still queued; none when the queue is empty or the
    // head is already claimed.
    TIOBuffer* ClaimHead();

    // Clears the claim of a buffer that ClaimHead returned and that stays queued.
    void ReleaseClaim(TIOBuffer* buffer);

    // Removes the head and hands it to the caller, claimed or not; none when empty.
    std::unique_ptr<TIOBuffer> RemoveHead();

    // WAIT_OBJECT_0 at once when a buffer is queued; otherwise waits for an Append for up to
    // `timeoutMs` and returns that wait's result (WAIT_OBJECT_0, WAIT_TIMEOUT, ...).
    std::uint32_t AwaitBuffer(std::uint32_t timeoutMs);
    // The same, ending early with WAIT_OBJECT_0 + 1 when `stop` is set.
    std::uint32_t AwaitBuffer(std::uint32_t timeoutMs, platform::Event& stop);
    // Waits for the next Append or Wake even while buffers are queued (for a consumer that cannot
    // take what is queued now): WAIT_OBJECT_0, WAIT_OBJECT_0 + 1 when `stop` is set, or
    // WAIT_TIMEOUT.
    std::uint32_t AwaitAppend(std::uint32_t timeoutMs, platform::Event& stop);

    // Waits until QueuedBytes is at most `mark` (true) or `stop` is set (false). Removals and
    // Clear wake the waiter once they have brought the queue down to the mark.
    bool AwaitRoom(std::uint32_t mark, platform::Event& stop);

    // Wakes a consumer waiting in AwaitBuffer without queuing anything (to see a stop request).
    void Wake() { Signal_.Set(); }

    // Removes and frees every buffer that is not claimed; claimed buffers stay in place.
    void Clear();

    // Sum of Span over the queued buffers.
    std::uint32_t QueuedBytes() const;
    // Number of queued buffers.
    std::size_t Count() const { return Count_.load(std::memory_order_acquire); }

private:
    // Wakes a producer in AwaitRoom once the queue is down to its mark; call with Lock_ held.
    void NoteRemoval();

    mutable std::mutex Lock_; // guards Buffers_, QueuedBytes_, RoomMark_ and every Claimed flag
    platform::Event Signal_{false, false};
    platform::Event Room_{false, false};
    std::deque<std::unique_ptr<TIOBuffer>> Buffers_;
    std::uint32_t QueuedBytes_ = 0;
    std::optional<std::uint32_t> RoomMark_; // the mark a producer in AwaitRoom waits for
    std::atomic<std::size_t> Count_{0};     // Buffers_.size(), readable without the lock
};

} // namespace mbus::serial
