// GBK conversion on Windows: the system's code page 936 tables (the C library there has no
// iconv). Same results as the iconv version: '?' for what GBK cannot hold, U+FFFD for bytes that
// are not GBK.
#include "util/gbk_text.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace mbus::util {
namespace {

constexpr UINT kGbk = 936;

std::wstring Wide(UINT codePage, std::string_view text, DWORD flags) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(UINT codePage, std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    const char* unmappable = codePage == CP_UTF8 ? nullptr : "?"; // UTF-8 holds everything
    ::WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), length, unmappable, nullptr);
    return text;
}

} // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    // Invalid UTF-8 becomes U+FFFD, which GBK cannot hold: '?'. So do characters beyond the
    // basic plane, which would otherwise give one '?' for each half of their surrogate pair.
    std::wstring wide = Wide(CP_UTF8, utf8, 0);
    std::wstring characters;
    characters.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const bool highSurrogate = wide[i] >= 0xD800 && wide[i] <= 0xDBFF;
        const bool pair =
            highSurrogate && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
        characters += (wide[i] >= 0xD800 && wide[i] <= 0xDFFF) ? L'\xFFFD' : wide[i];
        if (pair)
            ++i;
    }
    return Narrow(kGbk, characters);
}

std::string GbkToUtf8(std::string_view gbk) {
    std::wstring wide;
    std::size_t i = 0;
    while (i < gbk.size()) {
        // One character at a time: one byte, or a lead byte and its trail.
        const auto byte = static_cast<BYTE>(gbk[i]);
        std::size_t length = ::IsDBCSLeadByteEx(kGbk, byte) && i + 1 < gbk.size() ? 2 : 1;
        std::wstring character = Wide(kGbk, gbk.substr(i, length), MB_ERR_INVALID_CHARS);
        if (character.empty()) {
            character = L"\xFFFD";
            length = 1; // replace one byte and go on
        }
        wide += character;
        i += length;
    }
    return Narrow(CP_UTF8, wide);
}

} // namespace mbus::util
