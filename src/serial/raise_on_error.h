// RaiseOnError: where a result code of the serial component becomes an exception. The port
// component passes the result of every dispatcher operation through it, and the dispatcher the
// result of every I/O thread that ends.
#pragma once

#include <cstdint>

#include "serial/component_base.h"

namespace mbus::serial {

// Returns `code` when it is no failure (0 or positive), and also while `owner` is being loaded
// from its stored settings, so that restoring them never throws. Otherwise throws:
// - ecLastSystemCode ... ecFirstSystemCode (-162 ... -2, the system's error codes):
//   EOutOfMemory for ecOutOfMemory; EInOutError for the others, with MessageForCode(-code) and
//   -code as its error number;
// - a code with a class of its own: that class made from the code (message from the table);
// - any other negative code: ECommException with the message "Port exception" and Code 0.
// A null owner is never loading: with it a negative code is raised as well.
std::int32_t RaiseOnError(const TComponent* owner, std::int32_t code);

} // namespace mbus::serial
