#include "platform/posix/kernel_interface.h"

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace mbus::platform {
namespace {

std::atomic<KernelInterface*> gKernel{nullptr};

KernelInterface& CLibrary() {
    static KernelInterface& kernel = *new KernelInterface; // used until the process ends
    return kernel;
}

} // namespace

int KernelInterface::Open(const char* path, int flags) {
    return ::open(path, flags);
}

int KernelInterface::Close(int fd) {
    return ::close(fd);
}

ssize_t KernelInterface::Read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}

ssize_t KernelInterface::Write(int fd, const void* buffer, std::size_t count) {
    return ::write(fd, buffer, count);
}

int KernelInterface::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}

int KernelInterface::Ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

int KernelInterface::Flock(int fd, int operation) {
    return ::flock(fd, operation);
}

void SetKernelInterface(KernelInterface* kernel) {
    gKernel.store(kernel);
}

KernelInterface& CurrentKernelInterface() {
    KernelInterface* kernel = gKernel.load();
    return kernel ? *kernel : CLibrary();
}

} // namespace mbus::platform
