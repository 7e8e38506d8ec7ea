#include "registry_journal_store.h"

#include <memory>

#include "win32_system.h"

namespace tessaly {
namespace {

constexpr DWORD kMaxText = 256 * 1024;

std::string Failed(const char* call, LONG code) {
    return std::string(call) + " failed: " + SystemMessage(static_cast<DWORD>(code));
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

RegistryJournalStore::RegistryJournalStore(std::string key) : key_(std::move(key)) {}

RegistryJournalStore::~RegistryJournalStore() {
    Unlock();
}

std::string RegistryJournalStore::Where() const {
    return "HKEY_CURRENT_USER\\" + key_;
}

std::string RegistryJournalStore::PathOf(const std::string& key) const {
    return Where() + " (value " + key + ")";
}

bool RegistryJournalStore::Write(const std::string& key, const std::string& text,
                                 std::string& error) {
    HKEY raw = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) {
        error = Failed("RegCreateKeyEx", status);
        return false;
    }
    KeyPtr hive(raw);
    status =
        RegSetValueExA(raw, key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    if (status != ERROR_SUCCESS) {
        error = Failed("RegSetValueEx", status);
        return false;
    }
    // The hive is written lazily; the record must be on disk before the queue moves.
    status = RegFlushKey(raw);
    if (status != ERROR_SUCCESS) {
        error = Failed("RegFlushKey", status);
        return false;
    }
    return true;
}

bool RegistryJournalStore::Remove(const std::string& key, std::string& error) {
    HKEY raw = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_SET_VALUE, &raw);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) {
        error = Failed("RegOpenKeyEx", status);
        return false;
    }
    KeyPtr hive(raw);
    status = RegDeleteValueA(raw, key.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) {
        error = Failed("RegDeleteValue", status);
        return false;
    }
    RegFlushKey(raw);
    return true;
}

std::vector<JournalStore::Item> RegistryJournalStore::ReadAll() {
    std::vector<Item> items;
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return items;  // nothing written yet
    KeyPtr hive(raw);
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        DWORD size = 0;
        const LONG status =
            RegEnumValueA(raw, index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;
        Item item{std::string(name, nameLength), {}, {}};
        if (type != REG_SZ) {
            item.error = "it is not a text value";
        } else if (size > kMaxText) {
            item.error = "it is too large to be a queue record";
        } else {
            std::string text(size, '\0');
            DWORD read = size;
            if (RegQueryValueExA(raw, item.key.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(text.data()), &read) != ERROR_SUCCESS) {
                item.error = "it cannot be read";
            } else {
                text.resize(std::min<DWORD>(read, size));
                while (!text.empty() && text.back() == '\0') text.pop_back();
                item.text = std::move(text);
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

bool RegistryJournalStore::TryLock() {
    if (lock_ != nullptr) return false;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\TessalyQueueDiversionRecovery");
    if (mutex == nullptr) return true;  // cannot share: go on alone
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    lock_ = mutex;
    return true;
}

void RegistryJournalStore::Unlock() {
    if (lock_ == nullptr) return;
    ReleaseMutex(lock_);
    CloseHandle(lock_);
    lock_ = nullptr;
}

std::unique_ptr<JournalStore> MakePlatformJournalStore() {
    return std::make_unique<RegistryJournalStore>();
}

}  // namespace tessaly
