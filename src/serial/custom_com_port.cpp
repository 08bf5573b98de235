#include "serial/custom_com_port.h"

#include "platform/message_window.h"
#include "platform/worker_thread.h"
#include "serial/application_errors.h"
#include "serial/codes.h"
#include "serial/dispatcher_registry.h"
#include "serial/exceptions.h"
#include "serial/notify_messages.h"
#include "serial/port_prompt.h"
#include "serial/raise_on_error.h"
#include "serial/tapi_dispatcher.h"
#include "serial/trace_log_commands.h"
#include "serial/win32_dispatcher.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace mbus::serial {

namespace {

constexpr std::uint32_t kMaxLogSize = 16000000;

// HWFlowOptions goes to the dispatcher as it is.
static_assert(FlowOption(hwfUseDTR) == kHwFlowUseDTR && FlowOption(hwfUseRTS) == kHwFlowUseRTS &&
              FlowOption(hwfRequireDSR) == kHwFlowRequireDSR &&
              FlowOption(hwfRequireCTS) == kHwFlowRequireCTS);

// Sets a flag for the lifetime of the scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : Flag_(flag) { Flag_ = true; }
    ~FlagScope() { Flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& Flag_;
};

} // namespace

TCustomComPort::TCustomComPort(TComponent* owner) : TBaseComponent(owner) {}

TCustomComPort::~TCustomComPort() {
    if (Open_) {
        try {
            PerformClose();
        } catch (const std::exception& e) {
            ReportApplicationError(e.what());
        }
    }
    // A close deferred behind a running handler cannot be waited for any more: finish it here.
    if (Dispatcher_) {
        SetupNotifyWindow(false);
        Dispatcher_.reset();
    }
}

std::int32_t TCustomComPort::Check(std::int32_t code) const {
    return RaiseOnError(this, code);
}

// ---- Open and close -----------------------------------------------------------------------------

void TCustomComPort::SetOpen(bool value) {
    if (value == Open_)
        return;
    if (IsLoading() || IsDesigning()) {
        Open_ = value;
        if (value)
            OpenAfterLoad_ = true;
        return;
    }
    if (!value) {
        PerformClose();
        return;
    }
    if (PortState_ == psClosed)
        PerformOpen();
    else
        ReopenPending_ = true;
}

void TCustomComPort::Loaded() {
    TBaseComponent::Loaded();
    if (IsDesigning() || !OpenAfterLoad_)
        return;
    OpenAfterLoad_ = false;
    try {
        PerformOpen();
    } catch (const std::exception& e) {
        Open_ = false;
        ReportApplicationError(e.what());
    }
}

void TCustomComPort::EnsurePortNumber() {
    if (ComNumber_ != 0)
        return;
    if (!PromptForPort_)
        Check(ecNoPortSelected);
    const std::optional<int> chosen = PromptForPortNumber();
    if (!chosen || *chosen <= 0)
        Check(ecNoPortSelected);
    else
        ComNumber_ = static_cast<std::uint16_t>(*chosen);
}

std::unique_ptr<TBaseDispatcher> TCustomComPort::MakeDispatcher() {
    if (DeviceLayer_ != dlWin32)
        Check(ecNullApi);
    if (TapiMode_ == tmOn) {
        // No telephony component supplies a device handle in this program.
        return std::make_unique<TTapiDispatcher>(this, 0);
    }
    return std::make_unique<TWin32Dispatcher>(this);
}

void TCustomComPort::LayerChanged() {}

std::int32_t TCustomComPort::StartPort() {
    const std::string name =
        TapiMode_ == tmOn ? std::string() : "\\\\.\\COM" + std::to_string(ComNumber_);
    std::uint32_t options = 0;
    if (DTR_)
        options |= kOpenDtrOn;
    if (RTS_)
        options |= kOpenRtsOn;
    if (HWFlowOptions_ & FlowOption(hwfUseDTR))
        options |= kOpenDtrByFlow;
    if (HWFlowOptions_ & FlowOption(hwfUseRTS))
        options |= kOpenRtsByFlow;
    return Dispatcher_->OpenPort(name, Baud_, Parity_, DataBits_, StopBits_, InSize_, OutSize_,
                                 options);
}

