#include "support/temp_config_home.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace mbus::testing {
namespace fs = std::filesystem;

TempConfigHome::TempConfigHome() {
    std::string pattern = (fs::temp_directory_path() / "mbus-config-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    Root_ = pattern;
    fs::create_directories(PortsDirectory());
    std::ofstream(PortsDirectory() / "no-discovery");
    if (const char* saved = std::getenv("XDG_CONFIG_HOME"))
        SavedConfigHome_ = saved;
    ::setenv("XDG_CONFIG_HOME", Root_.c_str(), 1);
}

TempConfigHome::~TempConfigHome() {
    if (SavedConfigHome_)
        ::setenv("XDG_CONFIG_HOME", SavedConfigHome_->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    fs::remove_all(Root_, ec);
}

fs::path TempConfigHome::PortsDirectory() const {
    return Root_ / "mbus-console" / "ports";
}

std::string TempConfigHome::AddFakePort(int number) {
    auto device = std::make_unique<platform::PseudoTerminal>();
    std::string error;
    if (!device->Open(platform::PseudoTerminal::SlaveHold::Released, error))
        throw std::runtime_error(error);
    fs::create_symlink(device->SlavePath(), PortsDirectory() / ("COM" + std::to_string(number)));
    Devices_.push_back(std::move(device));
    return Devices_.back()->SlavePath();
}

std::string TempConfigHome::AddLinkToFile(int number) {
    const fs::path file = Root_ / ("file-" + std::to_string(number));
    std::ofstream(file).put('\0');
    fs::create_symlink(file, PortsDirectory() / ("COM" + std::to_string(number)));
    return file.string();
}

void TempConfigHome::AddDanglingLink(int number) {
    fs::create_symlink(Root_ / "gone", PortsDirectory() / ("COM" + std::to_string(number)));
}

} // namespace mbus::testing
