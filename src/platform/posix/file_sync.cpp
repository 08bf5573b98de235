#include "platform/file_sync.h"

#include <unistd.h>

namespace mbus::platform {

bool SyncToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::fdatasync(::fileno(file)) == 0;
}

} // namespace mbus::platform
