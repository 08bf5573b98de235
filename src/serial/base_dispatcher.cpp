#include "serial/base_dispatcher.h"

#include "platform/clock.h"
#include "platform/message_window.h"
#include "platform/platform_info.h"
#include "platform/system_error.h"
#include "serial/application_errors.h"
#include "serial/component_base.h"
#include "serial/dispatcher_registry.h"
#include "serial/dispatcher_thread.h"
#include "serial/message_table.h"
#include "serial/notify_messages.h"
#include "serial/raise_on_error.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

namespace mbus::serial {

using platform::DCB;

namespace {

// Flags ConfigureLine forces on and off.
constexpr std::uint32_t kForcedOn = platform::DCB_BINARY | platform::DCB_TX_CONTINUE_ON_XOFF;
constexpr std::uint32_t kForcedOff =
    platform::DCB_PARITY_CHECK | platform::DCB_DSR_SENSITIVITY | platform::DCB_NULL;

// Serves the calling thread's messages until `done` holds; waits for a message between passes
// instead of spinning.
template <typename Done> void PumpUntil(Done done) {
    while (!done()) {
        if (!platform::PumpOneMessage())
            platform::WaitForMessage(1);
    }
}

} // namespace

std::uint32_t ResolveBaud(std::uint32_t code) {
    // Rates of the codes 0xFF10 + i; 0 marks a code without a rate of its own.
    static constexpr std::uint32_t kRates[24] = {110,   300, 600, 1200,   2400, 4800, 9600, 14400,
                                                 19200, 0,   0,   38400,  0,    0,    0,    56000,
                                                 0,     0,   0,   128000, 0,    0,    0,    256000};
    if (code == 0xFEFF)
        return 115200;
    if (code >= 0xFF10 && code < 0xFF10 + 24) {
        const std::uint32_t rate = kRates[code - 0xFF10];
        return rate != 0 ? rate : code;
    }
    return code;
}

TBaseDispatcher::TBaseDispatcher(TComponent* owner)
    : OwnerPort_(owner), NtFamily(platform::IsNtFamily()) {
    RegistryHandle_ = RegisterDispatcher(this);
}

TBaseDispatcher::~TBaseDispatcher() {
    UnregisterDispatcher(RegistryHandle_);
    StopTrace();
}

void TBaseDispatcher::DestroyDispatcher() {
    if (Destroyed_)
        return;
    Destroyed_ = true;
    if (ClosePending.load())
        ReleaseBuffers();
    else
        ClosePort();
    PumpUntil([this] { return LiveThreads.load() == 0; });
    // The last thread leaves NoteThreadFinished holding ControlLock; once we get the lock it
    // has let go of this dispatcher for good.
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
}

std::int32_t TBaseDispatcher::ReceivePending() {
    return 0;
}

bool TBaseDispatcher::QueryModemStatus(std::uint32_t& status) {
    return platform::GetCommModemStatus(DeviceHandle_.load(), &status);
}

// ---- Open and close -----------------------------------------------------------------------------

std::int32_t TBaseDispatcher::OpenPort(const std::string& deviceName, std::int32_t baud,
                                       std::int32_t parity, std::int32_t dataBits,
                                       std::int32_t stopBits, std::uint32_t inSize,
                                       std::uint32_t outSize, std::uint32_t options) {
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        RingSeen = false;
    }
    InDispatch.store(false);
    PurgePending.store(false);
    CloseRequested.store(false);
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        LossCode = ecOK;
        LossSystemError = 0;
    }

    for (platform::Event* event :
         {&AckEvent, &OutputReady, &FlushRequest, &SpareEventA, &PassDone, &SpareEventB})
        event->Reset();
    EventsCreated.store(true);

    const platform::CommHandle handle = OpenDevice(deviceName, inSize, outSize);
    DeviceHandle_.store(handle);
    if (handle < 0) {
        const std::int32_t result = handle == ecOutOfMemory
                                        ? ecOutOfMemory
                                        : -static_cast<std::int32_t>(platform::LastError());
        ClosePort();
        return result;
    }

    if (const std::int32_t result = ResizeQueues(inSize, outSize); result != 0) {
        ClosePort();
        return result;
    }

    try {
        std::lock_guard<std::recursive_mutex> input(InputLock);
        std::lock_guard<std::recursive_mutex> output(OutputLock);
        if (RetiredInBuffer) {
            InBuffer = std::move(RetiredInBuffer);
            std::memset(InBuffer.get(), 0, kInBufferSize);
        } else {
            InBuffer = std::make_unique<std::uint8_t[]>(kInBufferSize);
        }
        OutRing = std::make_unique<std::uint8_t[]>(outSize);
        OutRingSize = outSize;
        OutputRing.Clear();
        InputRing.Clear();
        Consumed = 0;
    } catch (const std::bad_alloc&) {
        ClosePort();
        return ecOutOfMemory;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        ReceiveSize = inSize;
        LineErrorBits = 0;
        RS485On = false;
        UartBase = 0;
        ReadLineSettings(DeviceSettings);
    }
    OutSentPending.store(false);
    ClosePending.store(false);

    if (options & kOpenDtrByFlow) {
        DtrByFlow = true;
    } else {
        DtrByFlow = false;
        DriveDTR((options & kOpenDtrOn) != 0);
    }
    if (options & kOpenRtsByFlow) {
        RtsByFlow = true;
    } else {
        RtsByFlow = false;
        DriveRTS((options & kOpenRtsOn) != 0);
    }

    ScanPos = 0;
    ClearTriggers();
    {
        std::lock_guard<std::recursive_mutex> guard(InputLock);
        InputRing.Clear();
        Unscanned = 0;
        PeekMode = false;
    }
    NotifyPos = 0;
    ScannedSinceNotify = false;
    ReannounceUnread.store(false);
    ResetStatusHits();
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        ModemBits = 0;
    }
    ReadModemStatus(0xF0);
    AppliedBaud = 115200;

    if (const std::int32_t result = ConfigureLine(baud, parity, dataBits, stopBits); result != 0) {
        ClosePort();
        return result;
    }

    RefreshLineErrors();
    StopTrace();
    StopDispatchLog();
    OpenTime = platform::TickCount();
    LaunchThreads();
    return ecOK;
}

