// A null-modem cable between two COM ports of a Wine prefix, for the tests of the Windows build:
// two pseudo-terminals whose master sides this program joins, byte for byte in both directions
// (one thread a direction), and the links dosdevices/com<a> and com<b> to their slave sides. Both
// slaves stay held open, so the line stays up while the ports are closed and reopened and no
// other process takes a slave as its controlling terminal. Runs until SIGTERM, SIGINT, SIGHUP or
// SIGQUIT, then removes the links.
//
//   com_pair <dosdevices folder> <a> <b>      prints "COM<a> COM<b>" once the links are there
#include "platform/interrupt_flag.h"
#include "platform/pseudo_terminal.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <thread>

namespace {

using mbus::platform::PseudoTerminal;
namespace fs = std::filesystem;

// Moves what `from`'s far end sends to `to`'s far end until `stop` is set. A full far side drops
// nothing: the rest waits here. The first failure ends the direction and is kept in `failure`.
void Forward(PseudoTerminal& from, PseudoTerminal& to, const std::atomic<bool>& stop,
             std::string& failure) {
    std::uint8_t chunk[4096];
    while (!stop) {
        const PseudoTerminal::Readiness ready = from.WaitMaster(false, 200);
        if (!ready.Failure.empty()) {
            failure = ready.Failure;
            return;
        }
        if (!ready.Readable)
            continue;
        const PseudoTerminal::Transfer got = from.ReadMaster(chunk);
        if (got.Failed()) {
            failure = got.Failure;
            return;
        }
        std::size_t done = 0;
        while (done < got.Count && !stop) {
            const PseudoTerminal::Transfer put =
                to.WriteMaster(std::span(chunk + done, got.Count - done));
            if (put.Failed()) {
                failure = put.Failure;
                return;
            }
            done += put.Count;
            if (put.Count == 0 && !to.WaitMaster(true, 100).Writable)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// dosdevices/com<number> -> the line's slave side, replacing what was there.
bool Link(const fs::path& folder, const char* number, const PseudoTerminal& line) {
    const fs::path link = folder / (std::string("com") + number);
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(line.SlavePath(), link, ec);
    if (ec)
        std::fprintf(stderr, "com_pair: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
    return !ec;
}

void Unlink(const fs::path& folder, const char* number) {
    std::error_code ec;
    fs::remove(folder / (std::string("com") + number), ec);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: com_pair <dosdevices folder> <a> <b>\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const mbus::platform::InterruptFlag interrupt;
    PseudoTerminal a;
    PseudoTerminal b;
    std::string error;
    if (!a.Open(PseudoTerminal::SlaveHold::Held, error) ||
        !b.Open(PseudoTerminal::SlaveHold::Held, error)) {
        std::fprintf(stderr, "com_pair: %s\n", error.c_str());
        return 1;
    }
    if (!Link(folder, argv[2], a) || !Link(folder, argv[3], b)) {
        Unlink(folder, argv[2]);
        return 1;
    }
    std::printf("COM%s COM%s\n", argv[2], argv[3]);
    std::fflush(stdout);

    std::atomic<bool> stop = false;
    std::string failureAB;
    std::string failureBA;
    std::thread ab(Forward, std::ref(a), std::ref(b), std::cref(stop), std::ref(failureAB));
    std::thread ba(Forward, std::ref(b), std::ref(a), std::cref(stop), std::ref(failureBA));
    while (!interrupt.Raised())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    ab.join();
    ba.join();
    Unlink(folder, argv[2]);
    Unlink(folder, argv[3]);
    for (const std::string* failure : {&failureAB, &failureBA}) {
        if (!failure->empty())
            std::fprintf(stderr, "com_pair: %s\n", failure->c_str());
    }
    return failureAB.empty() && failureBA.empty() ? 0 : 1;
}
