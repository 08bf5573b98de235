// TextToHex: trimmed hex text of exactly the bytes the aware blank removal leaves.
#include "fuzz_check.h"
#include "util/string_c.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using mbus::fuzz::Check;
namespace util = mbus::util;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string hex = util::TextToHex(text);
    const std::string kept = util::RemoveTextBlanks(text);

    Check(util::HexToBytes(hex) == kept, "hex text encodes the bytes left after blank removal");
    Check(hex.size() == (kept.empty() ? 0 : 3 * kept.size() - 1), "two digits and one blank each");
    for (std::size_t i = 0; i < hex.size(); ++i) {
        const char c = hex[i];
        if (i % 3 == 2)
            Check(c == ' ', "single blanks between pairs");
        else
            Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "upper-case hex digits");
    }
    return 0;
}
