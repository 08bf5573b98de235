// `mbus read` on a line and a port out of the ordinary, run in this process through RunMbus: a
// device that streams without a pause (a frame is bounded, so memory stays flat) and a device
// path that holds control characters and bytes that are no UTF-8 (the CSV stays valid UTF-8).
// Every case works in a temporary XDG_CONFIG_HOME without port discovery.
#include "mbus_run.h"

#include "support/pty_pair.h"
#include "support/running_sim.h"
#include "support/temp_config_home.h"
#include "tools/command_io.h"
#include "tools/reader_session.h"
#include "util/utf8_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace mbus::tools {
namespace {

using namespace std::chrono_literals;

TEST(EndlessLine, FramesAreBoundedWhateverTheLineSends) {
    testing::TempConfigHome home;
    testing::PtyPair line;
    testing::RegisterTestPort(line, 1);
    std::atomic<bool> done{false};
    // Once the request has come, about 1 MB/s without a pause, as the fastest serial lines carry.
    std::thread streamer([&] {
        std::vector<std::uint8_t> chunk(1024);
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<std::uint8_t>(i);
        bool asked = false;
        while (!done.load()) {
            std::uint8_t request[256];
            const auto got = line.ReadMaster(request);
            asked = asked || got.Count > 0;
            if (asked)
                line.WriteMaster(chunk);
            std::this_thread::sleep_for(1ms);
        }
    });
    const MbusRun run = RunMbusHere({"read", "--port", "COM1", "--timeout", "300"});
    done.store(true);
    streamer.join();

    std::size_t frames = 0;
    for (const std::string& text : run.OutLines()) {
        if (text.rfind("RX ", 0) != 0)
            continue;
        ++frames;
        const std::size_t bytes = (text.size() - 2) / 3;
        EXPECT_LE(bytes, ReaderSession::kLongestFrame);
    }
    EXPECT_GE(frames, 2u) << run.Err;
}

TEST(OddDevicePath, CsvEscapesItsControlCharactersAndBytesThatAreNoUtf8) {
    testing::TempConfigHome home;
    testing::RunningSim sim({});
    const std::string device = (home.Root() / "tty\x1b\xff").string();
    std::filesystem::create_symlink(sim.DevicePath, device);

    const MbusRun run = RunMbusHere({"read", "--port", device, "--csv"});
    EXPECT_EQ(run.Status, kExitOk) << run.Err;
    const auto lines = run.OutLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string port = (home.Root() / "tty\\u001b\\u00ff").string();
    EXPECT_NE(lines[1].find("," + port + ","), std::string::npos) << lines[1];
    for (std::string_view text = run.Out; !text.empty();) {
        const std::size_t length = util::Utf8CharacterLength(text);
        ASSERT_GT(length, 0u) << "no UTF-8 at byte " << run.Out.size() - text.size();
        text.remove_prefix(length);
    }
}

} // namespace
} // namespace mbus::tools
