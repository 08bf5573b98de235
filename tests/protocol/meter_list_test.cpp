// A meter list as engineers write it: good lines in their forms, a byte order mark, comments,
// quotes and line ends of spreadsheets, and bad lines named by line and field without losing the
// lines around them.
#include "protocol/meter_list.h"

#include <gtest/gtest.h>

namespace mbus::protocol {
namespace {

LineAddress OnTheLine(std::initializer_list<std::uint8_t> typed) {
    LineAddress address{};
    std::copy(std::rbegin(typed), std::rend(typed), address.begin());
    return address;
}

TEST(MeterListTest, GoodLinesAreReadAndBadOnesNamedWithoutLosingTheRest) {
    const MeterList list =
        ParseMeterList("\xEF\xBB\xBF"
                       "# stairwell 3\r\n"
                       "00000000000001,0,3-201 厨房\r\n"
                       "\r\n"
                       "  12 34 56 78 90 12 34 , 0x20 , \"3-202, \"\"east\"\"\" \r\n"
                       "000000000000aa,燃气表\n"
                       ",,\n"
                       "0000000000001,0,short\n"
                       "00000000000003,9\n"
                       "0000000000000G,0\n"
                       "00000000000004\n"
                       "00000000000005,0,\"open\n"
                       "00000000000006,0,a,b\n"
                       "00000000000007,0,\xB3\xF8\xB7\xBF\n"
                       "00000000000001,0x10,again\n"
                       "00000000000001,4,heat meter at the same address\n"
                       "   # indented comment\n"
                       "00000000000008,电度表");
    ASSERT_EQ(list.Meters.size(), 5u);
    EXPECT_EQ(list.Meters[0].Address, OnTheLine({0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(list.Meters[0].TypePosition, 0);
    EXPECT_EQ(list.Meters[0].Name, "3-201 厨房");
    EXPECT_EQ(list.Meters[0].Line, 2u);
    EXPECT_EQ(list.Meters[1].Address, OnTheLine({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34}));
    EXPECT_EQ(list.Meters[1].TypePosition, 4);
    EXPECT_EQ(list.Meters[1].Name, "3-202, \"east\"");
    EXPECT_EQ(list.Meters[2].Address, OnTheLine({0, 0, 0, 0, 0, 0, 0xAA}));
    EXPECT_EQ(list.Meters[2].TypePosition, 6);
    EXPECT_EQ(list.Meters[2].Name, "");
    EXPECT_EQ(list.Meters[3].Line, 15u);
    EXPECT_EQ(list.Meters[4].Line, 17u);
    EXPECT_EQ(list.Meters[4].TypePosition, 7);

    struct Expected {
        std::size_t Line;
        MeterListField Field;
        MeterListProblem Problem;
        std::string Text;
    };
    const std::vector<Expected> expected{
        {7, MeterListField::Address, MeterListProblem::AddressLength, "0000000000001"},
        {8, MeterListField::Type, MeterListProblem::UnknownType, "9"},
        {9, MeterListField::Address, MeterListProblem::NotHex, "0000000000000G"},
        {10, MeterListField::Type, MeterListProblem::Missing, ""},
        {11, MeterListField::Line, MeterListProblem::QuoteNotClosed, "00000000000005,0,\"open"},
        {12, MeterListField::Line, MeterListProblem::TooManyFields, "00000000000006,0,a,b"},
        {13, MeterListField::Name, MeterListProblem::NotUtf8, "\xB3\xF8\xB7\xBF"},
        {14, MeterListField::Address, MeterListProblem::Repeated, "00000000000001"},
    };
    ASSERT_EQ(list.Errors.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(list.Errors[i].Line, expected[i].Line) << i;
        EXPECT_EQ(list.Errors[i].Field, expected[i].Field) << i;
        EXPECT_EQ(list.Errors[i].Problem, expected[i].Problem) << i;
        EXPECT_EQ(list.Errors[i].Text, expected[i].Text) << i;
    }
    EXPECT_EQ(list.Errors.back().RepeatOf, 2u);
    EXPECT_EQ(MeterListProblemText(list.Errors[0]), "gives 13 hex digits, not 14");
    EXPECT_EQ(MeterListProblemText(list.Errors.back()), "repeats the meter of line 2");

    EXPECT_TRUE(ParseMeterList("").Meters.empty());
    EXPECT_TRUE(ParseMeterList("\xEF\xBB\xBF# only a comment").Errors.empty());
}

TEST(MeterListTest, SavedLinesReadBackAsWritten) {
    const std::vector<std::string> names{"3-201 厨房", "3-202, \"east\"", " padded ", ""};
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text +=
            MeterListLine("0000000000000" + std::to_string(i + 1), "冷水水表", names[i]) + "\r\n";
    // A line break in a name would split the meter in two; a leading '#' would hide it.
    text += MeterListLine("# 00000000000009", "0", "two\nlines") + "\r\n";
    const MeterList list = ParseMeterList(text);
    ASSERT_EQ(list.Meters.size(), names.size()) << text;
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(list.Meters[i].Name, names[i]) << i;
    ASSERT_EQ(list.Errors.size(), 1u) << text;
    EXPECT_EQ(list.Errors[0].Field, MeterListField::Address);
    EXPECT_EQ(list.Errors[0].Text, "# 00000000000009");
    EXPECT_EQ((std::vector<std::string>{"# 00000000000009", "0", "two lines"}),
              list.Errors[0].Fields);
}

} // namespace
} // namespace mbus::protocol
