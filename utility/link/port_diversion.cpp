#include "port_diversion.h"

#include <algorithm>
#include <set>
#include <utility>

#include "printer_port.h"

namespace tessaly {
namespace {

// The live diversions of the process. Never destroyed: it must outlive every
// static PortDiversion and still work from exit handlers.
struct Registry {
    std::mutex mutex;
    std::set<PortDiversion*> diversions;

    static Registry& instance() {
        static auto* registry = new Registry;
        return *registry;
    }
};

}  // namespace

PortDiversion::PortDiversion() : PortDiversion(MakePlatformPrintQueues()) {}

PortDiversion::PortDiversion(std::unique_ptr<PrintQueues> queues) : queues_(std::move(queues)) {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    registry.diversions.insert(this);
}

PortDiversion::~PortDiversion() {
    {
        Registry& registry = Registry::instance();
        std::lock_guard lock(registry.mutex);
        registry.diversions.erase(this);
    }
    Restore();
}

void PortDiversion::Divert(const std::string& portName) {
    const auto choice = ChoosePort(portName);
    if (!choice || choice->type == PortType::Usb || !queues_) return;
    const std::string portText = QueuePortText(portName);
    if (portText.empty()) return;
    std::lock_guard lock(mutex_);
    const auto queues = queues_->List();
    if (!queues) return;
    for (const PrintQueue& queue : *queues) {
        if (queue.deviceUri.find(portText) == std::string::npos) continue;
        auto [it, fresh] = table_.try_emplace(queue.name, Record{queue.paused, false});
        Record& record = it->second;
        // Paused by somebody else before we came: leave it as it is, now and later.
        if (record.wasPaused || record.pausedByUs || queue.paused) continue;
        record.pausedByUs = queues_->Pause(queue.name);
    }
}

void PortDiversion::Restore() {
    std::lock_guard lock(mutex_);
    if (table_.empty() || !queues_) return;
    for (auto it = table_.begin(); it != table_.end();) {
        if (it->second.pausedByUs && !queues_->Resume(it->first)) {
            ++it;  // keep it: a later Restore tries again
            continue;
        }
        it = table_.erase(it);
    }
}

std::map<std::string, PortDiversion::Record> PortDiversion::records() const {
    std::lock_guard lock(mutex_);
    return table_;
}

void RestoreAllDiversions() {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    for (PortDiversion* diversion : registry.diversions) diversion->Restore();
}

}  // namespace tessaly
