#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>

#include "selector_dialogs.h"

namespace tessaly::ui::qt {

// The three value pickers of the command test editor, each over its logic. OK
// stores the result in the logic and accepts; the close box and Escape reject.
class SelectCodepageView final : public QDialog {
    Q_OBJECT
  public:
    SelectCodepageView(SelectCodepageDialog& logic, QWidget* parent = nullptr);
    QComboBox* list() const { return list_; }
    QPushButton* okButton() const { return ok_; }

  private:
    SelectCodepageDialog& logic_;
    QComboBox* list_;
    QPushButton* ok_;
};

// The number box of the line-spacing picker: the arrows and arrow keys step
// through the logic (which wraps at both ends); the number cannot be typed.
class RangeSpinBox final : public QSpinBox {
    Q_OBJECT
  public:
    RangeSpinBox(SelectRangeDialog& logic, QWidget* parent);
    void stepBy(int steps) override;

  protected:
    StepEnabled stepEnabled() const override;

  private:
    SelectRangeDialog& logic_;
};

class SelectRangeView final : public QDialog {
    Q_OBJECT
  public:
    SelectRangeView(SelectRangeDialog& logic, QWidget* parent = nullptr);
    QCheckBox* defaultBox() const { return default_; }
    RangeSpinBox* number() const { return number_; }
    QPushButton* okButton() const { return ok_; }

  private:
    SelectRangeDialog& logic_;
    QCheckBox* default_;
    RangeSpinBox* number_;
    QPushButton* ok_;
};

class SelectAddressView final : public QDialog {
    Q_OBJECT
  public:
    SelectAddressView(SelectAddressDialog& logic, QWidget* parent = nullptr);
    QComboBox* combo() const { return combo_; }
    QPushButton* okButton() const { return ok_; }

  private:
    SelectAddressDialog& logic_;
    QComboBox* combo_;
    QPushButton* ok_;
};

}  // namespace tessaly::ui::qt
