// Open, transfer and close cycles of the port component against a simulated meter on a
// pseudo-terminal registered as a COM port in a throw-away port map: per cycle the console's
// road (open at 2400 even, send the default request, take the reply in the data notifications,
// close). Prints the time of open, of the request-to-reply round and of close (median, p99, max),
// the process's thread count and resident memory before and after (a leak or a thread that never
// ends shows there), and exits 1 only when a cycle got no reply or hung.
#include "bench_support.h"
#include "meter_port.h"
#include "platform/clock.h"
#include "platform/message_window.h"
#include "protocol/response_decoder.h"
#include "serial/com_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace mbus;
using namespace mbus::bench;
using namespace std::string_literals;

constexpr int kCycles = 500;
constexpr std::uint32_t kReplyLimitMs = 5000;

// A field of /proc/self/status ("Threads:", "VmRSS:"), as a number.
long ProcStatus(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0)
            return std::strtol(line.c_str() + field.size(), nullptr, 10);
    }
    return -1;
}

void Print(const char* what, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<std::size_t>(q * (ms.size() - 1))]; };
    std::printf("%-16s %9.2f %9.2f %9.2f\n", what, at(0.5), at(0.99), ms.back());
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main() try {
    const MeterPort meterPort(5, {.Meters = {sim::kDefaultMeter}});

    const std::string request =
        "\xFE\xFE\x68\x10\xAA\xAA\xAA\xAA\xAA\xAA\xAA\x01\x03\x1F\x90\x00\xD1\x16"s;
    serial::TComPort port;
    port.SetComNumber(5);
    port.SetBaud(2400);
    port.SetParity(serial::pEven);
    std::string received;
    port.SetOnTriggerAvail([&](serial::TComponent*, std::uint16_t count) {
        for (int i = 0; i < count; ++i)
            received.push_back(port.ReadChar());
    });

    const long threadsBefore = ProcStatus("Threads:");
    const long rssBefore = ProcStatus("VmRSS:");
    std::vector<double> openMs, roundMs, closeMs;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        received.clear();
        auto start = Clock::now();
        port.SetOpen(true);
        openMs.push_back(MsSince(start));

        start = Clock::now();
        port.SendString(request);
        const std::uint32_t begun = platform::TickCount();
        while (protocol::DecodeMeterData(
                   {reinterpret_cast<const std::uint8_t*>(received.data()), received.size()})
                   .empty()) {
            if (platform::TickCount() - begun > kReplyLimitMs) {
                std::fprintf(stderr, "FAULT: cycle %d got no reply\n", cycle);
                return 1;
            }
            if (!platform::PumpOneMessage())
                platform::WaitForMessage(1);
        }
        roundMs.push_back(MsSince(start));

        start = Clock::now();
        port.SetOpen(false);
        closeMs.push_back(MsSince(start));
    }

    std::printf("open_close_bench: %d cycles of open, request and reply, close at 2400 baud on a "
                "pseudo-terminal\n\n",
                kCycles);
    std::printf("%-16s %9s %9s %9s\n", "ms", "median", "p99", "max");
    Print("open", openMs);
    Print("request->reply", roundMs);
    Print("close", closeMs);
    std::vector<double> cycleMs(openMs.size());
    for (std::size_t i = 0; i < cycleMs.size(); ++i)
        cycleMs[i] = openMs[i] + closeMs[i];
    Print("open+close", cycleMs);
    std::printf("\nthreads before %ld, after %ld; resident KiB before %ld, after %ld\n",
                threadsBefore, ProcStatus("Threads:"), rssBefore, ProcStatus("VmRSS:"));
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "open_close_bench: %s\n", e.what());
    return 1;
}
