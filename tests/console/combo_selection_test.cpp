#include "console/combo_selection.h"

#include <gtest/gtest.h>

#include <QComboBox>

namespace mbus::console {
namespace {

TEST(SelectedItemIndexTest, TheItemWhoseTextIsTheCurrentTextExactly) {
    QComboBox combo;
    combo.setEditable(true);
    combo.addItems({"None", "Odd", "Even", "Odd"});
    combo.setCurrentIndex(2);
    EXPECT_EQ(SelectedItemIndex(combo), 2);

    combo.setEditText("Mark");
    EXPECT_EQ(SelectedItemIndex(combo), -1) << "typed text that matches no item";
    combo.setEditText("even");
    EXPECT_EQ(SelectedItemIndex(combo), -1) << "letter case counts";
    combo.setEditText("Even ");
    EXPECT_EQ(SelectedItemIndex(combo), -1) << "so does a trailing blank";
    combo.setEditText("");
    EXPECT_EQ(SelectedItemIndex(combo), -1);

    // Typed back to an item's text: that item, the first of equal ones.
    combo.setEditText("Odd");
    EXPECT_EQ(SelectedItemIndex(combo), 1);
    // Picked from the list: the picked one, also among equal texts.
    combo.setCurrentIndex(3);
    EXPECT_EQ(SelectedItemIndex(combo), 3);
}

TEST(SelectedItemIndexTest, AnEmptyListHasNoSelection) {
    QComboBox combo;
    combo.setEditable(true);
    EXPECT_EQ(SelectedItemIndex(combo), -1);
}

} // namespace
} // namespace mbus::console
