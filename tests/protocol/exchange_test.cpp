// One request and its answer: replies credited to the request they answer (another meter's
// request waiting, a request timed out, a reply from a meter nobody asked), the echo of a request,
// and replies the line delivers in bursts joined before they are analysed; and where a whole
// answer ends an exchange early.
#include "protocol/exchange.h"
#include "protocol/meter_operations.h"
#include "protocol/meter_reply.h"
#include "protocol/read_frame.h"
#include "protocol/reply_assembly.h"
#include "protocol/reply_end.h"
#include "util/string_c.h"

#include <gtest/gtest.h>

namespace mbus::protocol {
namespace {

using namespace std::chrono_literals;

const ExchangeClock::time_point T0{};

// The read-data request for the meter `typed` (14 hex digits as typed), water type.
std::string RequestTo(const char* typed) {
    ReadFrameBuffer frame{};
    const std::string address = util::HexToBytes(typed);
    const std::uint8_t id[] = {0x1F, 0x90};
    BuildReadFrame(frame, util::AsBytes(address).first<7>(), 0x10, kControlRead, id);
    return {frame.begin(), frame.end()};
}

// The water reply of the meter `typed`.
std::string ReplyFrom(const char* typed) {
    ReplyHeader header;
    header.TypeCode = 0x10;
    const std::string address = util::HexToBytes(typed);
    std::copy(address.rbegin(), address.rend(), header.Address.begin());
    const auto bytes = BuildWaterReply(header, WaterReading{});
    return {bytes.begin(), bytes.end()};
}

std::optional<Exchange> Receive(ExchangeTracker& tracker, const std::string& frame,
                                ExchangeClock::time_point at) {
    return tracker.Received(frame, ParseReply(util::AsBytes(frame)), at);
}

TEST(ExchangeTest, RepliesGoToTheOldestRequestTheirMeterCanAnswer) {
    ExchangeTracker tracker(2000ms);
    const auto first = tracker.Sent(RequestTo("11111111111111"), T0);
    const auto second = tracker.Sent(RequestTo("22222222222222"), T0 + 100ms);
    EXPECT_TRUE(tracker.Waiting());

    const auto answer = Receive(tracker, ReplyFrom("22222222222222"), T0 + 700ms);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Id, second);
    EXPECT_EQ(answer->Outcome, Verdict::Good);
    EXPECT_EQ(answer->Elapsed(), 600ms);
    EXPECT_EQ(answer->Reply->Check.AddressMatch, true);

    // A reply from a meter nobody asked goes to the oldest request waiting, as a mismatch.
    const auto stranger = Receive(tracker, ReplyFrom("33333333333333"), T0 + 900ms);
    ASSERT_TRUE(stranger);
    EXPECT_EQ(stranger->Id, first);
    EXPECT_EQ(stranger->Outcome, Verdict::Address);
    EXPECT_FALSE(tracker.Waiting());
    EXPECT_FALSE(Receive(tracker, ReplyFrom("33333333333333"), T0 + 950ms));
}

TEST(ExchangeTest, AReplyAfterTheTimeOutIsTheLateReplyOfItsOwnRequest) {
    ExchangeTracker tracker(1000ms);
    const auto slow = tracker.Sent(RequestTo("11111111111111"), T0);
    EXPECT_EQ(tracker.NextDeadline(), T0 + 1000ms);
    EXPECT_TRUE(tracker.Expire(T0 + 999ms).empty());
    const auto expired = tracker.Expire(T0 + 1003ms);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].Id, slow);
    EXPECT_EQ(expired[0].Outcome, Verdict::NoReply);
    EXPECT_EQ(expired[0].Elapsed(), 1000ms);

    // A newer request to another meter waits: the slow meter's reply is not its answer.
    const auto newer = tracker.Sent(RequestTo("22222222222222"), T0 + 1010ms);
    const auto late = Receive(tracker, ReplyFrom("11111111111111"), T0 + 1550ms);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->Id, slow);
    EXPECT_EQ(late->Outcome, Verdict::Late);
    EXPECT_EQ(late->Elapsed(), 1550ms);
    EXPECT_TRUE(tracker.Waiting());
    EXPECT_EQ(Receive(tracker, ReplyFrom("22222222222222"), T0 + 1600ms)->Id, newer);
}

// A write that timed out and a read of the same meter after it: the write's late reply is the
// write's, not the answer of the read, which still waits for its own.
TEST(ExchangeTest, AReplyGoesToTheRequestOfItsKind) {
    ExchangeTracker tracker(1000ms);
    MeterTarget meter;
    meter.Address = {0x01, 0, 0, 0, 0, 0, 0};
    meter.Sequence = 7;
    const auto valve = BuildRequest(ValveRequest(meter, ValveAction::Close));
    const auto write = tracker.Sent({valve.begin(), valve.end()}, T0);
    ASSERT_EQ(tracker.Expire(T0 + 1000ms).size(), 1u);
    const auto read = tracker.Sent(RequestTo("00000000000001"), T0 + 1010ms);

    ReplyHeader header;
    header.TypeCode = 0x10;
    header.Address = meter.Address;
    header.DataId = kValveId;
    header.Sequence = 7;
    const std::uint8_t status[] = {0x01, 0x00};
    const auto accepted = BuildDataReply(header, kControlWriteReply, status);
    const auto late = Receive(tracker, {accepted.begin(), accepted.end()}, T0 + 1500ms);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->Id, write);
    EXPECT_EQ(late->Outcome, Verdict::Late);
    EXPECT_TRUE(tracker.Waits(read));
    EXPECT_EQ(Receive(tracker, ReplyFrom("00000000000001"), T0 + 1600ms)->Id, read);
}

