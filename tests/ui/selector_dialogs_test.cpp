#include "selector_dialogs.h"

#include <gtest/gtest.h>

#include <set>

namespace tessaly::ui {
namespace {

TEST(SelectCodepageDialog, StartsOnTheFirstEntryAndMirrorsTheIndexInItsFlags) {
    SelectCodepageDialog d;
    EXPECT_EQ(d.selectedIndex(), -1);
    d.OnOk();
    EXPECT_EQ(d.selectedIndex(), 0);
    EXPECT_EQ(d.indexBits(), (std::array<bool, 6>{}));

    d.OnSelectionChanged(29);
    EXPECT_EQ(d.indexBits(), (std::array<bool, 6>{true, false, true, true, true, false}));
    d.OnSelectionChanged(6);
    EXPECT_EQ(d.indexBits(), (std::array<bool, 6>{false, true, true, false, false, false}));
    d.OnOk();
    EXPECT_EQ(d.selectedIndex(), 6);
}

TEST(SelectCodepageDialog, TableSkipsHex14AndEndsWithArabic) {
    const auto& e = SelectCodepageDialog::kEntries;
    EXPECT_STREQ(e[6].name, "WPC1252 (Lantin 1)");
    EXPECT_STREQ(e[10].escTValue, "15 ");
    EXPECT_STREQ(e[29].name, "WPC1256 (Arabic)");
    EXPECT_STREQ(e[29].escTValue, "28 ");
    std::set<std::string> values;
    for (const auto& entry : e) values.insert(entry.escTValue);
    EXPECT_EQ(values.size(), e.size());
    EXPECT_EQ(values.count("14 "), 0u);
}

TEST(SelectRangeDialog, WrapsAtBothEndsAndGreysTheNumberForTheDefault) {
    SelectRangeDialog d;
    EXPECT_EQ(d.value(), 0);
    d.Step(-1);
    EXPECT_EQ(d.value(), 255);
    d.Step(1);
    EXPECT_EQ(d.value(), 0);
    d.Step(-300);
    EXPECT_EQ(d.value(), 212);
    EXPECT_TRUE(d.valueEnabled());
    d.OnDefaultClicked(true);
    EXPECT_FALSE(d.valueEnabled());
    d.OnOk();
    EXPECT_TRUE(d.useDefault());
    EXPECT_EQ(d.rangeValue(), 212);
    d.OnDefaultClicked(false);
    EXPECT_TRUE(d.valueEnabled());
}

TEST(SelectAddressDialog, ReturnsTheEditTextUnchanged) {
    SelectAddressDialog d;
    EXPECT_EQ(d.addressText(), "");
    EXPECT_EQ(d.editText(), "01");
    d.OnTextChanged("12");
    d.OnOk();
    EXPECT_EQ(d.addressText(), "12");
    d.OnTextChanged("");
    d.OnOk();
    EXPECT_EQ(d.addressText(), "");
}

}  // namespace
}  // namespace tessaly::ui
