// Saving the traffic view: the text of redtComRechex, one byte per character, each line break
// written as CR LF, to a file the user picks in sSaveDialog1 (starting in the user's documents
// folder, with a name of the moment, "mbus-YYYYMMDD-HHMMSS.txt").
#pragma once

#include <QString>

#include <string>

namespace mbus::console {

// The user's documents folder, or the home folder where there is none: where the console's
// file dialogs start.
QString UserDocumentsFolder();

// The traffic view's text as the file holds it.
std::string TrafficFileText();

// Creates or replaces the file `path` (used as given) with `bytes`. Raises std::runtime_error
// with "Cannot create file "<path>". <reason>" when it cannot be created, and with the system's
// message when writing fails.
void WriteTrafficFile(const std::string& path, const std::string& bytes);

} // namespace mbus::console
