#include "key_permission.h"

#include <array>
#include <cctype>
#include <optional>

namespace tessaly::removal {
namespace {

using namespace winsys;

// Working text buffers hold 512 characters including the terminator.
constexpr std::size_t kWorkingBufferChars = 511;

char UpperChar(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

// Splits text like a tokenizer that skips empty fields.
class Fields {
  public:
    explicit Fields(std::string_view text) : text_(text.substr(0, kWorkingBufferChars)) {}

    std::optional<std::string> Next(char separator) {
        SkipSeparators(separator);
        if (pos_ >= text_.size()) return std::nullopt;
        const std::size_t end = text_.find(separator, pos_);
        std::string field(text_.substr(pos_, end == std::string_view::npos ? end : end - pos_));
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        return field;
    }

    // Everything that is left (after any further separators).
    std::optional<std::string> Rest(char separator) {
        SkipSeparators(separator);
        if (pos_ >= text_.size()) return std::nullopt;
        std::string rest(text_.substr(pos_));
        pos_ = text_.size();
        return rest;
    }

  private:
    void SkipSeparators(char separator) {
        while (pos_ < text_.size() && text_[pos_] == separator) ++pos_;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::optional<HKEY> RootByName(std::string_view name) {
    struct Root {
        const char* shortName;
        const char* longName;
        HKEY key;
    };
    static constexpr std::array<Root, 4> kRoots{{
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", "HKEY_USERS", HKEY_USERS},
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    }};
    for (const Root& root : kRoots)
        if (IEquals(name, root.shortName) || IEquals(name, root.longName)) return root.key;
    return std::nullopt;
}

}  // namespace

KeyRights ParseKeyRights(std::string_view text) {
    const std::string_view rights = text.substr(0, kWorkingBufferChars);
    if (rights.size() % 2 != 0) return {ERROR_INVALID_PARAMETER, 0};
    KeyRights result;
    for (std::size_t i = 0; i < rights.size(); i += 2) {
        const std::string_view pair = rights.substr(i, 2);
        if (IEquals(pair, "Fc"))
            result.mask |= kMaskFullControl;
        else if (IEquals(pair, "Rd"))
            result.mask |= kMaskRead;
        else if (IEquals(pair, "Wr"))
            result.mask |= kMaskWrite;
        else
            result.error = ERROR_INVALID_PARAMETER;  // skipped; the rest is still parsed
    }
    return result;
}

OpenedKey OpenKeyPath(WindowsServices& sys, std::string_view keyPath) {
    const std::string_view path = keyPath.substr(0, kWorkingBufferChars);
    std::size_t pos = 0;
    std::string machine;
    if (path.substr(0, 2) == "\\\\") {
        const std::size_t end = path.find('\\', 2);
        machine =
            "\\\\" + std::string(path.substr(2, end == std::string_view::npos ? end : end - 2));
        pos = end == std::string_view::npos ? path.size() : end + 1;
    }
    while (pos < path.size() && path[pos] == '\\') ++pos;
    const std::size_t rootEnd = path.find('\\', pos);
    const std::string_view rootName =
        path.substr(pos, rootEnd == std::string_view::npos ? rootEnd : rootEnd - pos);
    const std::optional<HKEY> root = rootName.empty() ? std::nullopt : RootByName(rootName);
    if (!root) return {ERROR_INVALID_PARAMETER, kNullHandle};
    if (!machine.empty() && (*root == HKEY_CURRENT_USER || *root == HKEY_CLASSES_ROOT))
        return {ERROR_INVALID_PARAMETER, kNullHandle};
    const std::string subKey =
        rootEnd == std::string_view::npos ? std::string{} : std::string(path.substr(rootEnd + 1));

    HKEY base = *root;
    if (!machine.empty()) {
        HKEY connected = kNullHandle;
        const DWORD error = sys.RegConnectRegistryA(machine.c_str(), base, &connected);
        if (error != ERROR_SUCCESS) return {error, kNullHandle};
        base = connected;
    }
    if (subKey.empty()) return {ERROR_SUCCESS, base};

    HKEY key = kNullHandle;
    const DWORD error = sys.RegOpenKeyExA(base, subKey.c_str(), 0, kKeyPermissionAccess, &key);
    // The connected root is released on failure too, so a missing key does not leak it.
    if (error != ERROR_SUCCESS && !machine.empty()) sys.RegCloseKey(base);
    if (error != ERROR_SUCCESS) return {error, kNullHandle};
    sys.RegCloseKey(base);
    return {ERROR_SUCCESS, key};
}

DWORD MergeKeyAce(WindowsServices& sys, HKEY key, const ExplicitAccess& entry, SavedDacl* before) {
    SavedDacl old;
    DWORD error = sys.GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, &old.dacl,
                                      &old.descriptor);
    if (error != ERROR_SUCCESS) return error;
    Handle newDacl = kNullHandle;
    error = sys.SetEntriesInAclA(1, &entry, old.dacl, &newDacl);
    if (error == ERROR_SUCCESS)
        error = sys.SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, newDacl);
    if (newDacl != kNullHandle) sys.LocalFree(newDacl);
    if (before && error == ERROR_SUCCESS)
        *before = old;
    else if (old.descriptor != kNullHandle)
        sys.LocalFree(old.descriptor);
    return error;
}

namespace {

// ApplyKeyPermission, leaving the key open for the caller (who closes it), and with `before`
// the DACL the key had.
DWORD ChangeKeyPermission(WindowsServices& sys, std::string_view keyPath,
                          std::string_view permission, OpenedKey& opened, SavedDacl* before) {
    Fields fields(permission);
    const std::optional<std::string> change = fields.Next(':');
    DWORD mode = NOT_USED_ACCESS;
    if (change && change->size() >= 2 && UpperChar((*change)[1]) == 'P') {
        switch (change->size() >= 3 ? UpperChar((*change)[2]) : '\0') {
            case 'G':
                mode = GRANT_ACCESS;
                break;
            case 'S':
                mode = SET_ACCESS;
                break;
            case 'D':
                mode = DENY_ACCESS;
                break;
            case 'R':
                mode = REVOKE_ACCESS;
                break;
            default:
                return ERROR_INVALID_PARAMETER;
        }
    }
    const std::optional<std::string> trustee = fields.Next(':');
    if (!trustee) return ERROR_INVALID_PARAMETER;
    DWORD mask = 0;
    if (mode == GRANT_ACCESS || mode == SET_ACCESS || mode == DENY_ACCESS) {
        const std::optional<std::string> rights = fields.Rest(':');
        if (!rights) return ERROR_INVALID_PARAMETER;
        mask = ParseKeyRights(*rights).mask;  // an unknown pair only loses its own bits
    }
    opened = OpenKeyPath(sys, keyPath);
    if (opened.error != ERROR_SUCCESS) return opened.error;
    ExplicitAccess entry;
    sys.BuildExplicitAccessWithNameA(&entry, trustee->c_str(), mask, mode,
                                     SUB_CONTAINERS_ONLY_INHERIT);
    return MergeKeyAce(sys, opened.key, entry, before);
}

}  // namespace

DWORD ApplyKeyPermission(WindowsServices& sys, std::string_view keyPath,
                         std::string_view permission) {
    OpenedKey opened;
    const DWORD result = ChangeKeyPermission(sys, keyPath, permission, opened, nullptr);
    if (opened.key != kNullHandle) sys.RegCloseKey(opened.key);
    return result;
}

void GrantEveryoneAndDeleteKey(WindowsServices& sys, const std::string& keyPath,
                               const std::string& subKey, RemovalReport& report) {
    OpenedKey opened;
    SavedDacl before;
    const bool granted = ChangeKeyPermission(sys, keyPath, kGrantEveryoneFullControl, opened,
                                             &before) == ERROR_SUCCESS;
    const DWORD deleted =
        sys.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_64KEY, 0);
    if (granted && deleted != ERROR_SUCCESS) {
        // The key stays (a device key has subkeys): it must not stay open to everyone.
        const DWORD restored = sys.SetSecurityInfo(opened.key, SE_REGISTRY_KEY,
                                                   DACL_SECURITY_INFORMATION, before.dacl);
        if (restored != ERROR_SUCCESS)
            report.Add("the permissions of registry key HKEY_LOCAL_MACHINE\\" + subKey +
                           " could not be put back, so everyone may change it",
                       restored);
    }
    if (before.descriptor != kNullHandle) sys.LocalFree(before.descriptor);
    if (opened.key != kNullHandle) sys.RegCloseKey(opened.key);
}

}  // namespace tessaly::removal
