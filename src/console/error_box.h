// The application's error box: what a window handler lets escape ends that handler and is shown
// here (stop icon, OK, the application title as caption), and the program goes on with the next
// event. Every handler of the main window runs through RunGuarded.
#pragma once

#include <QString>

#include <exception>

namespace mbus::console {

// The message as the box shows it: "." appended when its last character sorts above "." (a
// letter, a digit or any non-ASCII character; not ".", "!", ")", a quote or a blank).
QString ErrorBoxText(const QString& message);

// Shows the error box for `message` (UTF-8 or any QString).
void ShowErrorBox(const QString& message);

// Shows the error box for the exception being handled: its what() for a std::exception, a fixed
// text for anything else.
void ShowCurrentException(std::exception_ptr error);

// Runs `handler`; whatever it throws is shown in the error box instead of reaching the event
// loop.
template <class Handler> void RunGuarded(Handler&& handler) {
    try {
        handler();
    } catch (...) {
        ShowCurrentException(std::current_exception());
    }
}

} // namespace mbus::console
