#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "about_dialog_view.h"
#include "command_test_editor_view.h"
#include "dialog_units.h"
#include "fifo_watchdog.h"
#include "group_frame.h"
#include "main_dialog_view.h"
#include "memory_journal.h"
#include "operation_worker.h"
#include "printer_status_dialog_view.h"
#include "qt_notifier.h"
#include "r3_engine.h"
#include "selector_views.h"
#include "simulated_port.h"
#include "ui_fakes.h"
#include "ui_script.h"
#include "widget_helpers.h"

namespace tessaly::ui::qt {
namespace {

using testing::AnswerMessages;
using ::testing::ElementsAre;
using testing::PressKey;
using testing::ShownMessage;
using testing::TabTo;
using testing::WhenModal;

std::vector<std::uint8_t> Tail(const std::vector<std::uint8_t>& all, std::size_t n) {
    return {all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end()};
}

// The main dialog on the real widgets, over an in-process virtual printer on
// real time, with the printer operations on the worker thread.
struct MainWindowTest : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    ui::testing::FixedCatalog catalog;
    std::vector<PrintQueue> queues;
    std::vector<std::string> queueLog;
    std::vector<std::string> refuse;
    tessaly::testing::MemoryJournal journal;
    OperationWorker worker;
    QtNotifier notifier;
    std::unique_ptr<MainDialog> logic;
    std::unique_ptr<MainDialogView> view;
    std::shared_ptr<std::vector<ShownMessage>> messages =
        std::make_shared<std::vector<ShownMessage>>();

    void Open() {
        engine = std::make_unique<sim::R3Engine>(config);
        auto memoryQueues = std::make_unique<ui::testing::MemoryQueues>(queues, queueLog);
        memoryQueues->refuse = refuse;
        logic = std::make_unique<MainDialog>(
            MainDialogDeps{SystemClock::instance(), notifier, worker, catalog,
                           sim::MakeSimulatedPortFactory(*engine, SystemClock::instance()),
                           std::move(memoryQueues), CheckLimits{}, &journal.journal});
        logic->Initialize();
        view = std::make_unique<MainDialogView>(*logic, worker, notifier);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    void TearDown() override {
        testing::CancelModalHandlers();
        EXPECT_TRUE(worker.WaitIdle(20000));
        view.reset();
        logic.reset();
    }

    void Check(int expectedMessages = 1) {
        AnswerMessages(messages, expectedMessages);
        QTest::mouseClick(view->controls().checkCommunication, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.busy(); }, 20000));
    }

    std::vector<bool> Buttons() const {
        const auto& c = view->controls();
        return {c.checkCommunication->isEnabled(), c.selfTest->isEnabled(),
                c.runManager->isEnabled(), c.commandEditor->isEnabled(), c.exit->isEnabled()};
    }
};

TEST_F(MainWindowTest, ShowsTheDocumentedTextsAndStartsWithOnlyTheCheck) {
    Open();
    const auto& c = view->controls();
    EXPECT_EQ(view->windowTitle(), "Tessaly V1.0.0");
    EXPECT_EQ(c.model->currentText(), "Vantreel R-3");
    EXPECT_EQ(c.interfaces[0]->text(), "SERIAL");
    EXPECT_TRUE(c.interfaces[0]->isChecked());
    EXPECT_EQ(c.baud->currentText(), "19200");
    EXPECT_EQ(c.port->currentText(), "/dev/ttyS0");
    EXPECT_EQ(c.checkCommunication->text(), "Check Communication");
    EXPECT_TRUE(c.checkCommunication->isDefault());
    EXPECT_THAT(Buttons(), ElementsAre(true, false, false, false, true));
    // The program's one window can be minimised.
    EXPECT_TRUE(view->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(view->windowHandle()->flags().testFlag(Qt::WindowMinimizeButtonHint));
    // The About box sits on F1 and in the window's context menu.
    ASSERT_EQ(view->actions().size(), 1);
    EXPECT_EQ(view->actions()[0]->text(), "&About Tessaly...");
    EXPECT_EQ(view->contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList aboutTexts;
    WhenModal<AboutDialogView>([&](AboutDialogView& about) {
        aboutTexts << about.windowTitle();
        for (auto* label : about.findChildren<QLabel*>()) aboutTexts << label->text();
        about.accept();
    });
    QTest::keyClick(view.get(), Qt::Key_F1);
    EXPECT_THAT(aboutTexts, ::testing::IsSupersetOf(
                                {QString("About Tessaly"), QString("Tessaly Version 1.0.0")}));
    // Every control lies inside the window and every button shows its whole text.
    for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(view->rect().contains(child->geometry())) << child->metaObject()->className();
        if (auto* b = qobject_cast<QPushButton*>(child)) {
            EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width())
                << b->text().toStdString();
        }
    }
}

