// The device control block on termios2: validation, line values, flow control, raw mode, and
// reading back a block from what the kernel holds plus the shadow copy.
#include "platform/posix/dcb_termios.h"

#include <gtest/gtest.h>

namespace mbus::platform::posix {
namespace {

DCB Line(std::uint32_t rate, std::uint8_t bits, std::uint8_t parity, std::uint8_t stop) {
    DCB dcb = DefaultDcb();
    dcb.BaudRate = rate;
    dcb.ByteSize = bits;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    return dcb;
}

// A termios as a freshly opened terminal has it: cooked, echoing, 38400 8N1.
termios2 CookedTermios() {
    termios2 tio{};
    tio.c_iflag = ICRNL | IXON | BRKINT;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_cflag = B38400 | CS8 | CREAD | HUPCL;
    tio.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 5;
    tio.c_ispeed = tio.c_ospeed = 38400;
    return tio;
}

TEST(DcbTermiosTest, ValidatesLineValues) {
    EXPECT_TRUE(IsValidDcb(DefaultDcb()));
    EXPECT_TRUE(IsValidDcb(Line(1200, 5, NOPARITY, ONE5STOPBITS)));
    EXPECT_TRUE(IsValidDcb(Line(1200, 7, SPACEPARITY, TWOSTOPBITS)));
    EXPECT_FALSE(IsValidDcb(Line(0, 8, NOPARITY, ONESTOPBIT)));
    EXPECT_FALSE(IsValidDcb(Line(9600, 4, NOPARITY, ONESTOPBIT)));
    EXPECT_FALSE(IsValidDcb(Line(9600, 9, NOPARITY, ONESTOPBIT)));
    EXPECT_FALSE(IsValidDcb(Line(9600, 8, 5, ONESTOPBIT)));
    EXPECT_FALSE(IsValidDcb(Line(9600, 8, NOPARITY, 3)));
    EXPECT_FALSE(IsValidDcb(Line(9600, 8, NOPARITY, ONE5STOPBITS))); // 1.5 only with 5 bits
    EXPECT_FALSE(IsValidDcb(Line(9600, 5, NOPARITY, TWOSTOPBITS)));  // 2 not with 5 bits

    DCB sameChars = DefaultDcb();
    sameChars.XonChar = sameChars.XoffChar = 0x11;
    EXPECT_TRUE(IsValidDcb(sameChars)); // no XON/XOFF flow: the characters do not matter
    sameChars.Flags |= DCB_INX;
    EXPECT_FALSE(IsValidDcb(sameChars));
}

TEST(DcbTermiosTest, LineValuesRoundTripThroughTermios) {
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        for (std::uint8_t parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
            for (std::uint8_t stop : {ONESTOPBIT, bits == 5 ? ONE5STOPBITS : TWOSTOPBITS}) {
                const DCB wanted = Line(4800, bits, parity, stop);
                termios2 tio = CookedTermios();
                ApplyDcbToTermios(wanted, tio);
                const DCB got = DcbFromTermios(tio, wanted);
                EXPECT_EQ(got.ByteSize, bits);
                EXPECT_EQ(got.Parity, parity) << int(bits) << int(parity);
                EXPECT_EQ(got.StopBits, stop);
                EXPECT_EQ(got.BaudRate, 4800u);
            }
        }
    }
}

TEST(DcbTermiosTest, ParityAndStopBitsUseTheKernelFlags) {
    termios2 tio = CookedTermios();
    ApplyDcbToTermios(Line(9600, 7, MARKPARITY, TWOSTOPBITS), tio);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB),
              CS7 | PARENB | PARODD | CMSPAR | CSTOPB);
    ApplyDcbToTermios(Line(9600, 8, EVENPARITY, ONESTOPBIT), tio);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), CS8 | PARENB);
    ApplyDcbToTermios(Line(9600, 5, NOPARITY, ONE5STOPBITS), tio);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), CS5 | CSTOPB);
}

