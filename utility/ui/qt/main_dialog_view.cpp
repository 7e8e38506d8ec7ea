#include "main_dialog_view.h"

#include <QAction>
#include <QLabel>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>

#include "about_dialog_view.h"
#include "app_icon.h"
#include "busy_input_filter.h"
#include "command_test_editor_view.h"
#include "dialog_units.h"
#include "enter_key.h"
#include "group_frame.h"
#include "operation_worker.h"
#include "printer_status_dialog_view.h"
#include "qt_notifier.h"
#include "udev_usb.h"

namespace tessaly::ui::qt {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A closed drop-down list is as tall as its font needs, whatever height the
// layout gives its drop-down part.
QRect ComboRect(const DialogUnits& du, QComboBox* combo, int x, int y, int width) {
    QRect r = du.rect(x, y, width, 12);
    r.setHeight(std::min(combo->sizeHint().height(), du.y(14)));
    return r;
}

}  // namespace

struct MainDialogView::UsbFollower {
    UdevUsbWatcher watcher;
    std::unique_ptr<QSocketNotifier> notifier;
};

MainDialogView::MainDialogView(MainDialog& logic, OperationWorker& worker, QtNotifier& notifier,
                               QWidget* parent)
    : QDialog(parent), logic_(logic), worker_(worker), notifier_(notifier) {
    build();
    followUsbPrinters();
    logic_.onChanged = [this] { refresh(); };
    connect(&worker_, &OperationWorker::busyChanged, this, [this](bool busy) {
        refresh();
        if (!busy && closeRequested_) done(closeResult_);
    });
    refresh();
}

MainDialogView::~MainDialogView() {
    logic_.onChanged = nullptr;
}

void MainDialogView::followUsbPrinters() {
    auto follower = std::make_unique<UsbFollower>();
    // Without udev (a container, say) the list is still read whenever USB is chosen.
    if (!follower->watcher.Start()) return;
    follower->notifier =
        std::make_unique<QSocketNotifier>(follower->watcher.Fd(), QSocketNotifier::Read);
    connect(follower->notifier.get(), &QSocketNotifier::activated, this, [this] {
        if (!usbFollower_->watcher.TakeEvents().empty()) logic_.OnUsbDevicesChanged();
    });
    usbFollower_ = std::move(follower);
}

void MainDialogView::build() {
    setWindowTitle(MainDialog::kCaption);
    setWindowIcon(AppIcon());
    // The program's only window: it can be minimised, showing the application icon.
    setWindowFlag(Qt::WindowMinimizeButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(239, 170));

    auto group = [&](const char* title, QRect rect) {
        auto* box = new GroupFrame(title, this);
        box->setGeometry(rect);
        return box;
    };
    auto label = [&](const char* text, QRect rect) {
        auto* l = new QLabel(text, this);
        l->setGeometry(rect);
        return l;
    };
    auto combo = [&](const std::vector<std::string>& entries, int x, int y, int width) {
        auto* box = new QComboBox(this);
        fillCombo(box, entries);
        box->setGeometry(ComboRect(du, box, x, y, width));
        return box;
    };
    auto button = [&](const char* text, int x, int y, int width, int height) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(du.rect(x, y, width, height));
        b->setAutoDefault(false);
        return b;
    };

    // Frames first, so that the controls inside them are drawn on top.
    group("Interface Type", du.rect(7, 26, 225, 25));
    group("Communication Setting", du.rect(7, 55, 133, 108));

    label("Device Selection", du.rect(27, 10, 57, 12));
    c_.model = combo(MainDialog::kModels, 85, 11, 96);

    const std::array<QRect, 3> radioRects{du.rect(33, 38, 39, 8), du.rect(100, 39, 50, 8),
                                          du.rect(178, 39, 29, 8)};
    for (int i = 0; i < 3; ++i) {
        auto* radio =
            new QRadioButton(Q(MainDialog::kRadioTexts[static_cast<std::size_t>(i)]), this);
        QRect r = radioRects[static_cast<std::size_t>(i)];
        r.setHeight(std::max(r.height(), radio->sizeHint().height()));
        r.moveTop(radioRects[static_cast<std::size_t>(i)].center().y() - r.height() / 2);
        r.setWidth(std::max(r.width(), radio->sizeHint().width()));
        radio->setGeometry(r);
        c_.interfaces[static_cast<std::size_t>(i)] = radio;
        connect(radio, &QRadioButton::clicked, this, [this, i] {
            logic_.OnInterfaceClicked(i);
            refresh();
        });
    }

    label("Port", du.rect(15, 71, 44, 8));
    c_.port = combo({}, 65, 68, 67);
    label("Baud Rate", du.rect(15, 85, 44, 8));
    c_.baud = combo({}, 65, 83, 67);
    label("Data Bits", du.rect(15, 100, 44, 8));
    c_.dataBits = combo(MainDialog::kDataBits, 65, 98, 67);
    label("Parity", du.rect(15, 115, 44, 9));
    c_.parity = combo(MainDialog::kParities, 65, 113, 67);
    c_.parity->setEditable(true);
    c_.parity->setInsertPolicy(QComboBox::NoInsert);
    label("Stop Bits", du.rect(15, 130, 44, 9));
    c_.stopBits = combo(MainDialog::kStopBits, 65, 128, 67);
    label("Flow Control", du.rect(15, 145, 44, 9));
    c_.flowControl = combo(MainDialog::kFlowControls, 65, 143, 67);

    c_.checkCommunication = button("Check Communication", 152, 59, 80, 19);
    c_.checkCommunication->setDefault(true);
    c_.selfTest = button("Self Test", 152, 79, 80, 19);
    c_.runManager = button("Run Manager", 152, 100, 80, 19);
    c_.commandEditor = button("Command Test Editor", 152, 121, 80, 19);
    c_.exit = button("Exit", 152, 142, 80, 19);

    const auto onSelection = [this](QComboBox* box, std::function<void(MainDialog&, int)> handler) {
        connect(box, &QComboBox::currentIndexChanged, this,
                [this, handler = std::move(handler)](int index) {
                    if (refreshing_) return;
                    handler(logic_, index);
                    refresh();
                });
    };
    onSelection(c_.port, [](MainDialog& d, int i) { d.OnPortSelected(i); });
    onSelection(c_.baud, [](MainDialog& d, int i) { d.OnBaudSelected(i); });
    onSelection(c_.dataBits, [](MainDialog& d, int i) { d.OnDataBitsSelected(i); });
    onSelection(c_.parity, [](MainDialog& d, int i) { d.OnParitySelected(i); });
    onSelection(c_.stopBits, [](MainDialog& d, int i) { d.OnStopBitsSelected(i); });
    onSelection(c_.flowControl, [](MainDialog& d, int i) { d.OnFlowControlSelected(i); });
    onSelection(c_.model, [](MainDialog& d, int i) { d.OnModelSelected(i); });

    connect(c_.checkCommunication, &QPushButton::clicked, this, [this] {
        logic_.OnCheckCommunication();
        refresh();
    });
    connect(c_.selfTest, &QPushButton::clicked, this, [this] {
        logic_.OnSelfTest();
        refresh();
    });
    connect(c_.runManager, &QPushButton::clicked, this, &MainDialogView::openStatusDialog);
    connect(c_.commandEditor, &QPushButton::clicked, this, &MainDialogView::openCommandEditor);
    connect(c_.exit, &QPushButton::clicked, this, &QDialog::reject);

    // The About box: F1 and the window's context menu.
    auto* about = new QAction(tr("&About Tessaly..."), this);
    about->setShortcut(QKeySequence::HelpContents);
    about->setShortcutContext(Qt::WindowShortcut);
    connect(about, &QAction::triggered, this, &MainDialogView::showAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    busyFilter_ = new BusyInputFilter(this);
    busyFilter_->allow(c_.exit);
    PressFocusedButtonOnEnter(*this);
}

