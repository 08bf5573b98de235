// `mbus frame`, `mbus decode` and the top-level dispatch, run through RunMbus with string streams.
#include "mbus_run.h"

#include "tools/decode_command.h"
#include "tools/json_text.h"
#include "tools/subcommands.h"

#include "protocol/meter_type.h"
#include "util/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace mbus::tools {
namespace {

// A usage error: status 2, nothing on standard output, exactly one line on standard error that
// starts with `prefix`.
void ExpectUsageError(const MbusRun& r, const std::string& prefix) {
    EXPECT_EQ(r.Status, kExitUsage);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_FALSE(r.Err.empty() || r.Err.back() != '\n') << r.Err;
    EXPECT_EQ(r.Err.rfind(prefix, 0), 0u) << r.Err;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& arg : args)
        text += "[" + arg + "]";
    return text;
}

const std::string kStartUpFrame = "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 \n";
const std::string kGasFrame = "FE FE 68 30 34 12 90 78 56 34 12 01 03 90 1F 00 35 16 \n";

const std::string kWaterHex = "FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 "
                              "10 00 00 2C 05 04 03 02 01 24 20 00 00 65 16";
const std::string kWaterText =
    "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:20240102030405;状态:0000;";
const std::string kHeatHex =
    "FE FE 68 20 AA AA AA AA AA AA AA 81 2E 1F 90 00 45 23 01 00 05 56 34 02 00 05 34 12 00 00 "
    "17 45 23 01 00 35 89 67 05 00 2C 43 65 00 21 45 00 34 12 00 05 04 03 02 01 24 20 00 00 4E 16";
const std::string kHeatText =
    "结算日热量:000123.45;当前热量:000234.56;热功率:000012.34;流速:0001.2345;累积流量:000567.89;"
    "供水温度:0065.43;回水温度:0045.21;累积工作时间:001234;实时时间:20240102030405;状态:0000;";

// ---------------------------------------------------------------------------------------------
// mbus frame

TEST(FrameCommand, DefaultsGiveTheStartUpRequest) {
    const MbusRun r = RunMbusHere({"frame"});
    EXPECT_EQ(r.Status, kExitOk);
    EXPECT_EQ(r.Out, kStartUpFrame);
    EXPECT_EQ(r.Err, "");
}

TEST(FrameCommand, GasMeterExampleInEveryOptionSpelling) {
    const std::vector<std::vector<std::string>> spellings = {
        {"frame", "--addr", "12 34 56 78 90 12 34", "--type", "6", "--di", "90 1F"},
        {"frame", "--addr", "12345678901234", "--type", "燃气表", "--di", "901F"},
        {"frame", "--addr=12 34 56 78 90 12 34", "--type=6", "--di=90 1f"},
        {"frame", "--di", "90 1F", "--type", "燃气表", "--addr", "12 34 56 78 90 12 34"},
        // The last value of a repeated option counts.
        {"frame", "--type", "0", "--addr", "AA AA AA AA AA AA AA", "--type", "6", "--addr",
         "12 34 56 78 90 12 34", "--di", "90 1F"},
    };
    for (const auto& args : spellings) {
        const MbusRun r = RunMbusHere(args);
        EXPECT_EQ(r.Status, kExitOk) << Joined(args) << r.Err;
        EXPECT_EQ(r.Out, kGasFrame) << Joined(args);
        EXPECT_EQ(r.Err, "") << Joined(args);
    }
}

