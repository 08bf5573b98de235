// Decoding of complete frames: while edtAddr holds exactly seven bytes, each frame (as far as the
// work buffer holds it) goes through the reply decoder; a decoded line is appended to redtDecode
// and counted in ParsedCount. While a round of meters runs, the address of the round's request
// stands for edtAddr.
#pragma once

#include <string>

namespace mbus::console {

// Decodes one frame and shows the result; a frame that does not decode changes nothing.
void AnalyseFrame(const std::string& Data);

} // namespace mbus::console
