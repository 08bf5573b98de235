// The trace and dispatch log files, compared whole with the text they must hold.
#include "fake_dispatcher.h"
#include "platform/clock.h"

#include "serial/log_header.h"
#include "serial/trace_format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mbus::serial {
namespace {

using testing::FakeDispatcher;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TraceFiles : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of this test's own under the system's temporary folder.
        static std::atomic<int> serial{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        Folder = (std::filesystem::temp_directory_path() /
                  ("mbus-trace-" + std::to_string(stamp) + "-" + std::to_string(serial++)))
                     .string();
        ASSERT_TRUE(std::filesystem::create_directory(Folder));
        Path = Folder + "/COMPORT.TRC";
        D.PrepareBuffers();
        // Stamps count from the open, as after OpenPort, not from the machine's start.
        D.OpenTime = platform::TickCount();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }

    // Receives the bytes and takes them, as the window thread does, so the trace records them.
    void ReceiveAndTake(const std::string& bytes) {
        D.Receive(bytes);
        D.FillInputBuffer();
        std::uint8_t byte;
        while (D.TakeByte(byte) == ecOK) {
        }
    }

    std::string Folder;
    std::string Path;
    FakeDispatcher D;
};

TEST_F(TraceFiles, BytesAreWrittenAsCharactersDecimalOrHex) {
    const std::string bytes = "A\x0D"
                              "B\xFF";
    D.StartTrace(100);
    ReceiveAndTake(bytes);
    ASSERT_EQ(D.DumpTrace(Path, false, false), ecOK);
    EXPECT_EQ(ReadFile(Path), "Receive: \r\nA[13]B[255]\r\n");

    ReceiveAndTake(bytes);
    ASSERT_EQ(D.DumpTrace(Path, true, false), ecOK);
    EXPECT_EQ(ReadFile(Path), "Receive: \r\nA[0D]B[FF]\r\n");

    ReceiveAndTake(bytes);
    ASSERT_EQ(D.DumpTrace(Path, false, true), ecOK);
    EXPECT_EQ(ReadFile(Path), "Receive: \r\n[41][0D][42][FF]\r\n");
}

TEST_F(TraceFiles, AWrappedTraceKeepsTheNewestEntries) {
    D.StartTrace(3);
    ReceiveAndTake("\x01\x02\x03\x04");
    ASSERT_EQ(D.DumpTrace(Path, true, true), ecOK);
    EXPECT_EQ(ReadFile(Path), "Receive: \r\n[02][03][04]\r\n");
    // The dump starts the trace afresh: an empty trace writes nothing.
    std::remove(Path.c_str());
    EXPECT_EQ(D.DumpTrace(Path, true, true), ecOK);
    EXPECT_EQ(ReadFile(Path), "");
}

TEST_F(TraceFiles, KindChangesStartANewParagraphAndAppendKeepsTheFile) {
    D.StartTrace(100);
    const std::string request = "\x68\x10";
    D.QueueBlock(reinterpret_cast<const std::uint8_t*>(request.data()), 2);
    ReceiveAndTake("OK");
    ASSERT_EQ(D.DumpTrace(Path, false, false), ecOK);
    D.AddTraceEntry('X', 'z');
    ASSERT_EQ(D.AppendTrace(Path, false, false), ecOK);
    EXPECT_EQ(ReadFile(Path), "Transmit: \r\nh[16]\r\n\r\nReceive: \r\nOK\r\n"
                              "Special-X: \r\nz\r\n");
}

TEST_F(TraceFiles, LongTracesWrapAtSeventyEightColumns) {
    D.StartTrace(100);
    ReceiveAndTake(std::string(30, '\x01'));
    ASSERT_EQ(D.DumpTrace(Path, true, false), ecOK);
    // 19 items of four columns make 76; the 20th would pass 78.
    std::string expected = "Receive: \r\n";
    for (int line = 0; line < 2; ++line) {
        const int items = line == 0 ? 19 : 11;
        for (int i = 0; i < items; ++i)
            expected += "[01]";
        expected += "\r\n";
    }
    EXPECT_EQ(ReadFile(Path), expected);
}

TEST_F(TraceFiles, AnUnwritableFileEndsTheTrace) {
    D.StartTrace(10);
    ReceiveAndTake("a");
    EXPECT_LT(D.DumpTrace(Folder + "/missing/dir/x.trc", false, false), 0);
    EXPECT_FALSE(D.Tracing());
    EXPECT_EQ(D.StartTrace(4000001), ecBadArgument);
}

