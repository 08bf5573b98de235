// TComPort: the port component as forms hold it. All state and behaviour live in
// TCustomComPort; TComPort is the concrete class whose settings are the published ones.
#pragma once

#include "serial/custom_com_port.h"

namespace mbus::serial {

class TComPort final : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

} // namespace mbus::serial
