#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "fifo_watchdog.h"
#include "operation_worker.h"
#include "printer_status_dialog_view.h"
#include "qt_notifier.h"
#include "r3_engine.h"
#include "simulated_port.h"
#include "status_file.h"
#include "status_page_views.h"
#include "ui_script.h"
#include "widget_helpers.h"

namespace tessaly::ui::qt {
namespace {

using testing::AnswerMessages;
using ::testing::Contains;
using ::testing::HasSubstr;
using testing::PressKey;
using testing::ShownMessage;
using testing::TabTo;
using testing::WhenModal;

constexpr std::array<StatusButton, 6> kAll{kGetButton,  kSetButton,        kSaveButton,
                                           kLoadButton, kInitializeButton, kExitButton};

// The status dialog on the real widgets over an open port to an in-process
// virtual printer on real time; exchanges run on the worker.
struct StatusWindowTest : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    std::unique_ptr<PrinterPort> port;
    OperationWorker worker;
    QtNotifier notifier;
    std::unique_ptr<PrinterStatusDialogView> view;
    std::shared_ptr<std::vector<ShownMessage>> messages =
        std::make_shared<std::vector<ShownMessage>>();
    // Button states seen whenever the progress bar moved during an operation.
    std::vector<std::pair<int, std::vector<bool>>> duringOperation;

    void Open() {
        engine = std::make_unique<sim::R3Engine>(config);
        port = std::make_unique<PrinterPort>(
            sim::MakeSimulatedPortFactory(*engine, SystemClock::instance()));
        PortSettings settings;
        settings.portName = "COM1";
        ASSERT_TRUE(port->Setup(settings));
        ASSERT_TRUE(port->Open());
        view = std::make_unique<PrinterStatusDialogView>(*port, 0, SystemClock::instance(),
                                                         notifier, worker);
        QObject::connect(view->progressBar(), &QProgressBar::valueChanged, [this](int value) {
            if (view->working()) duringOperation.emplace_back(value, Buttons());
        });
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    void TearDown() override {
        testing::CancelModalHandlers();
        EXPECT_TRUE(worker.WaitIdle(60000));
        view.reset();
    }

    std::vector<bool> Buttons() const {
        std::vector<bool> states;
        for (StatusButton b : kAll) states.push_back(view->button(b)->isEnabled());
        return states;
    }

    // Presses a button and answers every message (Yes where asked) until the
    // operation, and a download it starts, is over.
    void Press(StatusButton button, int messageCount, int timeoutMs = 20000) {
        AnswerMessages(messages, messageCount, QMessageBox::Yes);
        QTest::mouseClick(view->button(button), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->working(); }, timeoutMs));
        QTest::qWait(20);
        ASSERT_FALSE(view->working());
    }

    MemorySwitchPageView* memoryPage() const { return view->tabs()->memorySwitchPage(); }
    PrinterSettingPageView* settingPage() const { return view->tabs()->printerSettingPage(); }
};

const std::vector<bool> kEverything(6, true);
const std::vector<bool> kOnlyExit{false, false, false, false, false, true};

TEST_F(StatusWindowTest, OpensWithTheDocumentedButtonsAndEmptyPages) {
    Open();
    EXPECT_EQ(view->windowTitle(), "Printer Status for Vantreel R-3 V1.0.0");
    EXPECT_EQ(view->tabs()->tabText(0), "Memory switch");
    EXPECT_EQ(view->tabs()->tabText(1), "Printer Setting");
    EXPECT_THAT(Buttons(), ::testing::ElementsAre(true, false, false, true, true, true));
    for (int row = 0; row < 7; ++row) {
        EXPECT_FALSE(memoryPage()->label(row)->isEnabled());
        EXPECT_FALSE(memoryPage()->choice(row, 0)->isChecked());
    }
    EXPECT_FALSE(settingPage()->buyerSetList()->isEnabled());
    EXPECT_EQ(settingPage()->buyerSetList()->count(), 6);
    EXPECT_EQ(settingPage()->codePageList()->count(), 37);
    EXPECT_FALSE(settingPage()->serialLists()[0]->isVisible());
}

