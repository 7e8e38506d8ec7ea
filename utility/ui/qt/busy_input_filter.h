#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace tessaly::ui::qt {

// Holds back the user's input to one window while a printer operation runs, as a
// window that blocks in its handler would, but keeps it painting. The widgets
// given as allowed (the Exit button) keep taking input; closing the window is
// the window's own business (it waits for the operation's end).
class BusyInputFilter final : public QObject {
  public:
    explicit BusyInputFilter(QWidget* window);
    ~BusyInputFilter() override;
    void allow(QWidget* widget) { allowed_.push_back(widget); }
    void setBlocked(bool blocked);
    bool blocked() const { return blocked_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
    std::vector<QPointer<QWidget>> allowed_;
    bool blocked_ = false;
};

}  // namespace tessaly::ui::qt
