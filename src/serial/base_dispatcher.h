// TBaseDispatcher: the engine behind one open port. It owns the 8192-byte input buffer, the
// output ring, the working copy of the device settings, modem and line status, flow control,
// the trigger tables and notification targets, the trace and the dispatch log, and the
// references to the four worker threads. Every touch of the device goes through the virtual
// operations that a concrete dispatcher (TWin32Dispatcher) implements.
//
// Threads: the window thread calls the operations used by the port component; the dispatcher
// thread runs FillInputBuffer and the dispatch pass (dispatcher_delivery.cpp); the I/O threads
// work on the output ring and the receive queue.
// Locks (all re-entrant):
//   ControlLock guards device settings, modem status, line errors, flow control, trigger tables,
//     notification targets, thread start, the trace buffer and the release of the buffers;
//   OutputLock guards the output ring (OutRing, OutRingSize, OutHead, OutTail, OutFull);
//   InputLock guards InBuffer, InHead, InTail, InputFull, PeekMode, Consumed, MaxConsumed; the
//     bytes a delivery announces are taken through HandlerWindow without it (take_window.h).
// Nesting: InputLock -> ControlLock; RegistryLock -> InputLock or OutputLock -> ControlLock;
// ControlLock -> a queue's own lock. The dispatcher thread holds none of them while it waits for
// a notification target.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm_device.h"
#include "platform/event.h"
#include "serial/byte_ring.h"
#include "serial/codes.h"
#include "serial/io_queue.h"
#include "serial/stop_request.h"
#include "serial/take_window.h"
#include "serial/trigger.h"

namespace mbus::serial {

class TComponent;
class TDispatcherThread;

inline constexpr std::int32_t kInBufferSize = 8192;
// The most entries a trace may hold.
inline constexpr std::uint32_t kMaxTraceEntries = 4000000;

// A procedure target: called on the dispatcher thread with (Msg, TriggerHandle, lParam).
using NotifyProc = std::function<void(std::uint32_t, std::uint32_t, std::intptr_t)>;

class TBaseDispatcher {
public:
    explicit TBaseDispatcher(TComponent* owner);
    // Leaves the registry and frees what is left. A concrete dispatcher's destructor must call
    // DestroyDispatcher() first, while its own device operations still exist.
    virtual ~TBaseDispatcher();
    TBaseDispatcher(const TBaseDispatcher&) = delete;
    TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

    // ---- Virtual operations, in slot order ------------------------------------------------------
    virtual std::int32_t ApplyLineFunction(std::uint32_t function) = 0;
    // `which` is kDiscardOutput or kDiscardInput; nonzero on success.
    virtual std::int32_t DiscardQueued(std::int32_t which) = 0;
    virtual std::int32_t TakeLineErrors(platform::COMSTAT& status) = 0;
    virtual std::int32_t NoteReceiveFailure(std::int32_t code) = 0;
    virtual std::int32_t ReadLineSettings(platform::DCB& settings) = 0;
    virtual std::int32_t TakeReceived(std::uint8_t* destination, std::int32_t wanted) = 0;
    virtual std::int32_t ApplyLineSettings(const platform::DCB& settings) = 0;
    virtual std::int32_t QueueOutput(const std::uint8_t* source, std::int32_t count) = 0;
    virtual bool PeekEventMask(std::uint32_t& mask) = 0;
    virtual bool SizeDriverQueues(std::uint32_t receiveSize, std::uint32_t transmitSize) = 0;
    virtual void ReleaseBuffers();
    virtual void LaunchThreads() = 0;
    virtual void ReleaseEvents() = 0;
    virtual std::int32_t OutputPending() = 0;
    virtual std::int32_t ReceivePending();
    virtual platform::CommHandle OpenDevice(const std::string& name, std::uint32_t receiveSize,
                                            std::uint32_t transmitSize) = 0;
    virtual std::int32_t ShutDevice() = 0;
    virtual bool ProbeDevice(const std::string& name) = 0;
    virtual std::int32_t YieldSlice() = 0;
    virtual void SetWorkerPriority(std::int32_t base);
    // `action` is one of the kNotifyNeed actions.
    virtual void UpdateNotifyNeed(std::int32_t action);

    // ---- Open and close -------------------------------------------------------------------------
    // `options` holds the kOpen bits (DTR and RTS on, or driven by flow control).
    std::int32_t OpenPort(const std::string& deviceName, std::int32_t baud, std::int32_t parity,
                          std::int32_t dataBits, std::int32_t stopBits, std::uint32_t inSize,
                          std::uint32_t outSize, std::uint32_t options);
    void ClosePort();
    std::int32_t ResizeQueues(std::uint32_t inSize, std::uint32_t outSize);

