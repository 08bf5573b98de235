// A wait on events that also ends when a descriptor is ready: the comm device's way of letting
// the thread that waits for a pending read serve that read itself, woken by the kernel, instead
// of being woken by the device's service thread afterwards.
#pragma once

#include <cstdint>
#include <poll.h>
#include <span>

#include "platform/event.h"
#include "platform/posix/kernel_interface.h"

namespace mbus::platform::posix {

// As WaitAny on `events`; besides, when `fd` reports one of `pollEvents` (or a hang-up or an
// error) before any event is signalled, returns WAIT_OBJECT_0 + events.size() with what poll
// reported in `revents`. The descriptor is polled through `kernel`.
std::uint32_t WaitAnyOrDescriptor(std::span<Event* const> events, KernelInterface& kernel, int fd,
                                  short pollEvents, std::uint32_t timeoutMs, short& revents);

} // namespace mbus::platform::posix
