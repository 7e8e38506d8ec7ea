#include "port_diversion.h"

#include <algorithm>
#include <charconv>
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

constexpr std::string_view kNoteStart = "Paused by Tessaly while it uses ";
constexpr std::string_view kNotePid = " (pid ";

// Our mark in a queue's state message: the port and the process it names.
struct PauseMark {
    std::string port;
    long long pid = 0;
};

std::optional<PauseMark> ParsePauseNote(const std::string& note) {
    if (!note.starts_with(kNoteStart) || !note.ends_with(")")) return std::nullopt;
    const auto at = note.rfind(kNotePid);
    if (at == std::string::npos || at < kNoteStart.size()) return std::nullopt;
    PauseMark mark;
    mark.port = note.substr(kNoteStart.size(), at - kNoteStart.size());
    const char* first = note.data() + at + kNotePid.size();
    const char* last = note.data() + note.size() - 1;
    const auto [end, error] = std::from_chars(first, last, mark.pid);
    if (error != std::errc() || end != last || mark.pid <= 0 || mark.port.empty())
        return std::nullopt;
    return mark;
}

// Whether a marked pause without any record was left by a run that has ended:
// the process it names is gone, or runs some other program now. A mark naming
// this very process is left alone: it may be a pause of this run whose record
// was taken from under it.
bool LeftByEndedRun(const PauseMark& mark, long long self) {
    return mark.pid != self && !MayRunOurProgram(mark.pid);
}

// The value of one parameter of a URI's query, e.g. serial=SN123; %XX decoded.
std::optional<std::string> QueryValue(const std::string& uri, const std::string& name) {
    const auto query = uri.find('?');
    if (query == std::string::npos) return std::nullopt;
    std::size_t start = query + 1;
    while (start <= uri.size()) {
        const auto end = std::min(uri.find('&', start), uri.size());
        const std::string pair = uri.substr(start, end - start);
        if (pair.starts_with(name + "=")) {
            std::string value;
            const std::string raw = pair.substr(name.size() + 1);
            for (std::size_t i = 0; i < raw.size(); ++i) {
                int byte = 0;
                if (raw[i] == '%' && i + 2 < raw.size() &&
                    std::from_chars(raw.data() + i + 1, raw.data() + i + 3, byte, 16).ptr ==
                        raw.data() + i + 3) {
                    value += static_cast<char>(byte);
                    i += 2;
                } else {
                    value += raw[i];
                }
            }
            return value;
        }
        start = end + 1;
    }
    return std::nullopt;
}

const PrintQueue* Find(const std::vector<PrintQueue>& queues, const std::string& name) {
    const auto it =
        std::find_if(queues.begin(), queues.end(), [&](const auto& q) { return q.name == name; });
    return it == queues.end() ? nullptr : &*it;
}

}  // namespace

bool PortQueueMatch::Matches(const std::string& deviceUri) const {
    if (!text.empty() && deviceUri.find(text) != std::string::npos) return true;
    if (usbSerial.empty() || !deviceUri.starts_with("usb:")) return false;
    return QueryValue(deviceUri, "serial") == usbSerial;
}

std::string PortDiversion::PauseNote(const std::string& port, long long pid) {
    return std::string(kNoteStart) + port + std::string(kNotePid) + std::to_string(pid) + ")";
}

PortDiversion::PortDiversion() : PortDiversion(MakePlatformPrintQueues()) {}

PortDiversion::PortDiversion(std::unique_ptr<PrintQueues> queues)
    : PortDiversion(std::move(queues), DiversionJournal::ForThisProcess()) {}

