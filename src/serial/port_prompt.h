// How the port component asks the user for a port when it is to open without a port number.
// The port selection dialog installs itself as the prompt; without one the prompt is declined.
#pragma once

#include <functional>
#include <optional>

namespace mbus::serial {

// Shows the choice modally on the calling (window) thread: the chosen port number, or none when
// the user declined.
using PortPrompt = std::function<std::optional<int>()>;

// Installs the prompt (empty: none; every prompt is then declined).
void SetPortPrompt(PortPrompt prompt);

// Asks through the installed prompt; none when there is no prompt or the user declined.
std::optional<int> PromptForPortNumber();

} // namespace mbus::serial
