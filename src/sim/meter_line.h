// The simulated meter on its line: a loop that moves bytes between the master side of the
// meter's pseudo-terminal and a MeterSimulator, sending each reply burst when it is due, until it
// is asked to stop. Like one meter on a half-duplex line it answers one request at a time: what
// arrives while a reply is still going out is dropped, so replies never queue up or interleave, and
// each request dropped is told. Paced (line_pace.h), it hears a request when its last byte would
// have arrived on a real line, and hands each byte of a reply to the line when it would have gone
// out whole; unpaced, at once. When every program on the line has closed the device (a line whose
// slave side is held tells), what was under way for them goes too: replies not sent yet, replies
// the device has not read, a request cut short; so the next program starts on a quiet line. And a
// thread that runs such a loop for tests and benchmarks that need a meter inside their own
// process. `mbus sim` runs the loop on its main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "protocol/request.h"
#include "sim/line_pace.h"
#include "sim/meter_simulator.h"

namespace mbus::sim {

using SteadyClock = std::chrono::steady_clock;

class MeterLineLoop {
public:
    // Called with the moment the line took the last byte that was due: a reply has gone out.
    using SentHook = std::function<void(SteadyClock::time_point)>;
    // Called for each request that came while the meter was still answering, and was dropped (on
    // a real bus the two would have collided).
    using DroppedHook = std::function<void(const protocol::ReadRequest&)>;

    MeterLineLoop(platform::PseudoTerminal& line, MeterSimulator& simulator, SentHook sent = {})
        : Line_(line), Simulator_(simulator), Sent_(std::move(sent)) {}

    // The line's pace; unpaced until set.
    void SetPace(LinePace pace) { Pace_ = pace; }
    void SetDroppedHook(DroppedHook dropped) { Dropped_ = std::move(dropped); }

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
    // Hands bytes that came at `now` to the simulator request by request, until it answers one;
    // the rest came while it answered.
    void Hear(std::span<const std::uint8_t> bytes, SteadyClock::time_point now);
    // How many of `bytes` reach the end of the next whole request, or all of them.
    std::size_t RequestEnd(std::span<const std::uint8_t> bytes);
    // Bytes that came while the meter answered: each request among them is told.
    void Drop(std::span<const std::uint8_t> bytes);
    bool Send(std::string& error);

    platform::PseudoTerminal& Line_;
    MeterSimulator& Simulator_;
    SentHook Sent_;
    DroppedHook Dropped_;
    LinePace Pace_;
    std::multimap<SteadyClock::time_point, std::vector<std::uint8_t>> Scheduled_;
    std::deque<std::uint8_t> OnWire_;     // paced: due, going out byte by byte
    SteadyClock::time_point NextByteOut_; // paced: when the first byte on the wire is out whole
    SteadyClock::time_point WireFree_;    // paced: when the last byte went out whole
    SteadyClock::time_point HeardUntil_;  // paced: when the bytes heard so far were all in
    std::vector<std::uint8_t> Outgoing_;  // due, not yet taken by the line
    std::vector<std::uint8_t> Partial_;   // heard bytes that may still begin a request
    std::vector<std::uint8_t> Unheard_;   // dropped bytes that may still hold a request
};

// A simulated meter answering on `line` in a thread of its own, until destroyed.
class MeterLineThread {
public:
    MeterLineThread(platform::PseudoTerminal& line, SimulatorOptions options, LinePace pace = {});
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
