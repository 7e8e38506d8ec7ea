#pragma once

#include <QApplication>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace tessaly::ui::qt {

// Drives the real widgets step by step from the event loop, so that it keeps
// running inside the modal dialogs and message boxes the steps open. A step is
// polled until it reports that it is done; each has a time limit.
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

  private:
    void poll();

    struct Entry {
        QString what;
        Step step;
    };
    std::vector<Entry> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
    qint64 stepStarted_ = 0;
    int limitMs_ = 20000;
    std::function<void(const QString&)> finished_;
};

}  // namespace tessaly::ui::qt
