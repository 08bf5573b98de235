// Conversion between the program's UTF-8 texts and GBK bytes.
#include "util/gbk_text.h"

#include "support/bytes.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace mbus::util {
namespace {

using testing::CharsOf;

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

TEST(GbkText, ConsoleTextsRoundTrip) {
    const std::vector<std::string> texts = {"冷水水表",
                                            "生活热水水表",
                                            "直饮水水表",
                                            "中水水表",
                                            "热量表（计热量）",
                                            "热量表（计冷量）",
                                            "燃气表",
                                            "电度表",
                                            "打开串口",
                                            "关闭串口",
                                            "串口状态：打开",
                                            "串口状态：关闭",
                                            "串口已被占用或串口不存在",
                                            "错误",
                                            "错误：串口未打开",
                                            "打开串口列表的注册表项出错",
                                            "M-bus测试工具",
                                            "成功解析:0",
                                            "接收：0",
                                            "发送：0",
                                            "ms/次 ",
                                            "当前累积流量:",
                                            "结算日累积流量:",
                                            "实时时间:",
                                            "状态:",
                                            "结算日热量:",
                                            "当前热量:",
                                            "热功率:",
                                            "流速:",
                                            "累积流量:",
                                            "供水温度:",
                                            "回水温度:",
                                            "累积工作时间:",
                                            "",
                                            "COM3 9600"};
    for (const auto& text : texts) {
        const std::string gbk = Utf8ToGbk(text);
        EXPECT_EQ(GbkToUtf8(gbk), text);
        // Every character of these texts is GBK: no replacement anywhere.
        EXPECT_EQ(gbk.find('?'), std::string::npos) << text;
    }
}

TEST(GbkText, KnownEncodings) {
    // Two bytes per Chinese character, one per ASCII character.
    EXPECT_EQ(Utf8ToGbk("冷水水表"), CharsOf({0xC0, 0xE4, 0xCB, 0xAE, 0xCB, 0xAE, 0xB1, 0xED}));
    EXPECT_EQ(Utf8ToGbk("错误"), CharsOf({0xB4, 0xED, 0xCE, 0xF3}));
    // Full-width parentheses and colon are double-byte; the ASCII colon is not.
    EXPECT_EQ(Utf8ToGbk("（：）"), CharsOf({0xA3, 0xA8, 0xA3, 0xBA, 0xA3, 0xA9}));
    EXPECT_EQ(Utf8ToGbk("状态:"), CharsOf({0xD7, 0xB4, 0xCC, 0xAC, ':'}));
    EXPECT_EQ(Utf8ToGbk("AA AA"), "AA AA");
    EXPECT_EQ(Utf8ToGbk(std::string("A\0B", 3)), std::string("A\0B", 3));
    EXPECT_EQ(GbkToUtf8(CharsOf({0xC8, 0xBC, 0xC6, 0xF8, 0xB1, 0xED})), "燃气表");
}

TEST(GbkText, CharactersGbkLacksBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToGbk("😀"), "?");
    EXPECT_EQ(Utf8ToGbk("水😀水"), CharsOf({0xCB, 0xAE, '?', 0xCB, 0xAE}));
    EXPECT_EQ(Utf8ToGbk("😀😀A"), "??A");
    // Broken UTF-8 is one replacement per bad sequence, and what follows is converted.
    EXPECT_EQ(Utf8ToGbk(CharsOf({0xFF, 'A'})), "?A");
    EXPECT_EQ(Utf8ToGbk(CharsOf({'A', 0xE6, 0xB0})), "A?"); // cut short at the end
}

TEST(GbkText, InvalidGbkBytesBecomeReplacementCharacters) {
    EXPECT_EQ(GbkToUtf8(CharsOf({0xFF})), kReplacement);
    EXPECT_EQ(GbkToUtf8(CharsOf({'A', 0xFF, 'B'})), "A" + kReplacement + "B");
    // A lead byte with a trail byte GBK does not allow: the lead byte alone is replaced and
    // the next byte read again as what it is.
    EXPECT_EQ(GbkToUtf8(CharsOf({0x81, 0x20, 'A'})), kReplacement + " A");
    // A lead byte cut short at the end.
    EXPECT_EQ(GbkToUtf8(CharsOf({0xCB, 0xAE, 0xCB})), "水" + kReplacement);
    // Replacement does not lose the conversion state for the rest of a long text.
    std::string gbk;
    std::string expected;
    for (int i = 0; i < 500; ++i) {
        gbk += CharsOf({0xCB, 0xAE, 0xFF});
        expected += "水" + kReplacement;
    }
    EXPECT_EQ(GbkToUtf8(gbk), expected);
}

TEST(GbkText, LongTextsConvertCompletely) {
    // Longer than any internal chunk of the conversion.
    std::string utf8;
    for (int i = 0; i < 1000; ++i)
        utf8 += "串口状态：打开;";
    const std::string gbk = Utf8ToGbk(utf8);
    EXPECT_EQ(gbk.size(), 1000u * (7 * 2 + 1));
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

} // namespace
} // namespace mbus::util
