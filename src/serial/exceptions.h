// The exceptions the serial component raises at its surface. Exception is the runtime's general
// exception (a message); ECommException adds the result code it was made for, and ten families
// group the codes by area, each with one class per code that has its own class. The runtime's
// I/O-error and out-of-memory exceptions are here too, because RaiseOnError raises them for the
// system's error codes. Every class derives from std::exception, so one handler catches them all.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace mbus::serial {

// The runtime's general exception: a message text, which what() returns.
class Exception : public std::exception {
public:
    explicit Exception(std::string message);

    const std::string& Message() const { return *Message_; }
    const char* what() const noexcept override { return Message_->c_str(); }

private:
    // Shared, so that copying an exception never throws.
    std::shared_ptr<const std::string> Message_;
};

// The runtime's I/O error: a message and the system's error number.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, std::int32_t errorCode);

    std::int32_t ErrorCode() const { return ErrorCode_; }

private:
    std::int32_t ErrorCode_;
};

// The runtime's out-of-memory exception, always with the message "Out of memory".
class EOutOfMemory : public Exception {
public:
    EOutOfMemory();
};

// Root of the component's exceptions. Made from a code, it carries that code and the message
// table's text for the code's absolute value (MessageForCode); made from a message, Code is 0.
class ECommException : public Exception {
public:
    explicit ECommException(std::int32_t code);
    explicit ECommException(std::string message);

    std::int32_t Code() const { return Code_; }

private:
    std::int32_t Code_;
};

// The families, then their members. Every member derives directly from its family and adds
// nothing; RaiseOnError chooses the class by code. One class a line keeps the lists readable.
// clang-format off
class EGeneral : public ECommException { public: using ECommException::ECommException; };
class EOpenComm : public ECommException { public: using ECommException::ECommException; };
class ESerialIO : public ECommException { public: using ECommException::ECommException; };
class EModem : public ECommException { public: using ECommException::ECommException; };
class ETrigger : public ECommException { public: using ECommException::ECommException; };
class EProtocol : public ECommException { public: using ECommException::ECommException; };
class EINI : public ECommException { public: using ECommException::ECommException; };
class EFax : public ECommException { public: using ECommException::ECommException; };
class ETapi : public ECommException { public: using ECommException::ECommException; };
class ERas : public ECommException { public: using ECommException::ECommException; };

// EGeneral
class EBadArgument : public EGeneral { public: using EGeneral::EGeneral; };
class EGotQuitMsg : public EGeneral { public: using EGeneral::EGeneral; };
class EBufferTooBig : public EGeneral { public: using EGeneral::EGeneral; };
class EPortNotAssigned : public EGeneral { public: using EGeneral::EGeneral; };
class EInternal : public EGeneral { public: using EGeneral::EGeneral; };
class EModemNotAssigned : public EGeneral { public: using EGeneral::EGeneral; };
class EPhonebookNotAssigned : public EGeneral { public: using EGeneral::EGeneral; };
class ECannotUseWithWinSock : public EGeneral { public: using EGeneral::EGeneral; };

// EOpenComm
class EBadId : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EBaudRate : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EByteSize : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EDefault : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EHardware : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EMemory : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ECommNotOpen : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EAlreadyOpen : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENoHandles : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENoTimers : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENoPortSelected : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENotOpenedByTapi : public EOpenComm { public: using EOpenComm::EOpenComm; };

// ESerialIO
class ENullApi : public ESerialIO { public: using ESerialIO::ESerialIO; };
class ERegisterHandlerFailed : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EPutBlockFail : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EGetBlockFail : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EOutputBufferTooSmall : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EBufferIsEmpty : public ESerialIO { public: using ESerialIO::ESerialIO; };
class ETracingNotEnabled : public ESerialIO { public: using ESerialIO::ESerialIO; };
class ELoggingNotEnabled : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EBaseAddressNotSet : public ESerialIO { public: using ESerialIO::ESerialIO; };

// EModem
class EModemNotStarted : public EModem { public: using EModem::EModem; };
class EModemBusy : public EModem { public: using EModem::EModem; };
class EModemNotDialing : public EModem { public: using EModem::EModem; };
class EModemNotResponding : public EModem { public: using EModem::EModem; };
class EModemRejectedCommand : public EModem { public: using EModem::EModem; };
class EModemStatusMismatch : public EModem { public: using EModem::EModem; };
class EAlreadyDialing : public EModem { public: using EModem::EModem; };
class ENotDialing : public EModem { public: using EModem::EModem; };

// ETrigger
class ENoMoreTriggers : public ETrigger { public: using ETrigger::ETrigger; };
class ETriggerTooLong : public ETrigger { public: using ETrigger::ETrigger; };
class EBadTriggerHandle : public ETrigger { public: using ETrigger::ETrigger; };

// EINI
class EKeyTooLong : public EINI { public: using EINI::EINI; };
class EDataTooLarge : public EINI { public: using EINI::EINI; };
class EIniWrite : public EINI { public: using EINI::EINI; };
class EIniRead : public EINI { public: using EINI::EINI; };
class ERecordExists : public EINI { public: using EINI::EINI; };
class ERecordNotFound : public EINI { public: using EINI::EINI; };
class EDatabaseFull : public EINI { public: using EINI::EINI; };
class EDatabaseEmpty : public EINI { public: using EINI::EINI; };
class EBadFieldList : public EINI { public: using EINI::EINI; };
class EBadFieldForIndex : public EINI { public: using EINI::EINI; };