void TBaseDispatcher::ClosePort() {
    CloseRequested.store(true);
    if (DeviceHandle_.load() >= 0) {
        PurgeOutput();
        PurgeInput();
        ShutDevice();
    }
    if (InDispatch.load())
        ClosePending.store(true);
    else
        ReleaseBuffers();
}

void TBaseDispatcher::ReleaseBuffers() {
    FreeOnExit.store(false);
    if (ThreadsStarted.load())
        ReleaseEvents();
    // The buffers go under the lock of whoever reads them as well, so a thread that is still
    // finishing never reads freed memory.
    {
        std::lock_guard<std::recursive_mutex> input(InputLock);
        std::lock_guard<std::recursive_mutex> control(ControlLock);
        if (const std::optional<std::int32_t> taken = HandlerWindow.Close())
            Consumed = *taken;
        if (InBuffer)
            RetiredInBuffer = std::move(InBuffer);
        InputRing.Clear();
        Unscanned = 0;
    }
    {
        std::lock_guard<std::recursive_mutex> output(OutputLock);
        std::lock_guard<std::recursive_mutex> control(ControlLock);
        OutRing.reset();
        OutputRing.Clear();
    }
}

std::int32_t TBaseDispatcher::ResizeQueues(std::uint32_t inSize, std::uint32_t outSize) {
    if (SizeDriverQueues(inSize, outSize))
        return ecOK;
    return -static_cast<std::int32_t>(platform::LastError());
}

// ---- Line settings ------------------------------------------------------------------------------

