#include "serial/trace_format.h"

#include "platform/system_error.h"
#include "serial/codes.h"

#include <cerrno>

namespace mbus::serial {

TraceFile OpenTraceFile(const std::string& fileName, bool append) {
    TraceFile file(std::fopen(fileName.c_str(), append ? "ab" : "wb"));
    if (file)
        std::setvbuf(file.get(), nullptr, _IOFBF, 512);
    return file;
}

std::int32_t CloseTraceFile(TraceFile file) {
    std::FILE* raw = file.release();
    const bool failed = std::ferror(raw) != 0;
    const int closeResult = std::fclose(raw);
    if (failed || closeResult != 0)
        return -static_cast<std::int32_t>(platform::ErrorFromErrno(errno != 0 ? errno : EIO));
    return ecOK;
}

std::string TraceItem(std::uint8_t byte, bool inHex, bool allHex) {
    char text[8];
    const std::uint8_t lowest = inHex ? 0x21 : 0x20;
    if (allHex || ((byte < lowest || byte > 0x7E) && inHex))
        std::snprintf(text, sizeof text, "[%02X]", byte);
    else if (byte < lowest || byte > 0x7E)
        std::snprintf(text, sizeof text, "[%u]", static_cast<unsigned>(byte));
    else
        return std::string(1, static_cast<char>(byte));
    return text;
}

void TraceLineWriter::WriteItem(const std::string& item) {
    const int width = static_cast<int>(item.size());
    Column_ += width;
    if (Column_ > kTraceLineWidth) {
        std::fputs(kTraceLineEnd, File_);
        for (int i = 0; i < Indent_; ++i)
            std::fputc(' ', File_);
        Column_ = (Indent_ > 0 ? Indent_ + 1 : 0) + width;
    }
    std::fwrite(item.data(), 1, item.size(), File_);
}

void TraceLineWriter::EndLine() {
    std::fputs(kTraceLineEnd, File_);
}

} // namespace mbus::serial
