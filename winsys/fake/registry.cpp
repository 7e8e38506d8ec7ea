#include <algorithm>
#include <cstring>

#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

// ---- Registry ----------------------------------------------------------------------------

void FakeWindows::EnsureKey(const std::string& upperPath, const std::string& displayPath) {
    if (keys_.count(upperPath)) return;
    const auto pos = upperPath.rfind('\\');
    if (pos != std::string::npos) EnsureKey(upperPath.substr(0, pos), displayPath.substr(0, pos));
    RegKey key;
    key.path = displayPath;
    keys_[upperPath] = std::move(key);
}

void FakeWindows::CreateKey(const std::string& path) {
    EnsureKey(Key(path), path);
}

bool FakeWindows::KeyExists(const std::string& path) const {
    return keys_.count(Key(path)) > 0;
}

void FakeWindows::SetStringValue(const std::string& path, const std::string& name,
                                 const std::string& data) {
    CreateKey(path);
    keys_[Key(path)].values[Key(name)] = RegValue{name, REG_SZ, data};
}

std::optional<std::string> FakeWindows::StringValue(const std::string& path,
                                                    const std::string& name) const {
    const auto key = keys_.find(Key(path));
    if (key == keys_.end()) return std::nullopt;
    const auto value = key->second.values.find(Key(name));
    if (value == key->second.values.end()) return std::nullopt;
    return value->second.bytes;
}

std::vector<std::string> FakeWindows::ValueNames(const std::string& path) const {
    std::vector<std::string> out;
    const auto key = keys_.find(Key(path));
    if (key != keys_.end())
        for (const auto& [upper, value] : key->second.values) out.push_back(value.name);
    return out;
}

void FakeWindows::SetKeyDacl(const std::string& path, std::optional<Acl> dacl) {
    CreateKey(path);
    keys_[Key(path)].dacl = std::move(dacl);
}

std::optional<Acl> FakeWindows::KeyDacl(const std::string& path) const {
    const auto key = keys_.find(Key(path));
    return key == keys_.end() ? std::nullopt : key->second.dacl;
}

void FakeWindows::SetKeyOwner(const std::string& path, const std::string& owner) {
    CreateKey(path);
    keys_[Key(path)].owner = owner;
}

bool FakeWindows::HasSubKeys(const std::string& upperPath) const {
    const auto it = keys_.upper_bound(upperPath);
    return it != keys_.end() && it->first.compare(0, upperPath.size() + 1, upperPath + "\\") == 0;
}

void FakeWindows::EraseKeyTree(const std::string& path) {
    const std::string upper = Key(path);
    for (auto it = keys_.begin(); it != keys_.end();) {
        if (it->first == upper || it->first.compare(0, upper.size() + 1, upper + "\\") == 0)
            it = keys_.erase(it);
        else
            ++it;
    }
}

std::optional<std::string> FakeWindows::KeyBase(HKEY key) const {
    if (!RootShort(key).empty()) return RootShort(key);
    const auto it = keyHandles_.find(key);
    if (it == keyHandles_.end()) return std::nullopt;
    return keys_.count(it->second.path) ? std::optional(keys_.at(it->second.path).path)
                                        : std::optional(it->second.path);
}

std::string FakeWindows::ResolveKeyPath(const std::string& base, const char* subKey,
                                        DWORD sam) const {
    std::string full = base;
    if (subKey && *subKey) full += Cat("\\", subKey);
    const bool redirect = (config_.wow64Process && !(sam & KEY_WOW64_64KEY)) ||
                          (!config_.wow64Process && (sam & KEY_WOW64_32KEY));
    const std::string software = "HKLM\\SOFTWARE\\";
    if (redirect && IStartsWith(full, software) &&
        !IStartsWith(full.substr(software.size()), "WOW6432Node"))
        full = full.substr(0, software.size()) + "WOW6432Node\\" + full.substr(software.size());
    return full;
}

DWORD FakeWindows::EffectiveAccess(const RegKey& key) const {
    const auto member = [&](const std::string& trustee) {
        return std::any_of(config_.callerGroups.begin(), config_.callerGroups.end(),
                           [&](const std::string& group) { return IEquals(group, trustee); });
    };
    // The owner may always read and change the DACL, whatever it says; nobody else may
    // unless the DACL grants it. Only keys without a DACL are open to all.
    const DWORD ownerRights = member(key.owner) ? READ_CONTROL | WRITE_DAC : 0;
    if (!key.dacl) return 0xFFFFFFFF;
    DWORD allowed = 0, denied = 0;
    for (const Ace& ace : *key.dacl) {
        if (!member(ace.trustee)) continue;
        (ace.deny ? denied : allowed) |= ace.mask;
    }
    return (allowed & ~denied) | ownerRights;
}

