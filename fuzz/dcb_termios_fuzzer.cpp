// The device control block's mapping onto termios on arbitrary blocks: a valid block written into
// termios reads back with the same line values, flow control and flow characters, and writing
// the read-back block again changes nothing; an invalid block is recognised as such, never
// applied half-way.
#include "fuzz_check.h"
#include "platform/posix/dcb_termios.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using mbus::fuzz::Check;
using namespace mbus::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DCB dcb;
    std::memcpy(&dcb, data, size < sizeof dcb ? size : sizeof dcb);
    if (!posix::IsValidDcb(dcb))
        return 0;

    termios2 tio{};
    posix::MakeOpenState(tio);
    posix::ApplyDcbToTermios(dcb, tio);
    const DCB back = posix::DcbFromTermios(tio, dcb);

    Check(back.BaudRate == dcb.BaudRate, "the rate reads back");
    Check(back.ByteSize == dcb.ByteSize, "the data bits read back");
    Check(back.Parity == dcb.Parity, "the parity reads back");
    Check(back.StopBits == dcb.StopBits, "the stop bits read back");
    constexpr std::uint32_t kFlow = DCB_OUTX_CTS_FLOW | DCB_OUTX | DCB_INX | DCB_PARITY_CHECK;
    Check((back.Flags & kFlow) == (dcb.Flags & kFlow), "flow control and parity check read back");
    if (dcb.Flags & (DCB_OUTX | DCB_INX)) {
        Check(back.XonChar == dcb.XonChar, "the XON character reads back");
        Check(back.XoffChar == dcb.XoffChar, "the XOFF character reads back");
    }

    termios2 again = tio;
    posix::ApplyDcbToTermios(back, again);
    Check(std::memcmp(&again, &tio, sizeof tio) == 0, "applying the read-back block changes nothing");
    return 0;
}
