#pragma once

#include <array>
#include <string>
#include <vector>

namespace tessaly::ui {

// Picks one of the printer's 30 code pages for the command test editor.
class SelectCodepageDialog {
  public:
    struct Entry {
        const char* name;
        const char* escTValue;  // what follows "1b 74 " in the editor's text
    };
    static constexpr const char* kCaption = "Select Codepage";
    static const std::array<Entry, 30> kEntries;

    // Opening: entry 0 selected, all flags clear.
    SelectCodepageDialog();
    void OnSelectionChanged(int index);
    void OnOk();

    int currentIndex() const { return current_; }
    // Results: -1 until OK.
    int selectedIndex() const { return selectedIndex_; }
    // Flag k is bit k of the selected entry's index.
    const std::array<bool, 6>& indexBits() const { return indexBits_; }

  private:
    int current_ = 0;
    int selectedIndex_ = -1;
    std::array<bool, 6> indexBits_{};
};

// Picks a line spacing from 0 to 255, or the printer's default.
class SelectRangeDialog {
  public:
    static constexpr const char* kCaption = "Select Range(0~255)";
    static constexpr const char* kDefaultText = "Default Line Spacing";
    static constexpr int kMinimum = 0;
    static constexpr int kMaximum = 255;

    // Moves the value by `steps` arrow steps, wrapping from one end to the other.
    void Step(int steps);
    void OnDefaultClicked(bool ticked);
    void OnOk();

    int value() const { return value_; }
    bool defaultTicked() const { return defaultTicked_; }
    // The number and its arrows are greyed while the default is ticked.
    bool valueEnabled() const { return !defaultTicked_; }

    int rangeValue() const { return rangeValue_; }
    bool useDefault() const { return useDefault_; }

  private:
    int value_ = 0;
    bool defaultTicked_ = false;
    int rangeValue_ = 0;
    bool useDefault_ = false;
};

// Picks or types the number of an image in the printer's non-volatile memory.
class SelectAddressDialog {
  public:
    static constexpr const char* kCaption = "Select Address";
    static const std::vector<std::string> kEntries;

    // Opening: the first entry, "01", is selected.
    SelectAddressDialog();
    void OnTextChanged(std::string text);
    void OnOk();

    const std::string& editText() const { return editText_; }
    // Result: empty until OK; then the edit field's text unchanged.
    const std::string& addressText() const { return addressText_; }

  private:
    std::string editText_;
    std::string addressText_;
};

}  // namespace tessaly::ui
