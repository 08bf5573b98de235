// ByteRing: a circular byte buffer, the one place where ring positions are computed. The
// dispatcher keeps its 8192-byte input buffer and its output ring in one each and exposes the
// fields under their designed names (InBuffer, InHead, InTail, InputFull; OutRing, OutRingSize,
// OutHead, OutTail, OutFull). Bytes wait from Tail up to, not including, Head, wrapping at Size;
// Head = Tail means an empty ring unless Full is set, which means Size waiting bytes.
// The ring has no lock of its own: its owner guards it (InputLock, OutputLock).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace mbus::serial {

// `Index` is the type of the positions: the input buffer counts in signed, the output ring in
// unsigned 32-bit values, as the dispatcher's fields do.
template <typename Index> struct ByteRing {
    explicit ByteRing(Index size = 0) : Size(size) {}

    std::unique_ptr<std::uint8_t[]> Storage; // Size bytes, or none while the port is closed
    Index Size = 0;
    Index Head = 0; // the next position written
    Index Tail = 0; // the oldest waiting byte
    bool Full = false;

    // Bytes waiting: all of them while Full is set.
    Index Count() const {
        if (Full)
            return Size;
        if (Tail < Head)
            return Head - Tail;
        if (Tail > Head)
            return Size - Tail + Head;
        return 0;
    }

    // Room for more bytes.
    Index Free() const { return Size - Count(); }

    // The position `count` bytes after `position`.
    Index Advance(Index position, Index count) const {
        if (Size == 0)
            return position;
        const Index next = position + count % Size;
        return next >= Size ? next - Size : next;
    }

    // How many bytes lie from Tail up to, not including, `position`.
    Index Offset(Index position) const {
        return position >= Tail ? position - Tail : Size - Tail + position;
    }

    // The byte stored at `position` (0..Size-1).
    std::uint8_t At(Index position) const { return Storage[static_cast<std::size_t>(position)]; }

    // The waiting byte `offset` places after the oldest, without taking it; false when fewer
    // bytes wait (or there is no storage).
    bool Peek(Index offset, std::uint8_t& byte) const {
        if (!Storage || std::cmp_less(offset, 0) || offset >= Count())
            return false;
        byte = At(Advance(Tail, offset));
        return true;
    }

    // Copies as many of the `count` bytes at `source` as there is room for behind the waiting
    // ones, across the physical end when needed; the ring is full when they fill it. Returns the
    // number copied.
    Index Put(const std::uint8_t* source, Index count) {
        if (!Storage || !std::cmp_greater(count, 0))
            return 0;
        count = std::min(count, Free());
        const Index toEnd = Size - Head;
        if (count > toEnd) {
            std::memcpy(Storage.get() + Head, source, static_cast<std::size_t>(toEnd));
            std::memcpy(Storage.get(), source + toEnd, static_cast<std::size_t>(count - toEnd));
        } else {
            std::memcpy(Storage.get() + Head, source, static_cast<std::size_t>(count));
        }
        Commit(count);
        return count;
    }

    // The free bytes that follow Head without crossing the physical end: where a writer may
    // place bytes directly before it commits them.
    std::span<std::uint8_t> WritableStretch() {
        if (!Storage || Full)
            return {};
        const Index length = Tail > Head ? Tail - Head : Size - Head;
        return {Storage.get() + Head, static_cast<std::size_t>(length)};
    }

    // Counts `count` bytes written at Head as waiting (never more than there is room for).
    void Commit(Index count) {
        count = std::min(count, Free());
        if (!std::cmp_greater(count, 0))
            return;
        Head = Advance(Head, count);
        Full = Head == Tail;
    }

    // Takes `count` bytes off the front without reading them.
    void Drop(Index count) {
        if (!std::cmp_greater(count, 0))
            return;
        Tail = Advance(Tail, count);
        Full = false;
    }

    // Takes every waiting byte off without reading them; the positions stay where they are.
    void DropAll() {
        Tail = Head;
        Full = false;
    }

    // Appends every waiting byte, oldest first, to `block` and empties the ring.
    void TakeAll(std::vector<std::uint8_t>& block) {
        const Index count = Count();
        if (Storage && count > 0) {
            const std::uint8_t* first = Storage.get() + Tail;
            const Index toEnd = Size - Tail;
            if (count <= toEnd) {
                block.insert(block.end(), first, first + count);
            } else {
                block.insert(block.end(), first, first + toEnd);
                block.insert(block.end(), Storage.get(), Storage.get() + (count - toEnd));
            }
        }
        Clear();
    }

    // Empty, both positions back at 0.
    void Clear() {
        Head = 0;
        Tail = 0;
        Full = false;
    }
};

} // namespace mbus::serial