void MainDialogView::fillCombo(QComboBox* combo, const std::vector<std::string>& entries) {
    QStringList items;
    for (const auto& entry : entries) items << Q(entry);
    QStringList current;
    for (int i = 0; i < combo->count(); ++i) current << combo->itemText(i);
    if (current == items) return;
    combo->clear();
    combo->addItems(items);
}

void MainDialogView::refresh() {
    refreshing_ = true;
    const int type = logic_.interfaceType();
    for (int i = 0; i < 3; ++i) c_.interfaces[static_cast<std::size_t>(i)]->setChecked(i == type);
    c_.interfaces[1]->setEnabled(logic_.otherInterfacesEnabled());
    c_.interfaces[2]->setEnabled(logic_.otherInterfacesEnabled());
    c_.model->setCurrentIndex(logic_.modelIndex());
    fillCombo(c_.port, logic_.portNames());
    c_.port->setCurrentIndex(logic_.portIndex());
    fillCombo(c_.baud, logic_.baudRates());
    c_.baud->setCurrentIndex(logic_.baudIndex());
    c_.dataBits->setCurrentIndex(logic_.dataBitsIndex());
    if (logic_.parityIndex() >= 0) c_.parity->setCurrentIndex(logic_.parityIndex());
    c_.stopBits->setCurrentIndex(logic_.stopBitsIndex());
    c_.flowControl->setCurrentIndex(logic_.flowControlIndex());
    for (QComboBox* box : {c_.baud, c_.dataBits, c_.parity, c_.stopBits, c_.flowControl})
        box->setEnabled(logic_.lineSettingsEnabled());

    const auto& b = logic_.buttons();
    c_.checkCommunication->setEnabled(b.checkCommunication);
    c_.selfTest->setEnabled(b.selfTest);
    c_.runManager->setEnabled(b.runManager);
    c_.commandEditor->setEnabled(b.commandEditor);
    c_.exit->setEnabled(b.exit);
    busyFilter_->setBlocked(worker_.busy() || logic_.busy());
    refreshing_ = false;
}

void MainDialogView::runModal(QDialog& dialog) {
    if (onDialogOpened) {
        QTimer::singleShot(0, &dialog, [this, &dialog] { onDialogOpened(dialog); });
    }
    dialog.exec();
}

void MainDialogView::showAbout() {
    AboutDialogView about(this);
    runModal(about);
}

void MainDialogView::openCommandEditor() {
    if (!logic_.connected() || worker_.busy()) return;
    CommandTestEditorView editor(logic_.port(), notifier_, worker_, this);
    editor.onDialogOpened = onDialogOpened;
    runModal(editor);
}

void MainDialogView::openStatusDialog() {
    if (!logic_.connected() || worker_.busy()) return;
    PrinterStatusDialogView status(logic_.port(), logic_.modelIndex(), logic_.clock(), notifier_,
                                   worker_, this);
    runModal(status);
}

void MainDialogView::done(int result) {
    // A printer operation runs: close once it has finished, so the port is never
    // closed under it and the queues are restored after the last exchange.
    if (worker_.busy() || logic_.busy()) {
        closeRequested_ = true;
        closeResult_ = result;
        return;
    }
    logic_.Shutdown();
    QDialog::done(result);
}

}  // namespace tessaly::ui::qt
