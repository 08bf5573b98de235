#include "serial/exceptions.h"

#include "serial/message_table.h"

#include <utility>

namespace mbus::serial {

Exception::Exception(std::string message)
    : Message_(std::make_shared<const std::string>(std::move(message))) {}

EInOutError::EInOutError(std::string message, std::int32_t errorCode)
    : Exception(std::move(message)), ErrorCode_(errorCode) {}

EOutOfMemory::EOutOfMemory() : Exception("Out of memory") {}

// MessageForCode ignores the sign, so the code is passed as it is: the message is that of the
// code's absolute value, and the most negative code needs no negation that would overflow.
ECommException::ECommException(std::int32_t code) : Exception(MessageForCode(code)), Code_(code) {}

ECommException::ECommException(std::string message) : Exception(std::move(message)), Code_(0) {}

} // namespace mbus::serial
