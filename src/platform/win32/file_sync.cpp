#include "platform/file_sync.h"

#include <io.h>

namespace mbus::platform {

bool SyncToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::_commit(::_fileno(file)) == 0;
}

} // namespace mbus::platform
