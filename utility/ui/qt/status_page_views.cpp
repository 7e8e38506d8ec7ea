#include "status_page_views.h"

#include "dialog_units.h"
#include "group_frame.h"
#include "printer_settings.h"

namespace tessaly::ui::qt {
namespace {

QRect ComboRect(const DialogUnits& du, QComboBox* combo, int x, int y, int width) {
    QRect r = du.rect(x, y, width, 12);
    r.setHeight(std::min(combo->sizeHint().height(), du.y(14)));
    return r;
}

// A radio button or label of a given dialog-unit height, grown to what its font
// needs and kept centred on the same line.
void PlaceCentred(QWidget* widget, QRect rect) {
    const int wanted = std::max(rect.height(), widget->sizeHint().height());
    const int centre = rect.center().y();
    rect.setHeight(wanted);
    rect.moveTop(centre - wanted / 2);
    widget->setGeometry(rect);
}

}  // namespace

MemorySwitchPageView::MemorySwitchPageView(MemorySwitchPage& page, QWidget* parent)
    : QWidget(parent), page_(page) {
    setFont(DialogFont());
    const DialogUnits du(font());
    // Frames first: the titled box, the frame with its column line, the bands
    // around rows 2, 4 and 6.
    auto* display = new GroupFrame(QStringLiteral("Tessaly Status Display"), this);
    display->setGeometry(du.rect(7, 7, 295, 141));
    for (const QRect& r :
         {du.rect(17, 15, 274, 126), du.rect(118, 15, 173, 126), du.rect(17, 32, 274, 22),
          du.rect(17, 67, 274, 22), du.rect(17, 101, 274, 22)}) {
        auto* frame = new GroupFrame(QString(), this);
        frame->setGeometry(r);
    }
    constexpr std::array<int, 7> labelY{20, 37, 54, 72, 89, 106, 123};
    constexpr std::array<int, 7> choiceY{25, 42, 59, 76, 92, 109, 127};
    for (std::size_t row = 0; row < labels_.size(); ++row) {
        const SwitchSetting& setting = kSwitchSettings[row];
        auto* label = new QLabel(setting.label, this);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(du.rect(18, labelY[row], 99, row == 2 ? 17 : 16));
        label->setEnabled(false);
        labels_[row] = label;

        groups_[row] = new QButtonGroup(this);
        for (int index = 0; index < 2; ++index) {
            auto* radio = new QRadioButton(index == 0 ? setting.choice0 : setting.choice1, this);
            PlaceCentred(radio, du.rect(index == 0 ? 127 : 215, choiceY[row], 70, 8));
            radio->setEnabled(false);
            groups_[row]->addButton(radio, index);
            choices_[row][static_cast<std::size_t>(index)] = radio;
        }
        connect(groups_[row], &QButtonGroup::idClicked, this, [this, row](int index) {
            page_.Click(static_cast<int>(row), index);
            refresh();
            if (onChanged) onChanged();
        });
    }
}

void MemorySwitchPageView::refresh() {
    for (std::size_t row = 0; row < labels_.size(); ++row) {
        const int r = static_cast<int>(row);
        QLabel* label = labels_[row];
        label->setEnabled(page_.labelEnabled(r));
        if (const auto colours = page_.labelColours(r)) {
            QPalette palette = label->palette();
            const QColor text(colours->text.r, colours->text.g, colours->text.b);
            const QColor back(colours->background.r, colours->background.g, colours->background.b);
            for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                palette.setColor(group, QPalette::WindowText, text);
                palette.setColor(group, QPalette::Window, back);
            }
            label->setPalette(palette);
            label->setAutoFillBackground(true);
        } else {
            label->setPalette(QPalette());
            label->setAutoFillBackground(false);
        }
        // An exclusive group cannot clear its last checked button.
        groups_[row]->setExclusive(false);
        for (int index = 0; index < 2; ++index) {
            QRadioButton* radio = choices_[row][static_cast<std::size_t>(index)];
            radio->setEnabled(page_.choicesEnabled(r));
            radio->setChecked(page_.selection(r) == index);
        }
        groups_[row]->setExclusive(true);
    }
}

