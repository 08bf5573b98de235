// The text files of the trace and the dispatch log: opening and closing them, how one data byte
// is written, and the wrapping of items at 78 columns.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace mbus::serial {

struct TraceFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// An open trace or log file, closed when it goes.
using TraceFile = std::unique_ptr<std::FILE, TraceFileCloser>;

// Opens a trace or log file: at its end when `append` is asked and the file exists, otherwise
// created anew. Text goes through a 512-byte buffer. None when it cannot be opened (errno says
// why).
TraceFile OpenTraceFile(const std::string& fileName, bool append);

// Closes the file: ecOK, or minus the system error code when writing or closing it failed.
std::int32_t CloseTraceFile(TraceFile file);

inline constexpr int kTraceLineWidth = 78;
inline constexpr const char* kTraceLineEnd = "\r\n";

// One data byte as the files show it: with allHex "[41]"; otherwise a byte below 0x20 (0x21
// with inHex) or above 0x7E as "[0D]" (inHex) or "[13]" (decimal), any other byte as itself.
std::string TraceItem(std::uint8_t byte, bool inHex, bool allHex);

// Writes items to a file, ending the line before an item that would pass column 78 and then
// starting the new line with `indent` blanks.
class TraceLineWriter {
public:
    TraceLineWriter(std::FILE* file, int indent) : File_(file), Indent_(indent) {}

    // Starts counting columns at `column` (the text before the items is already written).
    void StartLine(int column) { Column_ = column; }
    void WriteItem(const std::string& item);
    void EndLine();

private:
    std::FILE* File_;
    int Indent_;
    int Column_ = 0;
};

} // namespace mbus::serial
