#include "platform/posix/dcb_termios.h"

namespace mbus::platform::posix {
namespace {

struct StandardRate {
    std::uint32_t Rate;
    tcflag_t Code;
};

// The kernel's table of rates with a code of their own; any other rate goes through BOTHER.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr tcflag_t kSizeOfBits[] = {CS5, CS6, CS7, CS8};

std::uint32_t RtsControl(const DCB& dcb) {
    return dcb.Flags & DCB_RTS_CONTROL_MASK;
}

void SetFlag(std::uint32_t& flags, std::uint32_t bit, bool on) {
    flags = on ? flags | bit : flags & ~bit;
}

} // namespace

DCB DefaultDcb() {
    DCB dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = DCB_BINARY | DCB_DTR_CONTROL_ENABLE | DCB_RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    return dcb;
}

bool IsValidDcb(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY)
        return false;
    switch (dcb.StopBits) {
    case ONESTOPBIT:
        break;
    case ONE5STOPBITS:
        if (dcb.ByteSize != 5)
            return false;
        break;
    case TWOSTOPBITS:
        if (dcb.ByteSize == 5)
            return false;
        break;
    default:
        return false;
    }
    const bool xonXoff = (dcb.Flags & (DCB_OUTX | DCB_INX)) != 0;
    return !(xonXoff && dcb.XonChar == dcb.XoffChar);
}

void MakeRaw(termios2& tio) {
    tio.c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXANY | IMAXBEL);
    tio.c_iflag |= IGNBRK;
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

void MakeOpenState(termios2& tio) {
    MakeRaw(tio);
    tio.c_iflag &= ~(IXON | IXOFF | INPCK);
    tio.c_cflag &= ~CRTSCTS;
}

void ApplyDcbToTermios(const DCB& dcb, termios2& tio) {
    MakeRaw(tio);

    tio.c_cflag &= ~(CBAUD | CIBAUD);
    tio.c_cflag |= BOTHER;
    for (const StandardRate& rate : kStandardRates) {
        if (rate.Rate == dcb.BaudRate) {
            tio.c_cflag = (tio.c_cflag & ~CBAUD) | rate.Code;
            break;
        }
    }
    tio.c_ispeed = dcb.BaudRate; // CIBAUD 0: the input rate follows the output rate
    tio.c_ospeed = dcb.BaudRate;

    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= kSizeOfBits[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case ODDPARITY:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        tio.c_cflag |= PARENB;
        break;
    case MARKPARITY:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SPACEPARITY:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (dcb.StopBits != ONESTOPBIT)
        tio.c_cflag |= CSTOPB; // with 5 data bits the UART sends one and a half

    if ((dcb.Flags & DCB_OUTX_CTS_FLOW) || RtsControl(dcb) == DCB_RTS_CONTROL_HANDSHAKE)
        tio.c_cflag |= CRTSCTS;

    tio.c_iflag &= ~(IXON | IXOFF | INPCK);
    if (dcb.Flags & DCB_OUTX)
        tio.c_iflag |= IXON;
    if (dcb.Flags & DCB_INX)
        tio.c_iflag |= IXOFF;
    if (dcb.Flags & DCB_PARITY_CHECK)
        tio.c_iflag |= INPCK;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
}

DCB DcbFromTermios(const termios2& tio, const DCB& shadow) {
    DCB dcb = shadow;
    dcb.DCBlength = sizeof(DCB);

    dcb.BaudRate = tio.c_ospeed;
    if (const tcflag_t code = tio.c_cflag & CBAUD; code != BOTHER) {
        for (const StandardRate& rate : kStandardRates) {
            if (rate.Code == code)
                dcb.BaudRate = rate.Rate;
        }
    }

    switch (tio.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }

    const bool odd = (tio.c_cflag & PARODD) != 0;
    if (!(tio.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (tio.c_cflag & CMSPAR)
        dcb.Parity = odd ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = odd ? ODDPARITY : EVENPARITY;

    if (!(tio.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;

    if (tio.c_cflag & CRTSCTS) {
        // Which half of the bidirectional RTS/CTS flow the block asked for is the shadow's to
        // say; flow that someone else switched on counts as both halves.
        if (!(shadow.Flags & DCB_OUTX_CTS_FLOW) &&
            RtsControl(shadow) != DCB_RTS_CONTROL_HANDSHAKE) {
            dcb.Flags |= DCB_OUTX_CTS_FLOW;
            dcb.Flags = (dcb.Flags & ~DCB_RTS_CONTROL_MASK) | DCB_RTS_CONTROL_HANDSHAKE;
        }
    } else {
        dcb.Flags &= ~DCB_OUTX_CTS_FLOW;
        if (RtsControl(dcb) == DCB_RTS_CONTROL_HANDSHAKE)
            dcb.Flags = (dcb.Flags & ~DCB_RTS_CONTROL_MASK) | DCB_RTS_CONTROL_ENABLE;
    }
    SetFlag(dcb.Flags, DCB_OUTX, (tio.c_iflag & IXON) != 0);
    SetFlag(dcb.Flags, DCB_INX, (tio.c_iflag & IXOFF) != 0);
    SetFlag(dcb.Flags, DCB_PARITY_CHECK, (tio.c_iflag & INPCK) != 0);
    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return dcb;
}

} // namespace mbus::platform::posix
