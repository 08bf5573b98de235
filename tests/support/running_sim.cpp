#include "support/running_sim.h"

#include <chrono>
#include <sstream>

namespace mbus::testing {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> SimCommand(std::vector<std::string> options, SimPacing pacing) {
    options.insert(options.begin(), {ProgramFromEnvironment("MBUS_PROGRAM"), "sim"});
    if (pacing == SimPacing::Unpaced)
        options.push_back("--unpaced");
    return options;
}

} // namespace

RunningSim::RunningSim(std::vector<std::string> options, SimPacing pacing)
    : Process(SimCommand(std::move(options), pacing)) {
    if (const auto line = Process.ReadLine(10s)) {
        std::istringstream words(*line);
        words >> ComName >> DevicePath;
    }
}

RunningSim::~RunningSim() {
    if (!Process.Wait(0ms))
        Stop();
}

int RunningSim::Number() const {
    return ComName.size() > 3 ? std::stoi(ComName.substr(3)) : 0;
}

int RunningSim::Stop(int signal) {
    Process.Signal(signal);
    return Process.Wait(10s).value_or(-1);
}

} // namespace mbus::testing
