#include "serial/io_queue.h"

#include "serial/exceptions.h"

#include <new>

namespace mbus::serial {

TDataBuffer::TDataBuffer(std::int32_t capacity) : TIOBuffer(Kind::Data, capacity) {
    try {
        Bytes_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(capacity));
    } catch (const std::bad_alloc&) {
        throw Exception("Insufficient memory to allocate I/O buffer.");
    }
}

TLogBuffer::TLogBuffer(std::uint8_t kind, std::uint16_t detail, std::uint32_t stamp,
                       std::uint32_t value, const std::uint8_t* data, std::int32_t length)
    : TIOBuffer(Kind::Log, length > 0 ? length : 0), Kind(kind), Detail(detail), Stamp(stamp),
      Value(value) {
    if (length > 0 && data != nullptr)
        Payload_.assign(data, data + length);
}

TIOQueue::TIOQueue() = default;

TIOQueue::~TIOQueue() = default;

void TIOQueue::Append(std::unique_ptr<TIOBuffer> buffer) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        QueuedBytes_ += static_cast<std::uint32_t>(buffer->Span());
        Buffers_.push_back(std::move(buffer));
        Count_.store(Buffers_.size(), std::memory_order_release);
    }
    Signal_.Set();
}

void TIOQueue::AppendAll(std::vector<std::unique_ptr<TIOBuffer>>& buffers) {
    if (buffers.empty())
        return;
    {
        std::lock_guard<std::mutex> guard(Lock_);
        for (std::unique_ptr<TIOBuffer>& buffer : buffers) {
            QueuedBytes_ += static_cast<std::uint32_t>(buffer->Span());
            Buffers_.push_back(std::move(buffer));
        }
        Count_.store(Buffers_.size(), std::memory_order_release);
    }
    buffers.clear();
    Signal_.Set();
}

TIOBuffer* TIOQueue::ClaimHead() {
    std::lock_guard<std::mutex> guard(Lock_);
    if (Buffers_.empty() || Buffers_.front()->Claimed_)
        return nullptr;
    Buffers_.front()->Claimed_ = true;
    return Buffers_.front().get();
}

void TIOQueue::ReleaseClaim(TIOBuffer* buffer) {
    std::lock_guard<std::mutex> guard(Lock_);
    buffer->Claimed_ = false;
}

std::unique_ptr<TIOBuffer> TIOQueue::RemoveHead() {
    std::lock_guard<std::mutex> guard(Lock_);
    if (Buffers_.empty())
        return nullptr;
    std::unique_ptr<TIOBuffer> head = std::move(Buffers_.front());
    Buffers_.pop_front();
    QueuedBytes_ -= static_cast<std::uint32_t>(head->Span());
    Count_.store(Buffers_.size(), std::memory_order_release);
    NoteRemoval();
    return head;
}

void TIOQueue::NoteRemoval() {
    if (RoomMark_ && QueuedBytes_ <= *RoomMark_) {
        RoomMark_.reset();
        Room_.Set();
    }
}

std::uint32_t TIOQueue::AwaitBuffer(std::uint32_t timeoutMs) {
    if (Count() > 0)
        return platform::WAIT_OBJECT_0;
    return platform::WaitOne(Signal_, timeoutMs);
}

std::uint32_t TIOQueue::AwaitBuffer(std::uint32_t timeoutMs, platform::Event& stop) {
    if (Count() > 0)
        return platform::WAIT_OBJECT_0;
    return platform::WaitAny({&Signal_, &stop}, timeoutMs);
}

std::uint32_t TIOQueue::AwaitAppend(std::uint32_t timeoutMs, platform::Event& stop) {
    return platform::WaitAny({&Signal_, &stop}, timeoutMs);
}

bool TIOQueue::AwaitRoom(std::uint32_t mark, platform::Event& stop) {
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            if (QueuedBytes_ <= mark) {
                RoomMark_.reset();
                return true;
            }
            RoomMark_ = mark;
        }
        if (platform::WaitAny({&Room_, &stop}, platform::INFINITE) != platform::WAIT_OBJECT_0)
            return false;
    }
}

void TIOQueue::Clear() {
    std::lock_guard<std::mutex> guard(Lock_);
    for (auto it = Buffers_.begin(); it != Buffers_.end();) {
        if ((*it)->Claimed_) {
            ++it;
            continue;
        }
        QueuedBytes_ -= static_cast<std::uint32_t>((*it)->Span());
        it = Buffers_.erase(it);
    }
    Count_.store(Buffers_.size(), std::memory_order_release);
    NoteRemoval();
}

std::uint32_t TIOQueue::QueuedBytes() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return QueuedBytes_;
}

} // namespace mbus::serial