std::int32_t TBaseDispatcher::ConfigureLine(std::int32_t baud, std::int32_t parity,
                                            std::int32_t dataBits, std::int32_t stopBits) {
    DCB current;
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        ReadLineSettings(DeviceSettings);
        current = DeviceSettings;
    }
    const std::uint32_t flags = (current.Flags | kForcedOn) & ~kForcedOff;

    if (stopBits != kKeepStopBits)
        stopBits = std::clamp(stopBits, 1, 2);
    const std::uint32_t rate =
        baud == kKeepBaud ? current.BaudRate : static_cast<std::uint32_t>(baud);
    const std::uint8_t parityCode =
        parity == kKeepParity ? current.Parity : static_cast<std::uint8_t>(parity);

    std::uint8_t stopCode = current.StopBits;
    std::uint8_t byteSize = current.ByteSize;
    if (dataBits != kKeepDataBits) {
        byteSize = static_cast<std::uint8_t>(dataBits);
        if (dataBits == 5)
            stopCode = platform::ONE5STOPBITS;
    }
    if (stopBits != kKeepStopBits) {
        // Five-bit words cannot have two stop bits: asking for two gives one and a half. One stop
        // bit stays one stop bit at every word size.
        if (stopBits == 1)
            stopCode = platform::ONESTOPBIT;
        else
            stopCode = byteSize == 5 ? platform::ONE5STOPBITS : platform::TWOSTOPBITS;
    }

    if (rate == current.BaudRate && parityCode == current.Parity && byteSize == current.ByteSize &&
        stopCode == current.StopBits && flags == current.Flags)
        return ecOK;

    AwaitOutputDrain();

    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    ReadLineSettings(DeviceSettings);
    DeviceSettings.BaudRate = rate;
    DeviceSettings.Parity = parityCode;
    DeviceSettings.ByteSize = byteSize;
    DeviceSettings.StopBits = stopCode;
    DeviceSettings.Flags = flags;
    return CommitLineState(DeviceSettings);
}

TBaseDispatcher::LineQuery TBaseDispatcher::QueryLine() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    ReadLineSettings(DeviceSettings);
    return {static_cast<std::int32_t>(ResolveBaud(DeviceSettings.BaudRate)), DeviceSettings.Parity,
            DeviceSettings.ByteSize, DeviceSettings.StopBits == platform::ONESTOPBIT ? 1 : 2};
}

TBaseDispatcher::FlowQuery TBaseDispatcher::QueryFlow() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    ReadLineSettings(DeviceSettings);
    const std::uint32_t flags = DeviceSettings.Flags;
    FlowQuery query{0, 0, DeviceSettings.XonChar, DeviceSettings.XoffChar};
    if ((flags & platform::DCB_DTR_CONTROL_MASK) == platform::DCB_DTR_CONTROL_HANDSHAKE)
        query.HardwareOptions |= kHwFlowUseDTR;
    if ((flags & platform::DCB_RTS_CONTROL_MASK) == platform::DCB_RTS_CONTROL_HANDSHAKE)
        query.HardwareOptions |= kHwFlowUseRTS;
    if (flags & platform::DCB_OUTX_DSR_FLOW)
        query.HardwareOptions |= kHwFlowRequireDSR;
    if (flags & platform::DCB_OUTX_CTS_FLOW)
        query.HardwareOptions |= kHwFlowRequireCTS;
    if (flags & platform::DCB_INX)
        query.SoftwareOptions |= kSwFlowReceive;
    if (flags & platform::DCB_OUTX)
        query.SoftwareOptions |= kSwFlowTransmit;
    return query;
}

std::int32_t TBaseDispatcher::CommitLineState(DCB& settings) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (!DtrByFlow) {
        settings.Flags = (settings.Flags & ~platform::DCB_DTR_CONTROL_MASK) |
                         (DtrOn ? platform::DCB_DTR_CONTROL_ENABLE : 0);
    }
    if (!RtsByFlow) {
        settings.Flags = (settings.Flags & ~platform::DCB_RTS_CONTROL_MASK) |
                         (RtsOn ? platform::DCB_RTS_CONTROL_ENABLE : 0);
    }
    const std::int32_t result = ApplyLineSettings(settings);
    AppliedBaud = settings.BaudRate;
    DriveDTR(DtrOn);
    if (!RS485On)
        DriveRTS(RtsOn);
    return result;
}

std::uint32_t TBaseDispatcher::DrainWaitMs(std::uint32_t baud, std::uint8_t byteSize,
                                           std::uint8_t parity, std::uint8_t stopBits) {
    const std::uint32_t rate = ResolveBaud(baud);
    if (rate == 0)
        return 0; // no rate, no character time to wait for
    const std::uint32_t bits = byteSize + 2u + (parity != platform::NOPARITY ? 1u : 0u) +
                               (stopBits != platform::ONESTOPBIT ? 1u : 0u);
    std::uint64_t t = static_cast<std::uint64_t>(10000000u / rate) * bits * 18u;
    if (t < 10000)
        t *= 2;
    return static_cast<std::uint32_t>((t + 9999) / 10000);
}

