#include "platform/registry.h"

#include "platform/port_map.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace mbus::platform {
namespace {

constexpr std::string_view kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct RegistryValue {
    std::string Name; // the device path
    std::string Data; // the COM name
};

// Open keys. A key holds the values as they were when it was opened, so an enumeration sees one
// consistent list even while ports come and go.
class OpenKeys {
public:
    HKEY Add(std::vector<RegistryValue> values) {
        std::lock_guard lock(Mutex_);
        const HKEY key = NextKey_++;
        Keys_.emplace(key, std::move(values));
        return key;
    }

    bool Remove(HKEY key) {
        std::lock_guard lock(Mutex_);
        return Keys_.erase(key) == 1;
    }

    // Copies value `index` of `key` into `value`; ERROR_INVALID_HANDLE, ERROR_NO_MORE_ITEMS or
    // ERROR_SUCCESS.
    std::int32_t Value(HKEY key, std::uint32_t index, RegistryValue& value) {
        std::lock_guard lock(Mutex_);
        const auto it = Keys_.find(key);
        if (it == Keys_.end())
            return ERROR_INVALID_HANDLE;
        if (index >= it->second.size())
            return ERROR_NO_MORE_ITEMS;
        value = it->second[index];
        return ERROR_SUCCESS;
    }

private:
    std::mutex Mutex_;
    std::map<HKEY, std::vector<RegistryValue>> Keys_; // guarded by Mutex_
    HKEY NextKey_ = 0x1000;                           // guarded by Mutex_; far below the roots
};

OpenKeys& Keys() {
    static OpenKeys keys;
    return keys;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
               return upper(x) == upper(y);
           });
}

} // namespace

std::int32_t RegOpenKeyEx(HKEY root, std::string_view subKey, std::uint32_t /*options*/,
                          std::uint32_t /*access*/, HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    if (root != HKEY_LOCAL_MACHINE || !EqualsIgnoringCase(subKey, kSerialCommKey))
        return ERROR_FILE_NOT_FOUND;

    std::vector<RegistryValue> values;
    PortMapNotes notes;
    for (const PortMapEntry& entry : ReadPortMap(&notes))
        values.push_back({entry.DevicePath, "COM" + std::to_string(entry.Number)});
    // A ports folder that cannot be read makes the key unreadable: its links are not known.
    if (!notes.FolderProblem.empty())
        return ERROR_ACCESS_DENIED;
    // Windows creates the key when the first serial port appears.
    if (values.empty())
        return ERROR_FILE_NOT_FOUND;
    *result = Keys().Add(std::move(values));
    return ERROR_SUCCESS;
}

std::int32_t RegEnumValue(HKEY key, std::uint32_t index, char* name, std::uint32_t* nameLength,
                          std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataLength) {
    if (name == nullptr || nameLength == nullptr || (data != nullptr && dataLength == nullptr))
        return ERROR_INVALID_PARAMETER;
    RegistryValue value;
    if (const std::int32_t status = Keys().Value(key, index, value); status != ERROR_SUCCESS)
        return status;

    const std::size_t nameSize = value.Name.size() + 1;
    const std::size_t dataSize = value.Data.size() + 1;
    if (nameSize > *nameLength)
        return ERROR_MORE_DATA;
    const bool dataFits = data == nullptr || dataSize <= *dataLength;

    std::memcpy(name, value.Name.c_str(), nameSize);
    *nameLength = static_cast<std::uint32_t>(value.Name.size());
    if (type != nullptr)
        *type = REG_SZ;
    if (dataLength != nullptr) {
        if (data != nullptr && dataFits)
            std::memcpy(data, value.Data.c_str(), dataSize);
        *dataLength = static_cast<std::uint32_t>(dataSize);
    }
    return dataFits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

std::int32_t RegCloseKey(HKEY key) {
    return Keys().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace mbus::platform
