#include "platform/registry.h"

#include "platform/system_error.h"
#include "support/temp_config_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace mbus::platform {
namespace {

constexpr const char* kKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr auto kSuccess = static_cast<std::int32_t>(ERROR_SUCCESS);
constexpr auto kNotFound = static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND);
constexpr auto kMoreData = static_cast<std::int32_t>(ERROR_MORE_DATA);
constexpr auto kInvalidHandle = static_cast<std::int32_t>(ERROR_INVALID_HANDLE);

using Values = std::vector<std::pair<std::string, std::string>>;

class RegistryTest : public ::testing::Test {
protected:
    testing::TempConfigHome Home;

    HKEY OpenKey(const char* name = kKey) {
        HKEY key = 0;
        EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &key), kSuccess);
        return key;
    }

    // Every value as (name, data), read with 256-byte buffers as the console reads them.
    Values ReadValues(HKEY key) {
        Values values;
        for (std::uint32_t index = 0;; ++index) {
            char name[256];
            std::uint8_t data[256];
            std::uint32_t nameLength = sizeof name;
            std::uint32_t dataLength = sizeof data;
            std::uint32_t type = 0;
            const auto status =
                RegEnumValue(key, index, name, &nameLength, &type, data, &dataLength);
            if (status != kSuccess) {
                EXPECT_EQ(status, static_cast<std::int32_t>(ERROR_NO_MORE_ITEMS));
                return values;
            }
            EXPECT_EQ(type, REG_SZ);
            EXPECT_EQ(nameLength, std::string(name).size());
            EXPECT_EQ(data[dataLength - 1], 0) << "data ends in its terminating zero";
            values.emplace_back(name, std::string(reinterpret_cast<char*>(data), dataLength - 1));
        }
    }
};

TEST_F(RegistryTest, APortsFolderThatCannotBeReadMakesTheKeyUnreadable) {
    // The console shows its port list error then, rather than a list without the user's links.
    std::filesystem::remove_all(Home.PortsDirectory());
    std::ofstream(Home.PortsDirectory()).put('x');
    HKEY key = 123;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key),
              static_cast<std::int32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(key, 0u);
}

TEST_F(RegistryTest, OnlyTheSerialCommKeyExistsAndOnlyWhileThereIsAPort) {
    HKEY key = 123;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), kNotFound);
    EXPECT_EQ(key, 0u);

    Home.AddFakePort(1);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP", 0, KEY_READ, &key),
              kNotFound);
    EXPECT_EQ(RegOpenKeyEx(0x80000001u, kKey, 0, KEY_READ, &key), kNotFound);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, nullptr),
              static_cast<std::int32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCloseKey(OpenKey("hardware\\devicemap\\serialcomm")), kSuccess)
        << "key names are not case-sensitive";
}

TEST_F(RegistryTest, OneValuePerPortNamedByDeviceWithTheComNameAsData) {
    const std::string com10 = Home.AddFakePort(10);
    const std::string com3 = Home.AddFakePort(3);
    const std::string com1 = Home.AddFakePort(1);
    const HKEY key = OpenKey();
    Home.AddFakePort(5); // an open key keeps the values it was opened with
    EXPECT_EQ(ReadValues(key), (Values{{com1, "COM1"}, {com3, "COM3"}, {com10, "COM10"}}));

    EXPECT_EQ(RegCloseKey(key), kSuccess);
    EXPECT_EQ(RegCloseKey(key), kInvalidHandle);
    char name[256];
    std::uint32_t nameLength = sizeof name;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, nullptr, nullptr), kInvalidHandle);
}

TEST_F(RegistryTest, TooSmallBuffersGiveMoreData) {
    const std::string device = Home.AddFakePort(12);
    const HKEY key = OpenKey();
    char name[256];
    std::uint8_t data[256];

    // The name needs room for its terminating zero.
    std::uint32_t nameLength = static_cast<std::uint32_t>(device.size());
    std::uint32_t dataLength = sizeof data;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, data, &dataLength), kMoreData);

    // "COM12" and its zero need six bytes; the needed size is reported.
    nameLength = sizeof name;
    dataLength = 5;
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, data, &dataLength), kMoreData);
    EXPECT_EQ(dataLength, 6u);

    // Exactly large enough.
    nameLength = static_cast<std::uint32_t>(device.size() + 1);
    EXPECT_EQ(RegEnumValue(key, 0, name, &nameLength, nullptr, data, &dataLength), kSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "COM12");
    RegCloseKey(key);
}

} // namespace
} // namespace mbus::platform
