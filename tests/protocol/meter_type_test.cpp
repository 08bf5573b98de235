// The type list of the console and the protocol's type codes.
#include "protocol/meter_type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mbus::protocol {
namespace {

struct Row {
    int Position;
    std::string ItemText;
    std::uint8_t Code;
};

const std::vector<Row> kExpected = {
    {0, "冷水水表", 0x10}, {1, "生活热水水表", 0x11},     {2, "直饮水水表", 0x12},
    {3, "中水水表", 0x13}, {4, "热量表（计热量）", 0x20}, {5, "热量表（计冷量）", 0x21},
    {6, "燃气表", 0x30},   {7, "电度表", 0x40},
};

TEST(MeterType, TableInListOrder) {
    const auto types = MeterTypes();
    ASSERT_EQ(types.size(), kExpected.size());
    for (const Row& row : kExpected) {
        SCOPED_TRACE(row.ItemText);
        const auto index = static_cast<std::size_t>(row.Position);
        EXPECT_EQ(types[index].ItemText, row.ItemText);
        EXPECT_EQ(types[index].Code, row.Code);
        EXPECT_EQ(MeterTypeCode(row.Position), row.Code);
        EXPECT_EQ(MeterTypePosition(row.ItemText), row.Position);
    }
}

TEST(MeterType, PositionsOutsideTheListHaveNoCode) {
    for (int position : {-1, -100, 8, 9, 255, 256, 0x10})
        EXPECT_EQ(MeterTypeCode(position), std::nullopt) << position;
}

TEST(MeterType, OnlyExactItemTextsAreFound) {
    const std::vector<std::string> texts = {
        "",
        "冷水",
        "冷水水表 ",
        " 冷水水表",
        "冷水水表冷水水表",
        // ASCII parentheses instead of the full-width ones of the list.
        "热量表(计热量)",
        "热量表",
        // The GBK bytes of "冷水水表", not its UTF-8 text.
        "\xC0\xE4\xCB\xAE\xCB\xAE\xB1\xED",
        "0",
        "0x10",
        std::string("燃气表\0", 10),
    };
    for (const auto& text : texts)
        EXPECT_EQ(MeterTypePosition(text), std::nullopt) << text;
}

} // namespace
} // namespace mbus::protocol
