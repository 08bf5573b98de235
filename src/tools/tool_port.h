// The serial port of an `mbus` subcommand that talks to meters (`read`, `address`, and every
// command that sends a request): the termination flag taken first (before the port's threads
// exist, so they inherit how the signals are taken), the port that --port names chosen through
// the port map (or a COM link made for the run), and the port opened with the line settings in a
// ReaderSession. A failure to open or to send is said on standard error, one line, as
// "mbus <command>: <port>: <cause>". The port closes and a link made for the run goes with the
// object.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "platform/interrupt_flag.h"
#include "tools/port_target.h"
#include "tools/reader_session.h"

namespace mbus::tools {

class ToolPort {
public:
    // `command` names the subcommand in messages. A closed standard output stops the run like
    // Ctrl+C, so the port is closed and a link removed before the program ends.
    explicit ToolPort(std::string command);
    ToolPort(const ToolPort&) = delete;
    ToolPort& operator=(const ToolPort&) = delete;

    // Chooses and opens the port `portText` names; false when it cannot, with the cause said on
    // `err`.
    bool Open(const std::string& portText, const LineSettings& line, std::ostream& err);

    // Hands `bytes` to the open port and returns when it took them; none when the port failed,
    // with the cause said on `err`.
    std::optional<ReaderSession::Clock::time_point> Send(const std::string& bytes,
                                                         std::ostream& err);

    // The open port's session (after a successful Open).
    ReaderSession& Session() { return *Session_; }

    // Whether a termination request (or, for output, a closed pipe) came.
    bool Interrupted() const { return Interrupt_.Raised(); }
    bool PipeClosed() const { return Interrupt_.PipeClosed(); }

private:
    const std::string Command_;
    const platform::InterruptFlag Interrupt_;
    std::string Port_; // as given, cut for messages
    PortTarget Target_;
    std::optional<ReaderSession> Session_;
};

} // namespace mbus::tools
