// The selected item of an editable drop-down list, as the console's rules read it: the item
// whose text equals the list's current text exactly (letter case included), or none once the
// text has been typed into something that matches no item. Qt keeps its current index while the
// user types, so that index alone does not say this.
#pragma once

class QComboBox;

namespace mbus::console {

// The position of the selected item, or -1 for none. When several items carry the current
// text, the current index wins if it is one of them, else the first.
int SelectedItemIndex(const QComboBox& combo);

} // namespace mbus::console
