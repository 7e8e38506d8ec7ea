#include "enter_key.h"

#include <QKeyEvent>
#include <QPushButton>

namespace tessaly::ui::qt {
namespace {

class EnterFilter final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        auto* button = qobject_cast<QPushButton*>(watched);
        if ((key != Qt::Key_Return && key != Qt::Key_Enter) || !button || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

}  // namespace

void PressFocusedButtonOnEnter(QDialog& dialog) {
    auto* filter = new EnterFilter(&dialog);
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        button->installEventFilter(filter);
}

}  // namespace tessaly::ui::qt
