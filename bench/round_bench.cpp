// A round of 50 meters read by `mbus read --meters` against `mbus sim` (run as the program it is)
// with the 50 meters on its line, a 20 ms turnaround and replies paced at the line's rate: at 2400
// and 9600 baud, 8E1 (11 bits a byte). The read runs in this process with its output to a stream
// that notes when each line is written: a round runs from its first "TX" line to the next round's
// first "TX" line (the last round to its last decoded line). Prints each round's time beside the
// line's floor (the requests' and replies' wire times, from the bytes that were sent and shown,
// and the turnarounds) and their ratio. Asserts nothing; exits 1 only when a round did not read
// every meter.
#include "bench_support.h"
#include "round_line.h"
#include "support/child_process.h"
#include "support/temp_config_home.h"
#include "tools/read_command.h"
#include "util/string_c.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using namespace mbus;
using namespace mbus::bench;

// A stream buffer that keeps each line written with the moment its end was written.
class TimedLines : public std::streambuf {
public:
    struct Line {
        Clock::time_point At;
        std::string Text;
    };
    const std::vector<Line>& Lines() const { return Lines_; }

protected:
    int overflow(int c) override {
        if (c == traits_type::eof())
            return 0;
        if (c == '\n') {
            Lines_.push_back({Clock::now(), std::move(Current_)});
            Current_.clear();
        } else {
            Current_.push_back(static_cast<char>(c));
        }
        return c;
    }

private:
    std::string Current_;
    std::vector<Line> Lines_;
};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The bytes of a "TX ..." or "RX ..." line.
std::size_t BytesOf(const std::string& line) {
    return util::HexToBytes(std::string_view(line).substr(3)).size();
}

struct RoundFigures {
    double Seconds = 0;
    double FloorSeconds = 0;
};

// Runs the read of `rounds` rounds at `baud` against a simulated line of the list's meters.
bool Measure(const std::string& list, int baud, std::vector<RoundFigures>& rounds) {
    const std::string baudText = std::to_string(baud);
    testing::ChildProcess sim({MBUS_PROGRAM, "sim", "--meters", list, "--delay",
                               std::to_string(kTurnaroundMs), "--baud", baudText, "--parity",
                               "even"});
    const auto first = sim.ReadLine(std::chrono::seconds(10));
    if (!first) {
        std::printf("FAULT: mbus sim did not start: %s\n",
                    sim.ReadErrors(std::chrono::seconds(1)).c_str());
        return false;
    }
    const std::string port = first->substr(0, first->find(' '));

    TimedLines timed;
    std::ostream out(&timed);
    std::ostringstream err;
    std::istringstream in;
    const std::vector<std::string> args{
        "--port",     port,       "--meters", list,      "--baud",
        baudText,     "--parity", "even",     "--count", std::to_string(kRounds),
        "--interval", "0"};
    const int status = tools::RunReadCommand(args, {in, out, err});
    std::printf("  mbus read exit status %d; %s", status, err.str().c_str());
    if (status != 0)
        return false;

    const double byteSeconds = static_cast<double>(kBitsPerByte) / baud;
    const auto& lines = timed.Lines();
    std::vector<std::size_t> roundStarts;
    int sent = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (StartsWith(lines[i].Text, "TX ") && sent++ % kMeters == 0)
            roundStarts.push_back(i);
    }
    for (std::size_t r = 0; r < roundStarts.size(); ++r) {
        const std::size_t from = roundStarts[r];
        const std::size_t to = r + 1 < roundStarts.size() ? roundStarts[r + 1] : lines.size() - 1;
        RoundFigures figures;
        figures.Seconds = std::chrono::duration<double>(lines[to].At - lines[from].At).count();
        std::size_t wireBytes = 0;
        for (std::size_t i = from; i < (r + 1 < roundStarts.size() ? to : lines.size()); ++i) {
            if (StartsWith(lines[i].Text, "TX ") || StartsWith(lines[i].Text, "RX "))
                wireBytes += BytesOf(lines[i].Text);
        }
        figures.FloorSeconds =
            static_cast<double>(wireBytes) * byteSeconds + kMeters * kTurnaroundMs / 1000.0;
        rounds.push_back(figures);
    }
    sim.Signal(SIGTERM);
    sim.Wait(std::chrono::seconds(10));
    return true;
}

} // namespace

int main() {
    const testing::TempConfigHome home;
    const std::string list = (home.Root() / "line.csv").string();
    WriteRoundMeterList(list);
    std::printf("round_bench: %d meters, %d ms turnaround, 8E1, %d rounds each; load %s\n", kMeters,
                kTurnaroundMs, kRounds, LoadAverage().c_str());
    bool sound = true;
    for (const int baud : {2400, 9600}) {
        std::printf("%d baud:\n", baud);
        std::vector<RoundFigures> rounds;
        if (!Measure(list, baud, rounds)) {
            std::printf("FAULT: the rounds at %d baud did not read every meter\n", baud);
            sound = false;
            continue;
        }
        for (std::size_t r = 0; r < rounds.size(); ++r)
            std::printf("  round %zu: %7.3f s, floor %7.3f s, ratio %.3f, %+.1f ms an exchange\n",
                        r + 1, rounds[r].Seconds, rounds[r].FloorSeconds,
                        rounds[r].Seconds / rounds[r].FloorSeconds,
                        (rounds[r].Seconds - rounds[r].FloorSeconds) * 1000 / kMeters);
    }
    std::printf("load after %s\n", LoadAverage().c_str());
    return sound ? 0 : 1;
}
