#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace tessaly::ui::qt {

// Drives the real widgets step by step from the event loop, so that it keeps
// running inside the modal dialogs and message boxes the steps open. A step is
// polled until it reports that it is done; each has a time limit, which holds
// even when a step itself blocks in a modal dialog (steps should open dialogs
// from the event loop, as pressLater does, so that later steps can answer them).
class UiScript final : public QObject {
    Q_OBJECT
  public:
    using Step = std::function<bool()>;
    explicit UiScript(QObject* parent = nullptr);

    void add(QString what, Step step);
    // Starts polling; `finished` gets an empty text on success, else what failed.
    void start(std::function<void(const QString& failure)> finished, int stepLimitMs = 20000);

    // The modal dialog on top, if it is of type T.
    template <typename T>
    static T* top() {
        return qobject_cast<T*>(QApplication::activeModalWidget());
    }
    // Presses a button from the event loop, so a modal dialog it opens does not
    // hold up the script.
    static void pressLater(QWidget* button);
    // Writes a path into a file dialog's own name field, as a user types it there
    // (selectFile() leaves that field alone while it has keyboard focus, which
    // depends on when the window was activated). True once the dialog has that
    // file selected.
    static bool typeFileName(QFileDialog& dialog, const QString& path);

  private:
    void poll();
    void checkLimit();
    void finish(const QString& failure);

    struct Entry {
        QString what;
        Step step;
    };
    std::vector<Entry> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
    QTimer watchdog_;
    qint64 stepStarted_ = 0;
    int limitMs_ = 20000;
    std::function<void(const QString&)> finished_;
};

}  // namespace tessaly::ui::qt
