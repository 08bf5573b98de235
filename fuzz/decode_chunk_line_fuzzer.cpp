// The `mbus decode` input path: one line of hex text to one output line, plain or JSON, the JSON
// one with the frame check and, for a decoded chunk (the current counters or another read-data
// layout), its layout, fields and status.
#include "fuzz_check.h"
#include "protocol/parsed_reply.h"
#include "protocol/response_decoder.h"
#include "tools/decode_command.h"
#include "util/string_c.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using mbus::fuzz::Check;
namespace util = mbus::util;

namespace {

// Consumes `prefix` from the front of `text`; false when it is not there.
bool Take(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string bytes = util::HexToBytes(input);
    const auto reply = mbus::protocol::ParseReply(util::AsBytes(bytes));
    const std::string expected = reply && reply->Decoded() ? reply->Line : std::string();
    const std::string decoderLine = mbus::protocol::DecodeMeterData(util::AsBytes(bytes));
    Check(decoderLine.empty() || decoderLine == expected, "the decoder's line where it has one");

    bool decoded = false;
    const std::string plain = mbus::tools::DecodeChunkLine(input, false, decoded);
    Check(plain == expected, "plain line is the decoded text");
    Check(decoded == !plain.empty(), "decoded exactly when there is text");

    bool jsonDecoded = !decoded;
    const std::string json = mbus::tools::DecodeChunkLine(input, true, jsonDecoded);
    Check(jsonDecoded == decoded, "both forms agree on decoding");
    Check(json.find('\n') == std::string::npos, "one line");

    std::string hex = util::BytesToHex(util::AsBytes(bytes));
    if (!hex.empty())
        hex.pop_back();
    std::string_view rest = json;
    Check(Take(rest, "{\"hex\": \"") && Take(rest, hex) && Take(rest, "\", \"decoded\": \"") &&
              Take(rest, plain) && Take(rest, "\", \"layout\": "),
          "JSON object with hex and decoded text");
    if (decoded)
        Check(Take(rest,
                   "\"" + std::string(mbus::protocol::LayoutName(reply->Format->Layout)) + "\", "),
              "layout named when decoded");
    else
        Check(Take(rest, "null, "), "layout null when not decoded");
    Check(Take(rest, "\"check\": {\"complete\": "), "the frame check follows the layout");
    Check(rest.ends_with("}"), "one object");
    if (decoded) {
        Check(rest.find(", \"fields\": [{\"label\": ") != std::string_view::npos &&
                  (rest.find(", \"status\": {\"raw\": \"") != std::string_view::npos) ==
                      !reply->Status.Raw.empty(),
              "fields and status of a decoded chunk");
    }
    return 0;
}