TEST(DcbTermiosTest, StandardRatesUseTheirCodeAndOthersBother) {
    termios2 tio = CookedTermios();
    ApplyDcbToTermios(Line(9600, 8, NOPARITY, ONESTOPBIT), tio);
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
    EXPECT_EQ(tio.c_ospeed, 9600u);
    ApplyDcbToTermios(Line(12345, 8, NOPARITY, ONESTOPBIT), tio);
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(tio.c_cflag & CIBAUD, 0u); // input rate follows the output rate
    EXPECT_EQ(tio.c_ospeed, 12345u);
    EXPECT_EQ(DcbFromTermios(tio, DefaultDcb()).BaudRate, 12345u);

    tio.c_cflag = (tio.c_cflag & ~CBAUD) | B115200;
    tio.c_ospeed = 0; // a kernel that keeps only the code
    EXPECT_EQ(DcbFromTermios(tio, DefaultDcb()).BaudRate, 115200u);
}

TEST(DcbTermiosTest, AppliedBlockIsRawWithReadsThatWaitForAByte) {
    termios2 tio = CookedTermios();
    ApplyDcbToTermios(DefaultDcb(), tio);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | BRKINT | IXON), 0u);
    EXPECT_NE(tio.c_iflag & IGNBRK, 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(DcbTermiosTest, OpenStateHasNoFlowControlOrParityCheck) {
    termios2 tio = CookedTermios();
    tio.c_iflag |= IXOFF | INPCK;
    tio.c_cflag |= CRTSCTS | CS7 | PARENB;
    MakeOpenState(tio);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(tio.c_cflag & PARENB, 0u); // the line values stay as the device had them
    EXPECT_EQ(tio.c_cc[VMIN], 1);
}

TEST(DcbTermiosTest, FlowControlMapsOntoTermios) {
    DCB dcb = DefaultDcb();
    dcb.Flags |= DCB_OUTX | DCB_INX | DCB_PARITY_CHECK;
    dcb.XonChar = 0x21;
    dcb.XoffChar = 0x23;
    termios2 tio = CookedTermios();
    ApplyDcbToTermios(dcb, tio);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), IXON | IXOFF | INPCK);
    EXPECT_EQ(tio.c_cc[VSTART], 0x21);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x23);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);

    DCB cts = DefaultDcb();
    cts.Flags |= DCB_OUTX_CTS_FLOW;
    ApplyDcbToTermios(cts, tio);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

    DCB rtsHandshake = DefaultDcb();
    rtsHandshake.Flags = (rtsHandshake.Flags & ~DCB_RTS_CONTROL_MASK) | DCB_RTS_CONTROL_HANDSHAKE;
    ApplyDcbToTermios(rtsHandshake, tio);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
}

TEST(DcbTermiosTest, ReadBackTakesKernelFieldsAndKeepsTheShadowForTheRest) {
    DCB shadow = DefaultDcb();
    shadow.Flags = DCB_BINARY | DCB_DTR_CONTROL_HANDSHAKE | DCB_DSR_SENSITIVITY |
                   DCB_TX_CONTINUE_ON_XOFF | DCB_NULL | DCB_OUTX_DSR_FLOW | DCB_OUTX |
                   DCB_RTS_CONTROL_HANDSHAKE;
    shadow.XonLim = 406;
    shadow.XoffLim = 410;
    shadow.ErrorChar = '?';
    shadow.EofChar = 0x1A;
    shadow.EvtChar = 0x0D;
    termios2 tio = CookedTermios();
    ApplyDcbToTermios(shadow, tio);

    DCB got = DcbFromTermios(tio, shadow);
    EXPECT_EQ(got.Flags, shadow.Flags);
    EXPECT_EQ(got.XonLim, 406);
    EXPECT_EQ(got.XoffLim, 410);
    EXPECT_EQ(got.ErrorChar, '?');
    EXPECT_EQ(got.EofChar, 0x1A);
    EXPECT_EQ(got.EvtChar, 0x0D);

    // The kernel dropped what it does not do: the block says so.
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~IXON;
    got = DcbFromTermios(tio, shadow);
    EXPECT_EQ(got.Flags & DCB_RTS_CONTROL_MASK, DCB_RTS_CONTROL_ENABLE);
    EXPECT_EQ(got.Flags & (DCB_OUTX_CTS_FLOW | DCB_OUTX), 0u);

    // Flow control someone else switched on shows as both halves.
    tio.c_cflag |= CRTSCTS;
    got = DcbFromTermios(tio, DefaultDcb());
    EXPECT_NE(got.Flags & DCB_OUTX_CTS_FLOW, 0u);
    EXPECT_EQ(got.Flags & DCB_RTS_CONTROL_MASK, DCB_RTS_CONTROL_HANDSHAKE);
}

} // namespace
} // namespace mbus::platform::posix
