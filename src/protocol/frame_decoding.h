// Whether and how a complete received frame is decoded: only while the address text gives
// exactly seven bytes, and from the frame's first 1025 bytes, the work buffer it is copied into.
// The console's AnalyseFrame and `mbus read` decide with this one rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mbus::protocol {

// The work buffer a frame is copied into for decoding. A longer frame is decoded from its first
// kAnalyseBufferSize bytes.
inline constexpr std::size_t kAnalyseBufferSize = 1025;

// The decoded line of `frame`, or the empty text. `addressText` is the meter address as typed (hex
// digits paired in order, anything else skipped); it only gates decoding and is never compared
// with the reply. A text that gives more than seven bytes gives no decoding.
std::string DecodeReceivedFrame(std::string_view addressText, std::span<const std::uint8_t> frame);

} // namespace mbus::protocol
