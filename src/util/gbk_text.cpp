#include "util/gbk_text.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace mbus::util {
namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Converts with iconv; on an input sequence it cannot convert it appends `replacement` and
// steps over one input character: one byte, plus the UTF-8 continuation bytes after it when
// `fromUtf8` is set.
std::string Convert(const char* to, const char* from, std::string_view input,
                    std::string_view replacement, bool fromUtf8) {
    iconv_t raw = iconv_open(to, from);
    if (raw == reinterpret_cast<iconv_t>(-1))
        return std::string(input);
    std::unique_ptr<void, IconvCloser> cd(raw);

    std::string out;
    out.reserve(input.size() * 2);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = iconv(raw, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (a sequence cut short at the end): replace one byte and go on.
        out.append(replacement);
        do {
            ++in;
            --inLeft;
        } while (fromUtf8 && inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
        iconv(raw, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

} // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    return Convert("GBK", "UTF-8", utf8, "?", true);
}

std::string GbkToUtf8(std::string_view gbk) {
    return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD", false);
}

} // namespace mbus::util
