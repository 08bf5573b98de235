#include "serial/message_table.h"

#include "platform/system_error.h"

#include <algorithm>
#include <iterator>

namespace mbus::serial {
namespace {

constexpr std::int32_t Magnitude(std::int32_t number) {
    return number < 0 ? -number : number;
}

// The entries whose texts this component knows: the result codes of the serial path, and the
// names and column headings of the dispatch log (entry kind k is named by 15001 + k, sub-kind d
// by 15100 + d, which has no name for d = 0). The other numbers of the component family's code
// ranges (modem, fax, file-transfer, telephony and socket codes) belong to other kinds of
// component; their texts are not part of this one, so they have no entry here and MessageForCode
// falls back to the system's message for them.
constexpr MessageNumberLookupRecord kMessages[] = {
    {0, "OK"},
    {-2, "File not found"},
    {-3, "Path not found"},
    {-4, "Too many open files"},
    {-5, "File access denied"},
    {-6, "Invalid file handle"},
    {-8, "Insufficient memory"},
    {-15, "Invalid drive"},
    {-18, "No more files"},
    {-100, "Attempt to read beyond end of file"},
    {-101, "Disk is full"},
    {-102, "File/device not assigned"},
    {-103, "File/device not open"},
    {-104, "File/device not open for input"},
    {-105, "File/device not open for output"},
    {-150, "Disk is write-protected"},
    {-151, "Unknown disk unit"},
    {-152, "Drive is not ready"},
    {-153, "Unknown command"},
    {-154, "Data error"},
    {-155, "Bad request structure length"},
    {-156, "Seek error"},
    {-157, "Unknown media type"},
    {-158, "Disk sector not found"},
    {-159, "Printer is out of paper"},
    {-160, "Device write error"},
    {-161, "Device read error"},
    {-162, "General failure"},
    {-1001, "Bad handle passed to com function"},
    {-1002, "Bad argument passed to function"},
    {-1003, "Got quit message"},
    {-1004, "Terminal buffer greater than 65521"},
    {-1005, "ComPort component not assigned"},
    {-1006, "Internal error creating window class"},
    {-1007, "Modem component not assigned"},
    {-1008, "Phonebook component not assigned"},
    {-1009, "Component not compatible with WinSock"},
    {-2001, "ie_BadId - Specified comport doesn't exist"},
    {-2002, "ie_Baudrate - unsupported baud rate"},
    {-2003, "ie_Bytesize - invalid byte size"},
    {-2004, "ie_Default - error in default parameters"},
    {-2005, "ie_Hardware - Specified comport in use"},
    {-2006, "ie_Memory - unable to allocate queues"},
    {-2007, "ie_NOpen - device not open"},
    {-2008, "ie_Open - device already open"},
    {-2009, "No more handles, can't open port"},
    {-2010, "No timers available"},
    {-2011, "The ComNumber property of the TComPort has not been set"},
    {-2012, "Comport was not opened by Tapi"},
    {-3001, "No device layer specified"},
    {-3002, "Function not supported by driver"},
    {-3003, "EnableCommNotification failed"},
    {-3004, "Failed to put entire block"},
    {-3005, "Failed to get entire block"},
    {-3006, "Output buffer too small for block"},
    {-3007, "Buffer is empty"},
    {-3008, "Tracing not enabled"},
    {-3009, "Logging not enabled"},
    {-3010, "Base address not set"},
    {-5001, "No more trigger slots"},
    {-5002, "Data trigger too long"},
    {-5003, "Bad trigger handle"},
    {-13868, "No memory"},

    // Dispatch log: entry kinds.
    {15001, "No event"},
    {15002, "Dispatch"},
    {15003, "Trigger"},
    {15004, "Error"},
    {15005, "Thread"},
    {15006, "TrigAllc"},
    {15007, "TrigDisp"},
    {15008, "TrgHdAlc"},
    {15009, "TrgHdDsp"},
    {15010, "TrDatChg"},
    {15011, "Telnet"},
    {15012, "Fax"},
    {15013, "XModem"},
    {15014, "YModem"},
    {15015, "ZModem"},
    {15016, "Kermit"},
    {15017, "Ascii"},
    {15018, "BPlus"},
    {15019, "Packet"},
    {15020, "User"},
    {15021, "Script"},

    // Dispatch log: entry sub-kinds.
    {15100, ""},
    {15101, "ReadCom"},
    {15102, "WriteCom"},
    {15103, "Line status"},
    {15104, "Modem status"},
    {15105, "Avail"},
    {15106, "Timer"},
    {15107, "Data"},
    {15108, "Status"},
    {15109, "Start"},
    {15110, "Exit"},
    {15111, "Sleep"},
    {15112, "Wake"},
    {15113, "Data"},
    {15114, "Timer"},
    {15115, "Status"},
    {15116, "Avail"},
    {15117, "Window"},
    {15118, "Procedure"},
    {15119, "Method"},

    // Dispatch log: column headings.
    {15501, "Time      Type      SubType       Data      OtherData"},
    {15502, "--------  --------  ------------  --------  ---------"},
};

constexpr bool StrictlyIncreasing() {
    if (kMessages[0].Number != 0)
        return false;
    for (std::size_t i = 1; i < std::size(kMessages); ++i) {
        if (Magnitude(kMessages[i - 1].Number) >= Magnitude(kMessages[i].Number))
            return false;
    }
    return true;
}
static_assert(StrictlyIncreasing(), "the bisection needs strictly increasing absolute numbers");

// The absolute value of the low 16 bits of `code`, read as a signed 16-bit number.
std::int32_t Key(std::int32_t code) {
    return Magnitude(static_cast<std::int16_t>(static_cast<std::uint16_t>(code & 0xFFFF)));
}

} // namespace

std::span<const MessageNumberLookupRecord> MessageTable() {
    return kMessages;
}

std::string_view FindMessage(std::int32_t code) {
    const std::int32_t key = Key(code);
    const auto entry = std::ranges::lower_bound(
        kMessages, key, {}, [](const auto& record) { return Magnitude(record.Number); });
    if (entry == std::end(kMessages) || Magnitude(entry->Number) != key)
        return {};
    return entry->Text;
}

std::string MessageForCode(std::int32_t code) {
    const std::string_view text = FindMessage(code);
    if (!text.empty())
        return std::string(text);
    return TrimMessageEnd(platform::SystemMessage(static_cast<std::uint32_t>(Key(code))));
}

std::string TrimMessageEnd(std::string text) {
    const auto isTrailer = [](unsigned char c) { return c == '.' || c <= 0x20; };
    while (!text.empty() && isTrailer(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

} // namespace mbus::serial