TEST(ExchangeTest, AnEchoAloneIsSaidAsSuchWhenTheTimeOutPasses) {
    ExchangeTracker tracker(500ms);
    const std::string request = RequestTo("11111111111111");
    tracker.Sent(request, T0);
    // Converters may swallow the wake-up bytes of the echo.
    EXPECT_FALSE(Receive(tracker, request.substr(2), T0 + 80ms));
    const auto expired = tracker.Expire(T0 + 500ms);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].Outcome, Verdict::EchoOnly);
    EXPECT_EQ(VerdictText(expired[0].Outcome), "仅回显");
    EXPECT_EQ(tracker.Sent("", T0), 0u);
}

TEST(ReplyAssemblyTest, AReplyInBurstsIsJoinedWhileARequestWaits) {
    const std::string reply = ReplyFrom("11111111111111");
    ReplyAssembler assembler;
    EXPECT_FALSE(assembler.Add(reply.substr(0, 13), true));
    EXPECT_FALSE(assembler.Add(reply.substr(13, 13), true));
    EXPECT_EQ(assembler.Add(reply.substr(26), true), reply);
    EXPECT_FALSE(assembler.Holding());

    // Cut inside the header it is held too; without a request waiting nothing is held.
    EXPECT_FALSE(assembler.Add(reply.substr(0, 6), true));
    EXPECT_EQ(assembler.Flush(), reply.substr(0, 6));
    EXPECT_EQ(assembler.Add(reply.substr(0, 13), false), reply.substr(0, 13));

    // Whole messages, an echo behind which nothing follows yet, and noise are not held.
    const std::string echo = RequestTo("11111111111111");
    EXPECT_EQ(assembler.Add(echo, true), echo);
    EXPECT_EQ(assembler.Add(echo + reply, true), echo + reply);
    EXPECT_EQ(assembler.Add("\x01\x02\x03", true), "\x01\x02\x03");
    // A reply whose data hold 0x68 is whole all the same.
    EXPECT_FALSE(EndsInUnfinishedReply(echo + reply + reply));
    EXPECT_TRUE(EndsInUnfinishedReply(echo + reply.substr(0, 30)));

    // Nothing beyond the work buffer is held.
    std::string stream(kAnalyseBufferSize, '\x68');
    EXPECT_EQ(assembler.Add(stream, true)->size(), kAnalyseBufferSize);
}

LineAddress OnTheLine(std::initializer_list<std::uint8_t> typed) {
    LineAddress address{};
    std::copy(std::rbegin(typed), std::rend(typed), address.begin());
    return address;
}

ReadRequest RequestFor(const LineAddress& address, std::uint8_t type = 0x10) {
    ReadRequest request;
    request.TypeCode = type;
    request.Address = address;
    request.DataId = {0x1F, 0x90};
    return request;
}

std::vector<std::uint8_t> AnswerOf(const LineAddress& address, std::uint8_t type = 0x10) {
    ReplyHeader header;
    header.TypeCode = type;
    header.Address = address;
    return BuildWaterReply(header, WaterReading{});
}

std::vector<std::uint8_t> Joined(std::vector<std::uint8_t> first,
                                 const std::vector<std::uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(ReplyEndTest, OnlyAWholeSoundAnswerToTheRequestEndsTheExchange) {
    const LineAddress meter = OnTheLine({0, 0, 0, 0, 0, 0, 0x17});
    const LineAddress other = OnTheLine({0, 0, 0, 0, 0, 0, 0x18});
    const ReadRequest request = RequestFor(meter);
    const std::vector<std::uint8_t> reply = AnswerOf(meter);
    ReadFrameBuffer echo{};
    BuildReadFrame(echo, std::array<std::uint8_t, 7>{0, 0, 0, 0, 0, 0, 0x17}, 0x10, kControlRead,
                   request.DataId);

    EXPECT_TRUE(EndsInAnswer(reply, request));
    EXPECT_TRUE(EndsInAnswer(Joined({echo.begin(), echo.end()}, reply), request));
    EXPECT_TRUE(EndsInAnswer(Joined({0x33, 0x68, 0x16}, reply), request)); // noise before
    EXPECT_TRUE(
        EndsInAnswer(reply, RequestFor(OnTheLine({0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}),
                                       0xAA))); // the wildcard

    EXPECT_FALSE(
        EndsInAnswer(std::vector<std::uint8_t>(echo.begin(), echo.end()), request)); // echo only
    EXPECT_FALSE(EndsInAnswer(std::vector<std::uint8_t>(reply.begin(), reply.end() - 1), request));
    EXPECT_FALSE(EndsInAnswer(Joined(reply, {0xFE}), request)); // more came after it
    std::vector<std::uint8_t> corrupt = reply;
    ++corrupt[corrupt.size() - 2];
    EXPECT_FALSE(EndsInAnswer(corrupt, request));
    EXPECT_FALSE(EndsInAnswer(reply, RequestFor(other)));
    EXPECT_FALSE(EndsInAnswer(reply, RequestFor(meter, 0x20)));
    ReadRequest address = request;
    address.Control = kControlReadAddress;
    EXPECT_FALSE(EndsInAnswer(reply, address)); // a reply of another kind
}

} // namespace
} // namespace mbus::protocol
