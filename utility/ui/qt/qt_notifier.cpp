#include "qt_notifier.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace tessaly::ui::qt {

MessageAnswer QtNotifier::Show(QWidget* parent, const Message& message) {
    QMessageBox::Icon icon = QMessageBox::Information;
    switch (message.icon) {
        case MessageIcon::Exclamation:
            icon = QMessageBox::Warning;
            break;
        case MessageIcon::Information:
            icon = QMessageBox::Information;
            break;
        case MessageIcon::Question:
            icon = QMessageBox::Question;
            break;
        case MessageIcon::Stop:
            icon = QMessageBox::Critical;
            break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (message.buttons == MessageButtons::OkCancel)
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    if (message.buttons == MessageButtons::YesNo) buttons = QMessageBox::Yes | QMessageBox::No;
    QMessageBox box(icon, QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), buttons, parent);
    if (!message.details.empty()) box.setInformativeText(QString::fromStdString(message.details));
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            // Closed without a button: the box's safe answer.
            switch (message.buttons) {
                case MessageButtons::Ok:
                    return MessageAnswer::Ok;
                case MessageButtons::OkCancel:
                    return MessageAnswer::Cancel;
                case MessageButtons::YesNo:
                    return MessageAnswer::No;
            }
            return MessageAnswer::Cancel;
    }
}

QWidget* QtNotifier::ParentWindow() const {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (parent_) return parent_.data();
    return QApplication::activeWindow();
}

MessageAnswer QtNotifier::notify(const Message& message) {
    if (QThread::currentThread() == thread()) {
        return Show(ParentWindow(), message);
    }
    MessageAnswer answer = MessageAnswer::Cancel;
    QMetaObject::invokeMethod(
        this, [this, &message, &answer] { answer = Show(ParentWindow(), message); },
        Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace tessaly::ui::qt
