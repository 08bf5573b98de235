// Shows what the serial component cannot hand to a caller - an exception escaping one of its
// event handlers, a worker thread's failure - in the application's error box. Reports from other
// threads are queued to the GUI thread; there the box is shown directly.
#pragma once

class QCoreApplication;

namespace mbus::console {

// Installs the reporter for its lifetime (made on the GUI thread; the application object outlives
// it).
class ApplicationErrorReporter {
public:
    explicit ApplicationErrorReporter(QCoreApplication& application);
    ~ApplicationErrorReporter();
    ApplicationErrorReporter(const ApplicationErrorReporter&) = delete;
    ApplicationErrorReporter& operator=(const ApplicationErrorReporter&) = delete;
};

} // namespace mbus::console
