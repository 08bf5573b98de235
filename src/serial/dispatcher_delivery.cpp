// The event side of the dispatcher: the dispatch pass the dispatcher thread runs over and over,
// evaluation of the data-available rule and of the data, status and timer triggers, and the
// delivery of each notification to the registered targets (event methods, procedures, windows).
#include "serial/base_dispatcher.h"

#include "platform/comm_device.h"
#include "platform/message_window.h"
#include "platform/worker_thread.h"
#include "serial/codes.h"
#include "serial/notify_messages.h"

#include <algorithm>
#include <atomic>
#include <type_traits>

namespace mbus::serial {

namespace {

using platform::EV_BREAK;
using platform::EV_CTS;
using platform::EV_DSR;
using platform::EV_ERR;
using platform::EV_RING;
using platform::EV_RING_TRAILING;
using platform::EV_RLSD;

constexpr std::uint32_t kRingEvents = EV_RING | EV_RING_TRAILING;
constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | kRingEvents;
constexpr std::uint32_t kLineEvents = EV_BREAK | EV_ERR;
constexpr std::uint32_t kNotifyTimeoutMs = 3000;

// Removes a notification target from its list; during a delivery it is only marked deleted, and
// the delivery removes it when it ends. Call with ControlLock held.
template <typename Targets>
void DropTarget(Targets& targets, typename Targets::iterator target, bool inDispatch,
                std::atomic<bool>& purgePending) {
    if (inDispatch) {
        target->Deleted = true;
        purgePending.store(true);
    } else {
        targets.erase(target);
    }
}

} // namespace

// ---- The dispatch pass --------------------------------------------------------------------------

bool TBaseDispatcher::RunStatusTriggers() {
    while (CheckStatusTriggers()) {
        if (ClosePending.load())
            return false;
    }
    return !ClosePending.load();
}

void TBaseDispatcher::ServiceQueue() {
    StatusWord = 0;
    if (TIOBuffer* head = ReceiveQueue.ClaimHead()) {
        if (head->BufferKind() == TIOBuffer::Kind::Status) {
            StatusWord = static_cast<TStatusBuffer*>(head)->Events;
            ReceiveQueue.RemoveHead();
        } else {
            ReceiveQueue.ReleaseClaim(head);
        }
    }

    if (StatusWord & kRingEvents) {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        RingSeen = true;
    }
    // After a modem or line change the status triggers are checked at once (not during a
    // delivery); false when a close became pending.
    const auto checkStatusChange = [this] {
        if (InDispatch.load())
            return true;
        if (!RunStatusTriggers())
            return false;
        if (StatusHit.load())
            ResetStatusHits();
        return true;
    };
    if (StatusWord & kModemEvents) {
        RefreshModemDeltas();
        if (!checkStatusChange())
            return;
    }
    if (StatusWord & kLineEvents) {
        RefreshLineErrors();
        if (!checkStatusChange())
            return;
    }

    FillInputBuffer();

    if (!InDispatch.load()) {
        const std::uint8_t status = CurrentModemStatus();
        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            ModemBits = status;
        }
        if (!RunStatusTriggers())
            return;
        while (CheckDataTriggers()) {
            if (ClosePending.load())
                return;
        }
        if (ClosePending.load())
            return;
    }
    if (StatusHit.load())
        ResetStatusHits();
    PassDone.Set();
}

void TBaseDispatcher::ServiceTimers() {
    if (ClosePending.load() || InDispatch.load())
        return;
    StatusHit.store(false);
    for (;;) {
        const bool status = CheckStatusTriggers();
        const bool timer = status ? false : CheckTimerTriggers();
        if ((!status && !timer) || ClosePending.load())
            break;
    }
    if (StatusHit.load())
        ResetStatusHits();
}

// ---- Data triggers and data available -----------------------------------------------------------

