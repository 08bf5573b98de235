// Decoding of complete frames: while edtAddr holds exactly seven bytes, each frame goes through
// the reply decoder; a decoded line is appended to redtDecode and counted in ParsedCount.
#pragma once

#include <cstddef>
#include <string>

namespace mbus::console {

// The work buffer the frame is copied into for decoding. A longer frame is decoded from its
// first kAnalyseBufferSize bytes.
inline constexpr std::size_t kAnalyseBufferSize = 1025;

// Decodes one frame and shows the result; a frame that does not decode changes nothing.
void AnalyseFrame(const std::string& Data);

} // namespace mbus::console
