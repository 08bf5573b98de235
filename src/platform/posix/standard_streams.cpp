#include "platform/standard_streams.h"

namespace mbus::platform {

void UseBinaryStandardStreams() {
    // The standard streams are byte streams here already.
}

} // namespace mbus::platform