TEST_F(MainWindowTest, CheckCommunicationOnTheWorkerUnlocksThePrinterFunctions) {
    Open();
    const auto& c = view->controls();
    AnswerMessages(messages, 1);
    QTest::mouseClick(c.checkCommunication, Qt::LeftButton);
    // The click returned at once: the check runs on the worker while the window
    // keeps its event loop, and holds back input meanwhile.
    EXPECT_TRUE(worker.busy());
    QTest::keyClick(c.baud, Qt::Key_Down);
    EXPECT_EQ(c.baud->currentText(), "19200");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.busy(); }, 20000));

    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].text, "Printer is connected.");
    EXPECT_EQ((*messages)[0].title, "Information");
    EXPECT_EQ((*messages)[0].icon, QMessageBox::Information);
    EXPECT_THAT(Buttons(), ElementsAre(false, true, true, true, true));
    EXPECT_TRUE(logic->port().IsOpen());

    // A line setting changed while connected closes the port again.
    QTest::keyClick(c.baud, Qt::Key_Down);
    EXPECT_EQ(c.baud->currentText(), "38400");
    EXPECT_THAT(Buttons(), ElementsAre(true, false, false, false, true));
    EXPECT_FALSE(logic->port().IsOpen());
}

TEST_F(MainWindowTest, EnterPressesTheFocusedButtonElseTheDefaultOne) {
    Open();
    const auto& c = view->controls();
    // No button focused: Enter presses the default button, "Check Communication".
    ASSERT_TRUE(TabTo(c.port));
    AnswerMessages(messages, 1);
    PressKey(view.get(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return logic->connected() && !worker.busy(); }, 20000));

    // A focused button takes Enter itself.
    ASSERT_TRUE(TabTo(c.selfTest));
    PressKey(view.get(), Qt::Key_Enter);
    EXPECT_THAT(Buttons(), ElementsAre(false, true, false, false, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.busy() && !logic->busy(); }, 20000));
    EXPECT_EQ(engine->selfTestCount(), 1);

    std::string appended;
    WhenModal<CommandTestEditorView>([&](CommandTestEditorView& editor) {
        EXPECT_TRUE(TabTo(editor.button("Font A")));
        PressKey(&editor, Qt::Key_Return);
        appended = editor.logic().commandText();
        EXPECT_TRUE(TabTo(editor.button("Close")));
        PressKey(&editor, Qt::Key_Return);
    });
    ASSERT_TRUE(TabTo(c.commandEditor));
    PressKey(view.get(), Qt::Key_Return);
    EXPECT_EQ(appended, "1b 21 00 ");
    EXPECT_TRUE(view->isVisible());
}

TEST_F(MainWindowTest, AFailedCheckWarnsAndKeepsThePrinterFunctionsLocked) {
    config.fault = sim::FaultMode::WrongModel;
    Open();
    Check();
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].text, "The connected printer has different device ID.");
    EXPECT_EQ((*messages)[0].title, "Warning");
    EXPECT_EQ((*messages)[0].icon, QMessageBox::Warning);
    EXPECT_EQ((*messages)[0].buttons, QMessageBox::Ok);
    // What the check saw goes into the same box, below the documented text.
    EXPECT_TRUE((*messages)[0].informativeText.startsWith(
        "The printer answered 21 (hex) instead of its model byte 20. Likely cause:"))
        << (*messages)[0].informativeText.toStdString();
    EXPECT_THAT(Buttons(), ElementsAre(true, false, false, false, true));
    EXPECT_FALSE(logic->port().IsOpen());
}

