// The About box of the tool bar's "关于" button: the program's name and version, what it does,
// how this copy was built, and its licence.
#pragma once

#include <QString>

namespace mbus::console {

// The text the About box shows.
QString AboutText();

} // namespace mbus::console