TEST(FrameCommand, TypeByPositionAndByItemTextAgree) {
    const auto types = protocol::MeterTypes();
    for (std::size_t position = 0; position < types.size(); ++position) {
        const MbusRun byPosition = RunMbusHere({"frame", "--type", std::to_string(position)});
        const MbusRun byText =
            RunMbusHere({"frame", "--type", std::string(types[position].ItemText)});
        EXPECT_EQ(byPosition.Status, kExitOk);
        EXPECT_EQ(byText.Status, kExitOk);
        EXPECT_EQ(byPosition.Out, byText.Out);
        // Only the type byte and the checksum differ from the default request.
        char typeHex[4];
        std::snprintf(typeHex, sizeof typeHex, "%02X", types[position].Code);
        EXPECT_EQ(byPosition.Out.substr(9, 2), typeHex) << position;
        EXPECT_EQ(byPosition.Out.substr(0, 9), kStartUpFrame.substr(0, 9));
        EXPECT_EQ(byPosition.Out.substr(11, 37), kStartUpFrame.substr(11, 37));
        EXPECT_EQ(byPosition.Out.substr(51), kStartUpFrame.substr(51));
    }
}

TEST(FrameCommand, AddressIsCheckedByItsByteCount) {
    // Like the console's address check: the hex digits make exactly seven bytes, whatever else
    // the text holds; an odd last digit is dropped before counting.
    EXPECT_EQ(RunMbusHere({"frame", "--addr", "aa-aa-aa-aa-aa-aa-aa"}).Out, kStartUpFrame);
    EXPECT_EQ(RunMbusHere({"frame", "--addr", "AAAAAAAAAAAAAA5"}).Out, kStartUpFrame);

    for (const std::string address : {"", "AA AA", "AA AA AA AA AA AA", "AA AA AA AA AA AA AA AA",
                                      "GG GG GG GG GG GG GG", "冷水水表"}) {
        SCOPED_TRACE(address);
        ExpectUsageError(RunMbusHere({"frame", "--addr", address}), "mbus frame: ");
    }
}

TEST(FrameCommand, BadTypeOrIdentifierIsAUsageError) {
    for (const std::string type : {"8", "9", "-1", "07", "10", "", "x", "热量表(计热量)", "冷水"}) {
        SCOPED_TRACE(type);
        ExpectUsageError(RunMbusHere({"frame", "--type", type}), "mbus frame: ");
    }
    for (const std::string dataId : {"", "1F", "1", "GG"}) {
        SCOPED_TRACE(dataId);
        ExpectUsageError(RunMbusHere({"frame", "--di", dataId}), "mbus frame: ");
    }
}

TEST(FrameCommand, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"frame", "--bogus"},    {"frame", "--addr"}, {"frame", "--type"},
        {"frame", "--help=yes"}, {"frame", "extra"},  {"frame", "--", "--addr"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(Joined(args));
        ExpectUsageError(RunMbusHere(args), "mbus frame: ");
    }
}

TEST(FrameCommand, HelpDescribesTheOptionsAndEveryType) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"frame", "--help"}, {"frame", "--type", "9", "--help"}}) {
        const MbusRun r = RunMbusHere(args);
        EXPECT_EQ(r.Status, kExitOk) << Joined(args);
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(r.Out.rfind("usage: mbus frame", 0), 0u) << r.Out;
        for (const std::string option : {"--addr", "--type", "--di"})
            EXPECT_NE(r.Out.find(option), std::string::npos) << option;
        for (const auto& type : protocol::MeterTypes())
            EXPECT_NE(r.Out.find(std::string(type.ItemText)), std::string::npos) << type.ItemText;
    }
}

// ---------------------------------------------------------------------------------------------
// mbus decode

