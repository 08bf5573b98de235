#include "platform/file_open.h"

namespace mbus::platform {

// Linux takes a file name as the bytes it is given.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    return std::fopen(utf8Path.c_str(), mode);
}

} // namespace mbus::platform