bool TBaseDispatcher::CheckDataTriggers() {
    // The unread bytes count as new when the listeners or the threshold changed since they were
    // announced.
    if (ReannounceUnread.exchange(false))
        ScannedSinceNotify = true;
    bool anyDataTrigger;
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        anyDataTrigger = !DataTriggers.empty();
    }
    if (!anyDataTrigger) {
        // Nothing to match: the new bytes are scanned in one step rather than one by one.
        std::lock_guard<std::recursive_mutex> guard(InputLock);
        if (Unscanned > 0) {
            ScanPos = InputRing.Advance(ScanPos, Unscanned);
            Unscanned = 0;
            ScannedSinceNotify = true;
        }
    }
    for (;;) {
        std::uint8_t byte;
        {
            std::lock_guard<std::recursive_mutex> guard(InputLock);
            if (!InBuffer || Unscanned <= 0)
                break;
            byte = InputRing.At(ScanPos);
            --Unscanned;
        }
        ScannedSinceNotify = true;

        std::int32_t longest = 0;
        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            for (DataTrigger& trigger : DataTriggers) {
                if (trigger.Length == 0 || trigger.Matched != 0)
                    continue;
                if (MatchStep(trigger.Counters, byte, trigger.Length, trigger.IgnoreCase != 0,
                              trigger.Pattern)) {
                    trigger.Matched = -1;
                    longest = std::max(longest, trigger.Length);
                }
            }
        }
        if (longest == 0) {
            ScanPos = InputRing.Advance(ScanPos, 1);
            continue;
        }

        bool result = true;
        const std::uint32_t threshold = AvailThresholdValue();
        if (threshold != 0 && ScannedSinceNotify) {
            // Unread bytes in front of the pattern's first byte.
            std::int32_t count;
            {
                std::lock_guard<std::recursive_mutex> guard(InputLock);
                count = std::max(InputRing.Offset(ScanPos) - (longest - 1), 0);
                if (PeekMode)
                    count = std::max(count - ConsumedNow(), 0);
            }
            if (count >= static_cast<std::int32_t>(threshold)) {
                AddLogEntry(lkTrigger, ldAvail, static_cast<std::uint32_t>(count), nullptr, 0);
                result = DeliverEvent(MsgTriggerAvail, static_cast<std::uint32_t>(count), 0);
                NotifyPos = ScanPos;
                ScannedSinceNotify = false;
            }
        }

        std::vector<std::pair<std::int32_t, std::int32_t>> matched; // handle, length
        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            for (auto it = DataTriggers.rbegin(); it != DataTriggers.rend(); ++it) {
                if (it->Matched != 0) {
                    it->Matched = 0;
                    matched.emplace_back(it->Handle, it->Length);
                }
            }
        }
        for (const auto& [handle, length] : matched) {
            AddLogEntry(lkTrigger, ldData, static_cast<std::uint32_t>(handle), nullptr, 0);
            result = DeliverEvent(MsgTriggerData, static_cast<std::uint32_t>(handle),
                                  static_cast<std::uint32_t>(length));
        }
        // The matched byte was noted before it was passed: it counts as scanned since.
        ScanPos = InputRing.Advance(ScanPos, 1);
        ScannedSinceNotify = true;
        return result;
    }

    const std::int32_t count = InputCount();
    const std::uint32_t threshold = AvailThresholdValue();
    if (threshold != 0 && ScannedSinceNotify && count >= static_cast<std::int32_t>(threshold)) {
        AddLogEntry(lkTrigger, ldAvail, static_cast<std::uint32_t>(count), nullptr, 0);
        const bool result = DeliverEvent(MsgTriggerAvail, static_cast<std::uint32_t>(count), 0);
        NotifyPos = ScanPos;
        ScannedSinceNotify = false;
        return result;
    }
    return false;
}

// ---- Status and timer triggers ------------------------------------------------------------------

bool TBaseDispatcher::CheckStatusTriggers() {
    std::lock_guard<std::recursive_mutex> delivery(DeliveryLock);
    for (std::size_t i = 0;; ++i) {
        StatusTrigger trigger;
        std::uint32_t modemBits;
        std::int32_t lineErrors;
        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            if (i >= StatusTriggers.size())
                return false;
            trigger = StatusTriggers[i];
            modemBits = ModemBits;
            lineErrors = LineErrorBits;
        }
        if (!trigger.Armed || trigger.FiredThisPass)
            continue;

        bool fires = false;
        std::uint32_t data = 0;
        switch (trigger.Kind) {
        case kTriggerModemStatus:
            fires = (((trigger.Value & 0xFF) ^ modemBits) & (trigger.Value >> 8)) != 0;
            break;
        case kTriggerLineError:
            fires = (trigger.Value & lineErrors) != 0;
            break;
        case kTriggerOutbuffFree: {
            const std::int32_t room = OutputRoom();
            fires = room >= trigger.Value;
            data = static_cast<std::uint32_t>(room);
            break;
        }
        case kTriggerOutbuffUsed: {
            const std::int32_t used = OutputInUse();
            fires = used <= trigger.Value;
            data = static_cast<std::uint32_t>(used);
            break;
        }
        case kTriggerOutSent:
            fires = OutSentPending.exchange(false);
            break;
        default:
            break;
        }
        if (!fires)
            continue;

        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            const auto it = FindByHandle(StatusTriggers, trigger.Handle);
            if (it == StatusTriggers.end())
                continue; // removed meanwhile
            it->Armed = 0;
            it->FiredThisPass = 1;
            if (trigger.Kind == kTriggerLineError)
                it->Value = static_cast<std::uint16_t>(LineErrorBits & 0xFFFF);
        }
        StatusHit.store(true);
        AddLogEntry(lkTrigger, ldStatus, static_cast<std::uint32_t>(trigger.Handle), nullptr, 0);
        return DeliverEvent(MsgTriggerStatus, static_cast<std::uint32_t>(trigger.Handle), data);
    }
}

