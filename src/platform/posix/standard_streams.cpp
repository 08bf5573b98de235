#include "platform/standard_streams.h"

#include "platform/standard_stream_write.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace mbus::platform {

void UseBinaryStandardStreams() {
    // The standard streams are byte streams here already.
}

StreamWriteResult WriteStandardStream(StandardStream stream, std::string_view bytes) {
    const int fd = stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            // The writing thread takes no signals: a reader that has gone shows as EPIPE here.
            return errno == EPIPE ? StreamWriteResult::ReaderGone : StreamWriteResult::Failed;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return StreamWriteResult::Written;
}

std::thread StartSignalFreeThread(std::function<void()> body) {
    // A thread starts with the mask of the thread that makes it: block everything around the
    // start, so there is no moment at which the new thread could take a signal.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread(std::move(body));
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

} // namespace mbus::platform
