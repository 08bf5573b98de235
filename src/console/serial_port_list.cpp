#include "console/serial_port_list.h"

#include "console/message_box.h"
#include "platform/port_map.h"
#include "platform/registry.h"
#include "platform/system_error.h"
#include "util/gbk_text.h"

#include <QCollator>

#include <algorithm>
#include <cstring>

namespace mbus::console {

QStringList PortList;

namespace {

constexpr std::uint32_t kBufferSize = 256;

} // namespace

QStringList ReadSerialPorts(bool& failed) {
    failed = false;
    QStringList names;
    platform::HKEY key = 0;
    const std::int32_t opened =
        platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                               platform::KEY_READ, &key);
    if (opened != static_cast<std::int32_t>(platform::ERROR_SUCCESS)) {
        failed = opened != static_cast<std::int32_t>(platform::ERROR_FILE_NOT_FOUND) ||
                 platform::NoPortListIsAnError();
        return names;
    }
    for (std::uint32_t index = 0;; ++index) {
        char valueName[kBufferSize];
        char data[kBufferSize];
        std::uint32_t nameLength = kBufferSize;
        std::uint32_t dataLength = kBufferSize;
        const std::int32_t status =
            platform::RegEnumValue(key, index, valueName, &nameLength, nullptr,
                                   reinterpret_cast<std::uint8_t*>(data), &dataLength);
        if (status == static_cast<std::int32_t>(platform::ERROR_NO_MORE_ITEMS))
            break;
        if (status != static_cast<std::int32_t>(platform::ERROR_SUCCESS)) {
            failed = true;
            break;
        }
        // The data is a text with its terminating zero; never read past what was stored, even
        // when the zero is missing.
        const std::size_t stored = std::min(dataLength, kBufferSize);
        const std::size_t length = std::find(data, data + stored, '\0') - data;
        names << QString::fromStdString(util::GbkToUtf8(std::string_view(data, length)));
    }
    platform::RegCloseKey(key);

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(), collator);
    return names;
}

QStringList ListSerialPorts() {
    bool failed = false;
    QStringList names = ReadSerialPorts(failed);
    if (failed)
        ShowMessageBox(QStringLiteral("打开串口列表的注册表项出错"), QString(),
                       QMessageBox::NoIcon);
    return names;
}

} // namespace mbus::console