TEST_F(StatusWindowTest, GetStatusFillsThePagesAndColoursTheRows) {
    Open();
    Press(kGetButton, 1);
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].text, "Success to get status of printer.");
    EXPECT_EQ(Buttons(), kEverything);
    EXPECT_EQ(view->progressBar()->value(), 0);
    // While it ran only Exit was usable.
    ASSERT_FALSE(duringOperation.empty());
    EXPECT_THAT(duringOperation, Contains(::testing::Pair(::testing::Gt(0), kOnlyExit)));

    // The virtual printer has the internal buzzer on and everything else off.
    EXPECT_TRUE(memoryPage()->choice(0, 1)->isChecked());
    for (int row = 1; row < 6; ++row) EXPECT_TRUE(memoryPage()->choice(row, 0)->isChecked()) << row;
    for (int row = 0; row < 6; ++row) {
        QLabel* label = memoryPage()->label(row);
        EXPECT_TRUE(label->isEnabled());
        EXPECT_TRUE(label->autoFillBackground());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_EQ(label->palette().color(QPalette::Window), QColor(238, 241, 141));
    }
    EXPECT_FALSE(memoryPage()->choice(6, 0)->isEnabled());
    EXPECT_FALSE(memoryPage()->choice(6, 1)->isChecked());

    EXPECT_EQ(settingPage()->modelText()->text(), "Vantreel R-3");
    EXPECT_FALSE(settingPage()->firmwareText()->text().isEmpty());
    EXPECT_EQ(settingPage()->codePageList()->currentText(), "PC437 (USA: Standard Europe)");
    EXPECT_TRUE(settingPage()->buyerSetList()->isEnabled());
    EXPECT_EQ(settingPage()->buyerSetList()->currentIndex(), 0);

    // A click on a choice changes the record at once.
    QTest::mouseClick(memoryPage()->choice(2, 1), Qt::LeftButton);
    EXPECT_TRUE(BitSet(view->logic().record().settings.msw2, 2));
}

TEST_F(StatusWindowTest, SetStatusWithKorDownloadsTheFontToItsSuccessMessage) {
    Open();
    Press(kGetButton, 1);
    view->tabs()->setCurrentIndex(1);
    settingPage()->buyerSetList()->setCurrentIndex(2);  // "KOR"
    const auto& settings = view->logic().record().settings;
    EXPECT_EQ(SwitchValue(settings.msw12), 1);
    EXPECT_TRUE(BitSet(settings.msw9, 1));
    EXPECT_FALSE(settingPage()->codePageList()->isEnabled());
    EXPECT_EQ(settingPage()->codePageList()->currentIndex(), -1);

    messages->clear();
    duringOperation.clear();
    // The stand-in question when the build carries stand-ins (before anything
    // is written), the notice and the closing message.
    const bool standIns = payloads::AnyStandIns();
    const int expected = standIns ? 3 : 2;
    Press(kSetButton, expected, 90000);
    ASSERT_EQ(messages->size(), static_cast<std::size_t>(expected));
    if (standIns) {
        EXPECT_THAT(messages->front().text.toStdString(), HasSubstr("stand-in"));
    }
    EXPECT_EQ(messages->at(standIns ? 1 : 0).text,
              "Success to Change the Firmware,\n And Now Start Font Download!");
    EXPECT_EQ(messages->back().text, "Success to Download Font!, And Reboot Printer");
    EXPECT_EQ(messages->back().title, "Information");

    const auto receptions = engine->fontReceptions();
    ASSERT_FALSE(receptions.empty());
    EXPECT_EQ(receptions.back().result, sim::FontReception::Result::Ok);
    EXPECT_EQ(receptions.back().received, 615686u);
    EXPECT_EQ(engine->memorySwitch(12), 1);
    // Nothing was usable while the font went out; afterwards everything is.
    EXPECT_THAT(duringOperation,
                Contains(::testing::Pair(::testing::Gt(16), std::vector<bool>(6, false))));
    EXPECT_EQ(Buttons(), kEverything);
    EXPECT_EQ(view->progressBar()->value(), 0);
    EXPECT_TRUE(settingPage()->buyerSetList()->isEnabled());
}

