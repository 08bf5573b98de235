// The received bytes a delivery lets its handlers take without moving the input buffer's tail:
// where they start in the ring, how many there are and how many were taken, held in one atomic
// word. The handler's thread takes a byte with one compare-and-swap and no lock; the dispatcher
// thread closes the window after the handler and learns exactly how many bytes were taken, even
// when a handler it gave up on is still taking.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace mbus::serial {

// `RingSize` is the size of the ring the window looks into: a power of two, at most 8192.
template <std::int32_t RingSize> class TakeWindow {
    static_assert(RingSize > 0 && RingSize <= 8192 && (RingSize & (RingSize - 1)) == 0);

public:
    // Opens the window on `limit` unread bytes starting at `base` in the ring at `storage`, none
    // taken. The storage must stay readable for as long as a taker may hold an old view of it.
    void Open(const std::uint8_t* storage, std::int32_t base, std::int32_t limit) {
        Generation_ = (Generation_ + 1) & kGenerationMask;
        Storage_.store(storage, std::memory_order_relaxed);
        Word_.store(kOpen | (static_cast<std::uint64_t>(Generation_) << kGenerationShift) |
                        (static_cast<std::uint64_t>(base) << kBaseShift) |
                        (static_cast<std::uint64_t>(limit) << kLimitShift),
                    std::memory_order_release);
    }

    // Closes the window and returns the bytes taken through it (0 when it was not open).
    std::int32_t Close() {
        const std::uint64_t word = Word_.exchange(0, std::memory_order_acq_rel);
        return (word & kOpen) ? Taken(word) : 0;
    }

    // Takes the next byte of an open window; false when the window is closed or all taken.
    bool TryTake(std::uint8_t& byte) {
        std::uint64_t word = Word_.load(std::memory_order_acquire);
        while ((word & kOpen) && Taken(word) < Limit(word)) {
            const std::uint8_t* storage = Storage_.load(std::memory_order_relaxed);
            // Read before the byte is claimed: until then it is unread, and nothing writes
            // unread bytes.
            const std::uint8_t next = storage[(Base(word) + Taken(word)) & (RingSize - 1)];
            if (Word_.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
                byte = next;
                return true;
            }
        }
        return false;
    }

    // The bytes taken so far while the window is open, or none.
    std::optional<std::int32_t> TakenIfOpen() const {
        const std::uint64_t word = Word_.load(std::memory_order_acquire);
        if (!(word & kOpen))
            return std::nullopt;
        return Taken(word);
    }

    // Counts one byte that the caller took itself from an open window (under the lock that also
    // guards Open and Close, so the window cannot close meanwhile).
    void CountTaken() { Word_.fetch_add(1, std::memory_order_acq_rel); }

private:
    static constexpr std::uint64_t kCountMask = (1u << 14) - 1; // 0..8192
    static constexpr int kLimitShift = 14;
    static constexpr int kBaseShift = 28;
    static constexpr int kGenerationShift = 42;
    static constexpr std::uint32_t kGenerationMask = 0xFFFF;
    static constexpr std::uint64_t kOpen = 1ull << 63;

    static std::int32_t Taken(std::uint64_t word) {
        return static_cast<std::int32_t>(word & kCountMask);
    }
    static std::int32_t Limit(std::uint64_t word) {
        return static_cast<std::int32_t>((word >> kLimitShift) & kCountMask);
    }
    static std::int32_t Base(std::uint64_t word) {
        return static_cast<std::int32_t>((word >> kBaseShift) & kCountMask);
    }

    std::atomic<std::uint64_t> Word_{0};
    std::atomic<const std::uint8_t*> Storage_{nullptr};
    std::uint32_t Generation_ = 0; // the opener's only
};

} // namespace mbus::serial
