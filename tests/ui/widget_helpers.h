#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace tessaly::ui::qt::testing {

// Owns the pending handlers below, so a test can drop those it did not use.
inline QObject& ModalHandlers() {
    static QObject owner;
    return owner;
}
inline void CancelModalHandlers() {
    for (QObject* handler : ModalHandlers().children()) delete handler;
}

// Acts on the next modal dialog of type T as soon as it shows. Install it before
// the click that opens the dialog: that click only returns once the dialog ends.
template <typename T>
void WhenModal(std::function<void(T&)> act) {
    auto* timer = new QTimer(&ModalHandlers());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        T* widget = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!widget || !widget->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(*widget);
    });
    timer->start();
}

// Presses a key as the window system delivers it: to the widget that has focus.
inline void PressKey(QWidget* window, Qt::Key key) {
    QTest::keyClick(window->windowHandle(), key);
}

// Moves keyboard focus with the Tab key, as a user does, until `target` has it.
inline bool TabTo(QWidget* target) {
    QWidget* window = target->window();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window)) return false;
    for (int i = 0; i < 60 && !target->hasFocus(); ++i) PressKey(window, Qt::Key_Tab);
    return target->hasFocus();
}

struct ShownMessage {
    QString text;
    QString title;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QString informativeText;  // shown below the text
};

// Records the next `count` message boxes and answers each with `answer` (or its
// first button when the box has no such button).
inline void AnswerMessages(std::shared_ptr<std::vector<ShownMessage>> log, int count,
                           QMessageBox::StandardButton answer = QMessageBox::Ok) {
    if (count <= 0) return;
    WhenModal<QMessageBox>([log, count, answer](QMessageBox& box) {
        log->push_back({box.text(), box.windowTitle(), box.icon(), box.standardButtons(),
                        box.informativeText()});
        AnswerMessages(log, count - 1, answer);
        QAbstractButton* button = box.button(answer);
        (button ? button : box.buttons().front())->click();
    });
}

}  // namespace tessaly::ui::qt::testing