void TCustomComPort::PerformOpen() {
    if (TapiMode_ != tmOn)
        EnsurePortNumber();
    Dispatcher_ = MakeDispatcher();
    Dispatcher_->SetDeviceName("\\\\.\\COM" + std::to_string(ComNumber_));

    try {
        if (TapiMode_ == tmOn && Dispatcher_->DeviceHandle() == 0)
            Check(ecNotOpenedByTapi);

        std::int32_t result = StartPort();
        if (result == ecAccessDenied)
            result = ecAlreadyOpen;
        else if (result == ecFileNotFound || result == ecPathNotFound)
            result = ecBadId;
        if (result != 0)
            Check(result);

        PortState_ = psOpen;
        RefreshEventInterest();

        {
            FlagScope force(ForceApply_);
            SetTracing(Trace_.State);
            SetLogging(Log_.State);
            SetHWFlowOptions(HWFlowOptions_);
            SetSWFlowOptions(SWFlowOptions_);
            SetXOnChar(XOnChar_);
            SetXOffChar(XOffChar_);
            SetAvailThreshold(AvailThreshold_);
            SetDTR(DTR_);
            SetRTS(RTS_);
            SetUseEventWord(UseEventWord_);
            SetRS485Mode(RS485Mode_);
            SetWorkerPriority(WorkerPriority_);
        }

        Open_ = true;
        SetupNotifyWindow(true);
        // Threads that died before the window was there could not tell it.
        if (!Dispatcher_->ThreadsRunning() && !Dispatcher_->LossCause().empty())
            platform::PostMessage(NotifyWnd_, MsgPortLost, 0,
                                  MakeNotifyParam(Dispatcher_->RegistryHandle(), 0));
        if (TriggersSaved_) {
            TriggersSaved_ = false;
            Dispatcher_->RestoreTriggers(TriggerSnapshot_);
        }
        // A failing OnPortOpen handler fails the open like any other step from here on.
        AnnounceOpen();
    } catch (...) {
        if (NotifyWnd_ != 0)
            SetupNotifyWindow(false);
        Dispatcher_.reset();
        Open_ = false;
        PortState_ = psClosed;
        throw;
    }
}

void TCustomComPort::PerformClose() {
    if (PortState_ != psOpen)
        return;
    SetTracing(tlDump);
    SetLogging(tlDump);
    PortState_ = psClosing;
    Dispatcher_->SaveTriggers(TriggerSnapshot_);
    TriggersSaved_ = true;
    Dispatcher_->ClosePort();

    if (DeliveryDepth_ > 0) {
        // A notification handler is running further up the call stack: the dispatcher and the
        // window it is being served through must outlive it. The outermost handler posts
        // MsgDeferredClose when it returns, and the window procedure finishes the close.
        CloseWaitsForHandlers_ = true;
    } else if (Dispatcher_->ClosePendingNow()) {
        // A notification is on its way to the window: the close ends once it has been served.
        platform::PostMessage(NotifyWnd_, MsgDeferredClose, 0,
                              MakeNotifyParam(Dispatcher_->RegistryHandle(), 0));
        platform::PumpOneMessage();
    } else {
        SetupNotifyWindow(false);
        Dispatcher_.reset();
        PortState_ = psClosed;
        Open_ = false;
    }
    AnnounceClose();
}

void TCustomComPort::FinishDeferredClose() {
    // Freeing the dispatcher waits, serving messages, for a dispatcher thread still ending.
    SetupNotifyWindow(false);
    Dispatcher_.reset();
    PortState_ = psClosed;
    Open_ = false;
    if (!LostCause_.empty()) {
        ReopenPending_ = false; // a reopen asked for before the loss was known is void
        AnnouncePortLost();
        return;
    }
    if (ReopenPending_) {
        ReopenPending_ = false;
        PerformOpen();
    }
}

