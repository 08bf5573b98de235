// The numbers the parts of the serial component pass to one another: the result codes of its
// operations (RaiseOnError turns the negative ones into exceptions), the option bits of the
// dispatcher's operations, the notify-need actions, the line error bits and codes, and the kinds
// of the dispatch log's entries. Comm event bits are the platform's (platform/comm_device.h).
#pragma once

#include <cstdint>

namespace mbus::serial {

// ---- Result codes -------------------------------------------------------------------------------
// 0 and positive results are no failure. Beside each code the exception RaiseOnError raises;
// raise_on_error.cpp holds the whole table of codes and classes.
inline constexpr std::int32_t ecOK = 0;
// A device operation failed; the system error is left in place ("Port exception").
inline constexpr std::int32_t ecFailed = -1;

// Minus a system error number: -162 ... -2 are raised as the runtime's I/O error (EInOutError),
// -8 as EOutOfMemory. The open of a port turns the first three into the component's own codes.
inline constexpr std::int32_t ecFirstSystemCode = -2;
inline constexpr std::int32_t ecLastSystemCode = -162;
inline constexpr std::int32_t ecFileNotFound = -2; // no such device
inline constexpr std::int32_t ecPathNotFound = -3; // no such device
inline constexpr std::int32_t ecAccessDenied = -5; // the device is held by another program
inline constexpr std::int32_t ecOutOfMemory = -8;
inline constexpr std::int32_t ecDeviceWrite = -160; // the write thread failed
inline constexpr std::int32_t ecDeviceRead = -161;  // the read or status thread failed

inline constexpr std::int32_t ecBadArgument = -1002; // EBadArgument

// Opening the port.
inline constexpr std::int32_t ecBadId = -2001;           // EBadId
inline constexpr std::int32_t ecNotOpen = -2007;         // ECommNotOpen
inline constexpr std::int32_t ecAlreadyOpen = -2008;     // EAlreadyOpen
inline constexpr std::int32_t ecNoPortSelected = -2011;  // ENoPortSelected
inline constexpr std::int32_t ecNotOpenedByTapi = -2012; // ENotOpenedByTapi

// Serial input and output.
inline constexpr std::int32_t ecNullApi = -3001;              // ENullApi
inline constexpr std::int32_t ecPutBlockFail = -3004;         // EPutBlockFail
inline constexpr std::int32_t ecOutputBufferTooSmall = -3006; // EOutputBufferTooSmall
inline constexpr std::int32_t ecBufferIsEmpty = -3007;        // EBufferIsEmpty
inline constexpr std::int32_t ecBaseAddressNotSet = -3010;    // EBaseAddressNotSet

// Triggers.
inline constexpr std::int32_t ecNoMoreTriggers = -5001;   // ENoMoreTriggers
inline constexpr std::int32_t ecTriggerTooLong = -5002;   // ETriggerTooLong
inline constexpr std::int32_t ecBadTriggerHandle = -5003; // EBadTriggerHandle

// An I/O thread could not make a queue buffer.
inline constexpr std::int32_t ecNoMem = -13868; // ETapiNoMem

// ---- Option bits --------------------------------------------------------------------------------
// OpenPort's options.
inline constexpr std::uint32_t kOpenDtrOn = 0x01;
inline constexpr std::uint32_t kOpenRtsOn = 0x02;
inline constexpr std::uint32_t kOpenDtrByFlow = 0x10; // DTR is driven by hardware flow control
inline constexpr std::uint32_t kOpenRtsByFlow = 0x20; // RTS is driven by hardware flow control

// SetHardwareFlow's and QueryFlow's hardware options.
inline constexpr std::uint32_t kHwFlowUseDTR = 1;
inline constexpr std::uint32_t kHwFlowUseRTS = 2;
inline constexpr std::uint32_t kHwFlowRequireDSR = 4;
inline constexpr std::uint32_t kHwFlowRequireCTS = 8;

// SetSoftwareFlow's and QueryFlow's software options.
inline constexpr std::uint32_t kSwFlowTransmit = 1;
inline constexpr std::uint32_t kSwFlowReceive = 2;

// The bit of the dispatcher's option word that the component's UseEventWord sets.
inline constexpr std::uint32_t kOptionEventWord = 4;

// ConfigureLine's values that keep the current setting.
inline constexpr std::int32_t kKeepBaud = 0;
inline constexpr std::int32_t kKeepParity = 5;
inline constexpr std::int32_t kKeepDataBits = 9;
inline constexpr std::int32_t kKeepStopBits = 3;

// DiscardQueued's choice of queue.
inline constexpr std::int32_t kDiscardOutput = 0;
inline constexpr std::int32_t kDiscardInput = 1;

// ---- Notify-need actions (UpdateNotifyNeed) -----------------------------------------------------
inline constexpr std::int32_t kNotifyNeedRecompute = 0;
inline constexpr std::int32_t kNotifyNeedComponentWants = 1;   // a trigger event is assigned
inline constexpr std::int32_t kNotifyNeedComponentIgnores = 2; // no trigger event is assigned

// ---- Line errors --------------------------------------------------------------------------------
// Bits accumulated in the dispatcher's LineErrorBits; the whole word is kLineErrorsThreadFailed
// after an I/O thread failed.
inline constexpr std::int32_t kLineErrorOverflow = 1;
inline constexpr std::int32_t kLineErrorOverrun = 2;
inline constexpr std::int32_t kLineErrorParity = 4;
inline constexpr std::int32_t kLineErrorFraming = 8;
inline constexpr std::int32_t kLineErrorBreak = 16;
inline constexpr std::int32_t kLineErrorsThreadFailed = -1;

// The codes TakeLineError reports (the Error of the component's line error event).
inline constexpr std::int32_t kLineCodeNone = 0;
inline constexpr std::int32_t kLineCodeOverflow = 1;
inline constexpr std::int32_t kLineCodeOverrun = 2;
inline constexpr std::int32_t kLineCodeParity = 3;
inline constexpr std::int32_t kLineCodeFraming = 4;
inline constexpr std::int32_t kLineCodeBreak = 9;
inline constexpr std::int32_t kLineCodeThreadFailed = 10;

// ---- Dispatch log entries -----------------------------------------------------------------------
// Kinds, shown as the message table's text of kLogKindText + kind.
inline constexpr std::uint8_t lkDispatch = 1;
inline constexpr std::uint8_t lkTrigger = 2;
inline constexpr std::uint8_t lkTargetAdded = 7;
inline constexpr std::uint8_t lkTargetRemoved = 8;
inline constexpr std::uint8_t lkTriggerDataChanged = 9;

// Sub-kinds, shown as the text of kLogDetailText + sub-kind (nothing for 0).
inline constexpr std::uint16_t ldReadCom = 1;         // bytes moved into the input buffer
inline constexpr std::uint16_t ldWriteCom = 2;        // bytes queued for output
inline constexpr std::uint16_t ldAvail = 5;           // a data-available notification
inline constexpr std::uint16_t ldTimer = 6;           // a timer trigger fired
inline constexpr std::uint16_t ldData = 7;            // a data trigger fired
inline constexpr std::uint16_t ldStatus = 8;          // a status trigger fired; a full input buffer
inline constexpr std::uint16_t ldAvailThreshold = 16; // the data-available threshold changed
inline constexpr std::uint16_t ldWindow = 17;         // a notification window

inline constexpr std::int32_t kLogKindText = 15001;
inline constexpr std::int32_t kLogDetailText = 15100;
inline constexpr std::int32_t kLogColumnsText = 15501; // the header's column titles
inline constexpr std::int32_t kLogRuleText = 15502;    // the rule under them

} // namespace mbus::serial
