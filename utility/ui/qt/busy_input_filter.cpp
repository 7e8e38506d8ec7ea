#include "busy_input_filter.h"

#include <QApplication>
#include <QEvent>

namespace tessaly::ui::qt {

BusyInputFilter::BusyInputFilter(QWidget* window) : QObject(window), window_(window) {}

BusyInputFilter::~BusyInputFilter() {
    setBlocked(false);
}

void BusyInputFilter::setBlocked(bool blocked) {
    if (blocked == blocked_) return;
    blocked_ = blocked;
    if (blocked) {
        qApp->installEventFilter(this);
        window_->setCursor(Qt::BusyCursor);
    } else {
        qApp->removeEventFilter(this);
        window_->unsetCursor();
    }
}

bool BusyInputFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
            break;
        default:
            return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_) return false;
    for (const auto& allowed : allowed_) {
        if (allowed && (widget == allowed || allowed->isAncestorOf(widget))) return false;
    }
    return true;
}

}  // namespace tessaly::ui::qt
