#include "serial/application_errors.h"

#include <iostream>
#include <mutex>

namespace mbus::serial {
namespace {

std::mutex& ReporterLock() {
    static std::mutex lock;
    return lock;
}

ErrorReporter& Reporter() {
    static ErrorReporter reporter;
    return reporter;
}

} // namespace

void SetApplicationErrorReporter(ErrorReporter reporter) {
    std::lock_guard<std::mutex> guard(ReporterLock());
    Reporter() = std::move(reporter);
}

void ReportApplicationError(const std::string& message) {
    ErrorReporter reporter;
    {
        std::lock_guard<std::mutex> guard(ReporterLock());
        reporter = Reporter();
    }
    if (reporter)
        reporter(message);
    else
        std::cerr << message << std::endl;
}

} // namespace mbus::serial