TEST_F(StatusWindowTest, NoToStandInFontDataLeavesThePrinterUntouched) {
    if (!payloads::AnyStandIns()) GTEST_SKIP() << "built with the vendor payloads";
    Open();
    Press(kGetButton, 1);
    settingPage()->buyerSetList()->setCurrentIndex(2);  // "KOR"
    messages->clear();
    const auto sent = engine->receivedLog().size();
    AnswerMessages(messages, 1, QMessageBox::No);
    QTest::mouseClick(view->button(kSetButton), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->working(); }, 20000));
    QTest::qWait(50);
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_THAT(messages->front().text.toStdString(), HasSubstr("stand-in"));
    EXPECT_EQ(engine->receivedLog().size(), sent) << "nothing was written";
    EXPECT_EQ(engine->memorySwitch(12), 0);
    EXPECT_EQ(Buttons(), kEverything);
}

// Failures show the same message as on the command line and leave only Exit.
TEST_F(StatusWindowTest, LinkFailuresShowTheirMessageAndLeaveOnlyExit) {
    config.fault = sim::FaultMode::NoSwitchAnswer;
    Open();
    Press(kGetButton, 1);
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ(messages->front().text.toStdString(), messages::SwitchNotAnswered(10).text);
    EXPECT_EQ(messages->front().title, "Warning");
    EXPECT_EQ(Buttons(), kOnlyExit);
    EXPECT_FALSE(memoryPage()->label(0)->isEnabled()) << "nothing shown";

    config.fault = sim::FaultMode::HangUpAfterIn;
    messages->clear();
    Open();
    Press(kGetButton, 1);
    Press(kSetButton, 1);
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_EQ(messages->back().text.toStdString(),
              messages::SetStatusFailed("memory switch 1").text);
    EXPECT_EQ(messages->back().icon, QMessageBox::Critical);
    EXPECT_EQ(Buttons(), kOnlyExit);
}

TEST_F(StatusWindowTest, ClosingDuringTheDownloadStopsBetweenTwoBlocks) {
    Open();
    Press(kGetButton, 1);
    settingPage()->buyerSetList()->setCurrentIndex(2);  // "KOR"
    const std::size_t before = messages->size();
    const std::size_t asked = payloads::AnyStandIns() ? 2 : 1;
    AnswerMessages(messages, static_cast<int>(asked), QMessageBox::Yes);
    QTest::mouseClick(view->button(kSetButton), Qt::LeftButton);
    // Once the notice is answered and blocks are going out, close the window.
    const auto blocksFlow = [&] {
        const auto fonts = engine->fontReceptions();
        return !fonts.empty() && fonts.back().received > 4 * 4096;
    };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return messages->size() == before + asked && blocksFlow(); }, 40000));
    view->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }, 2000));
    EXPECT_FALSE(view->working());
    // The printer got part of the font, and no closing message was raised.
    const auto log = engine->receivedLog();
    EXPECT_LT(log.size(), 615695u);
    EXPECT_FALSE(QApplication::activeModalWidget());
}

TEST_F(StatusWindowTest, AFailedHandshakeLeavesOnlyExit) {
    config.fault = sim::FaultMode::WrongNames;
    Open();
    AnswerMessages(messages, 3);
    QTest::mouseClick(view->button(kGetButton), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->working(); }, 30000));
    std::vector<std::string> texts;
    for (const auto& m : *messages) texts.push_back(m.text.toStdString());
    EXPECT_THAT(texts, ::testing::ElementsAre("This printer don't match our printer name.",
                                              "Don't use this program for other company product."));
    EXPECT_EQ(messages->front().title, "Warning");
    EXPECT_EQ(Buttons(), kOnlyExit);
    for (int row = 0; row < 7; ++row) {
        EXPECT_FALSE(memoryPage()->label(row)->isEnabled());
        EXPECT_FALSE(memoryPage()->choice(row, 0)->isChecked());
        EXPECT_FALSE(memoryPage()->choice(row, 1)->isChecked());
    }
    EXPECT_FALSE(settingPage()->buyerSetList()->isEnabled());
}