    // ---- Line settings --------------------------------------------------------------------------
    // kKeepBaud, kKeepParity, kKeepDataBits and kKeepStopBits keep the current value.
    std::int32_t ConfigureLine(std::int32_t baud, std::int32_t parity, std::int32_t dataBits,
                               std::int32_t stopBits);
    struct LineQuery {
        std::int32_t Baud, Parity, DataBits, StopBits;
    };
    LineQuery QueryLine();
    struct FlowQuery {
        std::uint32_t HardwareOptions, SoftwareOptions;
        char XOn, XOff;
    };
    FlowQuery QueryFlow();
    std::int32_t CommitLineState(platform::DCB& settings);
    void AwaitOutputDrain();

    // ---- Modem lines and line errors ------------------------------------------------------------
    std::int32_t DriveDTR(bool on);
    std::int32_t DriveRTS(bool on);
    std::uint8_t ReadModemStatus(std::uint8_t keepMask);
    std::uint8_t CurrentModemStatus() { return ReadModemStatus(0xF0); }
    void RefreshModemDeltas();
    void RefreshLineErrors();
    std::int32_t TakeLineError();
    bool TakeBreakFlag();

    // ---- Flow control, RS-485, priorities, options ----------------------------------------------
    // `options` holds kHwFlow bits for SetHardwareFlow, kSwFlow bits for SetSoftwareFlow.
    std::int32_t SetHardwareFlow(std::uint32_t full, std::uint32_t resume, std::uint32_t options);
    std::int32_t SetSoftwareFlow(std::uint32_t full, std::uint32_t resume, std::uint32_t options);
    std::int32_t ClearSoftwareFlow();
    std::int32_t SetFlowChars(char xOn, char xOff);
    void SetRS485(bool on);
    void SetOptionBits(std::uint32_t bits);
    void ClearOptionBits(std::uint32_t bits);

    // ---- Input buffer ---------------------------------------------------------------------------
    std::int32_t InputCount();
    std::int32_t PeekByte(std::int32_t index, std::uint8_t& byte);
    std::int32_t TakeByte(std::uint8_t& byte) {
        // A handler on the main thread taking the bytes its notification announced needs no lock
        // (unless every byte goes to the trace).
        if (!Tracing() && HandlerWindow.TryTake(byte))
            return ecOK;
        return TakeByteLocked(byte);
    }
    std::int32_t PurgeInput();
    bool FillInputBuffer();

    // ---- Output ---------------------------------------------------------------------------------
    std::int32_t QueueBlock(const std::uint8_t* data, std::int32_t count);
    std::int32_t OutputInUse();
    std::int32_t OutputRoom();
    std::int32_t PurgeOutput();

    // ---- Threads --------------------------------------------------------------------------------
    void NoteThreadStarted();
    // Every worker thread's last call. The first failure is kept as the loss cause; when the last
    // thread ends after a failure that no close asked for, MsgPortLost goes to every notification
    // window (once per dispatcher). ecFailed is the dispatcher thread's failure that it has
    // reported itself.
    void NoteThreadFinished(TDispatcherThread* thread, std::int32_t result);
    // What ended the threads when they failed without a close: the result code's text and, when
    // the failing thread recorded one, the system's reason ("Device read error (The device is not
    // connected)"); empty when nothing failed.
    std::string LossCause();
    std::uint32_t ElapsedMs() const;

    // ---- Dispatch pass, triggers and delivery (dispatcher_delivery.cpp) -------------------------
    // One dispatch pass.
    void ServiceQueue();
    void ServiceTimers();
    bool DeliverEvent(std::uint32_t msg, std::uint32_t triggerHandle, std::uint32_t data);
    bool CheckDataTriggers();
    bool CheckStatusTriggers();
    bool CheckTimerTriggers();
    void AddNotifyWindow(std::uint32_t window);
    void RemoveNotifyWindow(std::uint32_t window);
    // Procedure and event targets; the result is a handle for the removal.
    std::int32_t AddNotifyProc(NotifyProc proc);
    void RemoveNotifyProc(std::int32_t handle);
    // An event target; with `synchronize` it is called on the main thread through SyncCall.
    std::int32_t AddNotifyEvent(NotifyProc method, bool synchronize);
    void RemoveNotifyEvent(std::int32_t handle);
    void SetAvailThreshold(std::uint32_t count);
    std::uint32_t AvailThresholdValue();