TEST(DecodeCommand, ArgumentsAreChunks) {
    const MbusRun both = RunMbusHere({"decode", kWaterHex, kHeatHex});
    EXPECT_EQ(both.Status, kExitOk);
    EXPECT_EQ(both.Out, kWaterText + "\n" + kHeatText + "\n");
    EXPECT_EQ(both.Err, "");

    // A chunk that is not decoded gives an empty line in its place and status 1.
    const MbusRun mixed = RunMbusHere({"decode", "00 01 02", kWaterHex, ""});
    EXPECT_EQ(mixed.Status, kExitIncomplete);
    EXPECT_EQ(mixed.Out, "\n" + kWaterText + "\n\n");
    EXPECT_EQ(mixed.Err, "");

    // Standard input is not read when there are arguments.
    const MbusRun ignored = RunMbusHere({"decode", kWaterHex}, "00\n");
    EXPECT_EQ(ignored.Status, kExitOk);
    EXPECT_EQ(ignored.Out, kWaterText + "\n");

    // After "--" an argument that looks like an option is a chunk.
    const MbusRun dashes = RunMbusHere({"decode", "--", "--json"});
    EXPECT_EQ(dashes.Status, kExitIncomplete);
    EXPECT_EQ(dashes.Out, "\n");
}

TEST(DecodeCommand, ChunksAreHexTextInAnyShape) {
    std::string compact;
    for (char c : kWaterHex) {
        if (c != ' ')
            compact.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    std::string commas = kWaterHex;
    std::replace(commas.begin(), commas.end(), ' ', ',');
    for (const std::string& chunk : {compact, kWaterHex + " ", commas, "\t" + kWaterHex + "\t"}) {
        const MbusRun r = RunMbusHere({"decode", chunk});
        EXPECT_EQ(r.Status, kExitOk) << chunk;
        EXPECT_EQ(r.Out, kWaterText + "\n") << chunk;
    }
}

TEST(DecodeCommand, StandardInputLinesAreChunks) {
    struct Case {
        std::string Input;
        std::string Out;
        int Status;
    };
    const std::vector<Case> cases = {
        {"", "", kExitOk},
        {kWaterHex + "\n" + kHeatHex + "\n", kWaterText + "\n" + kHeatText + "\n", kExitOk},
        // A last line without a line end, and line ends of a text saved on the console's
        // platform.
        {kWaterHex + "\r\n" + kHeatHex, kWaterText + "\n" + kHeatText + "\n", kExitOk},
        {kWaterHex + "\n\n", kWaterText + "\n\n", kExitIncomplete},
        {"FE FE 68 10\n" + kWaterHex + "\n", "\n" + kWaterText + "\n", kExitIncomplete},
        // One line is one chunk: a reply split over two lines is not decoded.
        {kWaterHex.substr(0, 42) + "\n" + kWaterHex.substr(42) + "\n", "\n\n", kExitIncomplete},
    };
    for (const auto& c : cases) {
        const MbusRun r = RunMbusHere({"decode"}, c.Input);
        EXPECT_EQ(r.Status, c.Status) << c.Input;
        EXPECT_EQ(r.Out, c.Out) << c.Input;
        EXPECT_EQ(r.Err, "");
    }
}

// The keys after "layout": the frame check, and for a decoded chunk who answered, the fields with
// their units and the status.
const std::string kSoundCheck =
    R"("check": {"complete": true, "start": true, "checksum": true, "end": true})";
const std::string kNoFrame =
    R"(, "check": {"complete": false, "start": null, "checksum": null, "end": null}})";
const std::string kWaterKeys =
    ", " + kSoundCheck +
    R"(, "address": "AAAAAAAAAAAAAA", "type": 16, "fields": [)"
    R"({"label": "当前累积流量", "value": "000012.34", "unit": "m³"}, )"
    R"({"label": "结算日累积流量", "value": "000010.00", "unit": "m³"}, )"
    R"({"label": "实时时间", "value": "20240102030405", "unit": null}, )"
    R"({"label": "状态", "value": "0000", "unit": null}], )"
    R"("status": {"raw": "0000", "valve": "open", "battery": "normal"}})";
const std::string kHeatKeys = ", " + kSoundCheck +
                              R"(, "address": "AAAAAAAAAAAAAA", "type": 32, "fields": [)"
                              R"({"label": "结算日热量", "value": "000123.45", "unit": "kWh"}, )"
                              R"({"label": "当前热量", "value": "000234.56", "unit": "kWh"}, )"
                              R"({"label": "热功率", "value": "000012.34", "unit": "kW"}, )"
                              R"({"label": "流速", "value": "0001.2345", "unit": "m³/h"}, )"
                              R"({"label": "累积流量", "value": "000567.89", "unit": "m³"}, )"
                              R"({"label": "供水温度", "value": "0065.43", "unit": "°C"}, )"
                              R"({"label": "回水温度", "value": "0045.21", "unit": "°C"}, )"
                              R"({"label": "累积工作时间", "value": "001234", "unit": "h"}, )"
                              R"({"label": "实时时间", "value": "20240102030405", "unit": null}, )"
                              R"({"label": "状态", "value": "0000", "unit": null}], )"
                              R"("status": {"raw": "0000", "valve": "open", "battery": "normal"}})";

TEST(DecodeCommand, JsonObjectsPerChunk) {
    const MbusRun r = RunMbusHere({"decode", "--json"},
                                  kWaterHex + "\n" + "00 1 2 3 ab\n" + kHeatHex + "\n" + "\n");
    EXPECT_EQ(r.Status, kExitIncomplete);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, "{\"hex\": \"" + kWaterHex + "\", \"decoded\": \"" + kWaterText +
                         "\", \"layout\": \"water\"" + kWaterKeys +
                         "\n"
                         // The hex shown is the bytes read from the chunk, in the usual spelling;
                         // the odd last digit is dropped.
                         "{\"hex\": \"00 12 3A\", \"decoded\": \"\", \"layout\": null" +
                         kNoFrame +
                         "\n"
                         "{\"hex\": \"" +
                         kHeatHex + "\", \"decoded\": \"" + kHeatText + "\", \"layout\": \"heat\"" +
                         kHeatKeys +
                         "\n"
                         "{\"hex\": \"\", \"decoded\": \"\", \"layout\": null" +
                         kNoFrame + "\n");

    const MbusRun fromArgs = RunMbusHere({"decode", kHeatHex, "--json"});
    EXPECT_EQ(fromArgs.Status, kExitOk);
    EXPECT_EQ(fromArgs.Out, "{\"hex\": \"" + kHeatHex + "\", \"decoded\": \"" + kHeatText +
                                "\", \"layout\": \"heat\"" + kHeatKeys + "\n");
}