TEST_F(MainWindowTest, UsbWithoutAPrinterFallsBackToSerial) {
    Open();
    AnswerMessages(messages, 1);
    QTest::mouseClick(view->controls().interfaces[2], Qt::LeftButton);
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].text,
              "Printer is not connected by USB.\nPlease, turn on the printer!!");
    EXPECT_TRUE(view->controls().interfaces[0]->isChecked());
    EXPECT_TRUE(view->controls().baud->isEnabled());

    QTest::mouseClick(view->controls().interfaces[1], Qt::LeftButton);
    EXPECT_EQ(view->controls().port->currentText(), "/dev/lp0");
    EXPECT_FALSE(view->controls().baud->isEnabled());
    EXPECT_FALSE(view->controls().flowControl->isEnabled());
}

TEST_F(MainWindowTest, ClosingDuringTheSelfTestWaitsForItsEnd) {
    queues = {{"receipts", "serial:/dev/ttyS0", false, ""}};
    Open();
    Check();
    const auto& c = view->controls();
    QTest::mouseClick(c.selfTest, Qt::LeftButton);
    EXPECT_THAT(Buttons(), ElementsAre(false, true, false, false, true));
    QTest::mouseClick(c.exit, Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(logic->port().IsOpen());
    EXPECT_THAT(queueLog, ElementsAre("pause receipts"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }, 10000));
    EXPECT_EQ(engine->selfTestCount(), 1);
    EXPECT_FALSE(logic->port().IsOpen());
    EXPECT_THAT(queueLog, ElementsAre("pause receipts", "resume receipts"));
}

TEST_F(MainWindowTest, AQueueThatCannotBePausedIsShownBeforeTheConnectionCheck) {
    queues = {{"receipts", "serial:/dev/ttyS0", false, ""}};
    refuse = {"receipts"};
    Open();
    Check(2);
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_EQ((*messages)[0].title, "Warning");
    EXPECT_EQ((*messages)[0].icon, QMessageBox::Warning);
    EXPECT_TRUE((*messages)[0].text.contains("'receipts'")) << (*messages)[0].text.toStdString();
    EXPECT_EQ((*messages)[1].text, "Printer is connected.");
    EXPECT_TRUE(logic->connected());
}

TEST_F(MainWindowTest, RunManagerLendsTheOpenPortToTheStatusDialog) {
    Open();
    Check();
    bool opened = false;
    WhenModal<PrinterStatusDialogView>([&](PrinterStatusDialogView& status) {
        opened = true;
        EXPECT_EQ(status.windowTitle(), "Printer Status for Vantreel R-3 V1.0.0");
        AnswerMessages(messages, 1);
        status.button(kGetButton)->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !status.working(); }, 20000));
        EXPECT_TRUE(status.button(kSetButton)->isEnabled());
        QTest::keyClick(&status, Qt::Key_Escape);
    });
    QTest::mouseClick(view->controls().runManager, Qt::LeftButton);
    ASSERT_TRUE(opened);
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_EQ((*messages)[1].text, "Success to get status of printer.");
    // Closing the status dialog leaves the connection as it was.
    EXPECT_TRUE(logic->port().IsOpen());
    EXPECT_THAT(Buttons(), ElementsAre(false, true, true, true, true));
}