    // ---- Trigger tables (trigger.cpp) -----------------------------------------------------------
    void ClearTriggers();
    void ResetStatusHits();
    void ResetDataMatches();
    void SaveTriggers(TriggerSnapshot& snapshot);
    void RestoreTriggers(const TriggerSnapshot& snapshot);
    // Handles carry the trigger class in their low three bits (status kinds 1..5, timer 6,
    // data 7). Errors: ecNoMoreTriggers, ecTriggerTooLong, ecBadTriggerHandle, ecBadArgument.
    std::int32_t AddTimerTrigger();
    std::int32_t SetTimerTrigger(std::int32_t handle, std::uint32_t ticks, bool activate);
    std::int32_t AddDataTrigger(const std::string& pattern, bool ignoreCase);
    std::int32_t AddStatusTrigger(std::int32_t kind);
    std::int32_t SetStatusTrigger(std::int32_t handle, std::uint16_t value, bool activate);
    std::int32_t RemoveTrigger(std::int32_t handle);

    // ---- Trace (dispatcher_trace.cpp) and dispatch log (dispatch_log.cpp) -----------------------
    std::int32_t StartTrace(std::uint32_t capacity);
    void StopTrace();
    std::int32_t ClearTrace();
    void PauseTrace();
    void ResumeTrace();
    void AddTraceEntry(char kind, std::uint8_t byte);
    std::int32_t DumpTrace(const std::string& fileName, bool inHex, bool allHex);
    std::int32_t AppendTrace(const std::string& fileName, bool inHex, bool allHex);
    bool Tracing() const { return TracingOn.load(std::memory_order_relaxed); }

    void StartDispatchLog(std::uint32_t limit);
    void StopDispatchLog();
    void ClearDispatchLog();
    void PauseDispatchLog();
    void ResumeDispatchLog();
    // `kind` is one of the lk kinds, `detail` one of the ld sub-kinds (codes.h).
    void AddLogEntry(std::uint8_t kind, std::uint16_t detail, std::uint32_t value,
                     const std::uint8_t* data, std::int32_t length);
    std::int32_t DumpDispatchLog(const std::string& fileName, bool inHex, bool allHex);
    std::int32_t AppendDispatchLog(const std::string& fileName, bool inHex, bool allHex);
    bool Logging() const { return LoggingOn.load(std::memory_order_relaxed); }

    // ---- Accessors used by the port component, the threads and tests ----------------------------
    TComponent* OwnerPort() const { return OwnerPort_; }
    std::int32_t RegistryHandle() const { return RegistryHandle_; }
    platform::CommHandle DeviceHandle() const { return DeviceHandle_.load(); }
    void SetDeviceName(const std::string& name) { DeviceName_ = name; }
    bool ThreadsRunning() const { return LiveThreads.load() > 0; }
    std::int32_t LiveThreadCount() const { return LiveThreads.load(); }
    bool InDispatchNow() const { return InDispatch.load(); }
    bool ClosePendingNow() const { return ClosePending.load(); }

protected:
    // The destruction steps that need the concrete dispatcher: close (or release after a close
    // during a delivery), then serve window messages until no worker thread runs.
    void DestroyDispatcher();

public:
    // TakeByte under InputLock: every take but the main thread's during a delivery.
    std::int32_t TakeByteLocked(std::uint8_t& byte);
    // Unread bytes in the input buffer; call with InputLock held.
    std::int32_t UnreadCount() const;
    // Bytes the running handler has taken in peek mode; call with InputLock held.
    std::int32_t ConsumedNow();
    // Whether the input buffer holds 8192 unread bytes, so queued data has to wait.
    bool InputBufferFull();
    // Whether an armed timer or status trigger needs the dispatch pass to run on a clock.
    bool ClockedTriggersArmed();
    // Makes the dispatcher thread run a pass soon: something it evaluates has changed.
    void KickDispatcher() { ReceiveQueue.Wake(); }
    // Who is told of received bytes, or from how many on, has changed: the next pass announces
    // the unread bytes again, new ones or not. Those announced before may have reached nobody
    // (no window yet, no interest yet), and a full input buffer takes no new byte that would
    // announce them until someone takes some.
    void AnnounceUnreadAgain() {
        ReannounceUnread.store(true);
        KickDispatcher();
    }

