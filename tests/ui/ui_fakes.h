#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "command_test_editor.h"
#include "notifier.h"
#include "operation_runner.h"
#include "port_catalog.h"
#include "print_queues.h"
#include "recording_notifier.h"

namespace tessaly::ui::testing {

using tessaly::testing::RecordingNotifier;

// Holds each operation until the test lets it run, so the state during an
// operation can be looked at.
struct HeldRunner final : OperationRunner {
    std::function<void()> job, done;
    void Run(std::function<void()> j, std::function<void()> d) override {
        job = std::move(j);
        done = std::move(d);
    }
    void Finish() {
        auto j = std::move(job);
        auto d = std::move(done);
        job = done = nullptr;
        if (j) j();
        if (d) d();
    }
};

struct FixedCatalog final : PortCatalog {
    std::vector<std::string> serial{"/dev/ttyS0", "/dev/ttyUSB0"};
    std::vector<std::string> parallel{"/dev/lp0"};
    std::vector<std::string> usb;
    std::vector<std::string> SerialPorts() override { return serial; }
    std::vector<std::string> ParallelPorts() override { return parallel; }
    std::vector<std::string> UsbPrinters() override { return usb; }
};

// A print system whose queues live in memory; the log records pauses and resumes.
// Queues named in `refuse` cannot be paused; none can be resumed while
// `refuseResume` is set.
struct MemoryQueues final : PrintQueues {
    std::vector<PrintQueue>* queues;
    std::vector<std::string>* log;
    std::vector<std::string> refuse;
    bool refuseResume = false;
    MemoryQueues(std::vector<PrintQueue>& q, std::vector<std::string>& l) : queues(&q), log(&l) {}
    std::optional<std::vector<PrintQueue>> List() override { return *queues; }
    QueueChange Pause(const PrintQueue& queue, const std::string& note) override {
        if (std::find(refuse.begin(), refuse.end(), queue.name) != refuse.end())
            return {false, "Forbidden"};
        return Set(queue.name, true, note);
    }
    QueueChange Resume(const std::string& name, const std::string&) override {
        if (refuseResume) return {false, "Forbidden"};
        return Set(name, false, {});
    }
    QueueChange Set(const std::string& name, bool paused, const std::string& note) {
        for (auto& q : *queues)
            if (q.name == name) {
                q.paused = paused;
                q.stateMessage = note;
                log->push_back((paused ? "pause " : "resume ") + name);
                return {true, {}};
            }
        return {false, "no such queue"};
    }
};

// Scripts the editor's modal dialogs: each function gets the dialog's logic and
// returns whether it ended with OK.
struct ScriptedHost final : EditorHost {
    std::function<bool(SelectCodepageDialog&)> codepage = [](auto&) { return false; };
    std::function<bool(SelectRangeDialog&)> range = [](auto&) { return false; };
    std::function<bool(SelectAddressDialog&)> address = [](auto&) { return false; };
    std::optional<std::string> savePath, loadPath;
    std::vector<FileDialogRequest> requests;

    bool Run(SelectCodepageDialog& d) override { return codepage(d); }
    bool Run(SelectRangeDialog& d) override { return range(d); }
    bool Run(SelectAddressDialog& d) override { return address(d); }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest& r) override {
        requests.push_back(r);
        return savePath;
    }
    std::optional<std::string> ChooseLoadFile(const FileDialogRequest& r) override {
        requests.push_back(r);
        return loadPath;
    }
};

}  // namespace tessaly::ui::testing
