#include "platform/file_open.h"

#include "platform/win32/windows_api.h"

#include <cerrno>
#include <cstring>

namespace mbus::platform {
namespace {

// UTF-8 as UTF-16; false for bytes that are not UTF-8.
bool Widen(const char* text, std::size_t length, std::wstring& wide) {
    if (length == 0) {
        wide.clear();
        return true;
    }
    const int count = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text,
                                            static_cast<int>(length), nullptr, 0);
    if (count <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(count));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length),
                                 wide.data(), count) == count;
}

} // namespace

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    std::wstring widePath;
    std::wstring wideMode;
    if (utf8Path.find('\0') != std::string::npos ||
        !Widen(utf8Path.data(), utf8Path.size(), widePath) ||
        !Widen(mode, std::strlen(mode), wideMode)) {
        errno = EINVAL;
        return nullptr;
    }
    return ::_wfopen(widePath.c_str(), wideMode.c_str());
}

} // namespace mbus::platform
