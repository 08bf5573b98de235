// The simulated meter on its line: a loop that moves bytes between the master side of the
// meter's pseudo-terminal and a MeterSimulator, sending each reply burst when it is due, until a
// stop descriptor becomes readable; and a thread that runs such a loop for tests and benchmarks
// that need a meter inside their own process.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/meter_simulator.h"

namespace mbus::tools {

class MeterLineLoop {
public:
    // `master` is the line's non-blocking master descriptor; `stopFd` ends the loop when readable.
    MeterLineLoop(int master, int stopFd, MeterSimulator& simulator)
        : Master_(master), StopFd_(stopFd), Simulator_(simulator) {}

    // Runs until the stop descriptor is readable (true) or the line fails (false, `error` set).
    bool Run(std::string& error);

private:
    using SteadyClock = std::chrono::steady_clock;

    void MoveDueBursts();
    int Timeout() const;
    bool Receive(std::string& error);
    bool Send(std::string& error);

    const int Master_;
    const int StopFd_;
    MeterSimulator& Simulator_;
    std::multimap<SteadyClock::time_point, std::vector<std::uint8_t>> Scheduled_;
    std::vector<std::uint8_t> Outgoing_; // due, not yet accepted by the line
};

// A simulated meter answering on `master` in a thread of its own, until destroyed.
class MeterLineThread {
public:
    MeterLineThread(int master, SimulatorOptions options);
    ~MeterLineThread();
    MeterLineThread(const MeterLineThread&) = delete;
    MeterLineThread& operator=(const MeterLineThread&) = delete;

private:
    MeterSimulator Simulator_;
    int StopFd_; // eventfd written by the destructor
    std::thread Thread_;
};

} // namespace mbus::tools
