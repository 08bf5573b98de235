// The received bytes a delivery lets its handlers take without moving the input buffer's tail:
// where they start in the ring, how many there are and how many were taken, in one atomic word.
// The main thread, where the port component raises its events, takes a byte with plain loads and
// stores: no lock and no read-modify-write. Every other use holds the dispatcher's input lock; a
// thread other than the main one first revokes the main thread's way for the open window, with a
// process-wide barrier and a wait for a take in progress, so the count it sees stays exact even
// for a handler that the dispatcher gave up waiting for and that is still taking.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>

#include "platform/memory_barrier.h"
#include "platform/worker_thread.h"

namespace mbus::serial {

// `RingSize` is the size of the ring the window looks into: a power of two, at most 8192.
template <std::int32_t RingSize> class TakeWindow {
    static_assert(RingSize > 0 && RingSize <= 8192 && (RingSize & (RingSize - 1)) == 0);

public:
    // Opens the window on `limit` unread bytes starting at `base` in the ring at `storage`, none
    // taken. Input lock held; no window is open. The storage must stay readable for as long as a
    // taker may hold an old view of it.
    void Open(const std::uint8_t* storage, std::int32_t base, std::int32_t limit) {
        Generation_ = (Generation_ + 1) & kGenerationMask;
        Storage_.store(storage, std::memory_order_relaxed);
        Word_.store(kOpen | (static_cast<std::uint64_t>(Generation_) << kGenerationShift) |
                        (static_cast<std::uint64_t>(base) << kBaseShift) |
                        (static_cast<std::uint64_t>(limit) << kLimitShift),
                    std::memory_order_release);
    }

    // Closes the window and returns the bytes taken through it; none when it was not open. Input
    // lock held.
    std::optional<std::int32_t> Close() {
        if (!Settle())
            return std::nullopt;
        return Taken(Word_.exchange(0, std::memory_order_acq_rel));
    }

    // The main thread's way: takes the next byte of the open window. False when the window is
    // closed, all taken or revoked, on another thread, or on a system without the barrier; the
    // caller then takes under the input lock.
    bool TryTake(std::uint8_t& byte) {
        if (!FastWay())
            return false;
        std::uint64_t word = Word_.load(std::memory_order_acquire);
        if (!(word & kOpen))
            return false;
        const std::uint32_t generation = Generation(word);
        MainTaking_.store(true, std::memory_order_relaxed);
        // Orders the store above before the load below as far as the compiler goes; the
        // revoker's process-wide barrier does the rest.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        bool took = false;
        if (Revoked_.load(std::memory_order_relaxed) != generation) {
            word = Word_.load(std::memory_order_relaxed);
            if ((word & kOpen) && Generation(word) == generation && Taken(word) < Limit(word)) {
                byte = Storage_.load(
                    std::memory_order_relaxed)[(Base(word) + Taken(word)) & (RingSize - 1)];
                Word_.store(word + 1, std::memory_order_relaxed);
                took = true;
            }
        }
        MainTaking_.store(false, std::memory_order_release);
        return took;
    }

    // Input lock held: the bytes taken so far while the window is open, or none. On a thread
    // other than the main one the main thread's way is revoked first, so the count stays put
    // until the lock is released and CountTaken may change it.
    std::optional<std::int32_t> Settle() {
        const std::uint64_t word = Word_.load(std::memory_order_acquire);
        if (!(word & kOpen))
            return std::nullopt;
        if (!platform::IsMainThread())
            Revoke(Generation(word));
        return Taken(Word_.load(std::memory_order_acquire));
    }

    // Input lock held, after Settle gave a count: counts one byte the caller took itself.
    void CountTaken() { Word_.fetch_add(1, std::memory_order_acq_rel); }

private:
    static constexpr std::uint64_t kCountMask = (1u << 14) - 1; // 0..8192
    static constexpr int kLimitShift = 14;
    static constexpr int kBaseShift = 28;
    static constexpr int kGenerationShift = 42;
    static constexpr std::uint32_t kGenerationMask = 0xFFFF;
    static constexpr std::uint32_t kNoGeneration = 0xFFFFFFFF;
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
    static std::uint32_t Generation(std::uint64_t word) {
        return static_cast<std::uint32_t>(word >> kGenerationShift) & kGenerationMask;
    }

    // Whether the calling thread may take without the lock: the main thread, on a system with
    // the process-wide barrier.
    static bool FastWay() {
        static const bool barrier = platform::FlushProcessWriteBuffers();
        thread_local const bool mainThread = platform::IsMainThread();
        return barrier && mainThread;
    }

    // Ends the main thread's way for the window of `generation`: from the barrier on, the main
    // thread sees the revocation before it takes, and a take it began earlier is waited for.
    void Revoke(std::uint32_t generation) {
        if (Revoked_.load(std::memory_order_relaxed) == generation)
            return;
        Revoked_.store(generation, std::memory_order_seq_cst);
        platform::FlushProcessWriteBuffers();
        while (MainTaking_.load(std::memory_order_acquire))
            std::this_thread::yield();
    }

    std::atomic<std::uint64_t> Word_{0};
    std::atomic<const std::uint8_t*> Storage_{nullptr};
    std::atomic<bool> MainTaking_{false};               // the main thread is inside TryTake
    std::atomic<std::uint32_t> Revoked_{kNoGeneration}; // the generation revoked last
    std::uint32_t Generation_ = 0;                      // input lock
};

} // namespace mbus::serial
