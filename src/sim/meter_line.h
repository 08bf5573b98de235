// The simulated meter on its line: a loop that moves bytes between the master side of the
// meter's pseudo-terminal and a MeterSimulator, sending each reply burst when it is due, until it
// is asked to stop. Like one meter on a half-duplex line it answers one request at a time: what
// arrives while a reply is still going out is dropped, so replies never queue up or interleave.
// When every program on the line has closed the device (a line whose slave side is held tells),
// what was under way for them goes too: replies not sent yet, replies the device has not read, a
// request cut short; so the next program starts on a quiet line. And a thread that runs such a
// loop for tests and benchmarks that need a meter inside their own process. `mbus sim` runs the
// loop on its main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "sim/meter_simulator.h"

namespace mbus::sim {

using SteadyClock = std::chrono::steady_clock;

class MeterLineLoop {
public:
    // Called with the moment the line took the last byte that was due: a reply has gone out.
    using SentHook = std::function<void(SteadyClock::time_point)>;

    MeterLineLoop(platform::PseudoTerminal& line, MeterSimulator& simulator, SentHook sent = {})
        : Line_(line), Simulator_(simulator), Sent_(std::move(sent)) {}

    // Runs until `stopRequested` holds (true) or the line fails (false, `error` set). The loop
    // asks `stopRequested` whenever a signal arrives and at least every kStopCheckMs.
    bool Run(const std::function<bool()>& stopRequested, std::string& error);

    static constexpr std::uint32_t kStopCheckMs = 100;

private:
    bool Answering() const; // a reply is scheduled or not yet all taken by the line
    void MoveDueBursts();
    void DropWhatWasUnderWay(); // the programs on the line have gone
    std::uint32_t Timeout() const;
    bool Receive(std::string& error);
    bool Send(std::string& error);

    platform::PseudoTerminal& Line_;
    MeterSimulator& Simulator_;
    SentHook Sent_;
    std::multimap<SteadyClock::time_point, std::vector<std::uint8_t>> Scheduled_;
    std::vector<std::uint8_t> Outgoing_; // due, not yet taken by the line
};

// A simulated meter answering on `line` in a thread of its own, until destroyed.
class MeterLineThread {
public:
    MeterLineThread(platform::PseudoTerminal& line, SimulatorOptions options);
    ~MeterLineThread();
    MeterLineThread(const MeterLineThread&) = delete;
    MeterLineThread& operator=(const MeterLineThread&) = delete;

    // When the line took the last byte of the latest reply (the clock's epoch before the first).
    SteadyClock::time_point LastReplySent() const;

private:
    MeterSimulator Simulator_;
    std::atomic<bool> Stop_{false};
    std::atomic<SteadyClock::rep> LastReplySent_{0};
    std::thread Thread_;
};

} // namespace mbus::sim