// A bad frame still decodes (the decoder is lenient); the check says what is wrong with it.
TEST(DecodeCommand, JsonCheckOfBadAndCutFramesAndTheAddressReply) {
    const auto json = [](const std::string& hex) {
        bool decoded = false;
        return DecodeChunkLine(hex, true, decoded);
    };
    std::string badSum = kWaterHex;
    badSum.replace(badSum.size() - 5, 2, "66");
    EXPECT_NE(json(badSum).find(R"("layout": "water", "check": {"complete": true, "start": true, )"
                                R"("checksum": false, "end": true}, "address": "AAAAAAAAAAAAAA")"),
              std::string::npos)
        << json(badSum);
    std::string badEnd = kHeatHex;
    badEnd.replace(badEnd.size() - 2, 2, "17");
    EXPECT_NE(json(badEnd).find(R"("checksum": true, "end": false})"), std::string::npos);
    // Without its end byte the frame is not complete; without its head, no address is known.
    const std::string cut = kWaterHex.substr(0, kWaterHex.size() - 3);
    EXPECT_NE(json(cut).find(R"("layout": "water", "check": {"complete": false, "start": true, )"
                             R"("checksum": null, "end": null}, "address": "AAAAAAAAAAAAAA")"),
              std::string::npos)
        << json(cut);
    const std::string headless = kWaterHex.substr(kWaterHex.find("81 16"));
    EXPECT_NE(
        json(headless).find(R"("check": {"complete": false, "start": null, "checksum": null, )"
                            R"("end": null}, "address": null, "type": null, "fields": [)"),
        std::string::npos)
        << json(headless);

    // A read-address reply is recognised, not decoded.
    bool decoded = true;
    EXPECT_EQ(
        DecodeChunkLine("FE FE 68 10 01 00 00 00 00 00 00 83 03 81 0A 00 8A 16", true, decoded),
        R"({"hex": "FE FE 68 10 01 00 00 00 00 00 00 83 03 81 0A 00 8A 16", "decoded": "", )"
        R"("layout": null, )" +
            kSoundCheck + R"(, "address": "00000000000001", "type": 16})");
    EXPECT_FALSE(decoded);
}

