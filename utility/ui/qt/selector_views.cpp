#include "selector_views.h"

#include <QLineEdit>

#include "dialog_units.h"

namespace tessaly::ui::qt {
namespace {

void Prepare(QDialog& dialog, const char* caption, int width, int height) {
    dialog.setWindowTitle(caption);
    dialog.setFont(DialogFont());
    dialog.setFixedSize(DialogUnits(dialog.font()).size(width, height));
}

QPushButton* OkButton(QDialog& dialog, QRect rect) {
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setGeometry(rect);
    ok->setDefault(true);
    return ok;
}

}  // namespace

SelectCodepageView::SelectCodepageView(SelectCodepageDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    Prepare(*this, SelectCodepageDialog::kCaption, 212, 28);
    const DialogUnits du(font());
    list_ = new QComboBox(this);
    for (const auto& entry : SelectCodepageDialog::kEntries) list_->addItem(entry.name);
    list_->setCurrentIndex(logic_.currentIndex());
    QRect r = du.rect(7, 7, 140, 12);
    r.setHeight(list_->sizeHint().height());
    list_->setGeometry(r);
    ok_ = OkButton(*this, du.rect(155, 7, 50, 14));
    connect(list_, &QComboBox::currentIndexChanged, this,
            [this](int index) { logic_.OnSelectionChanged(index); });
    connect(ok_, &QPushButton::clicked, this, [this] {
        logic_.OnOk();
        accept();
    });
}

RangeSpinBox::RangeSpinBox(SelectRangeDialog& logic, QWidget* parent)
    : QSpinBox(parent), logic_(logic) {
    setRange(SelectRangeDialog::kMinimum, SelectRangeDialog::kMaximum);
    setWrapping(true);
    setGroupSeparatorShown(false);
    lineEdit()->setReadOnly(true);
    setValue(logic_.value());
}

void RangeSpinBox::stepBy(int steps) {
    logic_.Step(steps);
    setValue(logic_.value());
}

QAbstractSpinBox::StepEnabled RangeSpinBox::stepEnabled() const {
    return isEnabled() ? (StepUpEnabled | StepDownEnabled) : StepNone;
}

SelectRangeView::SelectRangeView(SelectRangeDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    Prepare(*this, SelectRangeDialog::kCaption, 118, 50);
    const DialogUnits du(font());
    default_ = new QCheckBox(SelectRangeDialog::kDefaultText, this);
    default_->setGeometry(du.rect(14, 10, 89, 11));
    // The number and its arrows as one control over both of their places.
    number_ = new RangeSpinBox(logic_, this);
    number_->setGeometry(du.rect(7, 27, 46, 16));
    ok_ = OkButton(*this, du.rect(61, 28, 50, 14));
    connect(default_, &QCheckBox::clicked, this, [this](bool ticked) {
        logic_.OnDefaultClicked(ticked);
        number_->setEnabled(logic_.valueEnabled());
    });
    connect(ok_, &QPushButton::clicked, this, [this] {
        logic_.OnOk();
        accept();
    });
}

SelectAddressView::SelectAddressView(SelectAddressDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    Prepare(*this, SelectAddressDialog::kCaption, 106, 28);
    const DialogUnits du(font());
    combo_ = new QComboBox(this);
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    QStringList entries;
    for (const auto& entry : SelectAddressDialog::kEntries)
        entries << QString::fromStdString(entry);
    entries.sort();
    combo_->addItems(entries);
    combo_->setCurrentIndex(0);
    QRect r = du.rect(7, 7, 39, 12);
    r.setHeight(combo_->sizeHint().height());
    combo_->setGeometry(r);
    ok_ = OkButton(*this, du.rect(49, 7, 50, 14));
    connect(combo_, &QComboBox::editTextChanged, this,
            [this](const QString& text) { logic_.OnTextChanged(text.toStdString()); });
    connect(ok_, &QPushButton::clicked, this, [this] {
        logic_.OnOk();
        accept();
    });
}

}  // namespace tessaly::ui::qt