TEST_F(StatusWindowTest, EnterPressesTheFocusedButtonAndOtherwiseEndsTheDialog) {
    Open();
    // "Get Status" focused: Enter runs it and the dialog stays.
    ASSERT_TRUE(TabTo(view->button(kGetButton)));
    AnswerMessages(messages, 1);
    PressKey(view.get(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->working(); }, 20000));
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ(messages->front().text, "Success to get status of printer.");
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->button(kSetButton)->isEnabled());

    // No button focused: Enter ends the dialog with OK.
    ASSERT_TRUE(TabTo(view->tabs()->tabBar()));
    PressKey(view.get(), Qt::Key_Enter);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), QDialog::Accepted);
}

TEST_F(StatusWindowTest, SaveStatusTakesTheTypedNameAndAsksBeforeCreatingIt) {
    Open();
    QTemporaryDir dir;
    const QString typed = dir.filePath("shop");
    QTest::mouseClick(view->button(kInitializeButton), Qt::LeftButton);
    bool stayedOpen = false;
    WhenModal<QFileDialog>([&](QFileDialog& d) {
        d.setDirectory(dir.path());
        auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name && TabTo(name));
        name->selectAll();
        QTest::keyClicks(name, "shop");
        // "No" keeps the dialog open and creates nothing; "Yes" creates the file.
        AnswerMessages(messages, 1, QMessageBox::No);
        PressKey(&d, Qt::Key_Return);
        stayedOpen = d.isVisible() && !QFileInfo::exists(typed);
        AnswerMessages(messages, 1, QMessageBox::Yes);
        PressKey(&d, Qt::Key_Return);
    });
    QTest::mouseClick(view->button(kSaveButton), Qt::LeftButton);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_EQ(messages->front().text, "shop does not exist.\nDo you want to create it?");
    EXPECT_EQ(messages->front().buttons, QMessageBox::Yes | QMessageBox::No);
    // Used as typed: no extension added.
    EXPECT_EQ(QFileInfo(typed).size(), 256);
    EXPECT_FALSE(QFileInfo::exists(typed + ".sts"));

    // An existing file is replaced after its own question, without the other.
    messages->clear();
    WhenModal<QFileDialog>([&](QFileDialog& d) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(d, typed); }, 2000));
        AnswerMessages(messages, 1, QMessageBox::Yes);
        static_cast<QDialog&>(d).accept();
    });
    QTest::mouseClick(view->button(kSaveButton), Qt::LeftButton);
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_THAT(messages->front().text.toStdString(), ::testing::HasSubstr("already exists"));
}

TEST_F(StatusWindowTest, SavesAndLoadsStatusFilesThroughTheFileDialogs) {
    Open();
    QTemporaryDir dir;
    const QString path = dir.filePath("receipt.sts");
    QTest::mouseClick(view->button(kInitializeButton), Qt::LeftButton);
    EXPECT_TRUE(view->button(kSetButton)->isEnabled());
    EXPECT_TRUE(view->button(kSaveButton)->isEnabled());
    WhenModal<QFileDialog>([&](QFileDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Save current status");
        EXPECT_THAT(d.nameFilters(),
                    ::testing::ElementsAre("Status Files (*.sts)", "Settings Profiles (*.toml)"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(d, path); }, 2000));
        AnswerMessages(messages, 1, QMessageBox::Yes);
        static_cast<QDialog&>(d).accept();
    });
    QTest::mouseClick(view->button(kSaveButton), Qt::LeftButton);
    ASSERT_EQ(std::filesystem::file_size(path.toStdString()), 256u);

    // A fresh dialog loads it without printer traffic and shows "STD".
    view = std::make_unique<PrinterStatusDialogView>(*port, 0, SystemClock::instance(), notifier,
                                                     worker);
    view->show();
    const auto sent = engine->receivedLog().size();
    WhenModal<QFileDialog>([&](QFileDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Load saved status");
        EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFile);
        // It opens where the last status file was saved.
        EXPECT_EQ(d.directory().absolutePath(), QDir(dir.path()).absolutePath());
        EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(d, path); }, 2000));
        static_cast<QDialog&>(d).accept();
    });
    QTest::mouseClick(view->button(kLoadButton), Qt::LeftButton);
    EXPECT_EQ(engine->receivedLog().size(), sent);
    EXPECT_TRUE(view->button(kSetButton)->isEnabled());
    EXPECT_TRUE(view->button(kSaveButton)->isEnabled());
    EXPECT_EQ(settingPage()->buyerSetList()->currentText(), "STD");
    EXPECT_TRUE(memoryPage()->label(0)->isEnabled());
}