DWORD FakeWindows::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                 HKEY* result) {
    const std::string args = Args(HandleText(key), S(subKey), Dec(options), Hex(samDesired));
    if (auto code = Injected("RegOpenKeyExA", args))
        return CodeResult("RegOpenKeyExA", args, *code);
    const auto base = KeyBase(key);
    if (!base) return CodeResult("RegOpenKeyExA", args, ERROR_INVALID_HANDLE);
    const std::string path = ResolveKeyPath(*base, subKey, samDesired);
    const auto it = keys_.find(Key(path));
    if (it == keys_.end()) return CodeResult("RegOpenKeyExA", args, ERROR_FILE_NOT_FOUND);
    const DWORD wanted = samDesired & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (wanted & ~EffectiveAccess(it->second))
        return CodeResult("RegOpenKeyExA", args, ERROR_ACCESS_DENIED);
    const Handle h = NewHandle("key " + it->second.path);
    keyHandles_[h] = KeyHandle{it->first, wanted};
    *result = h;
    return CodeResult("RegOpenKeyExA", args, 0, Cat("[", HandleText(h), " ", it->second.path, "]"));
}

DWORD FakeWindows::RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                   HKEY* result, DWORD* disposition) {
    const std::string args = Args(HandleText(key), S(subKey), Dec(options), Hex(samDesired));
    if (auto code = Injected("RegCreateKeyExA", args))
        return CodeResult("RegCreateKeyExA", args, *code);
    const auto base = KeyBase(key);
    if (!base) return CodeResult("RegCreateKeyExA", args, ERROR_INVALID_HANDLE);
    const std::string path = ResolveKeyPath(*base, subKey, samDesired);
    const bool existed = keys_.count(Key(path)) > 0;
    EnsureKey(Key(path), path);
    const RegKey& node = keys_.at(Key(path));
    const DWORD wanted = samDesired & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (wanted & ~EffectiveAccess(node))
        return CodeResult("RegCreateKeyExA", args, ERROR_ACCESS_DENIED);
    const Handle h = NewHandle("key " + node.path);
    keyHandles_[h] = KeyHandle{Key(path), wanted};
    *result = h;
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return CodeResult("RegCreateKeyExA", args, 0, Cat("[", HandleText(h), " ", node.path, "]"));
}

DWORD FakeWindows::RegSetValueExA(HKEY key, const char* valueName, DWORD type,
                                  const unsigned char* data, DWORD size) {
    const std::string text = data ? std::string(reinterpret_cast<const char*>(data), size) : "";
    const std::string args = Args(HandleText(key), S(valueName), Dec(type), S(text), Dec(size));
    if (auto code = Injected("RegSetValueExA", args))
        return CodeResult("RegSetValueExA", args, *code);
    const auto h = keyHandles_.find(key);
    if (h == keyHandles_.end() || !keys_.count(h->second.path))
        return CodeResult("RegSetValueExA", args, ERROR_INVALID_HANDLE);
    if (!(h->second.access & KEY_SET_VALUE))
        return CodeResult("RegSetValueExA", args, ERROR_ACCESS_DENIED);
    const std::string name = valueName ? valueName : "";
    keys_[h->second.path].values[Key(name)] = RegValue{name, type, text};
    return CodeResult("RegSetValueExA", args, 0);
}