TEST_F(TraceFiles, LogDropsOldestEntriesToStayWithinItsLimit) {
    D.StartDispatchLog(100);
    const std::string sixty(60, 'a');
    const auto* data = reinterpret_cast<const std::uint8_t*>(sixty.data());
    D.AddLogEntry(lkDispatch, ldReadCom, 60, data, 60);
    D.AddLogEntry(lkTrigger, ldAvail, 1, nullptr, 0);
    D.AddLogEntry(lkDispatch, ldReadCom, 60, data, 60); // 120 queued now
    EXPECT_EQ(D.LogQueue.QueuedBytes(), 120u);
    D.AddLogEntry(lkDispatch, ldWriteCom, 60, data, 60); // the first entry goes first
    EXPECT_EQ(D.LogQueue.Count(), 3u);
    EXPECT_EQ(D.LogQueue.QueuedBytes(), 120u);
    D.PauseDispatchLog();
    D.AddLogEntry(lkDispatch, ldWriteCom, 60, data, 60);
    EXPECT_EQ(D.LogQueue.Count(), 3u);
}

TEST_F(TraceFiles, LogEntryLinesHaveTheFixedPrefixAndWrap) {
    D.SetDeviceName("\\\\.\\COM3");
    D.StartDispatchLog(0);
    const std::string bytes(40, '\x02');
    D.AddLogEntry(lkDispatch, ldReadCom, 40, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                  40);
    D.AddLogEntry(lkTriggerDataChanged, ldAvailThreshold, 1, nullptr, 0);
    ASSERT_EQ(D.DumpDispatchLog(Path, true, false), ecOK);
    EXPECT_EQ(D.LogQueue.Count(), 0u);

    std::vector<std::string> lines;
    std::istringstream text(ReadFile(Path));
    for (std::string line; std::getline(text, line);) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        lines.push_back(line);
    }
    // Seven header lines, the first entry's forty items on five lines, the second entry.
    ASSERT_EQ(lines.size(), 7u + 5u + 1u);
    EXPECT_EQ(lines[0], "ComPort v5.00");
    EXPECT_EQ(lines[1].rfind("Compiler : ", 0), 0u);
    EXPECT_EQ(lines[2], "Operating System : Unknown");
    EXPECT_EQ(lines[3], "Device: \\\\.\\COM3");
    EXPECT_EQ(lines[4].rfind("Date/time: ", 0), 0u);
    EXPECT_EQ(lines[5], "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(lines[6], "--------  --------  ------------  --------  ---------");
    // Stamp, kind, sub-kind, value: 44 columns; the data follows up to column 78.
    const std::string prefix = lines[7].substr(8, 36);
    EXPECT_EQ(prefix, "  Dispatch  ReadCom       00000028  ");
    EXPECT_EQ(lines[7].size(), 44u + 8u * 4u);
    for (std::size_t line = 8; line < 12; ++line)
        EXPECT_EQ(lines[line], std::string(44, ' ') + "[02][02][02][02][02][02][02][02]");
    EXPECT_EQ(lines[12].substr(8), "  TrDatChg  Avail         00000001  ");
}

TEST(LogHeader, SystemDescriptionNamesThePlatform) {
    using P = OsVersionInfo;
    EXPECT_EQ(LogSystemDescription({P::WindowsNT, 5, 1, 2600, "Service Pack 2"}),
              "Windows XP 5.1 Service Pack 2");
    EXPECT_EQ(LogSystemDescription({P::WindowsNT, 6, 1, 7601, ""}), "Windows 7 6.1 ");
    EXPECT_EQ(LogSystemDescription({P::WindowsNT, 10, 0, 19045, ""}), "WinNT 10.0 ");
    EXPECT_EQ(LogSystemDescription({P::Windows9x, 4, 10, 0, " A "}),
              "Win32 on Windows 98 OSR 2 4.10 ");
    EXPECT_EQ(LogSystemDescription({P::Windows9x, 4, 0, 0, " B"}),
              "Win32 on Windows 95 OSR 2 4.0 ");
    EXPECT_EQ(LogSystemDescription({P::Windows9x, 4, 90, 73010104, ""}),
              "Win32 on Windows ME 4.90 ");
    EXPECT_EQ(LogSystemDescription({P::Other, 6, 1, 0, ""}), "Unknown");
}

} // namespace
} // namespace mbus::serial