PrinterSettingPageView::PrinterSettingPageView(PrinterSettingPage& page, QWidget* parent)
    : QWidget(parent), page_(page) {
    setFont(DialogFont());
    const DialogUnits du(font());
    (new GroupFrame(QString(), this))->setGeometry(du.rect(7, 7, 138, 39));
    auto* communication = new GroupFrame(QStringLiteral("Communication Status"), this);
    communication->setGeometry(du.rect(7, 51, 140, 97));
    (new GroupFrame(QStringLiteral("Default Code Page"), this))
        ->setGeometry(du.rect(154, 7, 148, 39));
    (new GroupFrame(QStringLiteral("Buyer Set Management"), this))
        ->setGeometry(du.rect(154, 51, 148, 97));

    (new QLabel(QStringLiteral("Printer Model :"), this))->setGeometry(du.rect(13, 18, 78, 8));
    modelText_ = new QLabel(this);
    modelText_->setGeometry(du.rect(93, 18, 50, 8));
    (new QLabel(QStringLiteral("Firmware Version :"), this))->setGeometry(du.rect(13, 29, 79, 8));
    firmwareText_ = new QLabel(this);
    firmwareText_->setGeometry(du.rect(94, 29, 49, 8));

    // The serial conditions are part of the page but never shown.
    communication->hide();
    const std::array<const char*, 4> serialLabels{
        "Baund Rate :", "Data Bits :", "Parity :", "Flow Control :"};
    const std::array<int, 4> serialY{68, 87, 107, 127};
    const std::array<QStringList, 4> serialEntries{
        QStringList{kBaudTexts.begin(), kBaudTexts.end()},
        QStringList{kDataBitsTexts.begin(), kDataBitsTexts.end()},
        QStringList{kParityTexts.begin(), kParityTexts.end()},
        QStringList{kFlowTexts.begin(), kFlowTexts.end()}};
    for (std::size_t i = 0; i < serial_.size(); ++i) {
        auto* label = new QLabel(serialLabels[i], this);
        label->setGeometry(du.rect(15, serialY[i], 46, 8));
        label->hide();
        serial_[i] = new QComboBox(this);
        serial_[i]->addItems(serialEntries[i]);
        serial_[i]->setCurrentIndex(-1);
        serial_[i]->setGeometry(ComboRect(du, serial_[i], 63, serialY[i] - 2, 76));
        serial_[i]->setEnabled(false);
        serial_[i]->hide();
    }

    codePages_ = new QComboBox(this);
    for (const char* name : kCodePageNames) codePages_->addItem(name);
    codePages_->setMaxVisibleItems(12);
    codePages_->setGeometry(ComboRect(du, codePages_, 162, 22, 131));
    buyerSets_ = new QComboBox(this);
    for (const char* name : kBuyerSetNames) buyerSets_->addItem(name);
    buyerSets_->setGeometry(ComboRect(du, buyerSets_, 162, 68, 132));
    auto* note = new QLabel(
        QStringLiteral("If you only want to change the buyer setting, Select the One. => National "
                       "Set and Font will be Changed. "),
        this);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setGeometry(du.rect(164, 85, 123, 31));

    connect(codePages_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (refreshing_) return;
        page_.OnCodePageSelected(index);
        refresh();
        if (onChanged) onChanged();
    });
    connect(buyerSets_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (refreshing_) return;
        page_.OnBuyerSetSelected(index);
        refresh();
        if (onChanged) onChanged();
    });
    refresh();
}

void PrinterSettingPageView::refresh() {
    refreshing_ = true;
    modelText_->setText(QString::fromStdString(page_.modelNameText()));
    firmwareText_->setText(QString::fromStdString(page_.firmwareVersionText()));
    const SerialConditions& serial = page_.serialSelections();
    const std::array<int, 4> serialIndex{serial.baudIndex, serial.dataBitsIndex, serial.parityIndex,
                                         serial.flowIndex};
    for (std::size_t i = 0; i < serial_.size(); ++i) serial_[i]->setCurrentIndex(serialIndex[i]);
    codePages_->setCurrentIndex(page_.codePageSelection());
    codePages_->setEnabled(page_.codePageListEnabled());
    buyerSets_->setCurrentIndex(page_.buyerSetSelection());
    buyerSets_->setEnabled(page_.buyerListEnabled());
    refreshing_ = false;
}

PageTabControl::PageTabControl(MemorySwitchPage& memory, PrinterSettingPage& setting,
                               QWidget* parent)
    : QTabWidget(parent),
      memory_(new MemorySwitchPageView(memory, this)),
      setting_(new PrinterSettingPageView(setting, this)) {
    insertTab(0, memory_, QStringLiteral("Memory switch"));
    insertTab(1, setting_, QStringLiteral("Printer Setting"));
    setCurrentIndex(0);
}

void PageTabControl::refresh() {
    memory_->refresh();
    setting_->refresh();
}

}  // namespace tessaly::ui::qt