PortDiversion::PortDiversion(std::unique_ptr<PrintQueues> queues, DiversionJournal& journal)
    : queues_(std::move(queues)), journal_(journal) {
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

DiversionReport PortDiversion::Divert(const std::string& portName) {
    DiversionReport report;
    const auto match = QueueMatchFor(portName);
    if (!match || !queues_) return report;
    std::lock_guard lock(mutex_);
    const auto queues = queues_->List();
    if (!queues) return report;
    const std::string paused = queues_->PausedWord();
    for (const PrintQueue& queue : *queues) {
        if (!match->Matches(queue.deviceUri)) continue;
        if (table_.count(queue.name)) continue;  // the first record stands
        // Paused by somebody else before we came: leave it as it is, now and later.
        if (queue.paused) {
            table_[queue.name] = Record{true, false, match->port, queue.deviceUri};
            continue;
        }
        const auto refuse = [&](const std::string& why, const std::string& advice) {
            report.refused.push_back("The print queue '" + queue.name + "' also prints to " +
                                     match->port + " and was not " + paused + ": " + why +
                                     ". A job it sends meanwhile can mix with what this program "
                                     "sends. " +
                                     advice);
        };
        const DiversionEntry entry{queue.name, queues_->Server(), queue.deviceUri,
                                   PauseNote(match->port, journal_.self().pid)};
        std::string error;
        // Never change what could not be written down first.
        if (!journal_.Add(match->port, entry, error)) {
            refuse("the record needed to give it back after a crash could not be written (" +
                       error + ")",
                   "Make " + journal_.Where() +
                       " writable, or keep the queue from printing yourself while you use the "
                       "printer.");
            continue;
        }
        const QueueChange change = queues_->Pause(queue, entry.note);
        if (!change.done) {
            journal_.Remove(match->port, queue.name, error);
            refuse(change.error.empty() ? "the print system refused" : change.error,
                   queues_->PauseAdvice(queue.name));
            continue;
        }
        table_[queue.name] = Record{false, true, match->port, queue.deviceUri};
        report.paused.push_back(queue.name);
    }
    return report;
}

std::vector<std::string> PortDiversion::Restore() {
    std::vector<std::string> problems;
    std::lock_guard lock(mutex_);
    if (table_.empty() || !queues_) return problems;
    for (auto it = table_.begin(); it != table_.end();) {
        const Record& record = it->second;
        if (record.pausedByUs) {
            const QueueChange change = queues_->Resume(it->first, record.former);
            if (!change.done) {
                problems.push_back("Could not give back the print queue '" + it->first + "' (" +
                                   change.error + "); the next start tries again. " +
                                   queues_->ResumeAdvice(it->first, record.former));
                ++it;  // keep it: a later Restore, or the next start, tries again
                continue;
            }
            // A record that cannot be removed is harmless: the queue runs, so the
            // next start finds nothing to give back.
            std::string error;
            journal_.Remove(record.port, it->first, error);
        }
        it = table_.erase(it);
    }
    return problems;
}

RecoveryReport PortDiversion::RecoverAbandoned() {
    RecoveryReport report;
    if (!queues_) return report;
    std::lock_guard lock(mutex_);
    DiversionJournal::RecoveryLock recovery(journal_);
    if (!recovery.held()) return report;  // another program is doing it right now
    // The queues first, the records after: a pause is recorded before it is made,
    // so every marked pause seen here has its record in the scan below.
    const auto queues = queues_->List();
    auto scan = journal_.Read();
    report.problems = std::move(scan.problems);
    const std::string server = queues_->Server();
    const ProcessIdentity& self = journal_.self();

    std::set<std::string> recorded;
    std::vector<DiversionRecord*> abandoned;
    for (DiversionRecord& record : scan.records) {
        for (const DiversionEntry& entry : record.entries)
            if (entry.server == server) recorded.insert(entry.queue);
        if (!(record.owner == self) && !StillRunning(record.owner)) abandoned.push_back(&record);
    }
    if (!queues) {
        report.unreachable = !abandoned.empty();
        return report;
    }
    const auto giveBack = [&](const PrintQueue& queue, const std::string& former) {
        const QueueChange change = queues_->Resume(queue.name, former);
        if (change.done) {
            report.givenBack.push_back(queues_->GivenBack(queue.name, former));
        } else {
            report.warnings.push_back("Could not give back the print queue '" + queue.name +
                                      "', left " + queues_->PausedWord() +
                                      " by an earlier run that did not finish (" + change.error +
                                      "). " + queues_->ResumeAdvice(queue.name, former));
        }
        return change.done;
    };
    for (DiversionRecord* record : abandoned) {
        std::vector<DiversionEntry> outstanding;
        for (const DiversionEntry& entry : record->entries) {
            const PrintQueue* queue = Find(*queues, entry.queue);
            // Another print server's queue waits for that server. A queue that is
            // gone, or that somebody resumed or paused again since, is not ours to
            // change any more.
            if (entry.server != server || (queue && queues_->StillPaused(*queue, entry.note) &&
                                           !giveBack(*queue, entry.former)))
                outstanding.push_back(entry);
        }
        record->entries = std::move(outstanding);
        std::string error;
        if (!journal_.Rewrite(*record, error)) report.warnings.push_back(error);
    }
    // Our mark without a record: the journal was lost (a folder under /run does not
    // survive a reboot). Give the queue back once the process it names is gone.
    for (const PrintQueue& queue : *queues) {
        if (!queue.paused || recorded.count(queue.name)) continue;
        const auto mark = ParsePauseNote(queue.stateMessage);
        if (!mark || !LeftByEndedRun(*mark, self.pid)) continue;
        giveBack(queue, queue.deviceUri);
    }
    return report;
}

std::optional<std::vector<QueueSurvey>> PortDiversion::Survey(const std::string& portName,
                                                              std::vector<std::string>& problems) {
    std::optional<PortQueueMatch> match;
    if (!portName.empty()) {
        match = QueueMatchFor(portName);
        if (!match) return std::vector<QueueSurvey>{};
    }
    if (!queues_) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto queues = queues_->List();
    if (!queues) return std::nullopt;
    auto scan = journal_.Read();
    problems = std::move(scan.problems);
    const std::string server = queues_->Server();
    const std::string paused = queues_->PausedWord();
    const std::string restore = "; `tessaly-cli queues --restore` gives it back";

    std::vector<QueueSurvey> survey;
    for (const PrintQueue& queue : *queues) {
        if (match && !match->Matches(queue.deviceUri)) continue;
        QueueSurvey item{queue, {}};
        const DiversionRecord* owner = nullptr;
        const DiversionEntry* entry = nullptr;
        for (const DiversionRecord& record : scan.records)
            for (const DiversionEntry& e : record.entries)
                if (e.server == server && e.queue == queue.name) {
                    owner = &record;
                    entry = &e;
                }
        const auto mark = ParsePauseNote(queue.stateMessage);
        if (entry && queues_->StillPaused(queue, entry->note)) {
            const std::string who = "(pid " + std::to_string(owner->owner.pid) + ")";
            item.note =
                StillRunning(owner->owner)
                    ? paused + " by Tessaly " + who + " while it uses " + owner->port
                    : paused + " by a run of Tessaly " + who + " that did not finish" + restore;
        } else if (queue.paused && mark) {
            item.note = paused + " by Tessaly (pid " + std::to_string(mark->pid) + ") for " +
                        mark->port + ", no record of it left";
            if (LeftByEndedRun(*mark, journal_.self().pid)) item.note += restore;
        } else if (queue.paused) {
            item.note = paused + " by someone else";
            if (!queue.stateMessage.empty()) item.note += ": " + queue.stateMessage;
        }
        survey.push_back(std::move(item));
    }
    return survey;
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
