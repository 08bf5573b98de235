#include "serial/tapi_dispatcher.h"

#include "platform/system_error.h"
#include "serial/codes.h"

namespace mbus::serial {

TTapiDispatcher::TTapiDispatcher(TComponent* owner, platform::CommHandle deviceHandle)
    : TWin32Dispatcher(owner) {
    DeviceHandle_.store(deviceHandle);
}

TTapiDispatcher::~TTapiDispatcher() {
    DestroyDispatcher();
}

platform::CommHandle TTapiDispatcher::OpenDevice(const std::string&, std::uint32_t, std::uint32_t) {
    const platform::CommHandle handle = DeviceHandle_.load();
    if (handle != 0)
        return handle;
    platform::SetLastError(static_cast<std::uint32_t>(-ecNotOpen));
    return ecNotOpen;
}

} // namespace mbus::serial
