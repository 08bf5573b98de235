#include "serial/trace_log_commands.h"

#include "serial/base_dispatcher.h"
#include "serial/codes.h"

namespace mbus::serial {

const RecorderCommands kTraceCommands{
    [](TBaseDispatcher& d, std::uint32_t size) { return d.StartTrace(size); },
    [](TBaseDispatcher& d) { d.ClearTrace(); },
    &TBaseDispatcher::StopTrace,
    &TBaseDispatcher::PauseTrace,
    &TBaseDispatcher::ResumeTrace,
    &TBaseDispatcher::DumpTrace,
    &TBaseDispatcher::AppendTrace,
};

const RecorderCommands kLogCommands{
    [](TBaseDispatcher& d, std::uint32_t size) {
        d.StartDispatchLog(size);
        return ecOK;
    },
    [](TBaseDispatcher& d) { d.ClearDispatchLog(); },
    &TBaseDispatcher::StopDispatchLog,
    &TBaseDispatcher::PauseDispatchLog,
    &TBaseDispatcher::ResumeDispatchLog,
    &TBaseDispatcher::DumpDispatchLog,
    &TBaseDispatcher::AppendDispatchLog,
};

TTraceLogState StateWhileClosed(TTraceLogState value) {
    return value > tlOn ? tlOff : value;
}

std::int32_t RunTraceLogCommand(TBaseDispatcher* dispatcher, const RecorderCommands& commands,
                                TraceLogSettings& recorder, TTraceLogState value) {
    if (dispatcher == nullptr) {
        recorder.State = StateWhileClosed(value);
        return ecOK;
    }
    TBaseDispatcher& d = *dispatcher;
    const bool running = recorder.State == tlOn;
    const bool paused = recorder.State == tlPause;
    switch (value) {
    case tlOff:
        if (running || paused) {
            (d.*commands.Stop)();
            recorder.State = tlOff;
        }
        return ecOK;
    case tlOn:
        if (paused) {
            (d.*commands.Resume)();
        } else if (const std::int32_t result = commands.Start(d, recorder.Size); result < 0) {
            return result;
        }
        recorder.State = tlOn;
        return ecOK;
    case tlDump:
    case tlAppend:
    case tlAppendAndContinue: {
        if (!running && !paused)
            return ecOK;
        (d.*commands.Resume)();
        const auto write = value == tlDump ? commands.Dump : commands.Append;
        const std::int32_t result = (d.*write)(recorder.Name, recorder.Hex, recorder.AllHex);
        recorder.State = value == tlAppendAndContinue ? tlOn : tlOff;
        return result;
    }
    case tlClear:
        if (running || paused)
            commands.Clear(d);
        return ecOK;
    case tlPause:
        if (running) {
            (d.*commands.Pause)();
            recorder.State = tlPause;
        }
        return ecOK;
    }
    return ecOK;
}

std::int32_t RestartTraceLog(TBaseDispatcher* dispatcher, const RecorderCommands& commands,
                             TraceLogSettings& recorder) {
    if (dispatcher == nullptr || (recorder.State != tlOn && recorder.State != tlPause))
        return ecOK;
    const TTraceLogState previous = recorder.State;
    RunTraceLogCommand(dispatcher, commands, recorder, tlOff);
    return RunTraceLogCommand(dispatcher, commands, recorder, previous);
}

} // namespace mbus::serial
