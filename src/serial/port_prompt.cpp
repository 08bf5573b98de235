#include "serial/port_prompt.h"

#include <mutex>

namespace mbus::serial {
namespace {

std::mutex& PromptLock() {
    static std::mutex lock;
    return lock;
}

PortPrompt& InstalledPrompt() {
    static PortPrompt prompt;
    return prompt;
}

} // namespace

void SetPortPrompt(PortPrompt prompt) {
    std::lock_guard<std::mutex> guard(PromptLock());
    InstalledPrompt() = std::move(prompt);
}

std::optional<int> PromptForPortNumber() {
    PortPrompt prompt;
    {
        std::lock_guard<std::mutex> guard(PromptLock());
        prompt = InstalledPrompt();
    }
    if (!prompt)
        return std::nullopt;
    return prompt();
}

} // namespace mbus::serial