    // Wait in milliseconds for about 18 character times at the given line settings.
    static std::uint32_t DrainWaitMs(std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity,
                                     std::uint8_t stopBits);

    // ---- State (names as the component's design gives them; see the lock notes above) -----------
    TComponent* const OwnerPort_; // non-owning: the component that created this dispatcher
    std::int32_t RegistryHandle_ = -1;
    std::atomic<platform::CommHandle> DeviceHandle_{0};
    std::int32_t LineErrorBits = 0; // ControlLock; kLineError bits or kLineErrorsThreadFailed
    std::uint32_t ReceiveSize = 0;
    std::uint32_t ModemBits = 0; // ControlLock
    platform::COMSTAT LineStatusRecord;
    platform::DCB DeviceSettings; // ControlLock
    std::uint32_t AppliedBaud = 115200;
    std::uint32_t OptionWord = 0; // kOptionEventWord; nothing reads it
    bool DtrOn = false;
    bool RtsOn = false;
    bool DtrByFlow = false;
    bool RtsByFlow = false;
    bool RS485On = false;
    std::uint16_t UartBase = 0;

    // Notification targets and triggers (ControlLock).
    struct WindowTarget {
        std::uint32_t Window;
        bool Deleted;
    };
    struct ProcTarget {
        std::int32_t Handle;
        NotifyProc Proc;
        bool Deleted;
    };
    struct EventTarget {
        std::int32_t Handle;
        NotifyProc Method;
        bool Deleted;
        bool Synchronize;
    };
    std::vector<WindowTarget> WindowTargets;
    std::vector<ProcTarget> ProcTargets;
    std::vector<EventTarget> EventTargets;
    std::vector<TimerTrigger> TimerTriggers;
    std::vector<DataTrigger> DataTriggers;
    std::vector<StatusTrigger> StatusTriggers;
    std::atomic<bool> ComponentWants{false};
    std::atomic<bool> NotifyNeeded{false};
    std::uint32_t AvailThreshold = 0;
    std::int32_t ScanPos = 0;   // dispatcher thread
    std::int32_t NotifyPos = 0; // dispatcher thread
    // Bytes stored but not yet scanned (InputLock), and whether bytes were scanned since the last
    // data-available notification (dispatcher thread). Positions alone cannot tell a buffer that
    // filled all the way round (8192 new bytes) from one with nothing new.
    std::int32_t Unscanned = 0;
    bool ScannedSinceNotify = false;
    // Set by AnnounceUnreadAgain (any thread), taken by the dispatcher thread's next data check.
    std::atomic<bool> ReannounceUnread{false};
    std::atomic<bool> StatusHit{false};
    std::int32_t NextTargetHandle = 1;
    std::int32_t NextTriggerSerial = 1;

    // Input buffer (InputLock): the ring, and its fields under their designed names.
    ByteRing<std::int32_t> InputRing{kInBufferSize};
    std::unique_ptr<std::uint8_t[]>& InBuffer = InputRing.Storage;
    std::int32_t& InHead = InputRing.Head;
    std::int32_t& InTail = InputRing.Tail;
    bool& InputFull = InputRing.Full; // InHead = InTail holds 8192 unread bytes, not none
    bool PeekMode = false;
    std::int32_t Consumed = 0;
    std::int32_t MaxConsumed = 0;
    // The unread bytes of a delivery in peek mode while one of its targets runs; Consumed holds
    // what was taken through it once it closes.
    TakeWindow<kInBufferSize> HandlerWindow;
    // The storage of a released input buffer, kept for a handler that may still be reading it
    // through HandlerWindow, and reused by the next open.
    std::unique_ptr<std::uint8_t[]> RetiredInBuffer;

    // Output ring (OutputLock): the ring, and its fields under their designed names.
    ByteRing<std::uint32_t> OutputRing;
    std::unique_ptr<std::uint8_t[]>& OutRing = OutputRing.Storage;
    std::uint32_t& OutRingSize = OutputRing.Size;
    std::uint32_t& OutHead = OutputRing.Head;
    std::uint32_t& OutTail = OutputRing.Tail;
    bool& OutFull = OutputRing.Full; // OutHead = OutTail holds OutRingSize bytes, not none
    std::atomic<bool> OutSentPending{false};

    StopRequest StopThreads;
    TDispatcherThread* ReadWorker = nullptr; // ControlLock; each cleared by its thread's end
    TDispatcherThread* DispatchWorker = nullptr;
    TDispatcherThread* WriteWorker = nullptr;
    TDispatcherThread* StatusWorker = nullptr;
    std::int32_t PriorityBase = 0;

