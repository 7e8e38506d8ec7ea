#include <algorithm>

#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

// ---- Security ------------------------------------------------------------------------------

std::optional<Acl> FakeWindows::AclOf(Handle h, bool* valid) const {
    *valid = true;
    if (h == kNullHandle) return std::nullopt;
    const auto it = allocations_.find(h);
    if (it == allocations_.end() || it->second.kind != "ACL") {
        *valid = false;
        return std::nullopt;
    }
    return it->second.acl;
}

DWORD FakeWindows::GetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                   Handle* dacl, Handle* securityDescriptor) {
    const std::string args = Args(HandleText(object), Dec(objectType), Dec(securityInfo));
    if (auto code = Injected("GetSecurityInfo", args))
        return CodeResult("GetSecurityInfo", args, *code);
    if (objectType != SE_REGISTRY_KEY)
        return CodeResult("GetSecurityInfo", args, ERROR_INVALID_PARAMETER);
    std::string path;
    DWORD access = 0xFFFFFFFF;
    if (!RootShort(object).empty()) {
        path = RootShort(object);
    } else if (const auto it = keyHandles_.find(object); it != keyHandles_.end()) {
        path = it->second.path;
        access = it->second.access;
    } else {
        return CodeResult("GetSecurityInfo", args, ERROR_INVALID_HANDLE);
    }
    if (!(access & READ_CONTROL)) return CodeResult("GetSecurityInfo", args, ERROR_ACCESS_DENIED);
    const auto key = keys_.find(Key(path));
    if (key == keys_.end()) return CodeResult("GetSecurityInfo", args, ERROR_FILE_NOT_FOUND);
    nextHandle_ += 4;
    const Handle sd = nextHandle_;
    allocations_[sd] = Allocation{"security descriptor", std::nullopt, kNullHandle};
    Handle daclHandle = kNullHandle;
    if (key->second.dacl) {
        nextHandle_ += 4;
        daclHandle = nextHandle_;
        allocations_[daclHandle] = Allocation{"ACL", key->second.dacl, sd};
    }
    if (dacl) *dacl = daclHandle;
    *securityDescriptor = sd;
    return CodeResult("GetSecurityInfo", args, 0,
                      Cat("[dacl ", HandleText(daclHandle), ", sd ", HandleText(sd), "]"));
}

void FakeWindows::BuildExplicitAccessWithNameA(ExplicitAccess* entry, const char* trusteeName,
                                               DWORD accessPermissions, DWORD accessMode,
                                               DWORD inheritance) {
    entry->trusteeName = trusteeName ? trusteeName : "";
    entry->accessPermissions = accessPermissions;
    entry->accessMode = accessMode;
    entry->inheritance = inheritance;
    Log("BuildExplicitAccessWithNameA",
        Args(S(trusteeName), Hex(accessPermissions), Dec(accessMode), Dec(inheritance)), "");
}

DWORD FakeWindows::SetEntriesInAclA(DWORD count, const ExplicitAccess* entries, Handle oldAcl,
                                    Handle* newAcl) {
    std::string args = Dec(count);
    for (DWORD i = 0; i < count; ++i)
        args += Cat(", {", S(entries[i].trusteeName), ", ", Hex(entries[i].accessPermissions),
                    ", mode ", Dec(entries[i].accessMode), ", inherit ",
                    Dec(entries[i].inheritance), "}");
    args += Cat(", ", HandleText(oldAcl));
    if (auto code = Injected("SetEntriesInAclA", args))
        return CodeResult("SetEntriesInAclA", args, *code);
    bool valid = false;
    const std::optional<Acl> old = AclOf(oldAcl, &valid);
    if (!valid) return CodeResult("SetEntriesInAclA", args, ERROR_INVALID_PARAMETER);
    Acl acl = old.value_or(Acl{});
    static const std::vector<std::string> kKnown{
        "Everyone", "Administrators", "SYSTEM", "Users", "Authenticated Users", "CREATOR OWNER"};
    for (DWORD i = 0; i < count; ++i) {
        const ExplicitAccess& e = entries[i];
        if (e.accessMode == NOT_USED_ACCESS) continue;
        const bool known = std::any_of(kKnown.begin(), kKnown.end(), [&](const std::string& t) {
            return IEquals(t, e.trusteeName);
        });
        if (!known) return CodeResult("SetEntriesInAclA", args, ERROR_NONE_MAPPED);
        auto same = [&](const Ace& a) { return !a.inherited && IEquals(a.trustee, e.trusteeName); };
        switch (e.accessMode) {
            case GRANT_ACCESS: {
                auto it = std::find_if(acl.begin(), acl.end(), [&](const Ace& a) {
                    return same(a) && !a.deny && a.inheritance == e.inheritance;
                });
                if (it != acl.end())
                    it->mask |= e.accessPermissions;
                else
                    acl.push_back(
                        {e.trusteeName, e.accessPermissions, false, e.inheritance, false});
                break;
            }
            case SET_ACCESS:
                acl.erase(std::remove_if(acl.begin(), acl.end(), same), acl.end());
                acl.push_back({e.trusteeName, e.accessPermissions, false, e.inheritance, false});
                break;
            case DENY_ACCESS:
                acl.insert(acl.begin(),
                           {e.trusteeName, e.accessPermissions, true, e.inheritance, false});
                break;
            case REVOKE_ACCESS:
                acl.erase(std::remove_if(acl.begin(), acl.end(), same), acl.end());
                break;
            default:
                return CodeResult("SetEntriesInAclA", args, ERROR_INVALID_PARAMETER);
        }
    }
    nextHandle_ += 4;
    *newAcl = nextHandle_;
    allocations_[*newAcl] = Allocation{"ACL", acl, kNullHandle};
    return CodeResult("SetEntriesInAclA", args, 0, Cat("[", HandleText(*newAcl), "]"));
}

