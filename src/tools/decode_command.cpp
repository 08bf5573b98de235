#include "tools/decode_command.h"

#include "protocol/parsed_reply.h"
#include "tools/json_text.h"
#include "tools/option_parser.h"
#include "tools/reading_json.h"
#include "util/string_c.h"

#include <istream>
#include <ostream>

namespace mbus::tools {
namespace {

void PrintHelp(std::ostream& out) {
    out << "usage: mbus decode [--json] [HEX ...]\n"
           "\n"
           "Each argument, or each line of standard input when there is none, is one received\n"
           "chunk as hex text (digits are paired in order; blanks and other characters are\n"
           "skipped). Prints one line per chunk: the decoded reply, or an empty line when the\n"
           "chunk holds no reply the decoder knows. The replies of the current counters\n"
           "(identifier 90 1F) give the labelled line the console shows; the other read-data\n"
           "replies (D1 20 .. D1 2B, 81 02 .. 81 05, in either byte order) give their labelled\n"
           "values with units, as \"上1月结算日累积量:000010.00m³;\".\n"
           "\n"
           "  --json   print one JSON object per chunk instead:\n"
           "           {\"hex\": ..., \"decoded\": ..., \"layout\": "
           "\"water\"|\"heat\"|\"history\"|\n"
           "            \"price_table\"|\"settlement_day\"|\"reading_day\"|\"purchase\"|null,\n"
           "            \"check\": {\"complete\": bool, \"start\": bool|null,\n"
           "                      \"checksum\": bool|null, \"end\": bool|null}, ...}\n"
           "           The check looks at the frame the decoder found: the start byte 0x68,\n"
           "           the 8-bit sum from 0x68 to the last data byte and the end byte 0x16\n"
           "           (null while the chunk does not hold the whole frame). A decoded chunk\n"
           "           adds \"address\" (14 digits as typed), \"type\" (the type code),\n"
           "           \"fields\": [{\"label\", \"value\", \"unit\"}, ...] in layout order and\n"
           "           \"status\": {\"raw\", \"valve\", \"battery\"} (null for a layout without\n"
           "           status bytes). A read-address reply (control 0x83) adds its\n"
           "           \"address\" and \"type\"; it is not decoded.\n"
           "\n"
           "Exit status: 0 every chunk decoded, 1 some chunk did not, 2 bad option or standard\n"
           "input that cannot be read, 3 the output could not be written.\n";
}

} // namespace

std::string DecodeChunkLine(std::string_view hexText, bool json, bool& decoded) {
    const std::string bytes = util::HexToBytes(hexText);
    const std::optional<protocol::ParsedReply> reply = protocol::ParseReply(util::AsBytes(bytes));
    decoded = reply && reply->Decoded();
    const std::string line = decoded ? reply->Line : std::string();
    if (!json)
        return line;
    const std::string_view layout =
        protocol::LayoutName(decoded ? reply->Format->Layout : protocol::ReplyLayout::None);
    const std::string keys =
        reply ? ReplyJsonKeys(*reply) : ", \"check\": " + CheckJson(protocol::FrameCheck{});
    return "{\"hex\": " + JsonString(util::BytesToHexTrimmed(util::AsBytes(bytes))) +
           ", \"decoded\": " + JsonString(line) +
           ", \"layout\": " + (layout.empty() ? "null" : JsonString(layout)) + keys + "}";
}

int RunDecodeCommand(CommandArgs args, CommandIo io) {
    OptionParser options({}, {"--json"});
    if (const auto done =
            options.Open("decode", args, io, PrintHelp, OptionParser::PlainArguments::Taken))
        return *done;
    const bool json = options.Has("--json");

    bool allDecoded = true;
    const auto decodeOne = [&](std::string_view chunk) {
        bool decoded = false;
        io.Out << DecodeChunkLine(chunk, json, decoded) << "\n";
        allDecoded = allDecoded && decoded;
    };
    if (!options.Positional().empty()) {
        for (const std::string& chunk : options.Positional())
            decodeOne(chunk);
    } else {
        std::string line;
        // Output that cannot be written any more (a reader that has gone) ends the reading.
        while (io.Out && std::getline(io.In, line))
            decodeOne(line);
        if (io.In.bad()) {
            io.Out.flush();
            io.Err << "mbus decode: cannot read standard input\n";
            return kExitUsage;
        }
    }
    io.Out.flush();
    return allDecoded ? kExitOk : kExitIncomplete;
}

} // namespace mbus::tools
