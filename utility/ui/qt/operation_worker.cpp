#include "operation_worker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>

namespace tessaly::ui::qt {

OperationWorker::OperationWorker(QObject* parent) : QObject(parent), context_(new QObject) {
    thread_.setObjectName(QStringLiteral("printer-worker"));
    context_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_.start();
}

OperationWorker::~OperationWorker() {
    // quit() is queued behind the jobs already posted, so they complete first.
    thread_.quit();
    thread_.wait();
}

void OperationWorker::Run(std::function<void()> job, std::function<void()> done) {
    if (++pending_ == 1) emit busyChanged(true);
    QMetaObject::invokeMethod(
        context_,
        [this, job = std::move(job), done = std::move(done)]() mutable {
            if (job) job();
            QMetaObject::invokeMethod(
                this,
                [this, done = std::move(done)] {
                    if (done) done();
                    if (--pending_ == 0) emit busyChanged(false);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void OperationWorker::PostToUi(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void OperationWorker::CallOnUi(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(
        this, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

bool OperationWorker::WaitIdle(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (busy()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace tessaly::ui::qt
