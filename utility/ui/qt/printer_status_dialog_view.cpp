#include "printer_status_dialog_view.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QThread>

#include "busy_input_filter.h"
#include "dialog_units.h"
#include "enter_key.h"
#include "file_folder.h"
#include "group_frame.h"
#include "operation_worker.h"
#include "qt_notifier.h"
#include "status_page_views.h"

namespace tessaly::ui::qt {
namespace {

// Status files, and settings profiles: the file's extension says which it is.
const QStringList kStatusFileFilters{QStringLiteral("Status Files (*.sts)"),
                                     QStringLiteral("Settings Profiles (*.toml)")};

// The save dialog of status files asks before it creates a new file, as it asks
// before it replaces one; "No" leaves the dialog open for another name.
class StatusSaveDialog final : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QFileInfo file(selectedFiles().value(0));
        if (!file.fileName().isEmpty() && !file.exists() &&
            QMessageBox::question(
                this, windowTitle(),
                QString::fromStdString(
                    PrinterStatusDialog::CreateFileQuestion(file.fileName().toStdString())),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes) {
            return;
        }
        QFileDialog::accept();
    }
};

}  // namespace

PrinterStatusDialogView::PrinterStatusDialogView(PrinterPort& port, int modelIndex, Clock& clock,
                                                 QtNotifier& notifier, OperationWorker& worker,
                                                 QWidget* parent,
                                                 FontDownload::PayloadLookup payloads)
    : QDialog(parent),
      worker_(worker),
      pacing_(clock),
      logic_(StatusDialogDeps{port, clock, notifier, worker, pacing_, modelIndex,
                              std::move(payloads)}) {
    build();
    // Changes made on the worker are picked up when the job ends.
    logic_.onChanged = [this] {
        if (QThread::currentThread() == thread()) refresh();
    };
    // The bar follows every position at once, with the buttons as the operation
    // has set them by then (read on the thread that sets them).
    logic_.progress().onPosition = [this](int position) {
        const unsigned enabled = logic_.enabledButtons();
        worker_.PostToUi([this, position, enabled] {
            progress_->setValue(position);
            if (working()) applyButtons(enabled);
        });
    };
    connect(&worker_, &OperationWorker::busyChanged, this, [this](bool busy) {
        if (busy) return refresh();
        if (closeRequested_) return done(closeResult_);
        refresh();
    });
    refresh();
}

PrinterStatusDialogView::~PrinterStatusDialogView() {
    // Never leave the worker inside this dialog's logic.
    pacing_.cancel();
    worker_.WaitIdle(60000);
    logic_.onChanged = nullptr;
    logic_.progress().onPosition = nullptr;
}

bool PrinterStatusDialogView::working() const {
    return worker_.busy() || pacingRunning_;
}

void PrinterStatusDialogView::build() {
    setWindowTitle(PrinterStatusDialog::kTitle);
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(414, 207));

    (new GroupFrame(QStringLiteral("Setup Status"), this))->setGeometry(du.rect(331, 15, 75, 58));
    (new GroupFrame(QStringLiteral("User Status Setting"), this))
        ->setGeometry(du.rect(332, 76, 75, 82));

    tabs_ = new PageTabControl(logic_.memorySwitchPage(), logic_.printerSettingPage(), this);
    tabs_->setGeometry(du.rect(7, 7, 316, 172));
    tabs_->memorySwitchPage()->onChanged = [this] { refresh(); };
    tabs_->printerSettingPage()->onChanged = [this] { refresh(); };

    struct ButtonPlace {
        StatusButton id;
        const char* text;
        int x, y;
        std::function<void()> action;
    };
    const std::array<ButtonPlace, 6> places{{
        {kGetButton, "Get Status", 337, 26, [this] { logic_.OnGetStatus(); }},
        {kSetButton, "Set Status", 337, 49, [this] { logic_.OnSetStatus(); }},
        {kSaveButton, "Save Status", 337, 89, [this] { saveStatus(); }},
        {kLoadButton, "Load Status", 337, 113, [this] { loadStatus(); }},
        {kInitializeButton, "Initialize Status", 337, 135, [this] { logic_.OnInitializeStatus(); }},
        {kExitButton, "Exit", 337, 162, nullptr},
    }};
    for (const ButtonPlace& place : places) {
        auto* b = new QPushButton(place.text, this);
        b->setGeometry(du.rect(place.x, place.y, 64, 17));
        b->setAutoDefault(false);
        buttons_[place.id] = b;
        if (!place.action) {
            // Exit works during an exchange too: the dialog closes when it ends.
            connect(b, &QPushButton::clicked, this, &QDialog::reject);
            continue;
        }
        connect(b, &QPushButton::clicked, this, [this, action = place.action] {
            if (working()) return;
            action();
            refresh();
        });
    }

    (new QLabel(QStringLiteral("Progess :"), this))->setGeometry(du.rect(8, 187, 35, 12));
    progress_ = new QProgressBar(this);
    progress_->setGeometry(du.rect(45, 185, 201, 13));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    busyFilter_ = new BusyInputFilter(this);
    busyFilter_->allow(buttons_[kExitButton]);
    PressFocusedButtonOnEnter(*this);
}

void PrinterStatusDialogView::applyButtons(unsigned enabled) {
    for (const auto& [id, b] : buttons_) b->setEnabled((enabled & id) != 0);
}

void PrinterStatusDialogView::refresh() {
    busyFilter_->setBlocked(working());
    // The operation on the worker owns the state until it ends.
    if (working()) return;
    applyButtons(logic_.enabledButtons());
    progress_->setValue(logic_.progress().position());
    tabs_->refresh();
    if (logic_.downloading()) startDownloadEvents();
}

void PrinterStatusDialogView::startDownloadEvents() {
    if (pacingRunning_ || closeRequested_) return;
    pacingRunning_ = true;
    applyButtons(logic_.enabledButtons());
    busyFilter_->setBlocked(true);
    worker_.Run([this] { pacing_.run([this](int timerId) { logic_.OnTimer(timerId); }); },
                [this] { pacingRunning_ = false; });
}

void PrinterStatusDialogView::saveStatus() {
    StatusSaveDialog dialog(this, QStringLiteral("Save current status"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(kStatusFileFilters);
    StartInRememberedFolder(dialog);
    dialog.selectFile(QStringLiteral("Noname.sts"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    RememberFolderOf(dialog.selectedFiles().front());
    logic_.OnSaveStatus(dialog.selectedFiles().front().toStdString());
}

void PrinterStatusDialogView::loadStatus() {
    QFileDialog dialog(this, QStringLiteral("Load saved status"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(kStatusFileFilters);
    StartInRememberedFolder(dialog);
    dialog.selectFile(QStringLiteral("*.sts"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    RememberFolderOf(dialog.selectedFiles().front());
    logic_.OnLoadStatus(dialog.selectedFiles().front().toStdString());
}

void PrinterStatusDialogView::keyPressEvent(QKeyEvent* event) {
    // Enter with no button focused ends the dialog with OK, as Escape ends it
    // with cancel (a focused button takes Enter itself).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PrinterStatusDialogView::done(int result) {
    if (working()) {
        closeRequested_ = true;
        closeResult_ = result;
        // A download stops between two blocks; any other exchange runs to its end.
        pacing_.cancel();
        return;
    }
    QDialog::done(result);
}

}  // namespace tessaly::ui::qt