DWORD FakeWindows::RegQueryValueExA(HKEY key, const char* valueName, DWORD* type,
                                    unsigned char* data, DWORD* size) {
    const std::string args = Args(HandleText(key), S(valueName), Dec(size ? *size : 0));
    if (auto code = Injected("RegQueryValueExA", args))
        return CodeResult("RegQueryValueExA", args, *code);
    const auto h = keyHandles_.find(key);
    if (h == keyHandles_.end() || !keys_.count(h->second.path))
        return CodeResult("RegQueryValueExA", args, ERROR_INVALID_HANDLE);
    if (!(h->second.access & KEY_QUERY_VALUE))
        return CodeResult("RegQueryValueExA", args, ERROR_ACCESS_DENIED);
    const auto& values = keys_[h->second.path].values;
    const auto value = values.find(Key(valueName ? valueName : ""));
    if (value == values.end()) return CodeResult("RegQueryValueExA", args, ERROR_FILE_NOT_FOUND);
    const std::string& bytes = value->second.bytes;
    if (type) *type = value->second.type;
    if (data && size && *size < bytes.size()) {
        *size = static_cast<DWORD>(bytes.size());
        return CodeResult("RegQueryValueExA", args, ERROR_MORE_DATA);
    }
    if (data && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    if (size) *size = static_cast<DWORD>(bytes.size());
    return CodeResult("RegQueryValueExA", args, 0, S(bytes));
}

DWORD FakeWindows::RegDeleteKeyExA(HKEY key, const char* subKey, DWORD samDesired, DWORD reserved) {
    const std::string args = Args(HandleText(key), S(subKey), Hex(samDesired), Dec(reserved));
    if (auto code = Injected("RegDeleteKeyExA", args))
        return CodeResult("RegDeleteKeyExA", args, *code);
    const auto base = KeyBase(key);
    if (!base) return CodeResult("RegDeleteKeyExA", args, ERROR_INVALID_HANDLE);
    const std::string path = ResolveKeyPath(*base, subKey, samDesired);
    const auto it = keys_.find(Key(path));
    if (it == keys_.end()) return CodeResult("RegDeleteKeyExA", args, ERROR_FILE_NOT_FOUND);
    // A key with subkeys cannot be deleted by this call, nor one whose DACL refuses DELETE.
    if (HasSubKeys(it->first) || !(EffectiveAccess(it->second) & DELETE))
        return CodeResult("RegDeleteKeyExA", args, ERROR_ACCESS_DENIED);
    const std::string deleted = it->second.path;
    keys_.erase(it);
    return CodeResult("RegDeleteKeyExA", args, 0, "[" + deleted + "]");
}

DWORD FakeWindows::RegCloseKey(HKEY key) {
    const std::string args = HandleText(key);
    if (!RootShort(key).empty()) return CodeResult("RegCloseKey", args, 0);
    if (!keyHandles_.erase(key)) return CodeResult("RegCloseKey", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(key);
    return CodeResult("RegCloseKey", args, 0);
}

DWORD FakeWindows::RegConnectRegistryA(const char* machineName, HKEY key, HKEY* result) {
    const std::string args = Args(S(machineName), HandleText(key));
    if (auto code = Injected("RegConnectRegistryA", args))
        return CodeResult("RegConnectRegistryA", args, *code);
    const std::string machine = machineName ? machineName : "";
    if (!machine.empty() && !IEquals(machine, "\\\\" + config_.computerName) &&
        !IEquals(machine, config_.computerName))
        return CodeResult("RegConnectRegistryA", args, ERROR_BAD_NETPATH);
    if (key != HKEY_LOCAL_MACHINE && key != HKEY_USERS)
        return CodeResult("RegConnectRegistryA", args, ERROR_INVALID_HANDLE);
    const Handle h = NewHandle(Cat("remote key ", RootShort(key)));
    keyHandles_[h] = KeyHandle{RootShort(key), 0xFFFFFFFF};
    *result = h;
    return CodeResult("RegConnectRegistryA", args, 0, Cat("[", HandleText(h), "]"));
}

DWORD FakeWindows::RegEnumKeyExA(HKEY key, DWORD index, std::string& name) {
    const std::string args = Args(HandleText(key), Dec(index));
    if (auto code = Injected("RegEnumKeyExA", args))
        return CodeResult("RegEnumKeyExA", args, *code);
    const auto h = keyHandles_.find(key);
    if (h == keyHandles_.end()) return CodeResult("RegEnumKeyExA", args, ERROR_INVALID_HANDLE);
    if (!keys_.count(h->second.path)) return CodeResult("RegEnumKeyExA", args, ERROR_KEY_DELETED);
    if (!(h->second.access & KEY_ENUMERATE_SUB_KEYS))
        return CodeResult("RegEnumKeyExA", args, ERROR_ACCESS_DENIED);
    const std::string prefix = h->second.path + "\\";
    DWORD seen = 0;
    for (auto it = keys_.lower_bound(prefix);
         it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
        if (seen++ == index) {
            name = FileNameOf(it->second.path);
            return CodeResult("RegEnumKeyExA", args, 0, S(name));
        }
    }
    return CodeResult("RegEnumKeyExA", args, ERROR_NO_MORE_ITEMS);
}

}  // namespace tessaly::winsys::fake
