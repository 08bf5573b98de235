// GroupHexPairs: the aware blank removal, then one blank before every pair but the first; an odd
// last character stays joined, nothing is added at the end, and regrouping plain text changes
// nothing.
#include "fuzz_check.h"
#include "util/string_c.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using mbus::fuzz::Check;
namespace util = mbus::util;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string grouped = util::GroupHexPairs(text);
    const std::string kept = util::RemoveTextBlanks(text);

    const std::size_t n = kept.size();
    const std::size_t added = n / 2 >= 2 ? n / 2 - 1 : 0;
    Check(grouped.size() == n + added, "n div 2 - 1 blanks are added");
    std::string withoutAdded;
    for (std::size_t i = 0; i < grouped.size(); ++i) {
        if (i % 3 == 2 && i / 3 < added)
            Check(grouped[i] == ' ', "added blanks stand after every pair");
        else
            withoutAdded.push_back(grouped[i]);
    }
    Check(withoutAdded == kept, "the kept bytes stay in order");
    Check(util::RemoveSpaces(grouped) == util::RemoveSpaces(text), "only blanks change");

    // Without zero bytes and lead bytes every blank is removed again, so regrouping is stable.
    const bool plain = std::none_of(
        data, data + size, [](std::uint8_t b) { return b == 0 || (b >= 0x81 && b <= 0xFE); });
    if (plain)
        Check(util::GroupHexPairs(grouped) == grouped, "grouping plain text is idempotent");
    return 0;
}
