#include "serial/application_errors.h"

#include "serial/installed_hook.h"

#include <iostream>

namespace mbus::serial {
namespace {

InstalledHook<void(const std::string& message)>& Reporter() {
    static InstalledHook<void(const std::string& message)> reporter;
    return reporter;
}

} // namespace

void SetApplicationErrorReporter(ErrorReporter reporter) {
    Reporter().Install(std::move(reporter));
}

void ReportApplicationError(const std::string& message) {
    if (const ErrorReporter reporter = Reporter().Current())
        reporter(message);
    else
        std::cerr << message << std::endl;
}

} // namespace mbus::serial
