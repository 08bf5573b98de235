#include "support/pty_pair.h"

#include "platform/port_map.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace mbus::testing {

PtyPair::PtyPair(SlaveHold hold) {
    std::string error;
    if (!Open(hold, error))
        throw std::runtime_error(error);
}

void PtyPair::WriteToDevice(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto put = WriteMaster(std::span(bytes).subspan(done));
        if (put.Failed())
            throw std::runtime_error(put.Failure);
        done += put.Count;
        if (put.Count == 0)
            WaitMaster(true, 1000);
    }
}

std::vector<std::uint8_t> PtyPair::ReadFromDevice(std::size_t count,
                                                  std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        if (!WaitMaster(false, static_cast<std::uint32_t>(left.count())).Readable)
            continue;
        std::uint8_t chunk[4096];
        const auto got = ReadMaster({chunk, std::min(sizeof chunk, count - bytes.size())});
        if (got.Failed())
            break;
        bytes.insert(bytes.end(), chunk, chunk + got.Count);
    }
    return bytes;
}

int RegisterTestPort(const PtyPair& line, int wanted) {
    std::string error;
    if (!platform::AddPortLink(wanted, line.SlavePath(), error))
        throw std::runtime_error("cannot register COM" + std::to_string(wanted) + ": " + error);
    return wanted;
}

} // namespace mbus::testing
