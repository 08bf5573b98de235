// Saving the traffic view: the text of redtComRechex, one byte per character, each line break
// written as CR LF, to a file the user picks in sSaveDialog1.
#pragma once

#include <string>

namespace mbus::console {

// The traffic view's text as the file holds it.
std::string TrafficFileText();

// Creates or replaces the file `path` (used as given) with `bytes`. Raises std::runtime_error
// with "Cannot create file "<path>". <reason>" when it cannot be created, and with the system's
// message when writing fails.
void WriteTrafficFile(const std::string& path, const std::string& bytes);

} // namespace mbus::console
