#include "platform/registry.h"

#include "platform/system_error.h"
#include "platform/win32/windows_api.h"

namespace mbus::platform {
namespace {

// The predefined roots are 32-bit values that the system sign-extends on 64-bit machines; keys
// the system opened are its own handles.
::HKEY NativeKey(HKEY key) {
    if (key >= 0x80000000u && key <= 0x800000FFu)
        return reinterpret_cast<::HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(key)));
    return reinterpret_cast<::HKEY>(key);
}

static_assert(sizeof(DWORD) == sizeof(std::uint32_t));

} // namespace

std::int32_t RegOpenKeyEx(HKEY root, std::string_view subKey, std::uint32_t options,
                          std::uint32_t access, HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    const std::string path(subKey);
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(NativeKey(root), path.c_str(), options, access, &opened);
    if (status == ERROR_SUCCESS)
        *result = reinterpret_cast<HKEY>(opened);
    return status;
}

std::int32_t RegEnumValue(HKEY key, std::uint32_t index, char* name, std::uint32_t* nameLength,
                          std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataLength) {
    if (name == nullptr || nameLength == nullptr || (data != nullptr && dataLength == nullptr))
        return ERROR_INVALID_PARAMETER;
    return ::RegEnumValueA(NativeKey(key), index, name, reinterpret_cast<DWORD*>(nameLength),
                           nullptr, reinterpret_cast<DWORD*>(type), data,
                           reinterpret_cast<DWORD*>(dataLength));
}

std::int32_t RegCloseKey(HKEY key) {
    return ::RegCloseKey(NativeKey(key));
}

} // namespace mbus::platform
