#include "tools/meter_list_file.h"

#include "tools/quoted_argument.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>

namespace mbus::tools {
namespace {

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
    for (const protocol::MeterListError& error : list.Errors)
        err << "mbus " << command << ": " << shown << " line " << error.Line << ": "
            << ErrorText(error) << "\n";
    if (!list.Errors.empty())
        return std::nullopt;
    if (list.Meters.empty())
        return fail("the meter list " + shown + " holds no meter");
    return std::move(list.Meters);
}

} // namespace mbus::tools
