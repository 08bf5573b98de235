#include "support/pty_pair.h"

#include "platform/clock.h"
#include "platform/comm_device.h"
#include "platform/event.h"
#include "platform/port_map.h"
#include "platform/system_error.h"

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

// On Windows a test's line is a pair of COM ports joined by a null-modem cable: under Wine the
// harness's com_pair program, on a Windows machine a virtual pair. MBUS_TEST_COM_PAIRS lists
// them ("51:52 53:54"); the device side is the first number, the test's far end the second,
// opened here through the comm device itself.
namespace mbus::testing {
namespace {

using namespace platform;

struct ComPairs {
    std::mutex Lock;
    std::vector<std::pair<int, int>> Pairs; // guarded by Lock
    std::vector<bool> InUse;                // guarded by Lock
};

// The pairs listed in MBUS_TEST_COM_PAIRS, device side first.
std::vector<std::pair<int, int>> ListedPairs() {
    std::vector<std::pair<int, int>> pairs;
    const char* list = std::getenv("MBUS_TEST_COM_PAIRS");
    std::istringstream text(list ? list : "");
    std::string item;
    while (text >> item) {
        const auto colon = item.find(':');
        if (colon != std::string::npos)
            pairs.emplace_back(std::stoi(item.substr(0, colon)), std::stoi(item.substr(colon + 1)));
    }
    return pairs;
}

ComPairs& Pairs() {
    static ComPairs& pairs = []() -> ComPairs& {
        auto& made = *new ComPairs;
        made.Pairs = ListedPairs();
        made.InUse.assign(made.Pairs.size(), false);
        return made;
    }();
    return pairs;
}

std::string ComName(int number) {
    return "COM" + std::to_string(number);
}

// A far end in raw 8N1 without flow control, its queues empty.
CommHandle OpenFarEnd(int number) {
    const CommHandle handle = CreateFile(ComName(number));
    if (handle == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + ComName(number) + ": error " +
                                 std::to_string(LastError()));
    DCB dcb;
    GetCommState(handle, &dcb);
    dcb.BaudRate = 9600;
    dcb.Flags = DCB_BINARY;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(handle, &dcb);
    COMMTIMEOUTS firstByte; // a read waits for one byte, then takes what is there
    firstByte.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(handle, &firstByte);
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return handle;
}

// What an earlier test left in the device side's input is dropped.
void EmptyDeviceSide(int number) {
    const CommHandle handle = CreateFile(ComName(number));
    if (handle == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    CloseHandle(handle);
}

} // namespace

PtyPair::PtyPair() {
    ComPairs& pairs = Pairs();
    std::lock_guard lock(pairs.Lock);
    for (std::size_t i = 0; i < pairs.Pairs.size(); ++i) {
        if (pairs.InUse[i])
            continue;
        EmptyDeviceSide(pairs.Pairs[i].first);
        FarEnd_ = OpenFarEnd(pairs.Pairs[i].second);
        pairs.InUse[i] = true;
        Pair_ = static_cast<int>(i);
        SlavePath_ = ComName(pairs.Pairs[i].first);
        return;
    }
    throw std::runtime_error("no free COM port pair in MBUS_TEST_COM_PAIRS");
}

PtyPair::~PtyPair() {
    CloseMaster();
    ComPairs& pairs = Pairs();
    std::lock_guard lock(pairs.Lock);
    pairs.InUse[static_cast<std::size_t>(Pair_)] = false;
}

void PtyPair::CloseMaster() {
    if (FarEnd_ >= 0)
        CloseHandle(FarEnd_);
    FarEnd_ = -1;
}

void PtyPair::WriteToDevice(const std::vector<std::uint8_t>& bytes) {
    Event done(true);
    Overlapped record;
    record.hEvent = &done;
    std::uint32_t written = 0;
    if (!WriteFile(FarEnd_, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written,
                   &record)) {
        if (LastError() != ERROR_IO_PENDING ||
            !GetOverlappedResult(FarEnd_, &record, &written, true))
            throw std::runtime_error("cannot write to the far end");
    }
    if (written != bytes.size())
        throw std::runtime_error("the far end took only part of a write");
}

std::vector<std::uint8_t> PtyPair::ReadFromDevice(std::size_t count,
                                                  std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Event done(true);
    Overlapped record;
    record.hEvent = &done;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::uint8_t chunk[4096];
        const auto wanted =
            static_cast<std::uint32_t>(std::min(sizeof chunk, count - bytes.size()));
        std::uint32_t got = 0;
        if (!ReadFile(FarEnd_, chunk, wanted, &got, &record)) {
            if (LastError() != ERROR_IO_PENDING)
                break;
            if (WaitOne(done, static_cast<std::uint32_t>(left.count())) != WAIT_OBJECT_0) {
                CancelIoEx(FarEnd_, &record); // completes the read, with what it had
            }
            if (!GetOverlappedResult(FarEnd_, &record, &got, true) &&
                LastError() != ERROR_OPERATION_ABORTED)
                break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        done.Reset();
        if (got == 0)
            Sleep(1); // a read that returns at once found nothing yet
    }
    return bytes;
}

int RegisterTestPort(const PtyPair& line, int /*wanted*/) {
    return *platform::ComNumberOfName(line.SlavePath()); // the pair's own number
}

} // namespace mbus::testing
