#include "platform/standard_streams.h"

#include "platform/standard_stream_write.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace mbus::platform {

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

StreamWriteResult WriteStandardStream(StandardStream stream, std::string_view bytes) {
    const HANDLE handle =
        ::GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    while (!bytes.empty()) {
        DWORD put = 0;
        const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
        if (!::WriteFile(handle, bytes.data(), chunk, &put, nullptr)) {
            // A pipe whose reader has gone: "broken" or "being closed" on Windows, "not
            // connected" under Wine.
            const DWORD error = ::GetLastError();
            return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ||
                           error == ERROR_PIPE_NOT_CONNECTED
                       ? StreamWriteResult::ReaderGone
                       : StreamWriteResult::Failed;
        }
        bytes.remove_prefix(put);
    }
    return StreamWriteResult::Written;
}

std::thread StartSignalFreeThread(std::function<void()> body) {
    // Windows has no signals: console requests come on a thread of the system's own.
    return std::thread(std::move(body));
}

} // namespace mbus::platform
