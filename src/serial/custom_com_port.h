// TCustomComPort: the serial port component. It keeps the line settings as properties, opens the
// port by creating a dispatcher (TWin32Dispatcher) and closes it by freeing it, and raises its
// trigger events on the thread that opened the port: the dispatcher thread never calls the
// component; every notification arrives as a message at a hidden window the component makes when
// the port opens. Every dispatcher result passes through RaiseOnError, so failures reach the
// caller as exceptions of the ECommException family.
//
// All properties and operations are meant for the window thread. A property setter stores the
// value and, only while the port is open, applies it to the dispatcher; with ForceApply set (at
// every open) a setter applies even a value equal to the stored one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/message_window.h"
#include "serial/base_dispatcher.h"
#include "serial/component_base.h"
#include "serial/trace_log_commands.h"
#include "serial/trigger.h"

namespace mbus::serial {

enum TDeviceLayer { dlWin32, dlWinsock };
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum THWFlowOptions { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
// A set of THWFlowOptions: bit (1 << member), which is also the dispatcher's option value
// (kHwFlowUseDTR ... kHwFlowRequireCTS).
using THWFlowOptionSet = std::uint8_t;
inline constexpr THWFlowOptionSet FlowOption(THWFlowOptions option) {
    return static_cast<THWFlowOptionSet>(1u << option);
}
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum TPortState { psClosed = 0, psClosing = 1, psOpen = 2 };

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TTriggerEvent = std::function<void(TComponent* cp, std::uint16_t msg,
                                         std::uint16_t triggerHandle, std::uint16_t data)>;
using TTriggerAvailEvent = std::function<void(TComponent* cp, std::uint16_t count)>;
using TTriggerDataEvent = std::function<void(TComponent* cp, std::uint16_t triggerHandle)>;
using TTriggerStatusEvent = std::function<void(TComponent* cp, std::uint16_t triggerHandle)>;
using TTriggerTimerEvent = std::function<void(TComponent* cp, std::uint16_t triggerHandle)>;
using TTriggerLineErrorEvent =
    std::function<void(TComponent* cp, std::uint16_t error, bool lineBreak)>;
// The port was lost under its owner; `cause` names what ended it.
using TPortLostEvent = std::function<void(TComponent* cp, const std::string& cause)>;

class TCustomComPort : public TBaseComponent {
public:
    explicit TCustomComPort(TComponent* owner = nullptr);
    // Closes the port when it is open; the trigger snapshot goes with the component.
    ~TCustomComPort() override;

    // Copies every setting and the handlers of the general events from another port; this port
    // ends closed, and when the source is open its triggers become this port's snapshot.
    void Assign(const TCustomComPort& source);
    // Ends reading the stored settings; an Open := True met while loading takes effect now.
    void Loaded() override;

    // ---- Properties -----------------------------------------------------------------------------
    TDeviceLayer DeviceLayer() const { return DeviceLayer_; }
    void SetDeviceLayer(TDeviceLayer value);
    std::uint16_t ComNumber() const { return ComNumber_; }
    void SetComNumber(std::uint16_t value);
    std::int32_t Baud() const { return Baud_; }
    void SetBaud(std::int32_t value);
    bool PromptForPort() const { return PromptForPort_; }
    void SetPromptForPort(bool value) { PromptForPort_ = value; }
    TParity Parity() const { return Parity_; }
    void SetParity(TParity value);
    std::uint16_t DataBits() const { return DataBits_; }
    void SetDataBits(std::uint16_t value);
    std::uint16_t StopBits() const { return StopBits_; }
    void SetStopBits(std::uint16_t value);
    std::uint16_t InSize() const { return InSize_; }
    void SetInSize(std::uint16_t value);
    std::uint16_t OutSize() const { return OutSize_; }
    void SetOutSize(std::uint16_t value);
    bool AutoOpen() const { return AutoOpen_; }
    void SetAutoOpen(bool value) { AutoOpen_ = value; }
    bool Open() const { return Open_; }
    void SetOpen(bool value);
    bool DTR() const { return DTR_; }
    void SetDTR(bool value);
    bool RTS() const { return RTS_; }
    void SetRTS(bool value);
    THWFlowOptionSet HWFlowOptions() const { return HWFlowOptions_; }
    void SetHWFlowOptions(THWFlowOptionSet value);
    TSWFlowOptions SWFlowOptions() const { return SWFlowOptions_; }
    void SetSWFlowOptions(TSWFlowOptions value);
    char XOnChar() const { return XOnChar_; }
    void SetXOnChar(char value);
    char XOffChar() const { return XOffChar_; }
    void SetXOffChar(char value);
    std::uint16_t BufferFull() const { return BufferFull_; }
    void SetBufferFull(std::uint16_t value);
    std::uint16_t BufferResume() const { return BufferResume_; }
    void SetBufferResume(std::uint16_t value);
    TTraceLogState Tracing() const { return Trace_.State; }
    void SetTracing(TTraceLogState value);
    std::uint32_t TraceSize() const { return Trace_.Size; }
    void SetTraceSize(std::uint32_t value);
    const std::string& TraceName() const { return Trace_.Name; }
    void SetTraceName(const std::string& value) { Trace_.Name = value; }
    bool TraceHex() const { return Trace_.Hex; }
    void SetTraceHex(bool value) { Trace_.Hex = value; }
    bool TraceAllHex() const { return Trace_.AllHex; }
    void SetTraceAllHex(bool value) { Trace_.AllHex = value; }
    TTraceLogState Logging() const { return Log_.State; }
    void SetLogging(TTraceLogState value);
    std::uint32_t LogSize() const { return Log_.Size; }
    void SetLogSize(std::uint32_t value);
    const std::string& LogName() const { return Log_.Name; }
    void SetLogName(const std::string& value) { Log_.Name = value; }
    bool LogHex() const { return Log_.Hex; }
    void SetLogHex(bool value) { Log_.Hex = value; }
    bool LogAllHex() const { return Log_.AllHex; }
    void SetLogAllHex(bool value) { Log_.AllHex = value; }
    bool UseMSRShadow() const { return true; }
    virtual void SetUseMSRShadow(bool value);
    bool UseEventWord() const { return UseEventWord_; }
    void SetUseEventWord(bool value);
    std::uint16_t CommNotificationLevel() const { return CommNotificationLevel_; }
    void SetCommNotificationLevel(std::uint16_t value) { CommNotificationLevel_ = value; }
    TTapiMode TapiMode() const { return TapiMode_; }
    void SetTapiMode(TTapiMode value) { TapiMode_ = value; }
    bool RS485Mode() const { return RS485Mode_; }
    void SetRS485Mode(bool value);

    // Unpublished settings handed to the dispatcher at every open.
    std::uint16_t AvailThreshold() const { return AvailThreshold_; }
    void SetAvailThreshold(std::uint16_t value);
    std::uint8_t WorkerPriority() const { return WorkerPriority_; }
    void SetWorkerPriority(std::uint8_t value);

    // ---- Events (assigning a trigger event refreshes the dispatcher's interest) -----------------
    void SetOnPortClose(TNotifyEvent handler) { OnPortClose_ = std::move(handler); }
    void SetOnPortOpen(TNotifyEvent handler) { OnPortOpen_ = std::move(handler); }
    // Raised on the window thread when the I/O threads ended on a failure that no close asked
    // for (the device went away, a read or write failed, memory ran out). The port is closed by
    // then (OnPortClose came first): Open() reads false and the device is released, so a later
    // SetOpen(true) opens it again once it is back.
    void SetOnPortLost(TPortLostEvent handler) { OnPortLost_ = std::move(handler); }
    void SetOnTrigger(TTriggerEvent handler);
    void SetOnTriggerAvail(TTriggerAvailEvent handler);
    void SetOnTriggerData(TTriggerDataEvent handler);
    void SetOnTriggerStatus(TTriggerStatusEvent handler);
    void SetOnTriggerTimer(TTriggerTimerEvent handler);
    void SetOnTriggerLineError(TTriggerLineErrorEvent handler);
    void SetOnTriggerModemStatus(TNotifyEvent handler);
    void SetOnTriggerOutbuffFree(TNotifyEvent handler);
    void SetOnTriggerOutbuffUsed(TNotifyEvent handler);
    void SetOnTriggerOutSent(TNotifyEvent handler);

    // ---- Operations -----------------------------------------------------------------------------
    // The next received byte; #0 while a close is in progress. Opens a closed port first when
    // AutoOpen is set; raises EBufferIsEmpty when no byte is left.
    char ReadChar();
    // Queues all bytes or none (EOutputBufferTooSmall); opens a closed port first when AutoOpen
    // is set, even for an empty string; does nothing while a close is in progress.
    void SendString(const std::string& bytes);
    // The dispatcher, opening the port first when it is closed and AutoOpen is set; none when
    // there is still none.
    TBaseDispatcher* PortDispatcher();
    // PortDispatcher, or raises ECommNotOpen.
    TBaseDispatcher* RequireDispatcher();
    // While open: the dispatcher's pending line error code (0..10) and break flag.
    std::int32_t PendingLineError();
    bool PendingBreak();
    void YieldComms();

    TPortState PortState() const { return PortState_; }
    platform::WindowHandle NotifyWnd() const { return NotifyWnd_; }

protected:
    // ---- Virtual operations, in their order -----------------------------------------------------
    virtual std::unique_ptr<TBaseDispatcher> MakeDispatcher();
    virtual void LayerChanged();
    virtual std::int32_t StartPort();
    virtual void SetupNotifyWindow(bool create);
    virtual void EnsurePortNumber();
    virtual void FireTrigger(std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data);
    virtual void FireTriggerAvail(std::uint16_t count);
    virtual void FireTriggerData(std::uint16_t triggerHandle);
    virtual void FireTriggerStatus(std::uint16_t triggerHandle);
    virtual void FireTriggerTimer(std::uint16_t triggerHandle);
    virtual void RefreshEventInterest();
    virtual void FireLineError(std::uint16_t error, bool lineBreak);
    virtual void FireModemStatus();
    virtual void FireOutbuffFree();
    virtual void FireOutbuffUsed();
    virtual void FireOutSent();
    virtual void PerformClose();
    virtual void AnnounceOpen();
    virtual void AnnounceClose();
    virtual void PerformOpen();

private:
    static std::intptr_t NotifyWndProc(platform::WindowHandle window, std::uint32_t msg,
                                       std::uintptr_t wParam, std::intptr_t lParam);
    void HandleNotification(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
    void FinishDeferredClose();
    // MsgPortLost: closes the port and raises OnPortLost once the close has finished.
    void HandlePortLost();
    void AnnouncePortLost();
    // Keeps the thresholds valid for the device: a BufferFull above InSize becomes 90 % of
    // InSize, a BufferResume above BufferFull 10 % of BufferFull.
    void ClampFlowThresholds();
    void ApplyFlowThresholds(double full, double resume);
    // Assigns HWFlowOptions and SWFlowOptions again with ForceApply set (after new thresholds).
    void ReapplyFlowOptions();
    bool AnyTriggerEventAssigned() const;
    std::int32_t Check(std::int32_t code) const; // RaiseOnError with this component
    bool IsOpen() const { return PortState_ == psOpen; }
    // The dispatcher while the port is open, else none.
    TBaseDispatcher* OpenDispatcher() const { return IsOpen() ? Dispatcher_.get() : nullptr; }
    // Re-applies the line settings to an open port.
    void ApplyLine();
    // Whether a setter has nothing to do: the value equals the stored one and ForceApply is off.
    template <typename T> bool Unchanged(const T& field, const T& value) const {
        return value == field && !ForceApply_;
    }
    // Stores `value` unless Unchanged; true when the setter goes on to apply it.
    template <typename T> bool StoreChanged(T& field, const T& value) {
        if (Unchanged(field, value))
            return false;
        field = value;
        return true;
    }
    // The DTR and RTS setters: while open the line is driven first, and the property takes the
    // new value only when that succeeded (result 0).
    void DriveModemLine(bool& line, bool value, std::int32_t (TBaseDispatcher::*drive)(bool));

    TDeviceLayer DeviceLayer_ = dlWin32;
    std::uint16_t ComNumber_ = 0;
    std::int32_t Baud_ = 19200;
    bool PromptForPort_ = true;
    TParity Parity_ = pNone;
    std::uint16_t DataBits_ = 8;
    std::uint16_t StopBits_ = 1;
    std::uint16_t InSize_ = 4096;
    std::uint16_t OutSize_ = 4096;
    bool AutoOpen_ = true;
    bool Open_ = false;
    bool DTR_ = true;
    bool RTS_ = true;
    THWFlowOptionSet HWFlowOptions_ = 0;
    TSWFlowOptions SWFlowOptions_ = swfNone;
    char XOnChar_ = 17;
    char XOffChar_ = 19;
    std::uint16_t BufferFull_ = 0;
    std::uint16_t BufferResume_ = 0;
    TraceLogSettings Trace_{.Name = "COMPORT.TRC"};
    TraceLogSettings Log_{.Name = "COMPORT.LOG"};
    bool UseEventWord_ = true;
    std::uint16_t CommNotificationLevel_ = 10;
    TTapiMode TapiMode_ = tmAuto;
    bool RS485Mode_ = false;

    TNotifyEvent OnPortClose_;
    TNotifyEvent OnPortOpen_;
    TPortLostEvent OnPortLost_;
    TTriggerEvent OnTrigger_;
    TTriggerAvailEvent OnTriggerAvail_;
    TTriggerDataEvent OnTriggerData_;
    TTriggerStatusEvent OnTriggerStatus_;
    TTriggerTimerEvent OnTriggerTimer_;
    TTriggerLineErrorEvent OnTriggerLineError_;
    TNotifyEvent OnTriggerModemStatus_;
    TNotifyEvent OnTriggerOutbuffFree_;
    TNotifyEvent OnTriggerOutbuffUsed_;
    TNotifyEvent OnTriggerOutSent_;

    TPortState PortState_ = psClosed;
    bool ForceApply_ = false;
    bool ReopenPending_ = false;
    bool OpenAfterLoad_ = false;
    std::unique_ptr<TBaseDispatcher> Dispatcher_;
    platform::WindowHandle NotifyWnd_ = 0;
    bool TriggersSaved_ = false;
    TriggerSnapshot TriggerSnapshot_;
    std::uint16_t AvailThreshold_ = 1;
    std::uint8_t WorkerPriority_ = 0;
    // Notification handlers of this component running further up the call stack; a close made
    // from inside one is finished later, when they have returned.
    int DeliveryDepth_ = 0;
    // A close asked for while handlers were running: posted as MsgDeferredClose once the outermost
    // of them has returned.
    bool CloseWaitsForHandlers_ = false;
    // The cause of a port loss whose close is still to finish; OnPortLost follows that close.
    std::string LostCause_;
};

} // namespace mbus::serial
