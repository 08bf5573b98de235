// The dispatcher's trace: every byte taken from the input buffer ("R") and queued for output
// ("T"), in order, in a fixed ring of entries, written to a text file on request.
#include "serial/base_dispatcher.h"

#include "platform/system_error.h"
#include "serial/codes.h"
#include "serial/trace_format.h"

#include <cerrno>
#include <memory>

namespace mbus::serial {

namespace {

std::string TraceHeading(char kind) {
    if (kind == 'R')
        return "Receive: ";
    if (kind == 'T')
        return "Transmit: ";
    return std::string("Special-") + kind + ": ";
}

} // namespace

std::int32_t TBaseDispatcher::StartTrace(std::uint32_t capacity) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (TraceBuffer) {
        TracePosition = 0;
        TraceWrapped = false;
    } else {
        if (capacity > kMaxTraceEntries)
            return ecBadArgument;
        TraceBuffer = std::make_unique<std::uint8_t[]>(2 * static_cast<std::size_t>(capacity));
        TraceCapacity = capacity;
        TracePosition = 0;
        TraceWrapped = false;
    }
    TracingOn.store(true);
    return ecOK;
}

void TBaseDispatcher::StopTrace() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    TracingOn.store(false);
    TraceBuffer.reset();
    TraceCapacity = 0;
    TracePosition = 0;
    TraceWrapped = false;
}

std::int32_t TBaseDispatcher::ClearTrace() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    TracePosition = 0;
    TraceWrapped = false;
    return ecOK;
}

void TBaseDispatcher::PauseTrace() {
    TracingOn.store(false);
}

void TBaseDispatcher::ResumeTrace() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (TraceBuffer)
        TracingOn.store(true);
}

void TBaseDispatcher::AddTraceEntry(char kind, std::uint8_t byte) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    // A trace of no entries records nothing.
    if (!TraceBuffer || TraceCapacity == 0)
        return;
    TraceBuffer[2 * TracePosition] = static_cast<std::uint8_t>(kind);
    TraceBuffer[2 * TracePosition + 1] = byte;
    if (++TracePosition >= TraceCapacity) {
        TracePosition = 0;
        TraceWrapped = true;
    }
}

std::int32_t TBaseDispatcher::DumpTrace(const std::string& fileName, bool inHex, bool allHex) {
    return WriteTrace(fileName, false, inHex, allHex);
}

std::int32_t TBaseDispatcher::AppendTrace(const std::string& fileName, bool inHex, bool allHex) {
    return WriteTrace(fileName, true, inHex, allHex);
}

std::int32_t TBaseDispatcher::WriteTrace(const std::string& fileName, bool append, bool inHex,
                                         bool allHex) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (!TraceBuffer || (!TraceWrapped && TracePosition == 0))
        return ecOK;

    TraceFile file = OpenTraceFile(fileName, append);
    if (!file) {
        const auto code = static_cast<std::int32_t>(platform::ErrorFromErrno(errno));
        StopTrace();
        return -code;
    }

    const std::uint32_t first = TraceWrapped ? TracePosition : 0;
    const std::uint32_t count = TraceWrapped ? TraceCapacity : TracePosition;
    TraceLineWriter writer(file.get(), 0);
    char previousKind = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = (first + i) % TraceCapacity;
        const auto kind = static_cast<char>(TraceBuffer[2 * entry]);
        const std::uint8_t byte = TraceBuffer[2 * entry + 1];
        if (i == 0 || kind != previousKind) {
            if (i != 0) {
                writer.EndLine();
                writer.EndLine();
            }
            std::fputs(TraceHeading(kind).c_str(), file.get());
            writer.EndLine();
            writer.StartLine(0);
            previousKind = kind;
        }
        writer.WriteItem(TraceItem(byte, inHex, allHex));
    }
    writer.EndLine();

    const std::int32_t result = CloseTraceFile(std::move(file));
    const std::uint32_t capacity = TraceCapacity;
    StartTrace(capacity);
    return result;
}

} // namespace mbus::serial
