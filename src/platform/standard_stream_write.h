// What each backend gives StandardOutputStreams (standard_streams.h): the system's own write to
// standard output or error, and a thread that no signal is delivered to. For the backends only.
#pragma once

#include <functional>
#include <string_view>
#include <thread>

namespace mbus::platform {

enum class StandardStream { Output, Error };

enum class StreamWriteResult { Written, Failed, ReaderGone };

// Writes every byte to the stream, waiting as long as the system holds the write. ReaderGone: a
// pipe whose reader has gone.
StreamWriteResult WriteStandardStream(StandardStream stream, std::string_view bytes);

// Starts `body` on a thread of its own that takes no signals from its first instruction on (on
// POSIX they stay blocked there), so a signal meant for the program goes to a thread that handles
// it, or waits for the program's InterruptFlag.
std::thread StartSignalFreeThread(std::function<void()> body);

} // namespace mbus::platform
