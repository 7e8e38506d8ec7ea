#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <map>
#include <memory>

#include "command_test_editor.h"

namespace tessaly::ui::qt {

class BusyInputFilter;
class OperationWorker;
class QtNotifier;

// The editor's modal dialogs, shown for real: the three pickers and the file
// dialogs.
class QtEditorHost final : public EditorHost {
  public:
    explicit QtEditorHost(QWidget* parent) : parent_(parent) {}
    bool Run(SelectCodepageDialog& dialog) override;
    bool Run(SelectRangeDialog& dialog) override;
    bool Run(SelectAddressDialog& dialog) override;
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
    std::optional<std::string> ChooseLoadFile(const FileDialogRequest& request) override;

    // Called with each dialog once it is shown (screenshot tour, tests).
    std::function<void(QDialog&)> onDialogOpened;

  private:
    bool Exec(QDialog& dialog);
    std::optional<std::string> ChooseFile(const FileDialogRequest& request, bool save);
    QWidget* parent_;
};

// The command test editor over CommandTestEditor, writing through the worker.
class CommandTestEditorView final : public QDialog {
    Q_OBJECT
  public:
    CommandTestEditorView(PrinterPort& port, QtNotifier& notifier, OperationWorker& worker,
                          QWidget* parent = nullptr);
    ~CommandTestEditorView() override;

    CommandTestEditor& logic() { return logic_; }
    QPlainTextEdit* commandBox() const { return box_; }
    QCheckBox* boldBox() const { return bold_; }
    QCheckBox* underlineBox() const { return underline_; }
    // The push buttons by their text.
    QPushButton* button(const QString& text) const;

    std::function<void(QDialog&)> onDialogOpened;

  public slots:
    void done(int result) override;

  private:
    void build();
    void showText();
    void refresh();

    OperationWorker& worker_;
    QtEditorHost host_;
    CommandTestEditor logic_;
    QPlainTextEdit* box_ = nullptr;
    QCheckBox* bold_ = nullptr;
    QCheckBox* underline_ = nullptr;
    std::map<QString, QPushButton*> buttons_;
    BusyInputFilter* busyFilter_ = nullptr;
    bool updating_ = false;
    bool closeRequested_ = false;
    int closeResult_ = 0;
};

}  // namespace tessaly::ui::qt
