#include "platform/standard_streams.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace mbus::platform {

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

} // namespace mbus::platform
