// Decoding of complete frames: while edtAddr holds exactly seven bytes, each frame (as far as the
// work buffer holds it) goes through the reply decoder; a decoded line is appended to redtDecode
// and counted in ParsedCount.
#pragma once

#include <string>

namespace mbus::console {

// Decodes one frame and shows the result; a frame that does not decode changes nothing.
void AnalyseFrame(const std::string& Data);

} // namespace mbus::console
