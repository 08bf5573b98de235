#include "tools/port_failure.h"

#include "platform/comm_device.h"
#include "serial/exceptions.h"
#include "tools/quoted_argument.h"

namespace mbus::tools {
namespace {

// Causes are whole sentences with device paths: shown escaped, and long enough to be read.
constexpr std::size_t kShownCauseCharacters = 400;

} // namespace

std::string PortFailureText(const std::exception& failure, PortStep step) {
    std::string cause;
    if (step == PortStep::Opening)
        cause = platform::TakeOpenFailureCause();
    else if (dynamic_cast<const serial::EPutBlockFail*>(&failure))
        cause = "the line hung up: the device went away or its far end was closed";
    else if (dynamic_cast<const serial::EOutputBufferTooSmall*>(&failure))
        cause = "the line takes no more bytes: its far end does not read, or flow control holds "
                "the output";
    std::string text = failure.what();
    if (!cause.empty())
        text += "; " + ShownText(cause, kShownCauseCharacters);
    return text;
}

} // namespace mbus::tools
