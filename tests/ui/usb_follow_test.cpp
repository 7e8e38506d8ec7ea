// The main window's USB port list on fake udev devices: printers plugged in and
// pulled out while the window is open show up in the list without the user
// switching interfaces. Runs under umockdev-wrapper.
#include "testbed.h"
// testbed.h first: glib's headers must come before Qt's.
#include <gmock/gmock.h>

#include <QComboBox>
#include <QRadioButton>
#include <QTest>

#include "main_dialog_view.h"
#include "operation_worker.h"
#include "port_catalog.h"
#include "qt_notifier.h"

namespace tessaly::ui::qt {
namespace {

using tessaly::testing::PlugR3;
using tessaly::testing::Testbed;
using tessaly::testing::UnplugUsbPrinter;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

std::vector<std::string> Entries(const QComboBox& combo) {
    std::vector<std::string> entries;
    for (int i = 0; i < combo.count(); ++i) entries.push_back(combo.itemText(i).toStdString());
    return entries;
}

struct UsbFollowTest : ::testing::Test {
    Testbed bed;  // before the window, whose udev monitor must see the fake devices
    OperationWorker worker;
    QtNotifier notifier;
    SystemPortCatalog catalog;
    std::unique_ptr<MainDialog> logic;
    std::unique_ptr<MainDialogView> view;

    void Open() {
        logic = std::make_unique<MainDialog>(
            MainDialogDeps{SystemClock::instance(), notifier, worker, catalog, {}, nullptr});
        logic->Initialize();
        view = std::make_unique<MainDialogView>(*logic, worker, notifier);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    QComboBox& Ports() { return *view->controls().port; }

    bool WaitForPorts(std::size_t count) {
        return QTest::qWaitFor([&] { return Entries(Ports()).size() == count; }, 5000);
    }
};

TEST_F(UsbFollowTest, PortListFollowsPrintersPluggedInAndPulledOut) {
    PlugR3(bed, "1-1", "lp0", "SN1");
    Open();
    QTest::mouseClick(view->controls().interfaces[2], Qt::LeftButton);
    ASSERT_THAT(Entries(Ports()), ElementsAre("R-3:/dev/usb/lp0"));

    // A second printer arrives: both are offered and the choice stays.
    PlugR3(bed, "1-2", "lp1", "SN2");
    ASSERT_TRUE(WaitForPorts(2)) << Entries(Ports()).size();
    EXPECT_THAT(Entries(Ports()), UnorderedElementsAre("R-3:/dev/usb/lp0", "R-3:/dev/usb/lp1"));
    EXPECT_EQ(Ports().currentText(), "R-3:/dev/usb/lp0");

    // The chosen printer is pulled out: the one left is offered and chosen.
    UnplugUsbPrinter(bed, "1-1", "lp0");
    ASSERT_TRUE(WaitForPorts(1));
    EXPECT_THAT(Entries(Ports()), ElementsAre("R-3:/dev/usb/lp1"));
    EXPECT_EQ(Ports().currentText(), "R-3:/dev/usb/lp1");
}

TEST_F(UsbFollowTest, OtherInterfacesIgnoreUsbEvents) {
    Open();
    const auto serial = Entries(Ports());
    PlugR3(bed, "1-3", "lp2", "SN3");
    // Give the window's event loop time to handle the notice, then look again.
    QTest::qWait(300);
    EXPECT_EQ(Entries(Ports()), serial);

    // Switching to USB reads the list afresh and finds the new printer.
    QTest::mouseClick(view->controls().interfaces[2], Qt::LeftButton);
    EXPECT_THAT(Entries(Ports()), ElementsAre("R-3:/dev/usb/lp2"));
}

}  // namespace
}  // namespace tessaly::ui::qt