TEST(DecodeCommand, ChunkLineTellsWhetherItDecoded) {
    bool decoded = false;
    EXPECT_EQ(DecodeChunkLine(kWaterHex, false, decoded), kWaterText);
    EXPECT_TRUE(decoded);
    EXPECT_EQ(DecodeChunkLine("81 16 1F 90", false, decoded), "");
    EXPECT_FALSE(decoded);
    decoded = true;
    EXPECT_EQ(DecodeChunkLine("", true, decoded),
              "{\"hex\": \"\", \"decoded\": \"\", \"layout\": null" + kNoFrame);
    EXPECT_FALSE(decoded);
}

TEST(DecodeCommand, BadOptionsAndHelp) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"decode", "--bogus"}, {"decode", "--json=1"}, {"decode", kWaterHex, "--addr", "1"}}) {
        SCOPED_TRACE(Joined(args));
        ExpectUsageError(RunMbusHere(args, kWaterHex + "\n"), "mbus decode: ");
    }

    const MbusRun help = RunMbusHere({"decode", "--help"}, kWaterHex + "\n");
    EXPECT_EQ(help.Status, kExitOk);
    EXPECT_EQ(help.Err, "");
    EXPECT_EQ(help.Out.rfind("usage: mbus decode", 0), 0u) << help.Out;
    EXPECT_NE(help.Out.find("--json"), std::string::npos);
    EXPECT_EQ(help.Out.find(kWaterText), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// mbus read, before it opens a port

TEST(ReadCommand, HelpSaysWhichAddressesAreRefusedAndMessagesCountInWords) {
    const MbusRun help = RunMbusHere({"read", "--help"});
    EXPECT_NE(help.Out.find("give exactly seven bytes is refused"), std::string::npos) << help.Out;
    ExpectUsageError(RunMbusHere({"read", "--port", "COM1", "--addr", "12"}),
                     "mbus read: the address '12' gives 1 byte; it must give exactly 7");
    ExpectUsageError(RunMbusHere({"frame", "--addr", "12 34"}),
                     "mbus frame: the address '12 34' gives 2 bytes; it must give exactly 7");
}

// ---------------------------------------------------------------------------------------------
// mbus

TEST(Mbus, EveryCommandOpensAlike) {
    // Parsing, --help and stray arguments come before anything a command does, so none of these
    // touches a port or standard input.
    for (const std::string command : {"frame", "decode", "read", "ports", "sim"}) {
        SCOPED_TRACE(command);
        const MbusRun help = RunMbusHere({command, "--help", "--help"});
        EXPECT_EQ(help.Status, kExitOk);
        EXPECT_EQ(help.Err, "");
        EXPECT_EQ(help.Out.rfind("usage: mbus " + command + " ", 0), 0u) << help.Out;

        const MbusRun unknown = RunMbusHere({command, "--help", "--bogus"});
        ExpectUsageError(unknown, "");
        EXPECT_EQ(unknown.Err, "mbus " + command + ": unknown option --bogus\n");
        EXPECT_EQ(RunMbusHere({command, "--help=yes"}).Err,
                  "mbus " + command + ": option --help takes no value\n");

        const MbusRun stray = RunMbusHere({command, "stray", "more"});
        if (command == "decode") {
            EXPECT_EQ(stray.Status, kExitIncomplete) << "decode takes chunks";
        } else {
            ExpectUsageError(stray, "");
            EXPECT_EQ(stray.Err, "mbus " + command + ": unexpected argument 'stray'\n");
        }
        EXPECT_EQ(RunMbusHere({command, "stray", "--help"}).Status, kExitOk) << "--help first";
    }
}

TEST(Mbus, HelpListsTheCommands) {
    for (const std::string flag : {"--help", "-h", "help"}) {
        const MbusRun r = RunMbusHere({flag});
        EXPECT_EQ(r.Status, kExitOk) << flag;
        EXPECT_EQ(r.Err, "") << flag;
        EXPECT_EQ(r.Out.rfind("usage: mbus", 0), 0u) << r.Out;
        EXPECT_NE(r.Out.find("\n  frame "), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("\n  decode "), std::string::npos) << r.Out;
    }
}

TEST(Mbus, VersionIsTheProjectVersion) {
    const MbusRun r = RunMbusHere({"--version"});
    EXPECT_EQ(r.Status, kExitOk);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, std::string("mbus ") + util::kVersion + "\n");
    EXPECT_NE(RunMbusHere({"--help"}).Out.find("\n  --version "), std::string::npos);
}

