#include "platform/system_error.h"

#include "platform/win32/windows_api.h"

#include <string>

namespace mbus::platform {

std::uint32_t LastError() {
    return ::GetLastError();
}

void SetLastError(std::uint32_t code) {
    ::SetLastError(code);
}

std::string SystemMessage(std::uint32_t code) {
    // The system's own text in US English where it has one, else in the user's language.
    char* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    DWORD length =
        ::FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                         reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0)
        length =
            ::FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr)
        return "Unknown error " + std::to_string(code) + ".";
    std::string message(text, length);
    ::LocalFree(text);
    // FORMAT_MESSAGE_MAX_WIDTH_MASK turns the line ends into blanks; drop the trailing ones.
    while (!message.empty() &&
           (message.back() == ' ' || message.back() == '\r' || message.back() == '\n'))
        message.pop_back();
    return message;
}

} // namespace mbus::platform
