#include "serial/port_prompt.h"

#include "serial/installed_hook.h"

namespace mbus::serial {
namespace {

InstalledHook<std::optional<int>()>& InstalledPrompt() {
    static InstalledHook<std::optional<int>()> prompt;
    return prompt;
}

} // namespace

void SetPortPrompt(PortPrompt prompt) {
    InstalledPrompt().Install(std::move(prompt));
}

std::optional<int> PromptForPortNumber() {
    if (const PortPrompt prompt = InstalledPrompt().Current())
        return prompt();
    return std::nullopt;
}

} // namespace mbus::serial
