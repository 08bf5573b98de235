// The readings log as CSV: columns from the layouts, the rows of decoded replies, requests without
// a reply, and quoting.
#include "protocol/readings_csv.h"

#include "protocol/meter_reply.h"

#include <gtest/gtest.h>

namespace mbus::protocol {
namespace {

const LocalTimestamp kTime{2024, 1, 2, 3, 4, 5, 67};

ReadingRow WaterRow() {
    ReplyHeader header;
    header.TypeCode = 0x10;
    header.Address = {0x01, 0, 0, 0, 0, 0, 0};
    WaterReading water{.CurrentFlow = 1234, .SettlementFlow = 1000, .Clock = {2024, 1, 2, 3, 4, 5}};
    water.Status = {0x05, 0x00};
    ReadingRow row;
    row.Time = kTime;
    row.Port = "COM3";
    row.Request = ReadRequest{kControlRead, 0x10, header.Address, {0x1F, 0x90}, 0};
    row.Reply = ParseReply(BuildWaterReply(header, water));
    CompareWithRequest(*row.Reply, *row.Request);
    row.ElapsedMs = 58;
    return row;
}

TEST(ReadingsCsvTest, HeaderRowsAndTheRowOfARequestWithoutReply) {
    const ReadingRow water = WaterRow();
    ASSERT_TRUE(water.Reply);
    const std::vector<ReadingRow> rows = {water};
    const ReadingsCsv csv(FormatsOfRows(rows));
    EXPECT_EQ(csv.Header(),
              "时间,串口,表地址,表类型代码,当前累积流量,当前累积流量单位,结算日累积流量,"
              "结算日累积流量单位,实时时间,状态,阀门,电池,校验和正确,地址相符,耗时ms\r\n");
    EXPECT_EQ(csv.Row(water), "2024-01-02T03:04:05.067,COM3,00000000000001,0x10,000012.34,m³,"
                              "000010.00,m³,20240102030405,0500,关,欠压,是,是,58\r\n");

    ReadingRow timeout = water;
    timeout.Reply.reset();
    timeout.ElapsedMs = 2000;
    EXPECT_EQ(csv.Row(timeout),
              "2024-01-02T03:04:05.067,COM3,00000000000001,0x10,,,,,,timeout,,,,,2000\r\n");

    // Without a request nor a reply the row knows no meter; a port name with a comma is quoted.
    ReadingRow bare;
    bare.Port = "/dev/tty\"A\",1";
    EXPECT_EQ(csv.Row(bare),
              "0000-00-00T00:00:00.000,\"/dev/tty\"\"A\"\",1\",,,,,,,,timeout,,,,,\r\n");
    EXPECT_EQ(MeterOfRow(bare), std::nullopt);
}

// The columns of the first layout come first; another layout adds the fields it does not share,
// and a row leaves empty what its layout lacks.
TEST(ReadingsCsvTest, ColumnsOfTwoLayouts) {
    ReplyHeader header;
    header.TypeCode = 0x20;
    ReadingRow heat;
    heat.Reply = ParseReply(BuildHeatReply(header, HeatReading{}));
    ASSERT_TRUE(heat.Reply);
    const std::vector<ReadingRow> rows = {WaterRow(), heat};
    const ReadingsCsv csv(FormatsOfRows(rows));
    const std::string headerLine = csv.Header();
    EXPECT_EQ(
        headerLine.find("时间,串口,表地址,表类型代码,当前累积流量,当前累积流量单位,结算日累积流量,"
                        "结算日累积流量单位,实时时间,结算日热量,结算日热量单位,"),
        0u)
        << headerLine;
    EXPECT_NE(headerLine.find(",累积工作时间,累积工作时间单位,状态,"), std::string::npos);
    const std::string heatLine = csv.Row(heat);
    EXPECT_NE(heatLine.find(",0x20,,,,,20000101000000,000000.00,kWh,"), std::string::npos)
        << heatLine;
}

} // namespace
} // namespace mbus::protocol