TEST_F(StatusWindowTest, LoadStatusRefusesANamedPipeAndNamesUnknownValues) {
    Open();
    QTemporaryDir dir;
    tessaly::testing::FifoWatchdog fifo(dir.filePath("pipe.sts").toStdString());
    ASSERT_TRUE(fifo.made());
    PrinterSettings odd;
    odd.buyerSetIndex = 7;
    const QString oddPath = dir.filePath("odd.sts");
    ASSERT_EQ(WriteStatusFile(oddPath.toStdString(), odd), StatusFileResult::Ok);
    for (const QString& path : {QString::fromStdString(fifo.path()), oddPath}) {
        WhenModal<QFileDialog>([&](QFileDialog& d) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return UiScript::typeFileName(d, path); }, 2000));
            static_cast<QDialog&>(d).accept();
        });
        AnswerMessages(messages, 1);
        QTest::mouseClick(view->button(kLoadButton), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !messages->empty(); }, 5000));
        if (path == oddPath) break;
        EXPECT_EQ((*messages)[0].text, "Can't load the status from \"" + path +
                                           "\": it is a named pipe (FIFO), not a file.");
        // The pipe loaded nothing: Set Status stays locked.
        EXPECT_FALSE(view->button(kSetButton)->isEnabled());
        messages->clear();
    }
    EXPECT_FALSE(fifo.Blocked()) << "the window waited for a writer to the named pipe";
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].title, "Information");
    EXPECT_TRUE(
        (*messages)[0].text.contains("- buyer-set index 7 (the buyer-set list has entries "
                                     "0 to 5)"));
    // The file is loaded as it is and can be written.
    EXPECT_TRUE(view->button(kSetButton)->isEnabled());
}

TEST_F(StatusWindowTest, ALoadedProfileIsShownAndSetStatusAsksWithItsDifferences) {
    Open();
    Press(kGetButton, 1);
    QTemporaryDir dir;
    const QString path = dir.filePath("shop.toml");
    { std::ofstream(path.toStdString()) << "paper_width = \"2 Inch\"\n"; }
    WhenModal<QFileDialog>([&](QFileDialog& d) {
        d.selectFile(path);
        static_cast<QDialog&>(d).accept();
    });
    QTest::mouseClick(view->button(kLoadButton), Qt::LeftButton);
    EXPECT_TRUE(memoryPage()->choice(4, 1)->isChecked()) << "2 Inch";
    EXPECT_TRUE(memoryPage()->choice(0, 1)->isChecked()) << "the printer's buzzer setting stays";

    const auto sent = engine->receivedLog().size();
    QString question;
    WhenModal<QMessageBox>([&](QMessageBox& box) {
        question = box.text();
        box.button(QMessageBox::No)->click();
    });
    QTest::mouseClick(view->button(kSetButton), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !question.isEmpty(); }, 5000));
    EXPECT_THAT(question.toStdString(), ::testing::HasSubstr("Paper Width: 3 Inch -> 2 Inch"));
    QTest::qWait(50);
    EXPECT_FALSE(view->working());
    EXPECT_EQ(engine->receivedLog().size(), sent);
}

TEST_F(StatusWindowTest, ExitDuringGetStatusClosesWhenTheExchangeHasEnded) {
    Open();
    AnswerMessages(messages, 1);
    QTest::mouseClick(view->button(kGetButton), Qt::LeftButton);
    ASSERT_TRUE(view->working());
    QTest::mouseClick(view->button(kExitButton), Qt::LeftButton);
    QTest::qWait(100);
    EXPECT_TRUE(view->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }, 20000));
    EXPECT_FALSE(view->working());
    EXPECT_EQ(view->result(), QDialog::Rejected);
    EXPECT_EQ(messages->size(), 1u);
}

}  // namespace
}  // namespace tessaly::ui::qt