void TCustomComPort::HandlePortLost() {
    if (!IsOpen())
        return; // closed, or closing, already
    std::string cause = Dispatcher_->LossCause();
    if (cause.empty() || Dispatcher_->ThreadsRunning())
        return; // not this dispatcher's loss (a stale message)
    LostCause_ = std::move(cause);
    PerformClose();
    if (PortState_ == psClosed)
        AnnouncePortLost();
}

void TCustomComPort::AnnouncePortLost() {
    const std::string cause = std::exchange(LostCause_, std::string());
    if (OnPortLost_)
        OnPortLost_(this, cause);
}

void TCustomComPort::AnnounceOpen() {
    if (OnPortOpen_)
        OnPortOpen_(this);
}

void TCustomComPort::AnnounceClose() {
    if (OnPortClose_)
        OnPortClose_(this);
}

// ---- The hidden notification window -------------------------------------------------------------

void TCustomComPort::SetupNotifyWindow(bool create) {
    // The window's procedure is NotifyWndProc; on this platform a message window needs no class
    // of its own.
    if (create) {
        NotifyWnd_ = platform::CreateMessageWindow(&TCustomComPort::NotifyWndProc);
        Dispatcher_->AddNotifyWindow(NotifyWnd_);
        return;
    }
    if (NotifyWnd_ == 0)
        return;
    if (Dispatcher_)
        Dispatcher_->RemoveNotifyWindow(NotifyWnd_);
    platform::DestroyMessageWindow(NotifyWnd_);
    NotifyWnd_ = 0;
}

std::intptr_t TCustomComPort::NotifyWndProc(platform::WindowHandle, std::uint32_t msg,
                                            std::uintptr_t wParam, std::intptr_t lParam) {
    const bool ours = (msg >= MsgTriggerAvail && msg <= MsgTriggerStatus) ||
                      msg == MsgDeferredClose || msg == MsgPortLost;
    if (!ours)
        return 0;
    RegistryLockGuard registry;
    try {
        TBaseDispatcher* dispatcher = FindDispatcher(NotifyParamHandle(lParam));
        if (dispatcher == nullptr)
            return 0;
        auto* port = dynamic_cast<TCustomComPort*>(dispatcher->OwnerPort());
        if (port == nullptr)
            return 0;
        port->HandleNotification(msg, wParam, lParam);
    } catch (const std::exception& e) {
        // Only the main thread has the application's error box; elsewhere the error is dropped.
        if (platform::IsMainThread())
            ReportApplicationError(e.what());
    }
    return 0;
}

