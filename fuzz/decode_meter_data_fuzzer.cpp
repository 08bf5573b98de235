// DecodeMeterData on arbitrary chunks: never reads outside the chunk (libFuzzer hands over an
// exactly sized heap copy), gives the empty text or a line of labelled fields ending in ';', and
// ignores wake-up bytes in front and zero bytes behind. The console's decode rule passes every
// chunk that fits its work buffer through unchanged while the address gives seven bytes. The
// reading of the current counters (fields, units, status, frame check) exists wherever the line
// does (and behind the echo of a request, where the decoder stops) and gives the line's values; the
// other replies (history, prices, days, purchase, key version, writes, refusals) have their
// layout's fields with raw bytes and units; the frame check, the comparison with a request and the
// search for other replies stay inside the chunk wherever they are pointed.
#include "fuzz_check.h"
#include "protocol/frame_check.h"
#include "protocol/parsed_reply.h"
#include "protocol/response_decoder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using mbus::fuzz::Check;
namespace protocol = mbus::protocol;

namespace {

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Checksum and end byte are judged exactly when the whole frame is there.
void CheckIsConsistent(const protocol::FrameCheck& check) {
    Check(check.Checksum.has_value() == check.Complete, "checksum judged when complete");
    Check(check.End.has_value() == check.Complete, "end byte judged when complete");
    Check(!check.Complete || check.Start.has_value(), "a complete frame has its start byte");
    Check((protocol::FirstFailure(check) == protocol::CheckFailure::Incomplete) == !check.Complete,
          "an incomplete frame fails first for that");
}

// The fields of a reply follow its layout: one per field, the value's bytes as hex digits beside
// it, units only on quantities, the status bytes (where the layout has them) the last field.
void CheckFields(const protocol::ParsedReply& reply) {
    Check(reply.Format || reply.Fields.empty(), "fields only with a layout");
    if (!reply.Format)
        return;
    Check(reply.Fields.size() == reply.Format->Fields.size(), "one reading per field");
    for (std::size_t i = 0; i < reply.Fields.size() && i < reply.Format->Fields.size(); ++i) {
        const protocol::FieldReading& field = reply.Fields[i];
        Check(field.Raw.size() == 2u * reply.Format->Fields[i].Size, "the raw bytes beside it");
        Check(field.Kind == protocol::FieldKind::Quantity || field.Unit.empty(),
              "only quantities have units");
    }
    const bool hasStatus = reply.Format->Fields.back().Kind == protocol::FieldKind::Status;
    Check(hasStatus == !reply.Status.Raw.empty(), "status words exactly with status bytes");
    if (hasStatus)
        Check(reply.Fields.back().Value == reply.Status.Raw, "the status is the last field");
}

// The request of a chunk's first bytes, so the address and type checks compare with something.
protocol::ReadRequest RequestOf(std::span<const std::uint8_t> chunk) {
    protocol::ReadRequest request;
    for (std::size_t i = 0; i < chunk.size() && i < request.Address.size(); ++i)
        request.Address[i] = chunk[i];
    request.TypeCode = chunk.empty() ? 0 : chunk.back();
    return request;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> chunk(data, size);
    const protocol::DecodedReply decoded = protocol::DecodeReply(chunk);
    const std::string& text = decoded.Text;

    Check(protocol::DecodeMeterData(chunk) == text, "DecodeMeterData gives the reply's text");
    Check(text.empty() == (decoded.Layout == protocol::ReplyLayout::None),
          "a layout exactly when there is text");
    Check(text.empty() || text.back() == ';', "the line ends with ';'");
    Check(text.find(' ') == std::string::npos, "no blank in the line");
    if (decoded.Layout == protocol::ReplyLayout::Water)
        Check(StartsWith(text, "当前累积流量:"), "water line starts with the flow");
    if (decoded.Layout == protocol::ReplyLayout::Heat)
        Check(StartsWith(text, "结算日热量:"), "heat line starts with the settlement heat");

    const protocol::ReadRequest request = RequestOf(chunk);
    auto reply = protocol::ParseReply(chunk);
    const bool currentData = reply && reply->Decoded() && protocol::IsCurrentData(*reply->Format);
    Check(text.empty() || (currentData && reply->Line == text),
          "a reading of the current counters wherever there is a line");
    // Beyond the decoder, only a whole reply frame behind the echo of a request is read.
    Check(!currentData || !text.empty() || reply->Check.Complete,
          "a reading without the decoder's line is a whole frame");
    if (reply) {
        protocol::CompareWithRequest(*reply, request);
        protocol::Answers(*reply, request);
        CheckIsConsistent(reply->Check);
        Check(reply->ControlAt < size, "the control code lies in the chunk");
        Check(reply->Address.has_value() == reply->TypeCode.has_value(),
              "address and type come with the header");
        CheckFields(*reply);
        Check(reply->Decoded() == (reply->Kind == protocol::ReplyKind::ReadData),
              "decoded exactly when read data");
        Check(reply->Decoded() != reply->Line.empty(), "a line exactly for read data");
        Check(reply->Kind != protocol::ReplyKind::Error || !reply->Format,
              "a refusal has no fields");
    }
    if (currentData) {
        std::string line;
        for (const protocol::FieldReading& field : reply->Fields)
            line += std::string(field.Label) + ":" + field.Value + ";";
        Check(line == reply->Line, "the fields give the decoded line");
    } else if (reply && reply->Decoded()) {
        Check(reply->Line == protocol::LabelledValues(reply->Fields),
              "the other layouts' line is their labelled values");
    }
    // Pointed anywhere, even past the end, the check reads nothing outside the chunk.
    if (size > 0)
        CheckIsConsistent(protocol::CheckFrame(chunk, data[0], &request));

    if (size <= protocol::kAnalyseBufferSize) {
        const auto received = protocol::ParseReceivedFrame("AA AA AA AA AA AA AA", chunk);
        Check((received && received->Decoded()) == (reply && reply->Decoded()) &&
                  (!received || received->Line == reply->Line),
              "the decode rule passes a chunk within the work buffer");
    }

    // Wake-up bytes in front neither create nor hide a reply (0xFE is no identifier byte and
    // never 0x81, so an identifier at position 0 or 1 still has no control code before it).
    std::vector<std::uint8_t> woken{0xFE, 0xFE};
    woken.insert(woken.end(), chunk.begin(), chunk.end());
    Check(protocol::DecodeReply(woken).Text == text, "wake-up bytes change nothing");

    // Zero bytes behind a decoded reply create no identifier and change nothing.
    if (!text.empty()) {
        std::vector<std::uint8_t> padded(chunk.begin(), chunk.end());
        padded.insert(padded.end(), 3, 0x00);
        Check(protocol::DecodeReply(padded).Text == text, "trailing bytes change nothing");
    }
    return 0;
}