bool TBaseDispatcher::CheckTimerTriggers() {
    std::int32_t handle = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        for (TimerTrigger& trigger : TimerTriggers) {
            if (trigger.Armed != 0 && TickTimerDone(trigger.Timer)) {
                trigger.Armed = 0;
                handle = trigger.Handle;
                break;
            }
        }
    }
    if (handle == 0)
        return false;
    AddLogEntry(lkTrigger, ldTimer, static_cast<std::uint32_t>(handle), nullptr, 0);
    return DeliverEvent(MsgTriggerTimer, static_cast<std::uint32_t>(handle), 0);
}

// ---- Delivery -----------------------------------------------------------------------------------

bool TBaseDispatcher::DeliverEvent(std::uint32_t msg, std::uint32_t triggerHandle,
                                   std::uint32_t data) {
    if (!NotifyNeeded.load())
        return true;
    std::lock_guard<std::recursive_mutex> delivery(DeliveryLock);
    return DeliverToTargets(msg, triggerHandle, data);
}

bool TBaseDispatcher::DeliverToTargets(std::uint32_t msg, std::uint32_t triggerHandle,
                                       std::uint32_t data) {
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        InDispatch.store(true);
    }
    const bool peeking = msg == MsgTriggerAvail || msg == MsgTriggerData;
    {
        // Peek mode starts with the first target's window (NotifyTargets): a byte taken before
        // that, outside any handler, leaves the buffer as it would outside a delivery, so the
        // window that opens next does not hand it out again.
        std::lock_guard<std::recursive_mutex> guard(InputLock);
        MaxConsumed = 0;
    }

    bool result = NotifyTargets(msg, triggerHandle, MakeNotifyParam(RegistryHandle_, data));
    const bool completed = result;
    if (completed && peeking) {
        std::lock_guard<std::recursive_mutex> guard(InputLock);
        // A take made in peek mode after the last target's count was folded in (ReadChar
        // outside the handler while the delivery ends) counts too, or its byte would come again.
        MaxConsumed = std::max(MaxConsumed, Consumed);
        PeekMode = false;
        InputRing.Drop(MaxConsumed);
        if (msg == MsgTriggerAvail && MaxConsumed != static_cast<std::int32_t>(triggerHandle))
            result = false;
    }

    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        InDispatch.store(false);
        if (PurgePending.load()) {
            std::erase_if(WindowTargets, [](const WindowTarget& t) { return t.Deleted; });
            std::erase_if(ProcTargets, [](const ProcTarget& t) { return t.Deleted; });
            std::erase_if(EventTargets, [](const EventTarget& t) { return t.Deleted; });
            PurgePending.store(false);
            UpdateNotifyNeed(kNotifyNeedRecompute);
        }
    }
    if (completed) {
        std::lock_guard<std::recursive_mutex> guard(InputLock);
        Consumed = 0;
    }
    return result;
}

bool TBaseDispatcher::NotifyTargets(std::uint32_t msg, std::uint32_t triggerHandle,
                                    std::intptr_t lParam) {
    // Calls `notify` for each target of the list that is not marked deleted. Each target starts
    // with Consumed 0; afterwards the most any target took is kept. A close that became pending
    // while a target ran ends the delivery at once (false).
    const bool peeking = msg == MsgTriggerAvail || msg == MsgTriggerData;
    const auto notifyAll = [this, peeking](auto& targets, const auto& notify) {
        for (std::size_t i = 0;; ++i) {
            typename std::remove_reference_t<decltype(targets)>::value_type target;
            {
                std::lock_guard<std::recursive_mutex> guard(ControlLock);
                if (i >= targets.size())
                    return true;
                target = targets[i];
            }
            {
                // The target takes the announced bytes through the handler window.
                std::lock_guard<std::recursive_mutex> guard(InputLock);
                Consumed = 0;
                PeekMode = peeking;
                if (PeekMode && InBuffer)
                    HandlerWindow.Open(InBuffer.get(), InTail, UnreadCount());
            }
            if (!target.Deleted)
                notify(target);
            {
                std::lock_guard<std::recursive_mutex> guard(InputLock);
                if (const std::optional<std::int32_t> taken = HandlerWindow.Close())
                    Consumed = *taken;
            }
            if (ClosePending.load())
                return false;
            std::lock_guard<std::recursive_mutex> guard(InputLock);
            MaxConsumed = std::max(MaxConsumed, Consumed);
        }
    };

    const bool eventsDone = notifyAll(EventTargets, [&](const EventTarget& target) {
        if (!target.Method)
            return;
        if (target.Synchronize)
            platform::WorkerThread::Synchronize([&] { target.Method(msg, triggerHandle, lParam); });
        else
            target.Method(msg, triggerHandle, lParam);
    });
    if (!eventsDone)
        return false;

    const bool procsDone = notifyAll(ProcTargets, [&](const ProcTarget& target) {
        if (target.Proc)
            target.Proc(msg, triggerHandle, lParam);
    });
    if (!procsDone)
        return false;

    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        if (WindowTargets.size() <= 1 && !ComponentWants.load())
            return true;
    }
    return notifyAll(WindowTargets, [&](const WindowTarget& target) {
        std::intptr_t answer = 0;
        platform::SendMessageTimeout(target.Window, msg, triggerHandle, lParam,
                                     platform::SMTO_BLOCK, kNotifyTimeoutMs, &answer);
    });
}

