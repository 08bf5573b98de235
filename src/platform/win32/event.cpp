#include "platform/event.h"

#include "platform/system_error.h"
#include "platform/win32/event_state.h"

#include <algorithm>
#include <new>

namespace mbus::platform {

Event::Event(bool manualReset, bool initialState) : Impl_(std::make_unique<State>()) {
    Impl_->ManualReset = manualReset;
    Impl_->Handle = ::CreateEventW(nullptr, manualReset, initialState, nullptr);
    if (Impl_->Handle == nullptr)
        throw std::bad_alloc(); // out of kernel objects: nothing can wait on this event
}

Event::~Event() {
    ::CloseHandle(Impl_->Handle);
}

void Event::Set() {
    ::SetEvent(Impl_->Handle);
}

void Event::Reset() {
    ::ResetEvent(Impl_->Handle);
}

bool Event::IsManualReset() const {
    return Impl_->ManualReset;
}

std::uint32_t WaitOne(Event& event, std::uint32_t timeoutMs) {
    return ::WaitForSingleObject(event.Impl().Handle, timeoutMs);
}

std::uint32_t WaitAny(std::initializer_list<Event*> events, std::uint32_t timeoutMs) {
    return WaitAnyOf(std::span<Event* const>(events.begin(), events.size()), timeoutMs);
}

std::uint32_t WaitAnyOf(std::span<Event* const> events, std::uint32_t timeoutMs) {
    const std::size_t count = events.size();
    if (count < 1 || count > MAXIMUM_WAIT_OBJECTS ||
        std::any_of(events.begin(), events.end(), [](Event* e) { return e == nullptr; })) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    std::size_t index = 0;
    for (Event* event : events) {
        // The same event twice is refused here as everywhere, whatever the system would do.
        if (std::find(events.begin(), events.begin() + index, event) != events.begin() + index) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        handles[index++] = event->Impl().Handle;
    }
    return ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, timeoutMs);
}

} // namespace mbus::platform
