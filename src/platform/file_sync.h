// Making what a program wrote to a file survive a power cut: the C stream's buffer goes to the
// system (which alone survives the program's crash) and the system's to the disk. The console's
// traffic log file uses it.
#pragma once

#include <cstdio>

namespace mbus::platform {

// Flushes `file`'s stream buffer and the system's copy of the file to the disk; false when
// either fails (errno tells why on both systems).
bool SyncToDisk(std::FILE* file);

} // namespace mbus::platform