void TBaseDispatcher::AwaitOutputDrain() {
    for (int i = 0; i < 5000 && OutputInUse() > 0; ++i)
        platform::Sleep(2);
    DCB settings;
    ReadLineSettings(settings);
    platform::Sleep(
        DrainWaitMs(AppliedBaud, settings.ByteSize, settings.Parity, settings.StopBits));
}

// ---- Modem lines and line errors ----------------------------------------------------------------

std::int32_t TBaseDispatcher::DriveLine(bool on, bool byFlow, bool& requested, std::uint32_t raise,
                                        std::uint32_t drop) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (byFlow)
        return 1;
    const std::int32_t result = ApplyLineFunction(on ? raise : drop);
    requested = on;
    return result < 0 ? ecBadArgument : result;
}

std::int32_t TBaseDispatcher::DriveDTR(bool on) {
    return DriveLine(on, DtrByFlow, DtrOn, platform::SETDTR, platform::CLRDTR);
}

std::int32_t TBaseDispatcher::DriveRTS(bool on) {
    return DriveLine(on, RtsByFlow, RtsOn, platform::SETRTS, platform::CLRRTS);
}

std::uint8_t TBaseDispatcher::ReadModemStatus(std::uint8_t keepMask) {
    std::uint32_t status = 0;
    if (!QueryModemStatus(status))
        status = 0;
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    ModemBits = (status & 0xF0) | (ModemBits & 0x0F);
    if (RingSeen) {
        RingSeen = false;
        ModemBits |= 0x04;
    }
    const auto result = static_cast<std::uint8_t>(ModemBits & 0xFF);
    ModemBits &= keepMask;
    return result;
}

void TBaseDispatcher::RefreshModemDeltas() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const std::uint32_t old = ModemBits & 0xFF;
    ReadModemStatus(0xFF);
    ModemBits |= ((old >> 4) ^ (ModemBits >> 4)) & 0x0F;
}

void TBaseDispatcher::RefreshLineErrors() {
    // Taking the errors reads the output ring (OutputLock), which must never be entered while
    // ControlLock is held; the record and the bits are updated afterwards.
    platform::COMSTAT status;
    const std::int32_t bits = TakeLineErrors(status);
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    LineStatusRecord = status;
    LineErrorBits |= bits & (kLineErrorOverflow | kLineErrorOverrun | kLineErrorParity |
                             kLineErrorFraming | kLineErrorBreak);
}

std::int32_t TBaseDispatcher::TakeLineError() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    std::int32_t code = kLineCodeNone;
    if (LineErrorBits == kLineErrorsThreadFailed)
        code = kLineCodeThreadFailed;
    else if (LineErrorBits & kLineErrorOverflow)
        code = kLineCodeOverflow;
    else if (LineErrorBits & kLineErrorOverrun)
        code = kLineCodeOverrun;
    else if (LineErrorBits & kLineErrorParity)
        code = kLineCodeParity;
    else if (LineErrorBits & kLineErrorFraming)
        code = kLineCodeFraming;
    else if (LineErrorBits & kLineErrorBreak)
        code = kLineCodeBreak;
    if (code != kLineCodeNone) {
        // The break bit stays for TakeBreakFlag.
        LineErrorBits = LineErrorBits == kLineErrorsThreadFailed
                            ? 0
                            : (LineErrorBits & ~(kLineErrorOverflow | kLineErrorOverrun |
                                                 kLineErrorParity | kLineErrorFraming));
    }
    return code;
}

bool TBaseDispatcher::TakeBreakFlag() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (LineErrorBits == kLineErrorsThreadFailed)
        return false;
    const bool set = (LineErrorBits & kLineErrorBreak) != 0;
    LineErrorBits &= ~kLineErrorBreak;
    return set;
}

// ---- Flow control, RS-485, priorities, options --------------------------------------------------

