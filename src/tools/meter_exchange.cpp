#include "tools/meter_exchange.h"

#include "tools/tool_port.h"
#include "util/string_c.h"

namespace mbus::tools {

std::optional<Exchange> ExchangeOnce(ToolPort& port, const protocol::ReadRequest& request,
                                     ReaderSession::Clock::duration timeout, std::ostream& err) {
    const std::vector<std::uint8_t> bytes = protocol::BuildRequest(request);
    Exchange exchange;
    exchange.Tx.assign(bytes.begin(), bytes.end());
    const auto sentAt = port.Send(exchange.Tx, err);
    if (!sentAt)
        return std::nullopt;

    // Read-data replies are looked for only when read data were asked for, so the reply of
    // another request is never taken for a reading.
    const bool readData = request.Control == protocol::kControlRead;
    const auto interrupted = [&port] { return port.Interrupted(); };
    while (!exchange.Reply) {
        const auto frame = port.Session().NextFrame(*sentAt + timeout, interrupted);
        if (!frame)
            break;
        exchange.Rx.push_back(frame->Bytes);
        auto reply = protocol::ParseReply(util::AsBytes(frame->Bytes), readData);
        if (reply && protocol::Answers(*reply, request)) {
            protocol::CompareWithRequest(*reply, request);
            exchange.Reply = std::move(reply);
        }
    }
    exchange.Interrupted = !exchange.Reply && port.Interrupted();
    return exchange;
}

} // namespace mbus::tools