void TCustomComPort::HandleNotification(std::uint32_t msg, std::uintptr_t wParam,
                                        std::intptr_t lParam) {
    if (msg == MsgDeferredClose) {
        // Served inside a handler (a modal box's loop): the outermost handler posts it again
        // when it returns. Waiting by re-posting would spin the window thread.
        if (DeliveryDepth_ > 0)
            CloseWaitsForHandlers_ = true;
        else if (PortState_ == psClosing)
            FinishDeferredClose();
        return;
    }
    if (msg == MsgPortLost) {
        HandlePortLost();
        return;
    }

    // Counts the handlers running; the outermost one, as it returns, hands a close made inside
    // them to the window procedure.
    struct DepthScope {
        TCustomComPort& Port;
        explicit DepthScope(TCustomComPort& port) : Port(port) { ++Port.DeliveryDepth_; }
        ~DepthScope() {
            if (--Port.DeliveryDepth_ == 0 && Port.CloseWaitsForHandlers_ && Port.Dispatcher_) {
                Port.CloseWaitsForHandlers_ = false;
                platform::PostMessage(Port.NotifyWnd_, MsgDeferredClose, 0,
                                      MakeNotifyParam(Port.Dispatcher_->RegistryHandle(), 0));
            }
        }
        DepthScope(const DepthScope&) = delete;
        DepthScope& operator=(const DepthScope&) = delete;
    } depth(*this);

    const auto handle = static_cast<std::uint16_t>(wParam);
    const std::uint16_t data = msg == MsgTriggerAvail ? handle : NotifyParamData(lParam);
    FireTrigger(static_cast<std::uint16_t>(msg), handle, data);
    switch (msg) {
    case MsgTriggerAvail:
        FireTriggerAvail(handle);
        break;
    case MsgTriggerData:
        FireTriggerData(handle);
        break;
    case MsgTriggerTimer:
        FireTriggerTimer(handle);
        break;
    case MsgTriggerStatus:
        FireTriggerStatus(handle);
        switch (handle & kTriggerClassMask) {
        case kTriggerModemStatus:
            FireModemStatus();
            break;
        case kTriggerLineError: {
            const auto error = static_cast<std::uint16_t>(PendingLineError());
            FireLineError(error, PendingBreak());
            break;
        }
        case kTriggerOutbuffFree:
            FireOutbuffFree();
            break;
        case kTriggerOutbuffUsed:
            FireOutbuffUsed();
            break;
        case kTriggerOutSent:
            FireOutSent();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

// ---- Events -------------------------------------------------------------------------------------

void TCustomComPort::FireTrigger(std::uint16_t msg, std::uint16_t triggerHandle,
                                 std::uint16_t data) {
    if (OnTrigger_)
        OnTrigger_(this, msg, triggerHandle, data);
}
void TCustomComPort::FireTriggerAvail(std::uint16_t count) {
    if (OnTriggerAvail_)
        OnTriggerAvail_(this, count);
}
void TCustomComPort::FireTriggerData(std::uint16_t triggerHandle) {
    if (OnTriggerData_)
        OnTriggerData_(this, triggerHandle);
}
void TCustomComPort::FireTriggerStatus(std::uint16_t triggerHandle) {
    if (OnTriggerStatus_)
        OnTriggerStatus_(this, triggerHandle);
}
void TCustomComPort::FireTriggerTimer(std::uint16_t triggerHandle) {
    if (OnTriggerTimer_)
        OnTriggerTimer_(this, triggerHandle);
}
void TCustomComPort::FireLineError(std::uint16_t error, bool lineBreak) {
    if (OnTriggerLineError_)
        OnTriggerLineError_(this, error, lineBreak);
}
void TCustomComPort::FireModemStatus() {
    if (OnTriggerModemStatus_)
        OnTriggerModemStatus_(this);
}
void TCustomComPort::FireOutbuffFree() {
    if (OnTriggerOutbuffFree_)
        OnTriggerOutbuffFree_(this);
}
void TCustomComPort::FireOutbuffUsed() {
    if (OnTriggerOutbuffUsed_)
        OnTriggerOutbuffUsed_(this);
}
void TCustomComPort::FireOutSent() {
    if (OnTriggerOutSent_)
        OnTriggerOutSent_(this);
}

bool TCustomComPort::AnyTriggerEventAssigned() const {
    return OnTrigger_ || OnTriggerAvail_ || OnTriggerData_ || OnTriggerStatus_ || OnTriggerTimer_ ||
           OnTriggerLineError_ || OnTriggerModemStatus_ || OnTriggerOutbuffFree_ ||
           OnTriggerOutbuffUsed_ || OnTriggerOutSent_;
}

void TCustomComPort::RefreshEventInterest() {
    if (IsOpen())
        Dispatcher_->UpdateNotifyNeed(AnyTriggerEventAssigned() ? kNotifyNeedComponentWants
                                                                : kNotifyNeedComponentIgnores);
}

void TCustomComPort::SetOnTrigger(TTriggerEvent handler) {
    OnTrigger_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent handler) {
    OnTriggerAvail_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerData(TTriggerDataEvent handler) {
    OnTriggerData_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent handler) {
    OnTriggerStatus_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent handler) {
    OnTriggerTimer_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent handler) {
    OnTriggerLineError_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerModemStatus(TNotifyEvent handler) {
    OnTriggerModemStatus_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent handler) {
    OnTriggerOutbuffFree_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent handler) {
    OnTriggerOutbuffUsed_ = std::move(handler);
    RefreshEventInterest();
}
void TCustomComPort::SetOnTriggerOutSent(TNotifyEvent handler) {
    OnTriggerOutSent_ = std::move(handler);
    RefreshEventInterest();
}

// ---- Operations ---------------------------------------------------------------------------------

TBaseDispatcher* TCustomComPort::PortDispatcher() {
    if (!Dispatcher_ && !IsLoading() && !IsDesigning() && PortState_ != psOpen && AutoOpen_)
        SetOpen(true);
    return Dispatcher_.get();
}

TBaseDispatcher* TCustomComPort::RequireDispatcher() {
    TBaseDispatcher* dispatcher = PortDispatcher();
    if (dispatcher == nullptr)
        Check(ecNotOpen);
    return dispatcher;
}

char TCustomComPort::ReadChar() {
    if (PortState_ == psClosing)
        return '\0';
    TBaseDispatcher* dispatcher = Dispatcher_ ? Dispatcher_.get() : RequireDispatcher();
    if (dispatcher == nullptr)
        return '\0';
    std::uint8_t byte = 0;
    if (const std::int32_t result = dispatcher->TakeByte(byte); result != ecOK && Check(result) < 0)
        return '\0';
    return static_cast<char>(byte);
}

void TCustomComPort::SendString(const std::string& bytes) {
    if (PortState_ == psClosing)
        return;
    TBaseDispatcher* dispatcher = RequireDispatcher();
    if (dispatcher == nullptr)
        return;
    Check(dispatcher->QueueBlock(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                 static_cast<std::int32_t>(bytes.size())));
}

std::int32_t TCustomComPort::PendingLineError() {
    return IsOpen() ? Dispatcher_->TakeLineError() : 0;
}

bool TCustomComPort::PendingBreak() {
    return IsOpen() && Dispatcher_->TakeBreakFlag();
}

void TCustomComPort::YieldComms() {
    if (PortState_ == psClosing)
        return;
    if (TBaseDispatcher* dispatcher = RequireDispatcher())
        Check(dispatcher->YieldSlice());
}

void TCustomComPort::Assign(const TCustomComPort& source) {
    SetOpen(false);
    DeviceLayer_ = source.DeviceLayer_;
    ComNumber_ = source.ComNumber_;
    Baud_ = source.Baud_;
    Parity_ = source.Parity_;
    DataBits_ = source.DataBits_;
    StopBits_ = source.StopBits_;
    InSize_ = source.InSize_;
    OutSize_ = source.OutSize_;
    HWFlowOptions_ = source.HWFlowOptions_;
    SWFlowOptions_ = source.SWFlowOptions_;
    XOnChar_ = source.XOnChar_;
    XOffChar_ = source.XOffChar_;
    BufferFull_ = source.BufferFull_;
    BufferResume_ = source.BufferResume_;
    DTR_ = source.DTR_;
    RTS_ = source.RTS_;
    // Trace and log settings arrive as settings: a running state becomes a start at the next
    // open, as assigning them to a closed port does.
    Trace_ = source.Trace_;
    Trace_.State = StateWhileClosed(source.Trace_.State);
    Log_ = source.Log_;
    Log_.State = StateWhileClosed(source.Log_.State);
    AvailThreshold_ = source.AvailThreshold_;
    TapiMode_ = source.TapiMode_;
    AutoOpen_ = source.AutoOpen_;
    PromptForPort_ = source.PromptForPort_;
    RS485Mode_ = source.RS485Mode_;
    WorkerPriority_ = source.WorkerPriority_;
    OnTrigger_ = source.OnTrigger_;
    OnTriggerAvail_ = source.OnTriggerAvail_;
    OnTriggerData_ = source.OnTriggerData_;
    OnTriggerStatus_ = source.OnTriggerStatus_;
    OnTriggerTimer_ = source.OnTriggerTimer_;
    OnPortOpen_ = source.OnPortOpen_;
    OnPortClose_ = source.OnPortClose_;
    if (source.PortState_ == psOpen) {
        source.Dispatcher_->SaveTriggers(TriggerSnapshot_);
        TriggersSaved_ = true;
    }
}

// ---- Property setters ---------------------------------------------------------------------------

void TCustomComPort::SetDeviceLayer(TDeviceLayer value) {
    if (PortState_ != psClosed || value != dlWin32)
        return;
    DeviceLayer_ = value;
    LayerChanged();
}

void TCustomComPort::SetComNumber(std::uint16_t value) {
    if (Unchanged(ComNumber_, value))
        return;
    if (!IsOpen()) {
        ComNumber_ = value;
        return;
    }
    TriggerSnapshot triggers;
    Dispatcher_->SaveTriggers(triggers);
    const TTraceLogState tracing = Trace_.State;
    const TTraceLogState logging = Log_.State;
    SetOpen(false);
    ComNumber_ = value;
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (Dispatcher_)
        Dispatcher_->RestoreTriggers(triggers);
}

void TCustomComPort::ApplyLine() {
    if (IsOpen())
        Check(Dispatcher_->ConfigureLine(Baud_, Parity_, DataBits_, StopBits_));
}

void TCustomComPort::SetBaud(std::int32_t value) {
    if (StoreChanged(Baud_, value))
        ApplyLine();
}

void TCustomComPort::SetParity(TParity value) {
    if (StoreChanged(Parity_, value))
        ApplyLine();
}

void TCustomComPort::SetDataBits(std::uint16_t value) {
    if (StoreChanged(DataBits_, value))
        ApplyLine();
}

void TCustomComPort::SetStopBits(std::uint16_t value) {
    if (StoreChanged(StopBits_, value))
        ApplyLine();
}

void TCustomComPort::SetInSize(std::uint16_t value) {
    if (!StoreChanged(InSize_, value))
        return;
    if (IsOpen())
        Dispatcher_->ResizeQueues(InSize_, OutSize_);
    // Thresholds above the new size would make every later open fail: they follow it down.
    if (BufferFull_ > InSize_) {
        ClampFlowThresholds();
        ReapplyFlowOptions();
    }
}

void TCustomComPort::SetOutSize(std::uint16_t value) {
    if (StoreChanged(OutSize_, value) && IsOpen())
        Dispatcher_->ResizeQueues(InSize_, OutSize_); // the ring keeps its size until reopened
}

void TCustomComPort::DriveModemLine(bool& line, bool value,
                                    std::int32_t (TBaseDispatcher::*drive)(bool)) {
    if (Unchanged(line, value))
        return;
    if (!IsOpen()) {
        line = value;
        return;
    }
    if (Check((Dispatcher_.get()->*drive)(value)) == 0)
        line = value;
}

void TCustomComPort::SetDTR(bool value) {
    DriveModemLine(DTR_, value, &TBaseDispatcher::DriveDTR);
}

void TCustomComPort::SetRTS(bool value) {
    DriveModemLine(RTS_, value, &TBaseDispatcher::DriveRTS);
}

void TCustomComPort::ApplyFlowThresholds(double full, double resume) {
    if (BufferFull_ == 0 || BufferFull_ > InSize_)
        BufferFull_ = static_cast<std::uint16_t>(InSize_ * full);
    if (BufferResume_ == 0 || BufferResume_ > BufferFull_)
        BufferResume_ = static_cast<std::uint16_t>(InSize_ * resume);
}

void TCustomComPort::SetHWFlowOptions(THWFlowOptionSet value) {
    if (Unchanged(HWFlowOptions_, value))
        return;
    if (value & (FlowOption(hwfUseRTS) | FlowOption(hwfRequireCTS)))
        SetRS485Mode(false);
    if (value != 0)
        ApplyFlowThresholds(0.9, 0.1);
    if (IsOpen())
        Check(Dispatcher_->SetHardwareFlow(BufferFull_, BufferResume_, value));
    HWFlowOptions_ = value;
}

void TCustomComPort::SetSWFlowOptions(TSWFlowOptions value) {
    if (Unchanged(SWFlowOptions_, value))
        return;
    if (value != swfNone)
        ApplyFlowThresholds(0.75, 0.25);
    if (IsOpen()) {
        if (value == swfNone) {
            Check(Dispatcher_->ClearSoftwareFlow());
        } else {
            const std::uint32_t options = value == swfReceive    ? kSwFlowReceive
                                          : value == swfTransmit ? kSwFlowTransmit
                                                                 : kSwFlowReceive | kSwFlowTransmit;
            Check(Dispatcher_->SetSoftwareFlow(BufferFull_, BufferResume_, options));
        }
    }
    SWFlowOptions_ = value;
}

void TCustomComPort::SetXOnChar(char value) {
    if (StoreChanged(XOnChar_, value) && IsOpen())
        Check(Dispatcher_->SetFlowChars(XOnChar_, XOffChar_));
}

void TCustomComPort::SetXOffChar(char value) {
    if (StoreChanged(XOffChar_, value) && IsOpen())
        Check(Dispatcher_->SetFlowChars(XOnChar_, XOffChar_));
}

void TCustomComPort::SetBufferFull(std::uint16_t value) {
    if (value > InSize_)
        value = static_cast<std::uint16_t>(value * 0.9);
    BufferFull_ = value;
    ClampFlowThresholds();
    ReapplyFlowOptions();
}

void TCustomComPort::SetBufferResume(std::uint16_t value) {
    if (value > BufferFull_)
        value = static_cast<std::uint16_t>(BufferFull_ * 0.1);
    BufferResume_ = value;
    ReapplyFlowOptions();
}

void TCustomComPort::ClampFlowThresholds() {
    // The device takes no threshold above its receive queue (InSize): a value the setter once
    // accepted must not fail every later open. What is still above it becomes 90 % of it, the
    // hardware flow rule's value.
    if (BufferFull_ > InSize_)
        BufferFull_ = static_cast<std::uint16_t>(InSize_ * 0.9);
    if (BufferResume_ > BufferFull_)
        BufferResume_ = static_cast<std::uint16_t>(BufferFull_ * 0.1);
}

void TCustomComPort::ReapplyFlowOptions() {
    FlagScope force(ForceApply_);
    SetHWFlowOptions(HWFlowOptions_);
    SetSWFlowOptions(SWFlowOptions_);
}

void TCustomComPort::SetUseMSRShadow(bool) {}

void TCustomComPort::SetUseEventWord(bool value) {
    if (!StoreChanged(UseEventWord_, value) || !IsOpen())
        return;
    if (value)
        Dispatcher_->SetOptionBits(kOptionEventWord);
    else
        Dispatcher_->ClearOptionBits(kOptionEventWord);
}

void TCustomComPort::SetRS485Mode(bool value) {
    if (!StoreChanged(RS485Mode_, value))
        return;
    if (IsOpen())
        Dispatcher_->SetRS485(value);
    if (value) {
        SetHWFlowOptions(HWFlowOptions_ & static_cast<THWFlowOptionSet>(~(
                                              FlowOption(hwfUseRTS) | FlowOption(hwfRequireCTS))));
        SetRTS(false);
    }
}

void TCustomComPort::SetAvailThreshold(std::uint16_t value) {
    if (StoreChanged(AvailThreshold_, value) && IsOpen())
        Dispatcher_->SetAvailThreshold(value);
}

void TCustomComPort::SetWorkerPriority(std::uint8_t value) {
    if (StoreChanged(WorkerPriority_, value) && IsOpen())
        Dispatcher_->SetWorkerPriority(value);
}

// ---- Trace and log commands ---------------------------------------------------------------------

void TCustomComPort::SetTracing(TTraceLogState value) {
    Check(RunTraceLogCommand(OpenDispatcher(), kTraceCommands, Trace_, value));
}

void TCustomComPort::SetTraceSize(std::uint32_t value) {
    Trace_.Size = std::min(value, kMaxTraceEntries);
    Check(RestartTraceLog(OpenDispatcher(), kTraceCommands, Trace_));
}

void TCustomComPort::SetLogging(TTraceLogState value) {
    Check(RunTraceLogCommand(OpenDispatcher(), kLogCommands, Log_, value));
}

void TCustomComPort::SetLogSize(std::uint32_t value) {
    Log_.Size = std::min(value, kMaxLogSize);
    Check(RestartTraceLog(OpenDispatcher(), kLogCommands, Log_));
}

} // namespace mbus::serial
