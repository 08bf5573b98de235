// The serial component's errors: the message table and its lookup, the exceptions and the
// mapping from result codes to exceptions in RaiseOnError.
#include "serial/raise_on_error.h"

#include "platform/system_error.h"
#include "serial/component_base.h"
#include "serial/exceptions.h"
#include "serial/message_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <typeinfo>
#include <vector>

namespace mbus::serial {
namespace {

// Runs RaiseOnError for `code` with an owner that is not loading and hands what it throws,
// caught as E, to `check`; anything else thrown, or nothing, fails the test.
template <class E, class Check> void ExpectRaised(std::int32_t code, Check check) {
    const TComponent owner;
    try {
        RaiseOnError(&owner, code);
        ADD_FAILURE() << code << " raised nothing";
    } catch (const E& e) {
        check(e);
    } catch (const std::exception& e) {
        ADD_FAILURE() << code << " raised " << typeid(e).name() << ": " << e.what();
    }
}

bool EndsInTrailer(const std::string& text) {
    return !text.empty() && (text.back() == '.' || static_cast<unsigned char>(text.back()) <= 0x20);
}

// --- Message table ---------------------------------------------------------------------------

TEST(MessageTable, IsOrderedByMagnitudeAndBisectionFindsEveryEntry) {
    const auto table = MessageTable();
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.front().Number, 0);
    EXPECT_EQ(table.front().Text, "OK");
    for (std::size_t i = 1; i < table.size(); ++i)
        EXPECT_LT(std::abs(table[i - 1].Number), std::abs(table[i].Number)) << "entry " << i;

