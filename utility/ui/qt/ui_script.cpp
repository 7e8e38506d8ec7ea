#include "ui_script.h"

#include <QAbstractButton>
#include <QDateTime>

namespace tessaly::ui::qt {

UiScript::UiScript(QObject* parent) : QObject(parent) {
    timer_.setInterval(30);
    connect(&timer_, &QTimer::timeout, this, &UiScript::poll);
}

void UiScript::add(QString what, Step step) {
    steps_.push_back({std::move(what), std::move(step)});
}

void UiScript::start(std::function<void(const QString&)> finished, int stepLimitMs) {
    finished_ = std::move(finished);
    limitMs_ = stepLimitMs;
    next_ = 0;
    stepStarted_ = QDateTime::currentMSecsSinceEpoch();
    timer_.start();
}

void UiScript::pressLater(QWidget* button) {
    QTimer::singleShot(0, button, [button] {
        if (auto* b = qobject_cast<QAbstractButton*>(button)) b->click();
    });
}

void UiScript::poll() {
    if (next_ >= steps_.size()) return;
    if (steps_[next_].step()) {
        ++next_;
        stepStarted_ = QDateTime::currentMSecsSinceEpoch();
        if (next_ == steps_.size()) {
            timer_.stop();
            if (finished_) finished_(QString());
        }
        return;
    }
    if (QDateTime::currentMSecsSinceEpoch() - stepStarted_ > limitMs_) {
        timer_.stop();
        const QString failed = steps_[next_].what;
        next_ = steps_.size();
        if (finished_) finished_(failed);
    }
}

}  // namespace tessaly::ui::qt