TEST_F(MainWindowTest, TheEditorWritesTheDocumentedBytes) {
    Open();
    Check();
    const auto received = engine->receivedLog().size();
    bool ran = false;
    std::vector<std::uint8_t> afterTyped, afterCodepage;
    WhenModal<CommandTestEditorView>([&](CommandTestEditorView& editor) {
        EXPECT_EQ(editor.windowTitle(), "Command Test Editor");
        QTest::keyClicks(editor.commandBox(), "1b 40");
        QTest::keyClick(editor.commandBox(), Qt::Key_Return);
        QTest::keyClicks(editor.commandBox(), "0a");
        EXPECT_EQ(editor.logic().commandText(), "1b 40\n0a");
        editor.button("Write Command")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.logic().busy(); }, 5000));
        afterTyped = Tail(engine->receivedLog(), engine->receivedLog().size() - received);

        editor.button("Clear")->click();
        editor.button("Font A")->click();
        QTest::mouseClick(editor.boldBox(), Qt::LeftButton);
        WhenModal<SelectCodepageView>([](SelectCodepageView& picker) {
            picker.list()->setCurrentIndex(6);
            picker.okButton()->click();
        });
        editor.button("Set Codepage")->click();
        EXPECT_EQ(editor.commandBox()->toPlainText().toStdString(), editor.logic().commandText());
        EXPECT_EQ(editor.logic().commandText(),
                  "1b 21 00 1b 45 01 1d 28 45 03 00 01 49 4e 1d 28 45 0a 00 03 02 30 30 31 31 "
                  "30 30 30 30 1d 28 45 04 00 02 4f 55 54 ");
        editor.button("Write Command")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.logic().busy(); }, 5000));
        afterCodepage = Tail(engine->receivedLog(), 38);

        // A cancelled picker appends nothing.
        WhenModal<SelectRangeView>([](SelectRangeView& picker) { picker.reject(); });
        editor.button("Line Spacing")->click();
        EXPECT_EQ(editor.logic().commandText().size(), 114u);
        ran = true;
        editor.button("Close")->click();
    });
    QTest::mouseClick(view->controls().commandEditor, Qt::LeftButton);
    ASSERT_TRUE(ran);
    EXPECT_THAT(afterTyped, ElementsAre(0x1B, 0x40, 0x0A));
    EXPECT_EQ(afterCodepage.size(), 38u);
    EXPECT_THAT(Tail(afterCodepage, 4), ElementsAre(0x02, 0x4F, 0x55, 0x54));
    EXPECT_TRUE(QTest::qWaitFor([&] { return engine->memorySwitch(2) == 0x30; }, 3000));
}

TEST_F(MainWindowTest, TheEditorNamesATypedNonHexCharacterAsTyped) {
    Open();
    Check();
    const auto received = engine->receivedLog().size();
    WhenModal<CommandTestEditorView>([&](CommandTestEditorView& editor) {
        QTest::keyClicks(editor.commandBox(), "1b 40 ");
        QTest::sendKeyEvent(QTest::Click, editor.commandBox(), Qt::Key_Eacute,
                            QStringLiteral("\u00e9"), Qt::NoModifier);
        EXPECT_EQ(editor.logic().commandText(), "1b 40 \u00e9");
        AnswerMessages(messages, 1);
        editor.button("Write Command")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.logic().busy(); }, 5000));
        editor.reject();
    });
    QTest::mouseClick(view->controls().commandEditor, Qt::LeftButton);
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_THAT(messages->back().text.toStdString(),
                ::testing::HasSubstr("'\u00e9' (U+00E9) at position 7"));
    EXPECT_EQ(engine->receivedLog().size(), received);
}