std::int32_t TBaseDispatcher::SetHardwareFlow(std::uint32_t full, std::uint32_t resume,
                                              std::uint32_t options) {
    if (full < resume || full > ReceiveSize)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    ReadLineSettings(DeviceSettings);
    std::uint32_t flags = DeviceSettings.Flags;
    flags &= ~(platform::DCB_OUTX_CTS_FLOW | platform::DCB_OUTX_DSR_FLOW |
               platform::DCB_DTR_CONTROL_MASK | platform::DCB_RTS_CONTROL_MASK);
    DtrByFlow = false;
    RtsByFlow = false;
    if (options & kHwFlowUseDTR) {
        flags |= platform::DCB_DTR_CONTROL_HANDSHAKE;
        DtrByFlow = true;
    } else if (DtrOn) {
        flags |= platform::DCB_DTR_CONTROL_ENABLE;
    }
    if (options & kHwFlowUseRTS) {
        flags |= platform::DCB_RTS_CONTROL_HANDSHAKE;
        RtsByFlow = true;
    } else if (RtsOn) {
        flags |= platform::DCB_RTS_CONTROL_ENABLE;
    }
    if (RS485On && NtFamily) {
        flags = (flags & ~platform::DCB_RTS_CONTROL_MASK) | platform::DCB_RTS_CONTROL_TOGGLE;
        RtsByFlow = true;
    }
    DeviceSettings.XoffLim = static_cast<std::uint16_t>(ReceiveSize - full);
    DeviceSettings.XonLim = static_cast<std::uint16_t>(resume);
    if (options & kHwFlowRequireDSR)
        flags |= platform::DCB_OUTX_DSR_FLOW;
    if (options & kHwFlowRequireCTS)
        flags |= platform::DCB_OUTX_CTS_FLOW;
    DeviceSettings.Flags = flags;
    return CommitLineState(DeviceSettings);
}

std::int32_t TBaseDispatcher::SetSoftwareFlow(std::uint32_t full, std::uint32_t resume,
                                              std::uint32_t options) {
    if (full < resume || full > ReceiveSize)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    ReadLineSettings(DeviceSettings);
    if (options & kSwFlowReceive) {
        DeviceSettings.Flags |= platform::DCB_INX;
        DeviceSettings.XoffLim = static_cast<std::uint16_t>(ReceiveSize - full);
        DeviceSettings.XonLim = static_cast<std::uint16_t>(resume);
        DeviceSettings.XonChar = 17;
        DeviceSettings.XoffChar = 19;
    }
    if (options & kSwFlowTransmit) {
        DeviceSettings.Flags |= platform::DCB_OUTX;
        DeviceSettings.XonChar = 17;
        DeviceSettings.XoffChar = 19;
    }
    return CommitLineState(DeviceSettings);
}

std::int32_t TBaseDispatcher::ClearSoftwareFlow() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    DeviceSettings.Flags &= ~(platform::DCB_OUTX | platform::DCB_INX);
    return CommitLineState(DeviceSettings);
}

std::int32_t TBaseDispatcher::SetFlowChars(char xOn, char xOff) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    DeviceSettings.XonChar = xOn;
    DeviceSettings.XoffChar = xOff;
    return CommitLineState(DeviceSettings);
}

// On the NT family the driver toggles RTS itself (SetHardwareFlow puts RTS control in toggle
// mode). The older family would need the UART's I/O base address for the write thread to poll;
// this platform layer offers no port input, so UartBase stays 0 and output in RS-485 mode on that
// family is refused with "Base address not set".
void TBaseDispatcher::SetRS485(bool on) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    RS485On = on;
    if (WriteWorker != nullptr)
        WriteWorker->SetPriority(PriorityBase + (on ? 4 : 3));
}

void TBaseDispatcher::SetWorkerPriority(std::int32_t base) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (base == PriorityBase)
        return;
    PriorityBase = base;
    for (TDispatcherThread* thread : {ReadWorker, DispatchWorker, StatusWorker}) {
        if (thread != nullptr)
            thread->SetPriority(base + 3);
    }
    if (WriteWorker != nullptr)
        WriteWorker->SetPriority(base + (RS485On ? 4 : 3));
}

void TBaseDispatcher::SetOptionBits(std::uint32_t bits) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    OptionWord |= bits;
}

void TBaseDispatcher::ClearOptionBits(std::uint32_t bits) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    OptionWord &= ~bits;
}

// ---- Input buffer -------------------------------------------------------------------------------

std::int32_t TBaseDispatcher::UnreadCount() const {
    return InputRing.Count();
}

std::int32_t TBaseDispatcher::ConsumedNow() {
    return HandlerWindow.Settle().value_or(Consumed);
}

bool TBaseDispatcher::InputBufferFull() {
    std::lock_guard<std::recursive_mutex> guard(InputLock);
    return InBuffer && InputFull;
}