// EFax
class EFaxBadFormat : public EFax { public: using EFax::EFax; };
class EBadGraphicsFormat : public EFax { public: using EFax::EFax; };
class EConvertAbort : public EFax { public: using EFax::EFax; };
class EUnpackAbort : public EFax { public: using EFax::EFax; };
class ECantMakeBitmap : public EFax { public: using EFax::EFax; };
class EInvalidPageNumber : public EFax { public: using EFax::EFax; };
class EFaxBadMachine : public EFax { public: using EFax::EFax; };
class EFaxBadModemResult : public EFax { public: using EFax::EFax; };
class EFaxTrainError : public EFax { public: using EFax::EFax; };
class EFaxInitError : public EFax { public: using EFax::EFax; };
class EFaxBusy : public EFax { public: using EFax::EFax; };
class EFaxVoiceCall : public EFax { public: using EFax::EFax; };
class EFaxDataCall : public EFax { public: using EFax::EFax; };
class EFaxNoDialTone : public EFax { public: using EFax::EFax; };
class EFaxNoCarrier : public EFax { public: using EFax::EFax; };
class EFaxSessionError : public EFax { public: using EFax::EFax; };
class EFaxPageError : public EFax { public: using EFax::EFax; };

// ETapi: one class per telephony line error, in the order of their codes.
class ETapiAllocated : public ETapi { public: using ETapi::ETapi; };
class ETapiBadDeviceID : public ETapi { public: using ETapi::ETapi; };
class ETapiBearerModeUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiCallUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiCompletionOverrun : public ETapi { public: using ETapi::ETapi; };
class ETapiConferenceFull : public ETapi { public: using ETapi::ETapi; };
class ETapiDialBilling : public ETapi { public: using ETapi::ETapi; };
class ETapiDialDialtone : public ETapi { public: using ETapi::ETapi; };
class ETapiDialPrompt : public ETapi { public: using ETapi::ETapi; };
class ETapiDialQuiet : public ETapi { public: using ETapi::ETapi; };
class ETapiIncompatibleApiVersion : public ETapi { public: using ETapi::ETapi; };
class ETapiIncompatibleExtVersion : public ETapi { public: using ETapi::ETapi; };
class ETapiIniFileCorrupt : public ETapi { public: using ETapi::ETapi; };
class ETapiInUse : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddress : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddressID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddressMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddressState : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAppHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAppName : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalBearerMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallComplMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallParams : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallPrivilege : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallSelect : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallState : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallStatelist : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCard : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCompletionID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalConfCallHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalConsultCallHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCountryCode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDeviceClass : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDeviceHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDialParams : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDigitList : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDigitMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDigits : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalExtVersion : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalGroupID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalLineHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalLineState : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalLocation : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalMediaList : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalMediaMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalMessageID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalParam : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalParkID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalParkMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalPointer : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalPrivSelect : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalRate : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalRequestMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTerminalID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTerminalMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTimeout : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTone : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalToneList : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalToneMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTransferMode : public ETapi { public: using ETapi::ETapi; };
class ETapiLineMapperFailed : public ETapi { public: using ETapi::ETapi; };
class ETapiNoConference : public ETapi { public: using ETapi::ETapi; };
class ETapiNoDevice : public ETapi { public: using ETapi::ETapi; };
class ETapiNoDriver : public ETapi { public: using ETapi::ETapi; };
class ETapiNoMem : public ETapi { public: using ETapi::ETapi; };
class ETapiNoRequest : public ETapi { public: using ETapi::ETapi; };
class ETapiNotOwner : public ETapi { public: using ETapi::ETapi; };
class ETapiNotRegistered : public ETapi { public: using ETapi::ETapi; };
class ETapiOperationFailed : public ETapi { public: using ETapi::ETapi; };
class ETapiOperationUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiRateUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiResourceUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiRequestOverrun : public ETapi { public: using ETapi::ETapi; };
class ETapiStructureTooSmall : public ETapi { public: using ETapi::ETapi; };
class ETapiTargetNotFound : public ETapi { public: using ETapi::ETapi; };
class ETapiTargetSelf : public ETapi { public: using ETapi::ETapi; };
class ETapiUninitialized : public ETapi { public: using ETapi::ETapi; };
class ETapiUserUserInfoTooBig : public ETapi { public: using ETapi::ETapi; };
class ETapiReinit : public ETapi { public: using ETapi::ETapi; };
class ETapiAddressBlocked : public ETapi { public: using ETapi::ETapi; };
class ETapiBillingRejected : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalFeature : public ETapi { public: using ETapi::ETapi; };
class ETapiNoMultipleInstance : public ETapi { public: using ETapi::ETapi; };
class ETapiBusy : public ETapi { public: using ETapi::ETapi; };
class ETapiNotSet : public ETapi { public: using ETapi::ETapi; };
class ETapiNoSelect : public ETapi { public: using ETapi::ETapi; };
class ETapiLoadFail : public ETapi { public: using ETapi::ETapi; };
class ETapiGetAddrFail : public ETapi { public: using ETapi::ETapi; };
class ETapiVoiceNotSupported : public ETapi { public: using ETapi::ETapi; };
class ETapiWaveFail : public ETapi { public: using ETapi::ETapi; };
class ETapiTranslateFail : public ETapi { public: using ETapi::ETapi; };

// ERas
class ERasLoadFail : public ERas { public: using ERas::ERas; };
// clang-format on

} // namespace mbus::serial
