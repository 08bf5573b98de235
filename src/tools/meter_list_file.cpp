#include "tools/meter_list_file.h"

#include "tools/quoted_argument.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

namespace mbus::tools {
namespace {

// The errors said one by one; a file with more is hardly a meter list.
constexpr std::size_t kErrorsSaid = 20;

std::string ErrorText(const protocol::MeterListError& error) {
    const std::string problem = protocol::MeterListProblemText(error);
    if (error.Field == protocol::MeterListField::Line)
        return problem;
    const std::string field(protocol::MeterListFieldName(error.Field));
    if (error.Problem == protocol::MeterListProblem::Missing)
        return field + " " + problem;
    return field + " " + QuotedArgument(error.Text) + " " + problem;
}

} // namespace

std::optional<std::vector<protocol::ListedMeter>>
ReadMeterListFile(std::string_view command, const std::string& path, std::ostream& err) {
    const std::string shown = ShownText(path);
    const auto fail = [&](const std::string& message) {
        err << "mbus " << command << ": " << message << "\n";
        return std::nullopt;
    };
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return fail("the meter list " + shown + " is a folder");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return fail("cannot read the meter list " + shown + ": " + std::strerror(errno));
    std::string text;
    text.resize(kLongestMeterList + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad())
        return fail("cannot read the meter list " + shown);
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kLongestMeterList)
        return fail("the meter list " + shown + " is larger than " +
                    std::to_string(kLongestMeterList / 1024) + " KiB");

    protocol::MeterList list = protocol::ParseMeterList(text);
    for (std::size_t i = 0; i < list.Errors.size() && i < kErrorsSaid; ++i) {
        const protocol::MeterListError& error = list.Errors[i];
        err << "mbus " << command << ": " << shown << " line " << error.Line << ": "
            << ErrorText(error) << "\n";
    }
    if (list.Errors.size() > kErrorsSaid)
        err << "mbus " << command << ": " << shown << ": " << list.Errors.size() - kErrorsSaid
            << " more errors (is it a meter list?)\n";
    if (!list.Errors.empty())
        return std::nullopt;
    if (list.Meters.empty())
        return fail("the meter list " + shown + " holds no meter");
    return std::move(list.Meters);
}

} // namespace mbus::tools