void FakeWindows::PropagateInheritance(const std::string& upperPath, const Acl& acl) {
    Acl inheritable;
    for (const Ace& ace : acl)
        if (ace.inheritance & SUB_CONTAINERS_ONLY_INHERIT) {
            Ace copy = ace;
            copy.inherited = true;
            inheritable.push_back(copy);
        }
    const std::string prefix = upperPath + "\\";
    for (auto it = keys_.lower_bound(prefix);
         it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (!it->second.dacl) continue;
        Acl& child = *it->second.dacl;
        child.erase(
            std::remove_if(child.begin(), child.end(), [](const Ace& a) { return a.inherited; }),
            child.end());
        child.insert(child.end(), inheritable.begin(), inheritable.end());
    }
}

DWORD FakeWindows::SetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                   Handle dacl) {
    const std::string args =
        Args(HandleText(object), Dec(objectType), Dec(securityInfo), HandleText(dacl));
    if (auto code = Injected("SetSecurityInfo", args))
        return CodeResult("SetSecurityInfo", args, *code);
    if (objectType != SE_REGISTRY_KEY)
        return CodeResult("SetSecurityInfo", args, ERROR_INVALID_PARAMETER);
    std::string path;
    DWORD access = 0xFFFFFFFF;
    if (!RootShort(object).empty()) {
        path = RootShort(object);
    } else if (const auto it = keyHandles_.find(object); it != keyHandles_.end()) {
        path = it->second.path;
        access = it->second.access;
    } else {
        return CodeResult("SetSecurityInfo", args, ERROR_INVALID_HANDLE);
    }
    if (!(access & WRITE_DAC)) return CodeResult("SetSecurityInfo", args, ERROR_ACCESS_DENIED);
    bool valid = false;
    std::optional<Acl> acl = AclOf(dacl, &valid);
    if (!valid) return CodeResult("SetSecurityInfo", args, ERROR_INVALID_PARAMETER);
    const auto key = keys_.find(Key(path));
    if (key == keys_.end()) return CodeResult("SetSecurityInfo", args, ERROR_FILE_NOT_FOUND);
    key->second.dacl = acl;
    if (acl) PropagateInheritance(key->first, *acl);
    return CodeResult("SetSecurityInfo", args, 0);
}

Handle FakeWindows::LocalFree(Handle memory) {
    const std::string args = HandleText(memory);
    const auto it = allocations_.find(memory);
    if (memory == kNullHandle) {
        Log("LocalFree", args, "NULL");
        return kNullHandle;
    }
    if (it == allocations_.end() || it->second.owner != kNullHandle) {
        lastError_ = ERROR_INVALID_HANDLE;
        Log("LocalFree", args, HandleText(memory) + ", error 6");
        return memory;
    }
    for (auto inner = allocations_.begin(); inner != allocations_.end();)
        inner = inner->second.owner == memory ? allocations_.erase(inner) : std::next(inner);
    allocations_.erase(memory);
    Log("LocalFree", args, "NULL");
    return kNullHandle;
}

}  // namespace tessaly::winsys::fake
