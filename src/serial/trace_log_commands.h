// The trace and log commands: the state machine behind the port component's Tracing and Logging
// properties, one for both of the dispatcher's recorders (the trace and the dispatch log). A
// command starts, pauses, resumes, clears, writes or stops a recorder, depending on its state.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::serial {

class TBaseDispatcher;

enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause, tlAppendAndContinue };

// One recorder as the port component keeps it: the Tracing or Logging state and the settings
// that go with it (size, file name, format flags).
struct TraceLogSettings {
    TTraceLogState State = tlOff;
    std::uint32_t Size = 10000;
    std::string Name;
    bool Hex = true;
    bool AllHex = false;
};

// The dispatcher's operations behind the commands, for one of its two recorders.
struct RecorderCommands {
    std::int32_t (*Start)(TBaseDispatcher& dispatcher, std::uint32_t size);
    void (*Clear)(TBaseDispatcher& dispatcher);
    void (TBaseDispatcher::*Stop)();
    void (TBaseDispatcher::*Pause)();
    void (TBaseDispatcher::*Resume)();
    std::int32_t (TBaseDispatcher::*Dump)(const std::string& fileName, bool inHex, bool allHex);
    std::int32_t (TBaseDispatcher::*Append)(const std::string& fileName, bool inHex, bool allHex);
};

extern const RecorderCommands kTraceCommands;
extern const RecorderCommands kLogCommands;

// A state as a closed port keeps it: a command (any value above tlOn) means off.
TTraceLogState StateWhileClosed(TTraceLogState value);

// Assigns the Tracing or Logging property: `recorder.State` is its current value, `dispatcher`
// the open port's dispatcher (none while the port is not open, when the value is only stored).
// Running means the state is tlOn, paused that it is tlPause; a command whose condition does not
// hold changes nothing. Returns the result to raise.
std::int32_t RunTraceLogCommand(TBaseDispatcher* dispatcher, const RecorderCommands& commands,
                                TraceLogSettings& recorder, TTraceLogState value);

// After a new TraceSize or LogSize: a running recorder starts again with the new size, a paused
// one ends up off. Returns the result to raise.
std::int32_t RestartTraceLog(TBaseDispatcher* dispatcher, const RecorderCommands& commands,
                             TraceLogSettings& recorder);

} // namespace mbus::serial
