#include "ui_script.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QLineEdit>

namespace tessaly::ui::qt {

UiScript::UiScript(QObject* parent) : QObject(parent) {
    timer_.setInterval(30);
    connect(&timer_, &QTimer::timeout, this, &UiScript::poll);
    // A timer does not fire again while its own handler runs: a second one
    // keeps the time limit while a step is stuck in a nested event loop.
    watchdog_.setInterval(500);
    connect(&watchdog_, &QTimer::timeout, this, &UiScript::checkLimit);
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
    watchdog_.start();
}

void UiScript::pressLater(QWidget* button) {
    QTimer::singleShot(0, button, [button] {
        if (auto* b = qobject_cast<QAbstractButton*>(button)) b->click();
    });
}

bool UiScript::typeFileName(QFileDialog& dialog, const QString& path) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!name) return false;
    if (name->text() != path) name->setText(path);
    return dialog.selectedFiles().value(0) == path;
}

void UiScript::poll() {
    if (next_ >= steps_.size()) return;
    const std::size_t current = next_;
    if (!steps_[current].step()) return checkLimit();
    if (next_ != current) return;  // the script ended while the step ran
    ++next_;
    stepStarted_ = QDateTime::currentMSecsSinceEpoch();
    if (next_ == steps_.size()) finish(QString());
}

void UiScript::checkLimit() {
    if (next_ >= steps_.size()) return;
    if (QDateTime::currentMSecsSinceEpoch() - stepStarted_ > limitMs_) {
        const QString failed = steps_[next_].what;
        next_ = steps_.size();
        finish(failed);
    }
}

void UiScript::finish(const QString& failure) {
    timer_.stop();
    watchdog_.stop();
    if (finished_) finished_(failure);
}

}  // namespace tessaly::ui::qt
