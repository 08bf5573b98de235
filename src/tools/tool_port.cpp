#include "tools/tool_port.h"

#include "tools/port_failure.h"
#include "tools/quoted_argument.h"

#include <ostream>

namespace mbus::tools {

ToolPort::ToolPort(std::string command)
    : Command_(std::move(command)), Interrupt_(platform::InterruptFlag::BrokenPipe::Stops) {}

bool ToolPort::Open(const std::string& portText, const LineSettings& line, std::ostream& err) {
    Port_ = ShownText(portText);
    std::string error;
    if (!Target_.Select(portText, error)) {
        err << "mbus " << Command_ << ": " << error << "\n";
        return false;
    }
    LineSettings settings = line;
    settings.ComNumber = Target_.ComNumber();
    try {
        Session_.emplace(settings);
    } catch (const std::exception& e) {
        err << "mbus " << Command_ << ": " << Port_ << ": " << PortFailureText(e, PortStep::Opening)
            << "\n";
        return false;
    }
    return true;
}

std::optional<ReaderSession::Clock::time_point> ToolPort::Send(const std::string& bytes,
                                                               std::ostream& err) {
    try {
        return Session_->Send(bytes);
    } catch (const std::exception& e) {
        err << "mbus " << Command_ << ": " << Port_ << ": " << PortFailureText(e, PortStep::Sending)
            << "\n";
        return std::nullopt;
    }
}

} // namespace mbus::tools
