#include "platform/platform_info.h"

namespace mbus::platform {

bool IsNtFamily() {
    return true;
}

} // namespace mbus::platform
