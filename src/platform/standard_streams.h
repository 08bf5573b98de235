// Standard input, output and error as byte streams: what a program writes there arrives as
// written, line feeds included, on every system (Windows' C runtime turns "\n" into CR LF in its
// default text mode). Command-line programs call it first thing.
//
// And standard output and error that never hold a program for good: a write that the system
// holds (a pipe nobody reads, a terminal that takes no more) ends once a termination request has
// come, so the program still closes its port and removes its COM link.
#pragma once

#include <memory>

namespace mbus::platform {

void UseBinaryStandardStreams();

// While it lives, std::cout and std::cerr write through it. The system's write runs on a thread
// of the stream's own while the writing thread waits for it, as long as it takes; once a
// termination request has come (InterruptFlag::TerminationRequested), a write that is still held
// after kTerminationGraceMs fails, and so does every later one that would wait, so the program
// goes on to clean up and end. A reader that has gone (a closed pipe) fails the write as well,
// without SIGPIPE, so every command can say so with its exit status. Flushing waits until the
// bytes are written: what a stream reports is what the system did. One per program, made first
// thing in main(); its threads take no signals, so signals reach the threads that handle them.
// The previous buffers come back when it goes; a write still held by the system then is left to
// the system, and ends with the program.
class StandardOutputStreams {
public:
    StandardOutputStreams();
    ~StandardOutputStreams();
    StandardOutputStreams(const StandardOutputStreams&) = delete;
    StandardOutputStreams& operator=(const StandardOutputStreams&) = delete;

    // How long a held write may still finish after a termination request: a slow terminal or a
    // reader that is merely late keeps its output, one that does not read at all does not keep
    // the program.
    static constexpr int kTerminationGraceMs = 300;

private:
    struct Streams; // the two buffers, their writer threads and the buffers they replace
    std::unique_ptr<Streams> Streams_;
};

// Whether a write to standard output or error failed because nobody reads it any more (a pipe
// whose reader has gone).
bool StandardOutputReaderGone();

} // namespace mbus::platform