    for (const MessageNumberLookupRecord& entry : table) {
        const std::int32_t n = entry.Number;
        EXPECT_EQ(FindMessage(n), entry.Text) << n;
        EXPECT_EQ(FindMessage(-n), entry.Text) << n;
        // Only the low 16 bits of the code count.
        EXPECT_EQ(FindMessage(n + 0x10000), entry.Text) << n;
        EXPECT_EQ(FindMessage(n - 0x70000), entry.Text) << n;
    }
}

TEST(MessageTable, NumbersWithoutEntryFindNothing) {
    for (const std::int32_t code : {1, 7, 32, 163, 1010, 2013, 3011, 4001, 5004, 13804, 13867,
                                    13869, 15000, 15022, 15120, 15503, 32767, -32768})
        EXPECT_EQ(FindMessage(code), "") << code;
}

TEST(MessageTable, HoldsTheComponentsTexts) {
    EXPECT_EQ(FindMessage(-8), "Insufficient memory");
    EXPECT_EQ(FindMessage(-2011), "The ComNumber property of the TComPort has not been set");
    EXPECT_EQ(FindMessage(-13868), "No memory");
    // The dispatch log names kind k by 15001 + k and sub-kind d by 15100 + d.
    EXPECT_EQ(MessageForCode(15001 + 0), "No event");
    EXPECT_EQ(MessageForCode(15001 + 1), "Dispatch");
    EXPECT_EQ(MessageForCode(15001 + 20), "Script");
    EXPECT_EQ(MessageForCode(15100 + 1), "ReadCom");
    EXPECT_EQ(MessageForCode(15100 + 17), "Window");
    EXPECT_EQ(MessageForCode(15100 + 19), "Method");
    EXPECT_EQ(MessageForCode(15501), "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(MessageForCode(15502), "--------  --------  ------------  --------  ---------");
}

TEST(MessageForCode, FallsBackToTheSystemMessageWithoutTrailingStopsAndBlanks) {
    const std::string text = MessageForCode(32);
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(EndsInTrailer(text)) << text;
    EXPECT_TRUE(platform::SystemMessage(32).starts_with(text)) << text;
    EXPECT_EQ(MessageForCode(-32), text);
    EXPECT_EQ(MessageForCode(32 + 0x10000), text);

    // 15100 has an entry with an empty text, which falls back as well.
    EXPECT_EQ(FindMessage(15100), "");
    EXPECT_FALSE(MessageForCode(15100).empty());
}

TEST(MessageForCode, TrimsFullStopsAndControlCharactersAtTheEndOnly) {
    EXPECT_EQ(TrimMessageEnd("Access is denied.\r\n"), "Access is denied");
    EXPECT_EQ(TrimMessageEnd("Version 1.2 . \t\x01"), "Version 1.2");
    EXPECT_EQ(TrimMessageEnd("a.b"), "a.b");
    EXPECT_EQ(TrimMessageEnd(". ..\n"), "");
    EXPECT_EQ(TrimMessageEnd(""), "");
    // Bytes of multi-byte characters are above 0x7F and stay.
    EXPECT_EQ(TrimMessageEnd("Fehler \xC3\xBC"), "Fehler \xC3\xBC");
    EXPECT_EQ(TrimMessageEnd("Fehler\x7F"), "Fehler\x7F");
}

// --- Exceptions ------------------------------------------------------------------------------

TEST(ECommException, MadeFromACodeTakesTheMessageOfItsAbsoluteValue) {
    const ECommException negative(-2007);
    const ECommException positive(2007);
    EXPECT_EQ(negative.Message(), "ie_NOpen - device not open");
    EXPECT_EQ(positive.Message(), negative.Message());
    EXPECT_EQ(negative.Code(), -2007);
    EXPECT_EQ(positive.Code(), 2007);
    EXPECT_STREQ(negative.what(), "ie_NOpen - device not open");

    // The most negative code has no absolute value of its own; its message comes from the low
    // 16 bits all the same.
    const ECommException extreme(std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(extreme.Code(), std::numeric_limits<std::int32_t>::min());
}

TEST(ECommException, MadeFromAMessageHasCodeZero) {
    const EBadId e(std::string("Port exception"));
    EXPECT_EQ(e.Code(), 0);
    EXPECT_EQ(e.Message(), "Port exception");
    // Copies share the message.
    const ECommException copy = e;
    EXPECT_STREQ(copy.what(), "Port exception");
}

// --- RaiseOnError ----------------------------------------------------------------------------

TEST(RaiseOnError, ReturnsCodesThatAreNoFailure) {
    const TComponent owner;
    for (const std::int32_t code : {0, 1, 2007, 15001, std::numeric_limits<std::int32_t>::max()}) {
        EXPECT_EQ(RaiseOnError(&owner, code), code);
        EXPECT_EQ(RaiseOnError(nullptr, code), code);
    }
}

TEST(RaiseOnError, ReturnsFailuresWhileTheOwnerIsLoading) {
    TComponent owner;
    owner.BeginLoading();
    for (const std::int32_t code : {-2002, -8, -1, -32, -13868})
        EXPECT_EQ(RaiseOnError(&owner, code), code);

    owner.Loaded();
    EXPECT_THROW(RaiseOnError(&owner, -2002), EBaudRate);
}

TEST(RaiseOnError, RaisesWithoutOwner) {
    EXPECT_THROW(RaiseOnError(nullptr, -2002), EBaudRate);
}

TEST(RaiseOnError, SystemCodesRaiseTheRuntimesIoError) {
    ExpectRaised<EInOutError>(-2, [](const EInOutError& e) {
        EXPECT_EQ(e.Message(), "File not found");
        EXPECT_EQ(e.ErrorCode(), 2);
    });
    ExpectRaised<EInOutError>(-162, [](const EInOutError& e) {
        EXPECT_EQ(e.Message(), "General failure");
        EXPECT_EQ(e.ErrorCode(), 162);
    });
    // No table entry: the system's text for the number.
    ExpectRaised<EInOutError>(-32, [](const EInOutError& e) {
        EXPECT_FALSE(e.Message().empty());
        EXPECT_EQ(e.Message(), MessageForCode(32));
        EXPECT_EQ(e.ErrorCode(), 32);
    });
}

TEST(RaiseOnError, InsufficientMemoryRaisesOutOfMemory) {
    ExpectRaised<Exception>(-8, [](const Exception& e) {
        EXPECT_EQ(typeid(e), typeid(EOutOfMemory));
        EXPECT_EQ(e.Message(), "Out of memory");
    });
}

TEST(RaiseOnError, CodesWithoutClassRaisePortException) {
    for (const std::int32_t code :
         {-1, -163, -1001, -3002, -4009, -6007, -7009, -8006, -13804, -13849, -13887, -65538,
          std::numeric_limits<std::int32_t>::min()}) {
        ExpectRaised<ECommException>(code, [code](const ECommException& e) {
            EXPECT_EQ(typeid(e), typeid(ECommException)) << code;
            EXPECT_EQ(e.Message(), "Port exception") << code;
            EXPECT_EQ(e.Code(), 0) << code;
        });
    }
}

struct CodeClassCase {
    std::int32_t Code;
    const std::type_info& Class;
    bool (*InFamily)(const ECommException&);
};

template <class Family> bool In(const ECommException& e) {
    return dynamic_cast<const Family*>(&e) != nullptr;
}

TEST(RaiseOnError, CodesWithAClassRaiseItWithTheirCodeAndMessage) {
    const std::vector<CodeClassCase> cases = {
        // The serial path, in full.
        {-1002, typeid(EBadArgument), In<EGeneral>},
        {-1003, typeid(EGotQuitMsg), In<EGeneral>},
        {-1004, typeid(EBufferTooBig), In<EGeneral>},
        {-1005, typeid(EPortNotAssigned), In<EGeneral>},
        {-1006, typeid(EInternal), In<EGeneral>},
        {-1007, typeid(EModemNotAssigned), In<EGeneral>},
        {-1008, typeid(EPhonebookNotAssigned), In<EGeneral>},
        {-1009, typeid(ECannotUseWithWinSock), In<EGeneral>},
        {-2001, typeid(EBadId), In<EOpenComm>},
        {-2002, typeid(EBaudRate), In<EOpenComm>},
        {-2003, typeid(EByteSize), In<EOpenComm>},
        {-2004, typeid(EDefault), In<EOpenComm>},
        {-2005, typeid(EHardware), In<EOpenComm>},
        {-2006, typeid(EMemory), In<EOpenComm>},
        {-2007, typeid(ECommNotOpen), In<EOpenComm>},
        {-2008, typeid(EAlreadyOpen), In<EOpenComm>},
        {-2009, typeid(ENoHandles), In<EOpenComm>},
        {-2010, typeid(ENoTimers), In<EOpenComm>},
        {-2011, typeid(ENoPortSelected), In<EOpenComm>},
        {-2012, typeid(ENotOpenedByTapi), In<EOpenComm>},
        {-3001, typeid(ENullApi), In<ESerialIO>},
        {-3003, typeid(ERegisterHandlerFailed), In<ESerialIO>},
        {-3004, typeid(EPutBlockFail), In<ESerialIO>},
        {-3005, typeid(EGetBlockFail), In<ESerialIO>},
        {-3006, typeid(EOutputBufferTooSmall), In<ESerialIO>},
        {-3007, typeid(EBufferIsEmpty), In<ESerialIO>},
        {-3008, typeid(ETracingNotEnabled), In<ESerialIO>},
        {-3009, typeid(ELoggingNotEnabled), In<ESerialIO>},
        {-3010, typeid(EBaseAddressNotSet), In<ESerialIO>},
        {-5001, typeid(ENoMoreTriggers), In<ETrigger>},
        {-5002, typeid(ETriggerTooLong), In<ETrigger>},
        {-5003, typeid(EBadTriggerHandle), In<ETrigger>},
        {-13868, typeid(ETapiNoMem), In<ETapi>},
        // The other ranges, at their edges.
        {-4001, typeid(EModemNotStarted), In<EModem>},
        {-4008, typeid(ENotDialing), In<EModem>},
        {-6006, typeid(EProtocol), In<EProtocol>},
        {-6009, typeid(EProtocol), In<EProtocol>},
        {-7001, typeid(EKeyTooLong), In<EINI>},
        {-7003, typeid(EInternal), In<EGeneral>},
        {-7004, typeid(EIniWrite), In<EINI>},
        {-7008, typeid(ERecordNotFound), In<EINI>},
        {-7010, typeid(EDatabaseFull), In<EINI>},
        {-7012, typeid(EInternal), In<EGeneral>},
        {-7014, typeid(EBadFieldForIndex), In<EINI>},
        {-8001, typeid(EFaxBadFormat), In<EFax>},
        {-8005, typeid(ECantMakeBitmap), In<EFax>},
        {-8053, typeid(EInvalidPageNumber), In<EFax>},
        {-8060, typeid(EFaxBadMachine), In<EFax>},
        {-8070, typeid(EFaxPageError), In<EFax>},
        {-13801, typeid(ETapiAllocated), In<ETapi>},
        {-13803, typeid(ETapiBearerModeUnavail), In<ETapi>},
        {-13805, typeid(ETapiCallUnavail), In<ETapi>},
        {-13848, typeid(ETapiInvalMessageID), In<ETapi>},
        {-13850, typeid(ETapiInvalParam), In<ETapi>},
        {-13886, typeid(ETapiNoMultipleInstance), In<ETapi>},
        {-13928, typeid(ETapiBusy), In<ETapi>},
        {-13932, typeid(ETapiGetAddrFail), In<ETapi>},
        {-13935, typeid(ETapiVoiceNotSupported), In<ETapi>},
        {-13942, typeid(ETapiTranslateFail), In<ETapi>},
        {-13980, typeid(ERasLoadFail), In<ERas>},
    };
    for (const CodeClassCase& c : cases) {
        ExpectRaised<ECommException>(c.Code, [&c](const ECommException& e) {
            EXPECT_EQ(typeid(e), c.Class) << c.Code << " raised " << typeid(e).name();
            EXPECT_TRUE(c.InFamily(e)) << c.Code;
            EXPECT_EQ(e.Code(), c.Code);
            EXPECT_EQ(e.Message(), MessageForCode(c.Code)) << c.Code;
        });
    }
}

TEST(RaiseOnError, SerialPathMessagesComeFromTheTable) {
    ExpectRaised<EBadId>(-2001, [](const EBadId& e) {
        EXPECT_EQ(e.Message(), "ie_BadId - Specified comport doesn't exist");
        EXPECT_EQ(e.Code(), -2001);
    });
    ExpectRaised<ETapiNoMem>(-13868,
                             [](const ETapiNoMem& e) { EXPECT_EQ(e.Message(), "No memory"); });
}

} // namespace
} // namespace mbus::serial
