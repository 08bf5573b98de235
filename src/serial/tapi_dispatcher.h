// TTapiDispatcher: the overlapped dispatcher for a device handle that a telephony layer opened.
// Nothing in this program supplies one, so opening such a dispatcher fails with "device not
// open" unless a handle is given at construction.
#pragma once

#include "serial/win32_dispatcher.h"

namespace mbus::serial {

class TTapiDispatcher : public TWin32Dispatcher {
public:
    TTapiDispatcher(TComponent* owner, platform::CommHandle deviceHandle);
    ~TTapiDispatcher() override;

    // Opens nothing: the handle given at construction, or ecNotOpen (with the last error set to
    // its system number, 2007) without.
    platform::CommHandle OpenDevice(const std::string& name, std::uint32_t receiveSize,
                                    std::uint32_t transmitSize) override;
};

} // namespace mbus::serial