std::int32_t TBaseDispatcher::InputCount() {
    std::lock_guard<std::recursive_mutex> guard(InputLock);
    const std::int32_t count = UnreadCount();
    return PeekMode ? count - ConsumedNow() : count;
}

std::int32_t TBaseDispatcher::PeekByte(std::int32_t index, std::uint8_t& byte) {
    std::lock_guard<std::recursive_mutex> guard(InputLock);
    if (!InputRing.Peek(index - 1, byte))
        return ecBufferIsEmpty;
    return ecOK;
}

std::int32_t TBaseDispatcher::TakeByteLocked(std::uint8_t& byte) {
    std::lock_guard<std::recursive_mutex> guard(InputLock);
    // In peek mode the byte after those the running handler took; otherwise the oldest.
    const std::optional<std::int32_t> windowTaken = HandlerWindow.Settle();
    const std::int32_t index = PeekMode ? windowTaken.value_or(Consumed) + 1 : 1;
    if (!InputRing.Peek(index - 1, byte))
        return ecBufferIsEmpty;
    if (windowTaken) {
        HandlerWindow.CountTaken();
    } else if (PeekMode) {
        Consumed = index;
    } else {
        const bool wasFull = InputFull;
        InputRing.Drop(1);
        if (wasFull)
            KickDispatcher(); // received data may be waiting for this room
    }
    if (Tracing())
        AddTraceEntry('R', byte);
    return ecOK;
}

std::int32_t TBaseDispatcher::PurgeInput() {
    std::lock_guard<std::recursive_mutex> guard(InputLock);
    const std::int32_t result = DiscardQueued(kDiscardInput);
    if (PeekMode) {
        // The delivery takes every unread byte off when it ends; until then a full buffer stays
        // full, so the count the running handler sees never drops below what it has taken.
        MaxConsumed = UnreadCount();
    } else {
        InputRing.DropAll();
        Consumed = 0;
    }
    ResetDataMatches();
    KickDispatcher(); // data that waited for room may move in now
    return result;
}

bool TBaseDispatcher::FillInputBuffer() {
    std::lock_guard<std::recursive_mutex> guard(InputLock);
    if (!InBuffer)
        return false;
    if (InputFull) {
        static constexpr char kFull[] = "Dispatch buffer full.";
        if (Logging())
            AddLogEntry(lkDispatch, ldStatus, 0, reinterpret_cast<const std::uint8_t*>(kFull),
                        sizeof kFull - 1);
        return true;
    }

    const std::int32_t available = ReceivePending();
    {
        std::lock_guard<std::recursive_mutex> control(ControlLock);
        LineStatusRecord.cbInQue = static_cast<std::uint32_t>(available);
    }
    if (available <= 0)
        return false;

    // At most two copies: the free stretch up to the physical end (taking as much as the queue
    // holds), then from the start as much of the rest as the head buffer announced.
    const auto firstStretch = static_cast<std::int32_t>(InputRing.WritableStretch().size());
    const std::int32_t wanted = std::min(InputRing.Free(), available);
    std::int32_t secondStretch = std::max(wanted - firstStretch, 0);

    // Moves up to `length` queued bytes to InHead; a failed transfer counts as none.
    const auto takeStretch = [this](std::int32_t length) {
        std::uint8_t* destination = InputRing.WritableStretch().data();
        std::int32_t got = TakeReceived(destination, length);
        if (got < 0) {
            NoteReceiveFailure(ecFailed);
            got = 0;
        }
        if (Logging())
            AddLogEntry(lkDispatch, ldReadCom, static_cast<std::uint32_t>(got), destination, got);
        InputRing.Commit(got);
        Unscanned += got;
        return got;
    };

    if (firstStretch > 0 && takeStretch(firstStretch) < firstStretch)
        secondStretch = 0;
    if (secondStretch > 0)
        takeStretch(secondStretch);
    return true;
}

// ---- Output -------------------------------------------------------------------------------------

