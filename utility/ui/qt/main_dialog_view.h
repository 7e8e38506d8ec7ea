// utility/ui/qt/ is Tessaly on Linux: Qt widgets that draw the dialogs of utility/ui/, the worker
// thread that runs the printer exchanges, the virtual paper view and the screenshot tour.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QRadioButton>
#include <array>
#include <functional>
#include <memory>

#include "main_dialog.h"

namespace tessaly::ui::qt {

class BusyInputFilter;
class OperationWorker;
class QtNotifier;

// The main connection dialog: binds its controls to MainDialog. The About box,
// which lives in the system menu on the original platform, is on F1 and in the
// window's context menu here.
class MainDialogView final : public QDialog {
    Q_OBJECT
  public:
    struct Controls {
        QComboBox* model = nullptr;
        std::array<QRadioButton*, 3> interfaces{};
        QComboBox* port = nullptr;
        QComboBox* baud = nullptr;
        QComboBox* dataBits = nullptr;
        QComboBox* parity = nullptr;
        QComboBox* stopBits = nullptr;
        QComboBox* flowControl = nullptr;
        QPushButton* checkCommunication = nullptr;
        QPushButton* selfTest = nullptr;
        QPushButton* runManager = nullptr;
        QPushButton* commandEditor = nullptr;
        QPushButton* exit = nullptr;
    };

    MainDialogView(MainDialog& logic, OperationWorker& worker, QtNotifier& notifier,
                   QWidget* parent = nullptr);
    ~MainDialogView() override;

    const Controls& controls() const { return c_; }
    MainDialog& logic() { return logic_; }

    // Called with every dialog this one opens, once it is shown (for the
    // screenshot tour).
    std::function<void(QDialog&)> onDialogOpened;

    void showAbout();
    void openCommandEditor();
    void openStatusDialog();

  public slots:
    void done(int result) override;

  private:
    void build();
    void refresh();
    void fillCombo(QComboBox* combo, const std::vector<std::string>& entries);
    void runModal(QDialog& dialog);
    void followUsbPrinters();

    MainDialog& logic_;
    OperationWorker& worker_;
    QtNotifier& notifier_;
    Controls c_;
    BusyInputFilter* busyFilter_ = nullptr;
    // Follows USB printers arriving and leaving, so the USB port list stays
    // current without the user switching interfaces.
    struct UsbFollower;
    std::unique_ptr<UsbFollower> usbFollower_;
    bool refreshing_ = false;
    bool closeRequested_ = false;
    int closeResult_ = 0;
};

}  // namespace tessaly::ui::qt