// ---- Targets ------------------------------------------------------------------------------------

void TBaseDispatcher::AddNotifyWindow(std::uint32_t window) {
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        WindowTargets.push_back({window, false});
        NotifyNeeded.store(true);
    }
    AnnounceUnreadAgain();
    AddLogEntry(lkTargetAdded, ldWindow, window, nullptr, 0);
}

void TBaseDispatcher::RemoveNotifyWindow(std::uint32_t window) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const auto it = std::find_if(WindowTargets.begin(), WindowTargets.end(),
                                 [window](const WindowTarget& t) { return t.Window == window; });
    if (it == WindowTargets.end()) {
        UpdateNotifyNeed(kNotifyNeedRecompute);
        return;
    }
    AddLogEntry(lkTargetRemoved, ldWindow, window, nullptr, 0);
    DropTarget(WindowTargets, it, InDispatch.load(), PurgePending);
}

template <typename Targets, typename Target>
std::int32_t TBaseDispatcher::AddTarget(Targets& targets, Target target) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const std::int32_t handle = NextTargetHandle++;
    target.Handle = handle;
    targets.push_back(std::move(target));
    UpdateNotifyNeed(kNotifyNeedRecompute);
    AnnounceUnreadAgain();
    return handle;
}

template <typename Targets>
void TBaseDispatcher::RemoveTarget(Targets& targets, std::int32_t handle) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (const auto it = FindByHandle(targets, handle); it != targets.end())
        DropTarget(targets, it, InDispatch.load(), PurgePending);
    UpdateNotifyNeed(kNotifyNeedRecompute);
}

std::int32_t TBaseDispatcher::AddNotifyProc(NotifyProc proc) {
    return AddTarget(ProcTargets, ProcTarget{0, std::move(proc), false});
}

void TBaseDispatcher::RemoveNotifyProc(std::int32_t handle) {
    RemoveTarget(ProcTargets, handle);
}

std::int32_t TBaseDispatcher::AddNotifyEvent(NotifyProc method, bool synchronize) {
    return AddTarget(EventTargets, EventTarget{0, std::move(method), false, synchronize});
}

void TBaseDispatcher::RemoveNotifyEvent(std::int32_t handle) {
    RemoveTarget(EventTargets, handle);
}

void TBaseDispatcher::UpdateNotifyNeed(std::int32_t action) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const bool others = WindowTargets.size() > 1 || !ProcTargets.empty() || !EventTargets.empty();
    switch (action) {
    case kNotifyNeedRecompute:
        NotifyNeeded.store(others || ComponentWants.load());
        break;
    case kNotifyNeedComponentWants:
        // Its window may have been told of bytes while the component wanted no events.
        ComponentWants.store(true);
        NotifyNeeded.store(true);
        AnnounceUnreadAgain();
        break;
    case kNotifyNeedComponentIgnores:
        ComponentWants.store(false);
        NotifyNeeded.store(others);
        break;
    default:
        break;
    }
    KickDispatcher();
}

void TBaseDispatcher::SetAvailThreshold(std::uint32_t count) {
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        AvailThreshold = count;
    }
    AnnounceUnreadAgain();
    AddLogEntry(lkTriggerDataChanged, ldAvailThreshold, count, nullptr, 0);
}

std::uint32_t TBaseDispatcher::AvailThresholdValue() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    return AvailThreshold;
}

} // namespace mbus::serial
