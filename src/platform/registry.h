// Reading the values of one registry key. On Linux the only key there is, the local machine's
// HARDWARE\DEVICEMAP\SERIALCOMM, is answered from the port map: one value per mapped port, its
// name the device path and its data the COM name. With no port at all the key does not exist.
#pragma once

#include <cstdint>
#include <string_view>

namespace mbus::platform {

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr std::uint32_t KEY_READ = 0x20019;
inline constexpr std::uint32_t REG_SZ = 1;

// Opens `subKey` under `root`; ERROR_SUCCESS and the key, or an error number (2 for a key that
// does not exist, 5 for HARDWARE\DEVICEMAP\SERIALCOMM while the ports folder cannot be read).
std::int32_t RegOpenKeyEx(HKEY root, std::string_view subKey, std::uint32_t options,
                          std::uint32_t access, HKEY* result);

// Reads value `index` of the key: its name into `name` (capacity *nameLength characters, the
// terminating zero included; *nameLength becomes the length without it) and its data into `data`
// (capacity *dataLength bytes; *dataLength becomes the bytes stored, the terminating zero of a
// text included). ERROR_NO_MORE_ITEMS past the last value, ERROR_MORE_DATA when a buffer is too
// small.
std::int32_t RegEnumValue(HKEY key, std::uint32_t index, char* name, std::uint32_t* nameLength,
                          std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataLength);

std::int32_t RegCloseKey(HKEY key);

} // namespace mbus::platform
