#include "screenshot_tour.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include "about_dialog_view.h"
#include "command_test_editor_view.h"
#include "main_dialog_view.h"
#include "operation_worker.h"
#include "printer_status_dialog_view.h"
#include "selector_views.h"
#include "status_page_views.h"
#include "ui_script.h"

namespace tessaly::ui::qt {
namespace {

bool Save(QWidget* widget, const QString& folder, const QString& name) {
    return widget->grab().save(QDir(folder).filePath(name + ".png"));
}

// Saves the message box on top and answers it with its first button.
UiScript::Step AnswerMessage(const QString& folder, const QString& name) {
    return [folder, name] {
        auto* box = UiScript::top<QMessageBox>();
        if (!box || !box->isVisible()) return false;
        Save(box, folder, name);
        box->buttons().front()->click();
        return true;
    };
}

// Answers every message box that comes up (Yes where asked) and saves it, until
// the status dialog's operation is over.
UiScript::Step AnswerUntilIdle(const QString& folder, const QString& prefix) {
    auto count = std::make_shared<int>(0);
    return [folder, prefix, count] {
        if (auto* box = UiScript::top<QMessageBox>(); box && box->isVisible()) {
            Save(box, folder, prefix + QString::number(++*count));
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            (yes ? yes : box->buttons().front())->click();
            return false;
        }
        auto* status = UiScript::top<PrinterStatusDialogView>();
        return status && !status->working();
    };
}

template <typename T>
UiScript::Step WhenOnTop(std::function<void(T&)> action) {
    return [action] {
        T* dialog = UiScript::top<T>();
        if (!dialog || !dialog->isVisible()) return false;
        action(*dialog);
        return true;
    };
}

}  // namespace

void AddScreenshotTour(UiScript& s, MainDialogView& view, const QString& folder) {
    QDir().mkpath(folder);
    const auto& c = view.controls();
    auto idle = [&view] { return !view.logic().busy(); };

    s.add("main dialog", [&view, folder] { return Save(&view, folder, "01-main-dialog"); });
    s.add("choose USB", [c] {
        UiScript::pressLater(c.interfaces[2]);
        return true;
    });
    s.add("no USB printer message", AnswerMessage(folder, "02-no-usb-printer"));
    s.add("choose PARALLEL", [c, &view, folder] {
        c.interfaces[1]->click();
        return Save(&view, folder, "03-parallel-chosen");
    });
    s.add("back to SERIAL", [c] {
        c.interfaces[0]->click();
        c.port->setCurrentIndex(0);
        UiScript::pressLater(c.checkCommunication);
        return true;
    });
    s.add("connection message", AnswerMessage(folder, "04-check-communication-message"));
    s.add("connected", [&view, idle, folder] {
        return view.logic().connected() && idle() && Save(&view, folder, "05-connected");
    });
    s.add("self test", [c, &view, folder] {
        c.selfTest->click();
        return Save(&view, folder, "06-during-self-test");
    });
    s.add("self test done", idle);
    s.add("about", [&view] {
        QTimer::singleShot(0, &view, [&view] { view.showAbout(); });
        return true;
    });
    s.add("about box", WhenOnTop<AboutDialogView>([folder](AboutDialogView& d) {
              Save(&d, folder, "07-about");
              d.accept();
          }));
    s.add("open the editor", [c] {
        UiScript::pressLater(c.commandEditor);
        return true;
    });
    s.add("editor", WhenOnTop<CommandTestEditorView>([folder](CommandTestEditorView& e) {
              Save(&e, folder, "08-command-test-editor");
              for (const char* name : {"Font A", "Center Alignment"}) e.button(name)->click();
              e.boldBox()->click();
              e.button("Feed")->click();
              UiScript::pressLater(e.button("Line Spacing"));
          }));
    s.add("line spacing", WhenOnTop<SelectRangeView>([folder](SelectRangeView& d) {
              d.number()->stepBy(24);
              Save(&d, folder, "09-select-range");
              d.okButton()->click();
          }));
    s.add("select codepage", [] {
        auto* e = UiScript::top<CommandTestEditorView>();
        if (!e) return false;
        UiScript::pressLater(e->button("Select Codepage"));
        return true;
    });
    s.add("codepage list", WhenOnTop<SelectCodepageView>([folder](SelectCodepageView& d) {
              d.list()->setCurrentIndex(6);
              Save(&d, folder, "10-select-codepage");
              d.okButton()->click();
          }));
    s.add("nv image", [] {
        auto* e = UiScript::top<CommandTestEditorView>();
        if (!e) return false;
        UiScript::pressLater(e->button("Print NV Image"));
        return true;
    });
    s.add("address", WhenOnTop<SelectAddressView>([folder](SelectAddressView& d) {
              Save(&d, folder, "11-select-address");
              d.okButton()->click();
          }));
    s.add("write", [folder] {
        auto* e = UiScript::top<CommandTestEditorView>();
        if (!e) return false;
        e->commandBox()->appendPlainText(QStringLiteral("54 65 73 73 61 6c 79 0a"));
        e->button("Write Command")->click();
        return Save(e, folder, "12-editor-with-commands");
    });
    s.add("print test string", [] {
        auto* e = UiScript::top<CommandTestEditorView>();
        if (!e || e->logic().busy()) return false;
        e->button("Print Test String")->click();
        return true;
    });
    s.add("save", [] {
        auto* e = UiScript::top<CommandTestEditorView>();
        if (!e || e->logic().busy()) return false;
        UiScript::pressLater(e->button("Save"));
        return true;
    });
    s.add("save dialog", WhenOnTop<QFileDialog>([folder](QFileDialog& d) {
              Save(&d, folder, "13-save-dialog");
              d.reject();
          }));
    s.add("save cancelled message", AnswerMessage(folder, "14-save-cancelled"));
    s.add("close the editor", [] {
        auto* e = UiScript::top<CommandTestEditorView>();
        if (!e) return false;
        e->button("Close")->click();
        return true;
    });
    s.add("editor closed", [&view] { return UiScript::top<QDialog>() == &view; });

    s.add("run manager", [c] {
        UiScript::pressLater(c.runManager);
        return true;
    });
    s.add("status dialog", WhenOnTop<PrinterStatusDialogView>([folder](PrinterStatusDialogView& d) {
              Save(&d, folder, "15-status-dialog");
              d.button(kGetButton)->click();
          }));
    s.add("get status", AnswerUntilIdle(folder, "16-get-status-message-"));
    s.add("pages", [folder] {
        auto* d = UiScript::top<PrinterStatusDialogView>();
        Save(d, folder, "17-memory-switch-page");
        d->tabs()->setCurrentIndex(1);
        Save(d, folder, "18-printer-setting-page");
        d->tabs()->printerSettingPage()->buyerSetList()->setCurrentIndex(2);  // KOR
        Save(d, folder, "19-buyer-set-kor");
        d->button(kSetButton)->click();
        return true;
    });
    auto shotDuringDownload = std::make_shared<bool>(false);
    s.add("set status and font download",
          [folder, shotDuringDownload, answer = AnswerUntilIdle(folder, "20-set-status-message-")] {
              auto* d = UiScript::top<PrinterStatusDialogView>();
              if (d && !*shotDuringDownload && d->progressBar()->value() > 10) {
                  *shotDuringDownload = Save(d, folder, "21-font-download-progress");
              }
              return answer();
          });
    s.add("save status", [folder] {
        auto* d = UiScript::top<PrinterStatusDialogView>();
        if (!d) return false;
        Save(d, folder, "22-after-download");
        UiScript::pressLater(d->button(kSaveButton));
        return true;
    });
    const QString statusFile = QDir(folder).filePath("tour.sts");
    s.add("save status dialog", WhenOnTop<QFileDialog>([folder, statusFile](QFileDialog& d) {
              Save(&d, folder, "23-save-status-dialog");
              // A file left by an earlier tour would bring up the overwrite question.
              QFile::remove(statusFile);
              // Into the name field, as a user clicks there, so the next step meets
              // the field focused however the window was activated.
              if (auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                  name->setFocus(Qt::MouseFocusReason);
          }));
    // The dialog may still be reading the folder it opened in, which can bring back
    // the proposed name: accept only once the tour's file is the one selected.
    // Accepting asks whether to create the file, so it runs from the event loop,
    // where the script goes on to answer that question.
    s.add("save status file", [statusFile] {
        auto* d = UiScript::top<QFileDialog>();
        if (!d || !UiScript::typeFileName(*d, statusFile)) return false;
        QTimer::singleShot(0, d, [d, statusFile] {
            if (UiScript::typeFileName(*d, statusFile)) static_cast<QDialog*>(d)->accept();
        });
        return true;
    });
    s.add("create status file", [folder] {
        auto* box = UiScript::top<QMessageBox>();
        if (!box || !box->isVisible() || !box->button(QMessageBox::Yes)) return false;
        Save(box, folder, "24-create-status-file");
        box->button(QMessageBox::Yes)->click();
        return true;
    });
    s.add("status file saved", [statusFile] {
        return UiScript::top<PrinterStatusDialogView>() && QFileInfo(statusFile).size() == 256;
    });
    s.add("close the status dialog", [] {
        auto* d = UiScript::top<PrinterStatusDialogView>();
        if (!d) return false;
        d->button(kExitButton)->click();
        return true;
    });
    s.add("status dialog closed", [&view] { return UiScript::top<QDialog>() == &view; });
}

}  // namespace tessaly::ui::qt