TEST_F(MainWindowTest, TheEditorSavesAndLoadsCommandFilesThroughTheFileDialog) {
    Open();
    Check();
    QTemporaryDir dir;
    const QString path = dir.filePath("command.bin");
    std::string loaded;
    WhenModal<CommandTestEditorView>([&](CommandTestEditorView& editor) {
        QTest::keyClicks(editor.commandBox(), "1B400a");
        WhenModal<QFileDialog>([&](QFileDialog& d) {
            EXPECT_EQ(d.windowTitle(), "Save As");
            EXPECT_EQ(d.acceptMode(), QFileDialog::AcceptSave);
            EXPECT_THAT(d.nameFilters(), ElementsAre("Binary files(*.bin)", "All files(*.*)"));
            EXPECT_TRUE(d.testOption(QFileDialog::DontConfirmOverwrite));
            EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(d, path); }, 2000));
            static_cast<QDialog&>(d).accept();
        });
        editor.button("Save")->click();
        WhenModal<QFileDialog>([&](QFileDialog& d) {
            EXPECT_EQ(d.windowTitle(), "Open");
            EXPECT_EQ(d.directory().absolutePath(), QDir(dir.path()).absolutePath());
            EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(d, path); }, 2000));
            static_cast<QDialog&>(d).accept();
        });
        editor.button("Load")->click();
        loaded = editor.commandBox()->toPlainText().toStdString();

        // Cancelling a load empties the box and says so.
        WhenModal<QFileDialog>([](QFileDialog& d) { d.reject(); });
        AnswerMessages(messages, 1);
        editor.button("Load")->click();
        EXPECT_TRUE(editor.commandBox()->toPlainText().isEmpty());
        editor.reject();
    });
    QTest::mouseClick(view->controls().commandEditor, Qt::LeftButton);
    std::ifstream in(path.toStdString(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\x1b\x40\x0a");
    EXPECT_EQ(loaded, "1b 40 0a ");
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_EQ((*messages)[1].text, "Don't select load file");
    EXPECT_EQ((*messages)[1].title, "warning");
}

TEST_F(MainWindowTest, TheEditorsLoadRefusesWhatIsNotACommandFileAtOnce) {
    Open();
    Check();
    QTemporaryDir dir;
    const std::string folder = dir.filePath("folder.bin").toStdString();
    std::filesystem::create_directory(folder);
    const std::string big = dir.filePath("big.bin").toStdString();
    std::ofstream(big).close();
    std::filesystem::resize_file(big, 300u << 20);  // sparse
    tessaly::testing::FifoWatchdog fifo(dir.filePath("fifo.bin").toStdString());
    ASSERT_TRUE(fifo.made());
    messages->clear();
    std::vector<std::string> boxTexts;
    WhenModal<CommandTestEditorView>([&](CommandTestEditorView& editor) {
        for (const std::string& path : {folder, fifo.path(), big}) {
            QTest::keyClicks(editor.commandBox(), "1b40");
            WhenModal<QFileDialog>([&](QFileDialog& d) {
                d.selectFile(QString::fromStdString(path));
                // A directory would only be opened by the dialog itself; take it
                // as chosen, as a typed path would be.
                d.QDialog::accept();
            });
            AnswerMessages(messages, 1);
            editor.button("Load")->click();
            boxTexts.push_back(editor.commandBox()->toPlainText().toStdString());
        }
        editor.reject();
    });
    QTest::mouseClick(view->controls().commandEditor, Qt::LeftButton);
    EXPECT_FALSE(fifo.Blocked()) << "the window waited for a writer to the named pipe";
    EXPECT_THAT(boxTexts, ElementsAre("", "", ""));
    ASSERT_EQ(messages->size(), 3u);
    EXPECT_EQ((*messages)[0].text.toStdString(),
              "Can't read the command file \"" + folder + "\": it is a directory, not a file.");
    EXPECT_EQ((*messages)[1].text.toStdString(), "Can't read the command file \"" + fifo.path() +
                                                     "\": it is a named pipe (FIFO), not a file.");
    EXPECT_EQ((*messages)[2].text.toStdString(),
              "Can't read the command file \"" + big +
                  "\": it holds 314572800 bytes; a command file may hold at most 1 MiB "
                  "(1048576 bytes).");
    for (const auto& m : *messages) {
        EXPECT_EQ(m.title, "Warning");
        EXPECT_EQ(m.icon, QMessageBox::Warning);
    }
}

TEST(SelectorViews, KeyboardAndMouseGoThroughTheLogic) {
    SelectRangeDialog range;
    SelectRangeView rangeView(range);
    rangeView.show();
    QTest::keyClick(rangeView.number(), Qt::Key_Down);
    EXPECT_EQ(rangeView.number()->value(), 255);
    QTest::keyClick(rangeView.number(), Qt::Key_Up);
    EXPECT_EQ(range.value(), 0);
    QTest::keyClicks(rangeView.number(), "7");
    EXPECT_EQ(range.value(), 0);  // the number cannot be typed
    QTest::mouseClick(rangeView.defaultBox(), Qt::LeftButton);
    EXPECT_FALSE(rangeView.number()->isEnabled());
    QTest::mouseClick(rangeView.okButton(), Qt::LeftButton);
    EXPECT_EQ(rangeView.result(), QDialog::Accepted);
    EXPECT_TRUE(range.useDefault());

    SelectCodepageDialog codepage;
    SelectCodepageView codepageView(codepage);
    codepageView.show();
    EXPECT_EQ(codepageView.list()->count(), 30);
    QTest::keyClick(codepageView.list(), Qt::Key_End);
    EXPECT_EQ(codepageView.list()->currentText(), "WPC1256 (Arabic)");
    EXPECT_EQ(codepage.indexBits(), (std::array<bool, 6>{true, false, true, true, true, false}));
    QTest::keyClick(&codepageView, Qt::Key_Escape);
    EXPECT_EQ(codepageView.result(), QDialog::Rejected);
    EXPECT_EQ(codepage.selectedIndex(), -1);

    SelectAddressDialog address;
    SelectAddressView addressView(address);
    addressView.show();
    EXPECT_EQ(addressView.combo()->currentText(), "01");
    addressView.combo()->lineEdit()->clear();
    QTest::keyClicks(addressView.combo()->lineEdit(), "12");
    QTest::mouseClick(addressView.okButton(), Qt::LeftButton);
    EXPECT_EQ(address.addressText(), "12");
}

TEST(UiScript, TypesAFileNameIntoTheFocusedNameField) {
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("tour.sts");
    QFileDialog dialog(nullptr, QStringLiteral("Save current status"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QStringLiteral("Noname.sts"));
    dialog.show();
    // Focus in the name field, as the window system gives it when the dialog is
    // activated before the script acts.
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name);
    ASSERT_TRUE(TabTo(name));
    EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(dialog, path); }, 2000));
    EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), path.toStdString());
}