std::int32_t TBaseDispatcher::QueueBlock(const std::uint8_t* data, std::int32_t count) {
    if (count == 0)
        return ecOK;
    if (count < 0 || data == nullptr)
        return ecBadArgument;

    std::int32_t result = ecOK;
    std::int32_t queued;
    {
        std::lock_guard<std::recursive_mutex> guard(OutputLock);
        if (!OutRing)
            return ecPutBlockFail; // the buffers were released after the threads failed
        const std::int32_t room = static_cast<std::int32_t>(OutRingSize) - OutputPending();
        if (count > room)
            return ecOutputBufferTooSmall;
        // A refused block leaves the ring as it was; one of exactly the free room fills it.
        if (!NtFamily && RS485On) {
            if (UartBase == 0)
                return ecBaseAddressNotSet;
            DriveRTS(true);
        }
        queued = QueueOutput(data, count);
        if (queued <= 0) {
            result = ecPutBlockFail;
            queued = -queued;
            std::lock_guard<std::recursive_mutex> control(ControlLock);
            LineErrorBits = TakeLineErrors(LineStatusRecord);
        }
        OutSentPending.store(true);
    }

    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (Logging())
        AddLogEntry(lkDispatch, ldWriteCom, static_cast<std::uint32_t>(queued), data, queued);
    if (Tracing()) {
        for (std::int32_t i = 0; i < queued; ++i)
            AddTraceEntry('T', data[i]);
    }
    return result;
}

std::int32_t TBaseDispatcher::OutputInUse() {
    std::lock_guard<std::recursive_mutex> guard(OutputLock);
    RefreshLineErrors();
    std::lock_guard<std::recursive_mutex> control(ControlLock);
    return static_cast<std::int32_t>(LineStatusRecord.cbOutQue);
}

std::int32_t TBaseDispatcher::OutputRoom() {
    std::lock_guard<std::recursive_mutex> guard(OutputLock);
    RefreshLineErrors();
    std::lock_guard<std::recursive_mutex> control(ControlLock);
    return static_cast<std::int32_t>(OutRingSize - LineStatusRecord.cbOutQue);
}

std::int32_t TBaseDispatcher::PurgeOutput() {
    return DiscardQueued(kDiscardOutput);
}

// ---- Threads ------------------------------------------------------------------------------------

void TBaseDispatcher::NoteThreadStarted() {
    LiveThreads.fetch_add(1);
    AckEvent.Set();
}

void TBaseDispatcher::NoteThreadFinished(TDispatcherThread* thread, std::int32_t result) {
    if (result < 0) {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        if (LossCode == ecOK) {
            LossCode = result;
            LossSystemError = LastSystemError.load();
        }
    }
    if (result == ecDeviceWrite || result == ecDeviceRead) {
        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            LineErrorBits = kLineErrorsThreadFailed;
        }
        CheckStatusTriggers();
    } else if (result < 0 && result != ecFailed) { // ecFailed: the thread reported it already
        try {
            RaiseOnError(OwnerPort_, result);
        } catch (const std::exception& e) {
            ReportApplicationError(e.what());
        }
    }

    bool releaseNow = false;
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        for (TDispatcherThread** worker :
             {&ReadWorker, &WriteWorker, &DispatchWorker, &StatusWorker}) {
            if (*worker == thread)
                *worker = nullptr;
        }
        if (dynamic_cast<TDispThread*>(thread) != nullptr && FreeOnExit.load()) {
            FreeOnExit.store(false);
            releaseNow = true;
        }
    }
    // Released outside ControlLock: releasing may stop the other threads, which need the lock
    // to finish.
    if (releaseNow)
        ReleaseBuffers();

    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (LiveThreads.fetch_sub(1) != 1)
        return;
    ThreadsStarted.store(false);
    // The owner learns of a line that died under it on its own thread, through its windows.
    if (LossCode != ecOK && !CloseRequested.load()) {
        for (const WindowTarget& target : WindowTargets) {
            if (!target.Deleted)
                platform::PostMessage(target.Window, MsgPortLost,
                                      static_cast<std::uintptr_t>(LossCode),
                                      MakeNotifyParam(RegistryHandle_, 0));
        }
    }
}

std::string TBaseDispatcher::LossCause() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (LossCode == ecOK)
        return {};
    if (LossCode == ecFailed)
        return "Dispatcher thread failed";
    std::string cause = MessageForCode(LossCode);
    if (LossSystemError != 0)
        cause += " (" + TrimMessageEnd(platform::SystemMessage(LossSystemError)) + ")";
    return cause;
}

std::uint32_t TBaseDispatcher::ElapsedMs() const {
    return platform::TickCount() - OpenTime;
}

} // namespace mbus::serial
