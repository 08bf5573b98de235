// The few kernel calls the POSIX comm device makes, behind a replaceable interface, so tests can
// inject what no pseudo-terminal shows: modem-line changes, error counters, EIO, hang-ups,
// ENOTTY. The default forwards to the C library. Calls return what the C library returns and
// leave errno set the same way.
#pragma once

#include <cstddef>
#include <poll.h>
#include <sys/types.h>

namespace mbus::platform {

class KernelInterface {
public:
    virtual ~KernelInterface() = default;
    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual ssize_t Read(int fd, void* buffer, std::size_t count);
    virtual ssize_t Write(int fd, const void* buffer, std::size_t count);
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs);
    virtual int Ioctl(int fd, unsigned long request, void* argument);
    virtual int Flock(int fd, int operation);
};

// The interface devices opened from now on use; nullptr restores the C library. The interface
// must outlive every device opened through it.
void SetKernelInterface(KernelInterface* kernel);
KernelInterface& CurrentKernelInterface();

} // namespace mbus::platform
