#include "platform/registry.h"

#include "platform/system_error.h"
#include "temp_config_home.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace mbus::platform {
namespace {

constexpr const char* kKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class RegistryTest : public ::testing::Test {
protected:
    testing::TempConfigHome Home;

    HKEY OpenKey() {
        HKEY key = 0;
        EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key),
                  static_cast<std::int32_t>(ERROR_SUCCESS));
        return key;
    }

    // Every value of the key as (name, data), read with 256-byte buffers as the console does.
    std::vector<std::pair<std::string, std::string>> Values(HKEY key) {
        std::vector<std::pair<std::string, std::string>> values;
        for (std::uint32_t index = 0;; ++index) {
            char name[256];
            std::uint8_t data[256];
            std::uint32_t nameLength = sizeof name;
            std::uint32_t dataLength = sizeof data;
            std::uint32_t type = 0;
            const std::int32_t status =
                RegEnumValue(key, index, name, &nameLength, &type, data, &dataLength);
            if (status != static_cast<std::int32_t>(ERROR_SUCCESS)) {
                EXPECT_EQ(status, static_cast<std::int32_t>(ERROR_NO_MORE_ITEMS));
                break;
            }
            EXPECT_EQ(type, REG_SZ);
            EXPECT_EQ(nameLength, std::string(name).size());
            EXPECT_EQ(data[dataLength - 1], 0) << "data ends in its terminating zero";
            values.emplace_back(name, std::string(reinterpret_cast<char*>(data), dataLength - 1));
        }
        return values;
    }
};

TEST_F(RegistryTest, WithoutAnyPortTheKeyDoesNotExist) {
    HKEY key = 123;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, 0u);
}

TEST_F(RegistryTest, OnlyTheSerialCommKeyUnderTheLocalMachineExists) {
    Home.AddFakePort(1);
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", 0, KEY_READ, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP", 0, KEY_READ, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegOpenKeyEx(0x80000001u, kKey, 0, KEY_READ, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, nullptr),
              static_cast<std::int32_t>(ERROR_INVALID_PARAMETER));

    // Key names are not case-sensitive.
    ASSERT_EQ(
        RegOpenKeyEx(HKEY_LOCAL_MACHINE, "hardware\\devicemap\\serialcomm", 0, KEY_READ, &key),
        static_cast<std::int32_t>(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(key), static_cast<std::int32_t>(ERROR_SUCCESS));
}

TEST_F(RegistryTest, OneValuePerPortNamedByDeviceWithTheComNameAsData) {
    const std::string com10 = Home.AddFakePort(10);
    const std::string com3 = Home.AddFakePort(3);
    const std::string com1 = Home.AddFakePort(1);
    const HKEY key = OpenKey();
    EXPECT_EQ(Values(key), (std::vector<std::pair<std::string, std::string>>{
                               {com1, "COM1"}, {com3, "COM3"}, {com10, "COM10"}}));
    EXPECT_EQ(RegCloseKey(key), static_cast<std::int32_t>(ERROR_SUCCESS));
}

TEST_F(RegistryTest, AnOpenKeyKeepsTheValuesItWasOpenedWith) {
    const std::string com2 = Home.AddFakePort(2);
    const HKEY key = OpenKey();
    Home.AddFakePort(5);
    EXPECT_EQ(Values(key), (std::vector<std::pair<std::string, std::string>>{{com2, "COM2"}}));
    RegCloseKey(key);
}

TEST_F(RegistryTest, TooSmallBuffersGiveMoreData) {
    const std::string device = Home.AddFakePort(12);
    const HKEY key = OpenKey();
    char name[256];
    std::uint8_t data[256];

    // The name needs its length plus the terminating zero.
    std::uint32_t nameLength = static_cast<std::uint32_t>(device.size());
    std::uint32_t dataLength = sizeof data;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, data, &dataLength),
              static_cast<std::int32_t>(ERROR_MORE_DATA));

    // "COM12" and its zero need six bytes; the needed size is reported.
    nameLength = sizeof name;
    dataLength = 5;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, data, &dataLength),
              static_cast<std::int32_t>(ERROR_MORE_DATA));
    EXPECT_EQ(dataLength, 6u);

    // Without a data buffer only the size is asked for.
    nameLength = sizeof name;
    dataLength = 0;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, nullptr, &dataLength),
              static_cast<std::int32_t>(ERROR_SUCCESS));
    EXPECT_EQ(dataLength, 6u);
    EXPECT_EQ(std::string(name), device);

    // Exactly large enough.
    nameLength = static_cast<std::uint32_t>(device.size() + 1);
    dataLength = 6;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, data, &dataLength),
              static_cast<std::int32_t>(ERROR_SUCCESS));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "COM12");
    RegCloseKey(key);
}

TEST_F(RegistryTest, ClosedOrUnknownKeysAreInvalidHandles) {
    Home.AddFakePort(1);
    const HKEY key = OpenKey();
    ASSERT_EQ(RegCloseKey(key), static_cast<std::int32_t>(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(key), static_cast<std::int32_t>(ERROR_INVALID_HANDLE));

    char name[256];
    std::uint32_t nameLength = sizeof name;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, nullptr, nullptr),
              static_cast<std::int32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegEnumValue(HKEY_LOCAL_MACHINE, 0, name, &nameLength, nullptr, nullptr, nullptr),
              static_cast<std::int32_t>(ERROR_INVALID_HANDLE));
}

} // namespace
} // namespace mbus::platform
