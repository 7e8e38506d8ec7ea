#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "notifier.h"

namespace tessaly::ui::qt {

// Shows messages as message boxes on the user-interface thread. Called from the
// worker thread, it waits until the user has answered the box.
class QtNotifier final : public QObject, public Notifier {
    Q_OBJECT
  public:
    explicit QtNotifier(QObject* parent = nullptr) : QObject(parent) {}
    MessageAnswer notify(const Message& message) override;
    // The window the boxes belong to when no modal dialog is open.
    void setParentWindow(QWidget* window) { parent_ = window; }

    static MessageAnswer Show(QWidget* parent, const Message& message);

  private:
    QWidget* ParentWindow() const;
    QPointer<QWidget> parent_;
};

}  // namespace tessaly::ui::qt
