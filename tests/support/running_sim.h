// `mbus sim` run by a test as a program of its own (the build passes its path in MBUS_PROGRAM),
// with the COM name and device path it printed first. A simulator still running when the object
// goes is terminated, so it removes its COM link.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace mbus::testing {

// Whether the simulator keeps to the line's timing (its default) or moves bytes as fast as the
// pseudo-terminal does (`--unpaced`): tests that count frames take the latter, because a paced
// reply, one byte at a time, is cut into two frames when a loaded machine holds the simulator
// back for longer than the quiet gap.
enum class SimPacing { Unpaced, Paced };

struct RunningSim {
    // Starts `mbus sim` with `options` and waits for its first line; ComName stays empty when
    // none came.
    explicit RunningSim(std::vector<std::string> options, SimPacing pacing = SimPacing::Unpaced);
    ~RunningSim();
    RunningSim(const RunningSim&) = delete;
    RunningSim& operator=(const RunningSim&) = delete;

    // The n of ComName, or 0.
    int Number() const;
    // Sends `signal` and returns the exit status, or -1 when it did not end in time.
    int Stop(int signal = SIGTERM);

    ChildProcess Process;
    std::string ComName;
    std::string DevicePath;
};

} // namespace mbus::testing