    std::recursive_mutex ControlLock;
    std::recursive_mutex OutputLock;
    std::recursive_mutex InputLock;

    // The six events made at open: AckEvent, OutputReady, FlushRequest, two that nothing waits on,
    // and PassDone (manual-reset, set at the end of every dispatch pass). They live as long as
    // the dispatcher; EventsCreated tells whether they are "open" (made by OpenPort, not yet
    // released by ReleaseEvents), so no thread ever waits on freed memory.
    platform::Event AckEvent{false, false};
    platform::Event OutputReady{false, false};
    platform::Event FlushRequest{false, false};
    platform::Event SpareEventA{false, false};
    platform::Event PassDone{true, false};
    platform::Event SpareEventB{false, false};
    std::atomic<bool> EventsCreated{false};

    std::uint32_t StatusWord = 0; // dispatcher thread
    bool RingSeen = false;        // ControlLock
    TIOQueue ReceiveQueue;
    TIOQueue LogQueue;

    // Trace (ControlLock).
    std::atomic<bool> TracingOn{false};
    std::unique_ptr<std::uint8_t[]> TraceBuffer; // two bytes per entry: kind, data byte
    std::uint32_t TraceCapacity = 0;
    std::uint32_t TracePosition = 0;
    bool TraceWrapped = false;
    // Dispatch log.
    std::atomic<bool> LoggingOn{false};
    std::uint32_t LogLimit = 0;

    std::atomic<bool> InDispatch{false};
    std::atomic<bool> PurgePending{false};
    std::atomic<bool> ClosePending{false};
    std::uint32_t OpenTime = 0;
    std::atomic<bool> ThreadsStarted{false};
    std::atomic<bool> FreeOnExit{false};
    std::atomic<std::int32_t> LiveThreads{0};
    std::atomic<bool> Closing{false};
    // Set by ClosePort: threads that end from now on were asked to, so no loss is reported.
    std::atomic<bool> CloseRequested{false};
    // The first failure that ended a worker thread, and its system error (ControlLock).
    std::int32_t LossCode = ecOK;
    std::uint32_t LossSystemError = 0;
    std::atomic<std::uint32_t> LastSystemError{0};
    std::string DeviceName_;
    // Whether the platform behaves as the NT family (see platform_info.h); a field so tests can
    // exercise the other family's paths.
    bool NtFamily;

    // Serialises deliveries: the dispatcher thread makes them, and an I/O thread that fails
    // checks the status triggers once from its own thread.
    std::recursive_mutex DeliveryLock;

protected:
    // Reads the modem status lines (platform modem status bits); the device's by default.
    virtual bool QueryModemStatus(std::uint32_t& status);

private:
    // Drives DTR or RTS: 1 without touching it when flow control owns the line, otherwise the
    // escape's result (ecBadArgument when it failed); `requested` keeps the state asked for.
    std::int32_t DriveLine(bool on, bool byFlow, bool& requested, std::uint32_t raise,
                           std::uint32_t drop);
    // Repeats CheckStatusTriggers while it reports full success; false when a close became
    // pending on the way.
    bool RunStatusTriggers();
    // Delivers `msg` to every target; DeliverEvent without the early "nobody listens" exit.
    bool DeliverToTargets(std::uint32_t msg, std::uint32_t triggerHandle, std::uint32_t data);
    // Calls the event, procedure and window targets in turn; false when a close became pending.
    bool NotifyTargets(std::uint32_t msg, std::uint32_t triggerHandle, std::intptr_t lParam);
    // Appends a procedure or event target under a new handle and returns the handle.
    template <typename Targets, typename Target>
    std::int32_t AddTarget(Targets& targets, Target target);
    // Removes the procedure or event target with `handle`, if there is one.
    template <typename Targets> void RemoveTarget(Targets& targets, std::int32_t handle);
    std::int32_t NewTriggerHandle(std::int32_t tag);
    std::int32_t WriteTrace(const std::string& fileName, bool append, bool inHex, bool allHex);
    std::int32_t WriteDispatchLog(const std::string& fileName, bool append, bool inHex,
                                  bool allHex);
    bool Destroyed_ = false;
};

// Baud rate of a rate code: the platform's CBR_ codes map to their rates, anything else is the
// rate itself.
std::uint32_t ResolveBaud(std::uint32_t code);

} // namespace mbus::serial
