// The dispatch log: the dispatcher's internal events (reads, writes, notifications, target
// registration) with time stamps, kept in LogQueue within a byte budget and written to a text
// file on request.
#include "serial/base_dispatcher.h"

#include "platform/clock.h"
#include "platform/platform_info.h"
#include "platform/system_error.h"
#include "serial/codes.h"
#include "serial/log_header.h"
#include "serial/message_table.h"
#include "serial/trace_format.h"

#include <cerrno>
#include <memory>

namespace mbus::serial {

namespace {

constexpr int kLogPrefixWidth = 44;

// Milliseconds as seconds with three decimals in eight characters ("0001.234").
std::string LogTime(std::uint32_t ms) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07u", ms);
    std::string text(digits);
    text.insert(text.size() - 3, ".");
    return text;
}

void WriteLine(std::FILE* file, const std::string& text) {
    std::fputs(text.c_str(), file);
    std::fputs(kTraceLineEnd, file);
}

} // namespace

void TBaseDispatcher::StartDispatchLog(std::uint32_t limit) {
    LogQueue.Clear();
    LogLimit = limit;
    LoggingOn.store(true);
}

void TBaseDispatcher::StopDispatchLog() {
    LoggingOn.store(false);
    LogQueue.Clear();
}

void TBaseDispatcher::ClearDispatchLog() {
    LogQueue.Clear();
}

void TBaseDispatcher::PauseDispatchLog() {
    LoggingOn.store(false);
}

void TBaseDispatcher::ResumeDispatchLog() {
    LoggingOn.store(true);
}

void TBaseDispatcher::AddLogEntry(std::uint8_t kind, std::uint16_t detail, std::uint32_t value,
                                  const std::uint8_t* data, std::int32_t length) {
    if (!Logging())
        return;
    while (LogLimit != 0 && LogLimit < LogQueue.QueuedBytes()) {
        if (!LogQueue.RemoveHead())
            break;
    }
    LogQueue.Append(std::make_unique<TLogBuffer>(kind, detail, ElapsedMs(), value, data, length));
}

std::int32_t TBaseDispatcher::DumpDispatchLog(const std::string& fileName, bool inHex,
                                              bool allHex) {
    return WriteDispatchLog(fileName, false, inHex, allHex);
}

std::int32_t TBaseDispatcher::AppendDispatchLog(const std::string& fileName, bool inHex,
                                                bool allHex) {
    return WriteDispatchLog(fileName, true, inHex, allHex);
}

std::int32_t TBaseDispatcher::WriteDispatchLog(const std::string& fileName, bool append, bool inHex,
                                               bool allHex) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (LogQueue.Count() == 0)
        return ecOK;

    TraceFile file = OpenTraceFile(fileName, append);
    if (!file)
        return -static_cast<std::int32_t>(platform::ErrorFromErrno(errno));

    char when[32];
    const platform::LocalTime now = platform::LocalNow();
    std::snprintf(when, sizeof when, "%02d/%02d/%02d, %02d:%02d:%02d", now.Day, now.Month,
                  now.Year % 100, now.Hour, now.Minute, now.Second);

    WriteLine(file.get(), "ComPort v5.00");
    WriteLine(file.get(), "Compiler : " + platform::CompilerDescription());
    WriteLine(file.get(), "Operating System : " + LogSystemDescription(CurrentOsVersion()));
    WriteLine(file.get(), "Device: " + DeviceName_);
    WriteLine(file.get(), std::string("Date/time: ") + when);
    WriteLine(file.get(), MessageForCode(kLogColumnsText));
    WriteLine(file.get(), MessageForCode(kLogRuleText));

    TraceLineWriter writer(file.get(), kLogPrefixWidth);
    while (std::unique_ptr<TIOBuffer> buffer = LogQueue.RemoveHead()) {
        const auto& entry = static_cast<const TLogBuffer&>(*buffer);
        char prefix[96];
        const std::string kindText = MessageForCode(kLogKindText + entry.Kind);
        const std::string detailText =
            entry.Detail != 0 ? MessageForCode(kLogDetailText + entry.Detail) : std::string();
        std::snprintf(prefix, sizeof prefix, "%8s  %-8s  %-12s  %08x  ",
                      LogTime(entry.Stamp).c_str(), kindText.c_str(), detailText.c_str(),
                      entry.Value);
        std::fputs(prefix, file.get());
        writer.StartLine(kLogPrefixWidth + 1);
        for (std::uint8_t byte : entry.Payload())
            writer.WriteItem(TraceItem(byte, inHex, allHex));
        writer.EndLine();
    }

    return CloseTraceFile(std::move(file));
}

} // namespace mbus::serial