TEST(UiScript, AStepStuckInAModalDialogStillMeetsItsTimeLimit) {
    UiScript script;
    script.add("ask", [] {
        QMessageBox::question(nullptr, "Tour", "Stuck?");
        return true;
    });
    QString failure;
    bool finished = false;
    script.start(
        [&](const QString& failed) {
            finished = true;
            failure = failed;
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        },
        300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    EXPECT_EQ(failure, "ask");
}

TEST(QtNotifierOnTheWorker, MessagesWaitForTheirAnswerInOrder) {
    OperationWorker worker;
    QtNotifier notifier;
    auto shown = std::make_shared<std::vector<ShownMessage>>();
    AnswerMessages(shown, 2, QMessageBox::No);
    std::vector<MessageAnswer> answers;
    bool done = false;
    worker.Run(
        [&] {
            EXPECT_TRUE(worker.onWorkerThread());
            answers.push_back(
                notifier.notify({"first", "Notice", MessageIcon::Question, MessageButtons::YesNo}));
            answers.push_back(notifier.notify({"second", "Warning", MessageIcon::Stop}));
        },
        [&] { done = !worker.onWorkerThread(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 5000));
    EXPECT_THAT(answers, ElementsAre(MessageAnswer::No, MessageAnswer::Ok));
    ASSERT_EQ(shown->size(), 2u);
    EXPECT_EQ((*shown)[0].text, "first");
    EXPECT_EQ((*shown)[0].icon, QMessageBox::Question);
    EXPECT_EQ((*shown)[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ((*shown)[1].title, "Warning");
    EXPECT_EQ((*shown)[1].icon, QMessageBox::Critical);
}

TEST(DialogUnits, FollowTheFontMetrics) {
    QFont small = DialogFont();
    QFont large = small;
    large.setPointSize(16);
    const DialogUnits a(small), b(large);
    EXPECT_EQ(a.rect(4, 8, 8, 16), QRect(a.baseX(), a.baseY(), 2 * a.baseX(), 2 * a.baseY()));
    EXPECT_GT(b.baseX(), a.baseX());
    EXPECT_GT(b.baseY(), a.baseY());
}

}  // namespace
}  // namespace tessaly::ui::qt
