#include "command_test_editor_view.h"

#include <QFileDialog>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

#include "busy_input_filter.h"
#include "dialog_units.h"
#include "enter_key.h"
#include "file_folder.h"
#include "group_frame.h"
#include "operation_worker.h"
#include "qt_notifier.h"
#include "selector_views.h"

namespace tessaly::ui::qt {

bool QtEditorHost::Exec(QDialog& dialog) {
    if (onDialogOpened) {
        QTimer::singleShot(0, &dialog, [this, &dialog] { onDialogOpened(dialog); });
    }
    return dialog.exec() == QDialog::Accepted;
}

bool QtEditorHost::Run(SelectCodepageDialog& dialog) {
    SelectCodepageView view(dialog, parent_);
    return Exec(view);
}

bool QtEditorHost::Run(SelectRangeDialog& dialog) {
    SelectRangeView view(dialog, parent_);
    return Exec(view);
}

bool QtEditorHost::Run(SelectAddressDialog& dialog) {
    SelectAddressView view(dialog, parent_);
    return Exec(view);
}

std::optional<std::string> QtEditorHost::ChooseFile(const FileDialogRequest& request, bool save) {
    QFileDialog dialog(parent_, save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save && !request.promptOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QStringList filters;
    for (const auto& [label, pattern] : request.filters) {
        const QString text = QString::fromStdString(label);
        const QString wanted = QString::fromStdString("(" + pattern + ")");
        filters << (text.endsWith(wanted) ? text : text + " " + wanted);
    }
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    StartInRememberedFolder(dialog);
    dialog.selectFile(QString::fromStdString(request.fileName));
    if (!Exec(dialog) || dialog.selectedFiles().isEmpty()) return std::nullopt;
    RememberFolderOf(dialog.selectedFiles().front());
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtEditorHost::ChooseSaveFile(const FileDialogRequest& request) {
    return ChooseFile(request, true);
}

std::optional<std::string> QtEditorHost::ChooseLoadFile(const FileDialogRequest& request) {
    return ChooseFile(request, false);
}

CommandTestEditorView::CommandTestEditorView(PrinterPort& port, QtNotifier& notifier,
                                             OperationWorker& worker, QWidget* parent)
    : QDialog(parent), worker_(worker), host_(this), logic_(port, notifier, worker, host_) {
    build();
    logic_.onTextReplaced = [this] { showText(); };
    logic_.onChanged = [this] { refresh(); };
    connect(&worker_, &OperationWorker::busyChanged, this, [this](bool busy) {
        refresh();
        if (!busy && closeRequested_) done(closeResult_);
    });
}

CommandTestEditorView::~CommandTestEditorView() {
    logic_.onTextReplaced = nullptr;
    logic_.onChanged = nullptr;
}

QPushButton* CommandTestEditorView::button(const QString& text) const {
    const auto it = buttons_.find(text);
    return it == buttons_.end() ? nullptr : it->second;
}

void CommandTestEditorView::build() {
    setWindowTitle(CommandTestEditor::kCaption);
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(355, 247));
    host_.onDialogOpened = [this](QDialog& dialog) {
        if (onDialogOpened) onDialogOpened(dialog);
    };

    struct Frame {
        const char* title;
        int x, y, w, h;
    };
    for (const Frame& f :
         {Frame{"Command  (Hex Value, Ex: 1d 61 ff 0a)", 7, 9, 341, 98},
          Frame{"Write to the Printer", 257, 17, 85, 35}, Frame{"Test Printing", 257, 57, 84, 35},
          Frame{"Printing Option", 7, 110, 341, 71}, Frame{"Font", 15, 119, 325, 29},
          Frame{"Alignment", 15, 150, 199, 26}, Frame{"Cut and Feeding", 216, 150, 124, 26},
          Frame{"Etc", 7, 182, 341, 40}, Frame{"Virtual Memory", 14, 189, 72, 29},
          Frame{"NV Image", 89, 189, 71, 29}, Frame{"Open Cash Drawer", 164, 189, 179, 29}}) {
        auto* box = new GroupFrame(f.title, this);
        box->setGeometry(du.rect(f.x, f.y, f.w, f.h));
    }

    box_ = new QPlainTextEdit(this);
    box_->setGeometry(du.rect(14, 21, 236, 71));
    box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box_->setTabChangesFocus(true);
    connect(box_, &QPlainTextEdit::textChanged, this, [this] {
        if (!updating_) logic_.OnTextChanged(box_->toPlainText().toStdString());
    });

    auto* note = new QLabel(
        "* After Editing the Command, Click the Command Write Button to send the Printer", this);
    note->setGeometry(du.rect(15, 95, 274, 9));

    auto button = [&](const char* text, int x, int y, int w, int h, std::function<void()> action) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(du.rect(x, y, w, h));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, action = std::move(action)] {
            action();
            refresh();
        });
        buttons_[QString::fromUtf8(text)] = b;
        return b;
    };
    using Canned = CommandTestEditor::Canned;
    auto canned = [this](Canned c) { return [this, c] { logic_.OnCanned(c); }; };
    button("Write Command", 262, 28, 74, 19, [this] { logic_.OnWriteCommand(); });
    button("Print Test String", 262, 68, 74, 19, [this] { logic_.OnPrintTestString(); });
    button("Font A", 21, 130, 61, 14, canned(Canned::FontA));
    button("Font B", 85, 130, 61, 14, canned(Canned::FontB));
    button("Line Spacing", 149, 130, 61, 14, [this] { logic_.OnLineSpacing(); });
    button("Select Codepage", 214, 130, 61, 14, [this] { logic_.OnSelectCodepage(); });

    bold_ = new QCheckBox("Bold", this);
    bold_->setGeometry(du.rect(285, 127, 43, 8));
    connect(bold_, &QCheckBox::clicked, this,
            [this](bool ticked) { logic_.OnBoldClicked(ticked); });
    underline_ = new QCheckBox("Underline", this);
    underline_->setGeometry(du.rect(285, 137, 43, 8));
    connect(underline_, &QCheckBox::clicked, this,
            [this](bool ticked) { logic_.OnUnderlineClicked(ticked); });
    for (QCheckBox* box : {bold_, underline_}) {
        QRect r = box->geometry();
        r.setHeight(std::max(r.height(), box->sizeHint().height()));
        r.moveTop(r.top() - (r.height() - du.y(8)) / 2);
        box->setGeometry(r);
    }

    button("Left Alignment", 21, 159, 61, 14, canned(Canned::LeftAlignment));
    button("Center Alignment", 85, 159, 61, 14, canned(Canned::CenterAlignment));
    button("Right Alignment", 149, 159, 61, 14, canned(Canned::RightAlignment));
    button("Paper Cut", 220, 159, 56, 14, canned(Canned::PaperCut));
    button("Feed", 279, 159, 56, 14, canned(Canned::Feed));
    button("Set Codepage", 19, 200, 61, 14, [this] { logic_.OnSetCodepage(); });
    button("Print NV Image", 95, 200, 61, 14, [this] { logic_.OnPrintNvImage(); });
    button("Drawer1 50ms(2pin)", 167, 200, 85, 14, canned(Canned::Drawer1));
    button("Drawer2 50ms(5pin)", 254, 200, 85, 14, canned(Canned::Drawer2));
    button("Clear", 7, 226, 83, 14, [this] { logic_.OnClear(); });
    button("Save", 93, 226, 83, 14, [this] { logic_.OnSave(); });
    button("Load", 179, 226, 83, 14, [this] { logic_.OnLoad(); });
    button("Close", 265, 226, 83, 14, [this] { accept(); });

    busyFilter_ = new BusyInputFilter(this);
    busyFilter_->allow(buttons_[QStringLiteral("Close")]);
    PressFocusedButtonOnEnter(*this);
}

void CommandTestEditorView::showText() {
    updating_ = true;
    box_->setPlainText(QString::fromStdString(logic_.commandText()));
    updating_ = false;
    // Scroll so that the end of the text, where commands are appended, shows.
    box_->moveCursor(QTextCursor::End);
    box_->ensureCursorVisible();
}

void CommandTestEditorView::refresh() {
    bold_->setChecked(logic_.boldChecked());
    underline_->setChecked(logic_.underlineChecked());
    busyFilter_->setBlocked(worker_.busy() || logic_.busy());
}

void CommandTestEditorView::done(int result) {
    // A write is under way: close when it has gone out.
    if (worker_.busy() || logic_.busy()) {
        closeRequested_ = true;
        closeResult_ = result;
        return;
    }
    QDialog::done(result);
}

}  // namespace tessaly::ui::qt
