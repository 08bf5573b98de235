#include "platform/command_line.h"

#include "platform/win32/windows_api.h"

#include <shellapi.h>

namespace mbus::platform {
namespace {

std::string Utf8Of(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    utf8.pop_back(); // the terminating zero
    return utf8;
}

} // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) // the narrow arguments are better than none
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>();
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Utf8Of(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

} // namespace mbus::platform
