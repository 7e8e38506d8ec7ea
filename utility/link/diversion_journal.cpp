#include "diversion_journal.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

namespace tessaly {
namespace {

using Json = nlohmann::json;

constexpr const char* kFormat = "tessaly-queue-diversion";
constexpr int kVersion = 1;
// A record names a handful of queues; anything far larger is not ours.
constexpr std::size_t kMaxText = 64 * 1024;

// Queue names and ports are the system's bytes in whatever code page it uses:
// stored with every byte outside printable ASCII, and '%', written as %XX, they
// come back exactly.
void AppendEscaped(std::string& out, char c) {
    static const char* const kHex = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || c == '%') {
            AppendEscaped(out, c);
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

bool String(const Json& object, const char* name, std::string& out) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return false;
    auto text = Unescape(it->get<std::string>());
    if (!text) return false;
    out = std::move(*text);
    return true;
}

}  // namespace

// The store's lock is one per process: the diversions of several ports (one
// thread each) take and give it back under the journal's mutex.
DiversionJournal::RecoveryLock::RecoveryLock(DiversionJournal& journal)
    : journal_(journal), held_(false) {
    std::lock_guard lock(journal_.mutex_);
    held_ = journal_.store_->TryLock();
}

DiversionJournal::RecoveryLock::~RecoveryLock() {
    if (!held_) return;
    std::lock_guard lock(journal_.mutex_);
    journal_.store_->Unlock();
}

DiversionJournal::DiversionJournal(std::unique_ptr<JournalStore> store, ProcessIdentity self)
    : store_(std::move(store)), self_(std::move(self)) {}

DiversionJournal& DiversionJournal::ForThisProcess() {
    // Never destroyed: signal and exit handlers may still restore through it.
    static auto* journal = new DiversionJournal(MakePlatformJournalStore(), ThisProcess());
    return *journal;
}

std::string DiversionJournal::Where() const {
    return store_->Where();
}

std::string DiversionJournal::KeyFor(const std::string& port, long long pid) {
    // '/' becomes '_', and every other character outside [A-Za-z0-9.-] (the '_'
    // itself included) is written %XX, so no two ports share a key.
    std::string key;
    for (const char c : port) {
        if (c == '/') {
            key += '_';
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.') {
            key += c;
        } else {
            AppendEscaped(key, c);
        }
    }
    return key + "." + std::to_string(pid);
}

std::string DiversionJournal::Encode(const DiversionRecord& record) {
    Json queues = Json::array();
    for (const DiversionEntry& e : record.entries)
        queues.push_back({{"name", Escape(e.queue)},
                          {"server", Escape(e.server)},
                          {"former", Escape(e.former)},
                          {"note", Escape(e.note)}});
    const Json json{{"format", kFormat},
                    {"version", kVersion},
                    {"owner", {{"pid", record.owner.pid}, {"start", Escape(record.owner.start)}}},
                    {"port", Escape(record.port)},
                    {"queues", queues}};
    return json.dump(1) + "\n";
}

std::optional<DiversionRecord> DiversionJournal::Decode(const std::string& text,
                                                        std::string& error) {
    if (text.size() > kMaxText) {
        error = "it is too large to be a queue record";
        return std::nullopt;
    }
    const Json json = Json::parse(text, nullptr, false);
    std::string format;
    if (json.is_discarded() || !json.is_object() || !String(json, "format", format) ||
        format != kFormat) {
        error = "it is not a Tessaly queue record";
        return std::nullopt;
    }
    const auto version = json.find("version");
    if (version == json.end() || !version->is_number_integer() ||
        version->get<long long>() != kVersion) {
        error = "it was written by another version of Tessaly";
        return std::nullopt;
    }
    error = "it is damaged";
    DiversionRecord record;
    const auto owner = json.find("owner");
    if (owner == json.end() || !owner->is_object()) return std::nullopt;
    const auto pid = owner->find("pid");
    if (pid == owner->end() || !pid->is_number_integer()) return std::nullopt;
    record.owner.pid = pid->get<long long>();
    if (record.owner.pid <= 0 || !String(*owner, "start", record.owner.start)) return std::nullopt;
    if (!String(json, "port", record.port) || record.port.empty()) return std::nullopt;
    const auto queues = json.find("queues");
    if (queues == json.end() || !queues->is_array()) return std::nullopt;
    for (const Json& q : *queues) {
        DiversionEntry entry;
        if (!q.is_object() || !String(q, "name", entry.queue) || entry.queue.empty() ||
            !String(q, "server", entry.server) || !String(q, "former", entry.former) ||
            !String(q, "note", entry.note))
            return std::nullopt;
        record.entries.push_back(std::move(entry));
    }
    error.clear();
    return record;
}

bool DiversionJournal::Store(const DiversionRecord& record, std::string& error) {
    if (record.entries.empty()) return store_->Remove(record.key, error);
    return store_->Write(record.key, Encode(record), error);
}

bool DiversionJournal::Add(const std::string& port, const DiversionEntry& entry,
                           std::string& error) {
    std::lock_guard lock(mutex_);
    DiversionRecord record;
    if (const auto it = own_.find(port); it != own_.end()) record = it->second;
    record.key = KeyFor(port, self_.pid);
    record.owner = self_;
    record.port = port;
    std::erase_if(record.entries, [&](const auto& e) { return e.queue == entry.queue; });
    record.entries.push_back(entry);
    if (!Store(record, error)) return false;
    own_[port] = std::move(record);
    return true;
}

bool DiversionJournal::Remove(const std::string& port, const std::string& queue,
                              std::string& error) {
    std::lock_guard lock(mutex_);
    const auto it = own_.find(port);
    if (it == own_.end()) return true;
    DiversionRecord record = it->second;
    std::erase_if(record.entries, [&](const auto& e) { return e.queue == queue; });
    if (!Store(record, error)) return false;
    if (record.entries.empty()) {
        own_.erase(it);
    } else {
        it->second = std::move(record);
    }
    return true;
}

DiversionJournal::Scan DiversionJournal::Read() {
    std::lock_guard lock(mutex_);
    Scan scan;
    auto items = store_->ReadAll();
    // The same order every time, whatever order the store keeps.
    std::sort(items.begin(), items.end(),
              [](const auto& a, const auto& b) { return a.key < b.key; });
    for (JournalStore::Item& item : items) {
        std::string why = item.error;
        if (why.empty()) {
            if (auto record = Decode(item.text, why)) {
                record->key = item.key;
                scan.records.push_back(std::move(*record));
                continue;
            }
        }
        scan.problems.push_back("Ignored " + store_->PathOf(item.key) + ": " + why +
                                ". Check the print queues with `tessaly-cli queues`, then "
                                "remove it.");
    }
    return scan;
}

bool DiversionJournal::Rewrite(const DiversionRecord& record, std::string& error) {
    std::lock_guard lock(mutex_);
    return Store(record, error);
}

}  // namespace tessaly
