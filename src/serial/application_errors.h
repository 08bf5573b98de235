// Where the serial component sends the message of an exception that nobody up the call stack can
// catch: a worker thread's failure, or an exception escaping an event handler on the main
// thread. The console installs a reporter that shows the application's error box; without one
// the message goes to standard error.
#pragma once

#include <functional>
#include <string>

namespace mbus::serial {

using ErrorReporter = std::function<void(const std::string& message)>;

// Installs the reporter (empty: standard error). May be called from any thread.
void SetApplicationErrorReporter(ErrorReporter reporter);

// Hands the message to the reporter; callable from any thread.
void ReportApplicationError(const std::string& message);

} // namespace mbus::serial
