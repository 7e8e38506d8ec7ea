#pragma once

#include <QObject>
#include <QThread>
#include <functional>

#include "operation_runner.h"

namespace tessaly::ui::qt {

// The one worker thread on which printer operations run, one at a time, in the
// order they were started. A job's completion runs on the thread that owns the
// worker (the user-interface thread), so dialog logic only ever changes its state
// there. Jobs may post further work to that thread with PostToUi (progress, page
// updates); a message box a job raises is shown there while the job waits (see
// QtNotifier).
class OperationWorker final : public QObject, public OperationRunner {
    Q_OBJECT
  public:
    explicit OperationWorker(QObject* parent = nullptr);
    // Lets the queued jobs finish, then stops the thread.
    ~OperationWorker() override;

    void Run(std::function<void()> job, std::function<void()> done) override;
    void PostToUi(std::function<void()> work);
    // Runs `work` on the user-interface thread and waits for it (at once when
    // called there). For calls whose answer a job needs.
    void CallOnUi(const std::function<void()>& work);

    // True from the start of a job until its completion has run.
    bool busy() const { return pending_ > 0; }
    bool onWorkerThread() const { return QThread::currentThread() == &thread_; }
    // Processes events until no job is pending; false when the time ran out.
    bool WaitIdle(int timeoutMs);

  signals:
    void busyChanged(bool busy);

  private:
    QThread thread_;
    QObject* context_;  // lives on thread_; jobs are queued to it
    int pending_ = 0;
};

}  // namespace tessaly::ui::qt