TEST(Mbus, NoCommandPrintsUsageToStandardError) {
    const MbusRun r = RunMbusHere({});
    EXPECT_EQ(r.Status, kExitUsage);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.rfind("usage: mbus", 0), 0u) << r.Err;
}

TEST(Mbus, ArgumentsRepeatedInMessagesAreEscapedAndCut) {
    // A newline and a terminal escape sequence must neither break the one-line message nor
    // reach the terminal live; a long argument is cut.
    const std::string hostile = "12\n\x1B[2J\xFF" + std::string(100, '3');
    const std::vector<std::vector<std::string>> cases = {
        {"frame", "--addr", hostile},
        {"frame", "--type", hostile},
        {"frame", hostile},
        {"read", "--port", "COM" + hostile},
        {"read", "--port", "COM1", "--baud", hostile},
        {"address", "--port", "COM1", "--parity", hostile},
#ifndef _WIN32 // the simulated meter is Linux's
        {"sim", "--com", hostile},
        {"sim", "--split", hostile},
        {"sim", "--meter", hostile},
#endif
        {hostile},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(Joined(args));
        const MbusRun r = RunMbusHere(args);
        ExpectUsageError(r, "mbus");
        EXPECT_EQ(r.Err.find('\x1B'), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("12\\n\\x1B[2J\\xFF333"), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("333...'"), std::string::npos) << r.Err;
        EXPECT_LT(r.Err.size(), 200u) << r.Err;
    }
    const MbusRun command = RunMbusHere({"read", "--port", "COM1", "--command", "\n\x1B[2J\xFF"});
    ExpectUsageError(command, "mbus read: the command '\\n\\x1B[2J\\xFF' gives no bytes");
}

TEST(Mbus, JsonStringsStayValidForAnyBytes) {
    // UTF-8 characters as they are; every other byte as the character of its number.
    EXPECT_EQ(JsonString("a\xC3\xA9\xFF\xFE\xE2\x82\x01\"\\"),
              "\"a\xC3\xA9\\u00ff\\u00fe\\u00e2\\u0082\\u0001\\\"\\\\\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80\xF4\x90\x80\x80"), // a surrogate, above U+10FFFF
              "\"\\u00ed\\u00a0\\u0080\\u00f4\\u0090\\u0080\\u0080\"");
}

TEST(Mbus, UnknownCommandIsAUsageError) {
    for (const std::string command : {"frobnicate", "FRAME", "--frame", "", "-x"}) {
        SCOPED_TRACE(command);
        ExpectUsageError(RunMbusHere({command, "--help"}), "mbus: ");
    }
}

} // namespace
} // namespace mbus::tools
