#include "fake_windows.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tessaly::winsys::fake {
namespace {

constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD kPrinterAccessUse = 0x8;
constexpr Handle kKernel32 = 0x7C800000u;
constexpr std::uintptr_t kIsWow64ProcessAddress = 0x7C810000u;
constexpr DWORD kShutdownPrivilegeLuid = 19;

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool IEquals(std::string_view a, std::string_view b) {
    return Upper(a) == Upper(b);
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

std::string S(const char* text) {
    return text ? "\"" + Escape(text) + "\"" : "NULL";
}
std::string S(const std::string& text) {
    return "\"" + Escape(text) + "\"";
}

std::string Hex(DWORD value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", value);
    return buffer;
}

std::string Dec(std::uint64_t value) {
    return std::to_string(value);
}

template <typename... T>
std::string Args(const T&... parts) {
    std::string out;
    ((out += (out.empty() ? "" : ", "), out += parts), ...);
    return out;
}

std::string RootName(HKEY key) {
    switch (key) {
        case HKEY_CLASSES_ROOT:
            return "HKEY_CLASSES_ROOT";
        case HKEY_CURRENT_USER:
            return "HKEY_CURRENT_USER";
        case HKEY_LOCAL_MACHINE:
            return "HKEY_LOCAL_MACHINE";
        case HKEY_USERS:
            return "HKEY_USERS";
        default:
            return {};
    }
}

std::string RootShort(HKEY key) {
    switch (key) {
        case HKEY_CLASSES_ROOT:
            return "HKCR";
        case HKEY_CURRENT_USER:
            return "HKCU";
        case HKEY_LOCAL_MACHINE:
            return "HKLM";
        case HKEY_USERS:
            return "HKU";
        default:
            return {};
    }
}

bool WildcardMatch(std::string_view mask, std::string_view name) {
    if (mask == "*.*" || mask == "*") return true;
    if (mask.empty()) return name.empty();
    if (mask[0] == '*') {
        for (std::size_t i = 0; i <= name.size(); ++i)
            if (WildcardMatch(mask.substr(1), name.substr(i))) return true;
        return false;
    }
    if (name.empty()) return false;
    if (mask[0] != '?' && std::toupper(static_cast<unsigned char>(mask[0])) !=
                              std::toupper(static_cast<unsigned char>(name[0])))
        return false;
    return WildcardMatch(mask.substr(1), name.substr(1));
}

std::string FileNameOf(const std::string& path) {
    const auto pos = path.rfind('\\');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

bool IsAbsolutePath(const char* path) {
    const std::string_view p(path ? path : "");
    return (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) ||
           p.substr(0, 2) == "\\\\";
}

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

const char* SystemText(DWORD code) {
    switch (code) {
        case 0:
            return "The operation completed successfully.\r\n";
        case 2:
            return "The system cannot find the file specified.\r\n";
        case 3:
            return "The system cannot find the path specified.\r\n";
        case 5:
            return "Access is denied.\r\n";
        case 6:
            return "The handle is invalid.\r\n";
        case 8:
            return "Not enough storage is available to process this command.\r\n";
        case 13:
            return "The data is invalid.\r\n";
        case 53:
            return "The network path was not found.\r\n";
        case 80:
            return "The file exists.\r\n";
        case 87:
            return "The parameter is incorrect.\r\n";
        case 122:
            return "The data area passed to a system call is too small.\r\n";
        case 126:
            return "The specified module could not be found.\r\n";
        case 145:
            return "The directory is not empty.\r\n";
        case 183:
            return "Cannot create a file when that file already exists.\r\n";
        case 234:
            return "More data is available.\r\n";
        case 259:
            return "No more data is available.\r\n";
        case 1300:
            return "Not all privileges or groups referenced are assigned to the caller.\r\n";
        case 1313:
            return "A specified privilege does not exist.\r\n";
        case 1332:
            return "No mapping between account names and security IDs was done.\r\n";
        case 1722:
            return "The RPC server is unavailable.\r\n";
        case 1795:
            return "The printer driver is already installed.\r\n";
        case 1796:
            return "The specified port is unknown.\r\n";
        case 1797:
            return "The printer driver is unknown.\r\n";
        case 1798:
            return "The print processor is unknown.\r\n";
        case 1801:
            return "The printer name is invalid.\r\n";
        case 1802:
            return "The printer already exists.\r\n";
        case 1805:
            return "The environment specified is invalid.\r\n";
        case 1902:
            return "The specified form name is invalid.\r\n";
        case 3000:
            return "The specified print monitor is unknown.\r\n";
        case 3001:
            return "The specified printer driver is currently in use.\r\n";
        case 3005:
            return "The specified print processor has already been installed.\r\n";
        case 3006:
            return "The specified print monitor has already been installed.\r\n";
        case 3008:
            return "The specified print monitor is currently in use.\r\n";
        default:
            return nullptr;
    }
}

}  // namespace

// ---- Journal ---------------------------------------------------------------------------

int Journal::Find(std::string_view needle, int from) const {
    for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < lines_.size(); ++i)
        if (lines_[i].find(needle) != std::string::npos) return static_cast<int>(i);
    return -1;
}

int Journal::Count(std::string_view needle) const {
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& line) {
        return line.find(needle) != std::string::npos;
    }));
}

std::vector<std::string> Journal::Matching(std::string_view needle) const {
    std::vector<std::string> out;
    for (const auto& line : lines_)
        if (line.find(needle) != std::string::npos) out.push_back(line);
    return out;
}

std::vector<std::string> Journal::Calls(const std::vector<std::string>& names) const {
    std::vector<std::string> out;
    for (const auto& line : lines_)
        for (const auto& name : names)
            if (line.rfind(name + "(", 0) == 0) {
                out.push_back(line);
                break;
            }
    return out;
}

void Journal::Print(std::ostream& out) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) out << i + 1 << ": " << lines_[i] << '\n';
}

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// ---- Status display recorder -----------------------------------------------------------

void JournalStatusDisplay::SetStatus(const std::string& text) {
    text_ = text;
    journal_.Add("SetStatus(" + S(text) + ")");
}

void JournalStatusDisplay::StepIt() {
    position_ += step_;
    if (position_ > 100) position_ -= 100;  // a progress bar wraps round past its maximum
    ++steps_;
    journal_.Add("StepIt() -> " + std::to_string(position_));
}

void JournalStatusDisplay::SetPos(int position) {
    position_ = position;
    journal_.Add("SetPos(" + std::to_string(position) + ")");
}

void JournalStatusDisplay::Refresh() {
    shown_ = text_;
    journal_.Add("Refresh()");
}

// ---- Construction and set-up -------------------------------------------------------------

FakeWindows::FakeWindows() : FakeWindows(FakeConfig{}) {}

FakeWindows::FakeWindows(FakeConfig config) : config_(std::move(config)) {
    const std::string win = config_.windowsDirectory;
    AddDirectory(win.substr(0, 2));
    for (const std::string& dir : {win, win + "\\system32", win + "\\SysWOW64", win + "\\INF",
                                   win + "\\system32\\spool", win + "\\system32\\spool\\drivers",
                                   win + "\\system32\\spool\\prtprocs", config_.currentDirectory})
        AddDirectory(dir);
    for (const std::string env : {"Windows x64", "Windows NT x86"}) {
        AddDirectory(DriverDir(env));
        AddDirectory(DriverDir(env) + "\\3");
        AddDirectory(PrintProcessorDir(env));
        AddPrintProcessor(env, "WinPrint", "winprint.dll");
    }
    for (const std::string key :
         {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB",
          "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USBPRINT",
          "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\LPTENUM",
          "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers",
          "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors", "HKU\\.DEFAULT",
          "HKCU\\Software", "HKCR"})
        CreateKey(key);
    ports_ = {"COM1:", "COM2:", "COM3:", "COM4:", "LPT1:", "LPT2:", "LPT3:", "FILE:"};
    forms_ = {{1, "Letter"}, {1, "A4"}};
}

std::string FakeWindows::DriverDir(const std::string& environment) const {
    return config_.windowsDirectory + "\\system32\\spool\\drivers\\" +
           (IEquals(environment, "Windows x64") ? "x64" : "W32X86");
}

std::string FakeWindows::PrintProcessorDir(const std::string& environment) const {
    return config_.windowsDirectory + "\\system32\\spool\\prtprocs\\" +
           (IEquals(environment, "Windows x64") ? "x64" : "W32X86");
}

void FakeWindows::FailCall(const std::string& call, DWORD code, const std::string& argsContain,
                           int times) {
    failRules_.push_back({call, code, argsContain, times});
}

// ---- Journal helpers -------------------------------------------------------------------

std::optional<DWORD> FakeWindows::Injected(const std::string& call, const std::string& args) {
    for (auto& rule : failRules_) {
        if (rule.times == 0 || rule.call != call) continue;
        if (!rule.argsContain.empty() && args.find(rule.argsContain) == std::string::npos) continue;
        if (rule.times > 0) --rule.times;
        return rule.code;
    }
    return std::nullopt;
}

void FakeWindows::Log(const std::string& call, const std::string& args, const std::string& result) {
    journal_.Add(call + "(" + args + ")" + (result.empty() ? "" : " -> " + result));
}

bool FakeWindows::BoolResult(const std::string& call, const std::string& args, DWORD error,
                             const std::string& extra) {
    if (error != 0) {
        lastError_ = error;
        Log(call, args, "FALSE, error " + Dec(error));
        return false;
    }
    Log(call, args, "TRUE" + (extra.empty() ? "" : " " + extra));
    return true;
}

DWORD FakeWindows::CodeResult(const std::string& call, const std::string& args, DWORD error,
                              const std::string& extra) {
    Log(call, args, Dec(error) + (error == 0 && !extra.empty() ? " " + extra : ""));
    return error;
}

Handle FakeWindows::NewHandle(const std::string& description) {
    nextHandle_ += 4;
    openHandles_[nextHandle_] = description;
    return nextHandle_;
}

void FakeWindows::ReleaseHandle(Handle h) {
    openHandles_.erase(h);
}

std::string FakeWindows::HandleText(Handle h) const {
    if (!RootName(h).empty()) return RootName(h);
    if (h == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
    if (h == kNullHandle) return "NULL";
    return "#" + Hex(static_cast<DWORD>(h)).substr(2);
}

std::vector<std::string> FakeWindows::LeakedHandles() const {
    std::vector<std::string> out;
    for (const auto& [h, description] : openHandles_)
        out.push_back(HandleText(h) + " " + description);
    for (const auto& [h, allocation] : allocations_)
        if (allocation.owner == kNullHandle) out.push_back(HandleText(h) + " " + allocation.kind);
    return out;
}

// ---- Files --------------------------------------------------------------------------------

std::string FakeWindows::FullPath(const std::string& path) const {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (!IsAbsolutePath(p.c_str()) && !(p.size() == 2 && p[1] == ':'))
        p = config_.currentDirectory + "\\" + p;
    std::vector<std::string> parts;
    std::stringstream in(p);
    std::string part;
    while (std::getline(in, part, '\\')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.size() > 1) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const auto& piece : parts) out += (out.empty() ? "" : "\\") + piece;
    return out;
}

std::string FakeWindows::Key(const std::string& path) {
    return Upper(path);
}

std::string FakeWindows::Parent(const std::string& fullPath) {
    const auto pos = fullPath.rfind('\\');
    return pos == std::string::npos ? std::string{} : fullPath.substr(0, pos);
}

const FakeWindows::FsNode* FakeWindows::Node(const std::string& path) const {
    const auto it = files_.find(Key(FullPath(path)));
    return it == files_.end() ? nullptr : &it->second;
}

FakeWindows::FsNode* FakeWindows::Node(const std::string& path) {
    const auto it = files_.find(Key(FullPath(path)));
    return it == files_.end() ? nullptr : &it->second;
}

std::vector<const FakeWindows::FsNode*> FakeWindows::Children(const std::string& fullPath) const {
    std::vector<const FsNode*> out;
    const std::string prefix = Key(fullPath) + "\\";
    for (auto it = files_.lower_bound(prefix); it != files_.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        if (it->first.find('\\', prefix.size()) == std::string::npos) out.push_back(&it->second);
    }
    return out;
}

void FakeWindows::AddDirectory(const std::string& path, DWORD attributes) {
    const std::string full = FullPath(path);
    const std::string parent = Parent(full);
    if (!parent.empty() && !Node(parent)) AddDirectory(parent);
    files_[Key(full)] = FsNode{full, true, attributes | FILE_ATTRIBUTE_DIRECTORY, {}};
}

void FakeWindows::AddFile(const std::string& path, const std::string& content, DWORD attributes) {
    const std::string full = FullPath(path);
    if (!Node(Parent(full))) AddDirectory(Parent(full));
    files_[Key(full)] = FsNode{full, false, attributes, content};
}

bool FakeWindows::FileExists(const std::string& path) const {
    const FsNode* node = Node(path);
    return node && !node->directory;
}

bool FakeWindows::DirectoryExists(const std::string& path) const {
    const FsNode* node = Node(path);
    return node && node->directory;
}

std::string FakeWindows::FileContent(const std::string& path) const {
    const FsNode* node = Node(path);
    return node ? node->content : std::string{};
}

std::vector<std::string> FakeWindows::ListDirectory(const std::string& path) const {
    std::vector<std::string> out;
    for (const FsNode* child : Children(FullPath(path))) out.push_back(FileNameOf(child->path));
    return out;
}

bool FakeWindows::CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
    const std::string args = Args(S(existingFile), S(newFile), failIfExists ? "TRUE" : "FALSE");
    if (auto code = Injected("CopyFileA", args)) return BoolResult("CopyFileA", args, *code);
    const FsNode* source = existingFile ? Node(existingFile) : nullptr;
    if (!source) return BoolResult("CopyFileA", args, ERROR_FILE_NOT_FOUND);
    if (source->directory) return BoolResult("CopyFileA", args, ERROR_ACCESS_DENIED);
    const std::string target = FullPath(newFile ? newFile : "");
    if (!DirectoryExists(Parent(target)))
        return BoolResult("CopyFileA", args, ERROR_PATH_NOT_FOUND);
    if (const FsNode* existing = Node(target)) {
        if (failIfExists) return BoolResult("CopyFileA", args, ERROR_FILE_EXISTS);
        if (existing->directory || (existing->attributes & FILE_ATTRIBUTE_READONLY))
            return BoolResult("CopyFileA", args, ERROR_ACCESS_DENIED);
    }
    files_[Key(target)] = FsNode{target, false, source->attributes, source->content};
    return BoolResult("CopyFileA", args, 0);
}

bool FakeWindows::DeleteFileA(const char* fileName) {
    const std::string args = S(fileName);
    if (auto code = Injected("DeleteFileA", args)) return BoolResult("DeleteFileA", args, *code);
    const FsNode* node = fileName ? Node(fileName) : nullptr;
    if (!node) return BoolResult("DeleteFileA", args, ERROR_FILE_NOT_FOUND);
    if (node->directory || (node->attributes & FILE_ATTRIBUTE_READONLY))
        return BoolResult("DeleteFileA", args, ERROR_ACCESS_DENIED);
    files_.erase(Key(node->path));
    return BoolResult("DeleteFileA", args, 0);
}

DWORD FakeWindows::GetFileAttributesA(const char* fileName) {
    const std::string args = S(fileName);
    DWORD result = INVALID_FILE_ATTRIBUTES;
    if (auto code = Injected("GetFileAttributesA", args)) {
        lastError_ = *code;
    } else if (const FsNode* node = fileName ? Node(fileName) : nullptr) {
        result = node->attributes;
    } else {
        lastError_ = ERROR_FILE_NOT_FOUND;
    }
    Log("GetFileAttributesA", args,
        result == INVALID_FILE_ATTRIBUTES ? "INVALID_FILE_ATTRIBUTES, error " + Dec(lastError_)
                                          : Hex(result));
    return result;
}

bool FakeWindows::SetFileAttributesA(const char* fileName, DWORD attributes) {
    const std::string args = Args(S(fileName), Hex(attributes));
    if (auto code = Injected("SetFileAttributesA", args))
        return BoolResult("SetFileAttributesA", args, *code);
    FsNode* node = fileName ? Node(fileName) : nullptr;
    if (!node) return BoolResult("SetFileAttributesA", args, ERROR_FILE_NOT_FOUND);
    node->attributes =
        (attributes & ~FILE_ATTRIBUTE_DIRECTORY) | (node->directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    return BoolResult("SetFileAttributesA", args, 0);
}

Handle FakeWindows::FindFirstFileA(const char* pattern, FindData* data) {
    const std::string args = S(pattern);
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("FindFirstFileA", args, "INVALID_HANDLE_VALUE, error " + Dec(code));
        return INVALID_HANDLE_VALUE;
    };
    if (auto code = Injected("FindFirstFileA", args)) return fail(*code);
    const std::string full = FullPath(pattern ? pattern : "");
    const std::string dir = Parent(full);
    const std::string mask = FileNameOf(full);
    if (!DirectoryExists(dir)) return fail(ERROR_PATH_NOT_FOUND);
    FindState state;
    if (dir.find('\\') != std::string::npos) {
        for (const char* dot : {".", ".."})
            if (WildcardMatch(mask, dot)) state.entries.push_back({FILE_ATTRIBUTE_DIRECTORY, dot});
    }
    for (const FsNode* child : Children(dir)) {
        const std::string name = FileNameOf(child->path);
        if (WildcardMatch(mask, name)) state.entries.push_back({child->attributes, name});
    }
    if (state.entries.empty()) return fail(ERROR_FILE_NOT_FOUND);
    *data = state.entries[0];
    state.next = 1;
    const Handle h = NewHandle("find " + full);
    finds_[h] = std::move(state);
    Log("FindFirstFileA", args, HandleText(h) + " [" + data->fileName + "]");
    return h;
}

bool FakeWindows::FindNextFileA(Handle find, FindData* data) {
    const std::string args = HandleText(find);
    if (auto code = Injected("FindNextFileA", args))
        return BoolResult("FindNextFileA", args, *code);
    const auto it = finds_.find(find);
    if (it == finds_.end()) return BoolResult("FindNextFileA", args, ERROR_INVALID_HANDLE);
    if (it->second.next >= it->second.entries.size())
        return BoolResult("FindNextFileA", args, ERROR_NO_MORE_FILES);
    *data = it->second.entries[it->second.next++];
    return BoolResult("FindNextFileA", args, 0, "[" + data->fileName + "]");
}

bool FakeWindows::FindClose(Handle find) {
    const std::string args = HandleText(find);
    if (!finds_.erase(find)) return BoolResult("FindClose", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(find);
    return BoolResult("FindClose", args, 0);
}

bool FakeWindows::CreateDirectoryA(const char* pathName) {
    const std::string args = Args(S(pathName), "NULL");
    if (auto code = Injected("CreateDirectoryA", args))
        return BoolResult("CreateDirectoryA", args, *code);
    const std::string full = FullPath(pathName ? pathName : "");
    if (Node(full)) return BoolResult("CreateDirectoryA", args, ERROR_ALREADY_EXISTS);
    if (!DirectoryExists(Parent(full)))
        return BoolResult("CreateDirectoryA", args, ERROR_PATH_NOT_FOUND);
    files_[Key(full)] = FsNode{full, true, FILE_ATTRIBUTE_DIRECTORY, {}};
    return BoolResult("CreateDirectoryA", args, 0);
}

bool FakeWindows::RemoveDirectoryA(const char* pathName) {
    const std::string args = S(pathName);
    if (auto code = Injected("RemoveDirectoryA", args))
        return BoolResult("RemoveDirectoryA", args, *code);
    const FsNode* node = pathName ? Node(pathName) : nullptr;
    if (!node) return BoolResult("RemoveDirectoryA", args, ERROR_FILE_NOT_FOUND);
    if (!node->directory) return BoolResult("RemoveDirectoryA", args, ERROR_DIRECTORY);
    if (node->attributes & FILE_ATTRIBUTE_READONLY)
        return BoolResult("RemoveDirectoryA", args, ERROR_ACCESS_DENIED);
    if (!Children(node->path).empty())
        return BoolResult("RemoveDirectoryA", args, ERROR_DIR_NOT_EMPTY);
    files_.erase(Key(node->path));
    return BoolResult("RemoveDirectoryA", args, 0);
}

UINT FakeWindows::GetWindowsDirectoryA(std::string& directory) {
    directory = config_.windowsDirectory;
    Log("GetWindowsDirectoryA", "", S(directory));
    return static_cast<UINT>(directory.size());
}

UINT FakeWindows::GetSystemDirectoryA(std::string& directory) {
    directory = config_.windowsDirectory + "\\system32";
    Log("GetSystemDirectoryA", "", S(directory));
    return static_cast<UINT>(directory.size());
}

UINT FakeWindows::GetSystemWow64DirectoryA(std::string& directory) {
    directory = config_.windowsDirectory + "\\SysWOW64";
    Log("GetSystemWow64DirectoryA", "", S(directory));
    return static_cast<UINT>(directory.size());
}

DWORD FakeWindows::GetFullPathNameA(const char* fileName, std::string& fullPath) {
    const std::string args = S(fileName);
    if (auto code = Injected("GetFullPathNameA", args)) {
        lastError_ = *code;
        Log("GetFullPathNameA", args, "0, error " + Dec(*code));
        return 0;
    }
    fullPath = FullPath(fileName ? fileName : "");
    Log("GetFullPathNameA", args, Dec(fullPath.size()) + " " + S(fullPath));
    return static_cast<DWORD>(fullPath.size());
}

// ---- Registry ----------------------------------------------------------------------------

void FakeWindows::EnsureKey(const std::string& upperPath, const std::string& displayPath) {
    if (keys_.count(upperPath)) return;
    const auto pos = upperPath.rfind('\\');
    if (pos != std::string::npos) EnsureKey(upperPath.substr(0, pos), displayPath.substr(0, pos));
    keys_[upperPath] = RegKey{displayPath, {}, std::nullopt};
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
    if (subKey && *subKey) full += "\\" + std::string(subKey);
    const bool redirect = (config_.wow64Process && !(sam & KEY_WOW64_64KEY)) ||
                          (!config_.wow64Process && (sam & KEY_WOW64_32KEY));
    const std::string software = "HKLM\\SOFTWARE\\";
    if (redirect && IStartsWith(full, software) &&
        !IStartsWith(full.substr(software.size()), "WOW6432Node"))
        full = full.substr(0, software.size()) + "WOW6432Node\\" + full.substr(software.size());
    return full;
}

DWORD FakeWindows::EffectiveAccess(const RegKey& key) const {
    if (!key.dacl) return 0xFFFFFFFF;
    DWORD allowed = 0, denied = 0;
    for (const Ace& ace : *key.dacl) {
        const bool applies =
            std::any_of(config_.callerGroups.begin(), config_.callerGroups.end(),
                        [&](const std::string& group) { return IEquals(group, ace.trustee); });
        if (!applies) continue;
        (ace.deny ? denied : allowed) |= ace.mask;
    }
    // The administrators own every key: they may always read and change its DACL.
    return (allowed & ~denied) | READ_CONTROL | WRITE_DAC;
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
    return CodeResult("RegOpenKeyExA", args, 0, "[" + HandleText(h) + " " + it->second.path + "]");
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
    return CodeResult("RegCreateKeyExA", args, 0, "[" + HandleText(h) + " " + node.path + "]");
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
    const Handle h = NewHandle("remote key " + RootShort(key));
    keyHandles_[h] = KeyHandle{RootShort(key), 0xFFFFFFFF};
    *result = h;
    return CodeResult("RegConnectRegistryA", args, 0, "[" + HandleText(h) + "]");
}

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
                      "[dacl " + HandleText(daclHandle) + ", sd " + HandleText(sd) + "]");
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
        args += ", {" + S(entries[i].trusteeName) + ", " + Hex(entries[i].accessPermissions) +
                ", mode " + Dec(entries[i].accessMode) + ", inherit " +
                Dec(entries[i].inheritance) + "}";
    args += ", " + HandleText(oldAcl);
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
    return CodeResult("SetEntriesInAclA", args, 0, "[" + HandleText(*newAcl) + "]");
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

// ---- Spooler -------------------------------------------------------------------------------

bool FakeWindows::ValidEnvironment(const std::string& environment) const {
    return IEquals(environment, "Windows x64") || IEquals(environment, "Windows NT x86");
}

std::string FakeWindows::EnvironmentOf(const char* environment) const {
    if (!environment) return config_.defaultEnvironment;
    if (IEquals(environment, "Windows x64")) return "Windows x64";
    if (IEquals(environment, "Windows NT x86")) return "Windows NT x86";
    return environment;
}

std::string FakeWindows::PrintKey(const std::string& tail) {
    return "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\" + tail;
}

std::string FakeWindows::DriverKey(const std::string& environment, const std::string& name) const {
    return PrintKey("Environments\\" + environment + "\\Drivers\\Version-3\\" + name);
}

std::string FakeWindows::PrintProcessorKey(const std::string& environment,
                                           const std::string& name) const {
    return PrintKey("Environments\\" + environment + "\\Print Processors\\" + name);
}

FakeWindows::FakePrinter* FakeWindows::PrinterByName(const std::string& name) {
    for (auto& printer : printers_)
        if (IEquals(printer.info.printerName, name)) return &printer;
    return nullptr;
}

void FakeWindows::AddPrinter(const PrinterInfo2& info) {
    printers_.push_back({info, {}});
    CreateKey(PrintKey("Printers\\" + info.printerName));
}

void FakeWindows::SetPrinterDataDword(const std::string& printer, const std::string& value,
                                      DWORD data) {
    FakePrinter* p = PrinterByName(printer);
    if (!p) return;
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((data >> (8 * i)) & 0xFF);
    p->data[Key(value)] = {REG_DWORD, bytes};
}

void FakeWindows::AddDriver(const DriverInfo3& info) {
    drivers_.push_back(info);
    CreateKey(DriverKey(info.environment, info.name));
}

void FakeWindows::AddMonitor(const MonitorInfo2& info) {
    monitors_.push_back(info);
    CreateKey(PrintKey("Monitors\\" + info.name));
}

void FakeWindows::AddPrintProcessor(const std::string& environment, const std::string& name,
                                    const std::string& dll) {
    printProcessors_.push_back({environment, name, dll});
    CreateKey(PrintProcessorKey(environment, name));
}

void FakeWindows::AddForm(const std::string& name) {
    forms_.push_back({0, name});
}

bool FakeWindows::HasPrinter(const std::string& name) const {
    return FindPrinter(name) != nullptr;
}

const PrinterInfo2* FakeWindows::FindPrinter(const std::string& name) const {
    for (const auto& printer : printers_)
        if (IEquals(printer.info.printerName, name)) return &printer.info;
    return nullptr;
}

std::vector<std::string> FakeWindows::PrinterNames() const {
    std::vector<std::string> out;
    for (const auto& printer : printers_) out.push_back(printer.info.printerName);
    return out;
}

const DriverInfo3* FakeWindows::FindDriver(const std::string& environment,
                                           const std::string& name) const {
    for (const auto& driver : drivers_)
        if (IEquals(driver.environment, environment) && IEquals(driver.name, name)) return &driver;
    return nullptr;
}

bool FakeWindows::HasDriver(const std::string& environment, const std::string& name) const {
    return FindDriver(environment, name) != nullptr;
}

bool FakeWindows::HasMonitor(const std::string& name) const {
    return std::any_of(monitors_.begin(), monitors_.end(),
                       [&](const MonitorInfo2& m) { return IEquals(m.name, name); });
}

bool FakeWindows::HasPrintProcessor(const std::string& environment, const std::string& name) const {
    return std::any_of(printProcessors_.begin(), printProcessors_.end(), [&](const auto& p) {
        return IEquals(p.environment, environment) && IEquals(p.name, name);
    });
}

bool FakeWindows::HasForm(const std::string& name) const {
    return std::any_of(forms_.begin(), forms_.end(),
                       [&](const FormInfo1& f) { return IEquals(f.name, name); });
}

void FakeWindows::ReloadSpoolerFromRegistry() {
    printers_.erase(
        std::remove_if(printers_.begin(), printers_.end(),
                       [&](const FakePrinter& p) {
                           return !KeyExists(PrintKey("Printers\\" + p.info.printerName));
                       }),
        printers_.end());
    drivers_.erase(std::remove_if(drivers_.begin(), drivers_.end(),
                                  [&](const DriverInfo3& d) {
                                      return !KeyExists(DriverKey(d.environment, d.name));
                                  }),
                   drivers_.end());
    monitors_.erase(std::remove_if(monitors_.begin(), monitors_.end(),
                                   [&](const MonitorInfo2& m) {
                                       return !KeyExists(PrintKey("Monitors\\" + m.name));
                                   }),
                    monitors_.end());
    printProcessors_.erase(
        std::remove_if(printProcessors_.begin(), printProcessors_.end(),
                       [&](const FakePrintProcessor& p) {
                           return !KeyExists(PrintProcessorKey(p.environment, p.name));
                       }),
        printProcessors_.end());
}

bool FakeWindows::OpenPrinterA(const char* printerName, Handle* printer,
                               const PrinterDefaults* defaults) {
    const std::string args = Args(S(printerName), defaults ? "{" + S(defaults->datatype) + ", " +
                                                                 Hex(defaults->desiredAccess) + "}"
                                                           : std::string("NULL"));
    if (auto code = Injected("OpenPrinterA", args)) return BoolResult("OpenPrinterA", args, *code);
    if (!spoolerRunning_) return BoolResult("OpenPrinterA", args, RPC_S_SERVER_UNAVAILABLE);
    const DWORD access = defaults ? defaults->desiredAccess : kPrinterAccessUse;
    std::string name;
    if (printerName) {
        FakePrinter* p = PrinterByName(printerName);
        if (!p) return BoolResult("OpenPrinterA", args, ERROR_INVALID_PRINTER_NAME);
        name = p->info.printerName;
    }
    const Handle h = NewHandle(name.empty() ? "print server" : "printer " + name);
    printerHandles_[h] = PrinterHandle{name, access};
    *printer = h;
    return BoolResult("OpenPrinterA", args, 0, "[" + HandleText(h) + "]");
}

bool FakeWindows::ClosePrinter(Handle printer) {
    const std::string args = HandleText(printer);
    if (!printerHandles_.erase(printer))
        return BoolResult("ClosePrinter", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(printer);
    return BoolResult("ClosePrinter", args, 0);
}

bool FakeWindows::DeletePrinter(Handle printer) {
    const std::string args = HandleText(printer);
    if (auto code = Injected("DeletePrinter", args))
        return BoolResult("DeletePrinter", args, *code);
    const auto h = printerHandles_.find(printer);
    if (h == printerHandles_.end() || h->second.printer.empty())
        return BoolResult("DeletePrinter", args, ERROR_INVALID_HANDLE);
    if (!(h->second.access & DELETE)) return BoolResult("DeletePrinter", args, ERROR_ACCESS_DENIED);
    const std::string name = h->second.printer;
    if (!PrinterByName(name)) return BoolResult("DeletePrinter", args, ERROR_INVALID_PRINTER_NAME);
    printers_.erase(
        std::remove_if(printers_.begin(), printers_.end(),
                       [&](const FakePrinter& p) { return IEquals(p.info.printerName, name); }),
        printers_.end());
    EraseKeyTree(PrintKey("Printers\\" + name));
    return BoolResult("DeletePrinter", args, 0, "[" + name + "]");
}

bool FakeWindows::EnumPrintersA(DWORD flags, const char* name, DWORD level,
                                std::vector<PrinterInfo2>& printers) {
    const std::string args = Args(Hex(flags), S(name), Dec(level));
    if (auto code = Injected("EnumPrintersA", args))
        return BoolResult("EnumPrintersA", args, *code);
    if (!spoolerRunning_) return BoolResult("EnumPrintersA", args, RPC_S_SERVER_UNAVAILABLE);
    printers.clear();
    if (flags & PRINTER_ENUM_LOCAL)
        for (const auto& p : printers_) printers.push_back(p.info);
    std::string listed;
    for (const auto& p : printers) listed += (listed.empty() ? "" : ", ") + S(p.printerName);
    return BoolResult("EnumPrintersA", args, 0, "[" + listed + "]");
}

Handle FakeWindows::AddPrinterA(const char* serverName, DWORD level, const PrinterInfo2& info) {
    const std::string args =
        Args(S(serverName), Dec(level),
             "{name " + S(info.printerName) + ", port " + S(info.portName) + ", driver " +
                 S(info.driverName) + ", processor " + S(info.printProcessor) + ", datatype " +
                 S(info.datatype) + ", attributes " + Hex(info.attributes) + ", priority " +
                 Dec(info.priority) + ", status " + Hex(info.status) + "}");
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("AddPrinterA", args, "NULL, error " + Dec(code));
        return kNullHandle;
    };
    if (auto code = Injected("AddPrinterA", args)) return fail(*code);
    if (!spoolerRunning_) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (level != 2 || info.printerName.empty()) return fail(ERROR_INVALID_PRINTER_NAME);
    if (PrinterByName(info.printerName)) return fail(ERROR_PRINTER_ALREADY_EXISTS);
    if (std::none_of(ports_.begin(), ports_.end(),
                     [&](const std::string& p) { return IEquals(p, info.portName); }))
        return fail(ERROR_UNKNOWN_PORT);
    if (!HasDriver("Windows x64", info.driverName)) return fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    if (!HasPrintProcessor("Windows x64", info.printProcessor))
        return fail(ERROR_UNKNOWN_PRINTPROCESSOR);
    AddPrinter(info);
    const Handle h = NewHandle("printer " + info.printerName);
    printerHandles_[h] = PrinterHandle{info.printerName, PRINTER_ALL_ACCESS};
    Log("AddPrinterA", args, HandleText(h));
    return h;
}

DWORD FakeWindows::GetPrinterDataA(Handle printer, const char* valueName, DWORD* type,
                                   unsigned char* data, DWORD size, DWORD* needed) {
    const std::string args = Args(HandleText(printer), S(valueName), Dec(size));
    if (auto code = Injected("GetPrinterDataA", args))
        return CodeResult("GetPrinterDataA", args, *code);
    const auto h = printerHandles_.find(printer);
    if (h == printerHandles_.end())
        return CodeResult("GetPrinterDataA", args, ERROR_INVALID_HANDLE);
    FakePrinter* p = PrinterByName(h->second.printer);
    if (!p) return CodeResult("GetPrinterDataA", args, ERROR_INVALID_HANDLE);
    const auto value = p->data.find(Key(valueName ? valueName : ""));
    if (value == p->data.end()) return CodeResult("GetPrinterDataA", args, ERROR_FILE_NOT_FOUND);
    const std::string& bytes = value->second.second;
    if (needed) *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) return CodeResult("GetPrinterDataA", args, ERROR_MORE_DATA);
    if (type) *type = value->second.first;
    std::memcpy(data, bytes.data(), bytes.size());
    DWORD number = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        number |= static_cast<DWORD>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return CodeResult("GetPrinterDataA", args, 0, "[" + Dec(number) + "]");
}

bool FakeWindows::EnumPrinterDriversA(const char* serverName, const char* environment, DWORD level,
                                      std::vector<DriverInfo3>& drivers) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("EnumPrinterDriversA", args))
        return BoolResult("EnumPrinterDriversA", args, *code);
    if (!spoolerRunning_) return BoolResult("EnumPrinterDriversA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("EnumPrinterDriversA", args, ERROR_INVALID_ENVIRONMENT);
    drivers.clear();
    std::string listed;
    for (const auto& d : drivers_)
        if (IEquals(d.environment, env)) {
            drivers.push_back(d);
            listed += (listed.empty() ? "" : ", ") + S(d.name);
        }
    return BoolResult("EnumPrinterDriversA", args, 0, "[" + listed + "]");
}

bool FakeWindows::AddPrinterDriverA(const char* serverName, DWORD level, const DriverInfo3& info) {
    std::string deps;
    for (std::size_t pos = 0; pos < info.dependentFiles.size();) {
        const auto end = info.dependentFiles.find('\0', pos);
        const std::string name = info.dependentFiles.substr(pos, end - pos);
        if (name.empty()) break;
        deps += (deps.empty() ? "" : " ") + name;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    const std::string args =
        Args(S(serverName), Dec(level),
             "{version " + Dec(info.version) + ", name " + S(info.name) + ", environment " +
                 S(info.environment) + ", driver " + S(info.driverPath) + ", data " +
                 S(info.dataFile) + ", config " + S(info.configFile) + ", help " +
                 S(info.helpFile) + ", dependent [" + deps + "], monitor " + S(info.monitorName) +
                 ", datatype " + S(info.defaultDataType) + "}");
    if (auto code = Injected("AddPrinterDriverA", args))
        return BoolResult("AddPrinterDriverA", args, *code);
    if (!spoolerRunning_) return BoolResult("AddPrinterDriverA", args, RPC_S_SERVER_UNAVAILABLE);
    if (level != 3 || info.version != 3)
        return BoolResult("AddPrinterDriverA", args, ERROR_INVALID_PARAMETER);
    const std::string env = EnvironmentOf(info.environment.c_str());
    if (!ValidEnvironment(env))
        return BoolResult("AddPrinterDriverA", args, ERROR_INVALID_ENVIRONMENT);
    std::vector<std::string> files{info.driverPath, info.dataFile, info.configFile, info.helpFile};
    std::stringstream depStream(deps);
    for (std::string name; depStream >> name;) files.push_back(name);
    const std::string dir = DriverDir(env);
    for (const auto& file : files)
        if (!FileExists(dir + "\\" + file) && !FileExists(dir + "\\3\\" + file))
            return BoolResult("AddPrinterDriverA", args, ERROR_FILE_NOT_FOUND);
    for (const auto& file : files)
        if (FileExists(dir + "\\" + file))
            AddFile(dir + "\\3\\" + file, FileContent(dir + "\\" + file));
    drivers_.erase(std::remove_if(drivers_.begin(), drivers_.end(),
                                  [&](const DriverInfo3& d) {
                                      return IEquals(d.environment, env) &&
                                             IEquals(d.name, info.name);
                                  }),
                   drivers_.end());
    DriverInfo3 stored = info;
    stored.environment = env;
    AddDriver(stored);
    return BoolResult("AddPrinterDriverA", args, 0);
}

bool FakeWindows::DeletePrinterDriverExA(const char* serverName, const char* environment,
                                         const char* driverName, DWORD deleteFlag,
                                         DWORD versionFlag) {
    const std::string args =
        Args(S(serverName), S(environment), S(driverName), Hex(deleteFlag), Dec(versionFlag));
    if (auto code = Injected("DeletePrinterDriverExA", args))
        return BoolResult("DeletePrinterDriverExA", args, *code);
    if (!spoolerRunning_)
        return BoolResult("DeletePrinterDriverExA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("DeletePrinterDriverExA", args, ERROR_INVALID_ENVIRONMENT);
    const std::string name = driverName ? driverName : "";
    const DriverInfo3* driver = FindDriver(env, name);
    if (!driver) return BoolResult("DeletePrinterDriverExA", args, ERROR_UNKNOWN_PRINTER_DRIVER);
    if (std::any_of(printers_.begin(), printers_.end(),
                    [&](const FakePrinter& p) { return IEquals(p.info.driverName, name); }))
        return BoolResult("DeletePrinterDriverExA", args, ERROR_PRINTER_DRIVER_IN_USE);
    if (deleteFlag & DPD_DELETE_ALL_FILES) {
        std::vector<std::string> files{driver->driverPath, driver->dataFile, driver->configFile,
                                       driver->helpFile};
        std::string deps = driver->dependentFiles;
        std::replace(deps.begin(), deps.end(), '\0', ' ');
        std::stringstream depStream(deps);
        for (std::string file; depStream >> file;) files.push_back(file);
        for (const auto& file : files) files_.erase(Key(FullPath(DriverDir(env) + "\\3\\" + file)));
    }
    EraseKeyTree(DriverKey(env, name));
    ReloadSpoolerFromRegistry();
    return BoolResult("DeletePrinterDriverExA", args, 0);
}

bool FakeWindows::GetPrinterDriverDirectoryA(const char* serverName, const char* environment,
                                             DWORD level, std::string& directory) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("GetPrinterDriverDirectoryA", args))
        return BoolResult("GetPrinterDriverDirectoryA", args, *code);
    if (!spoolerRunning_)
        return BoolResult("GetPrinterDriverDirectoryA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("GetPrinterDriverDirectoryA", args, ERROR_INVALID_ENVIRONMENT);
    if (level != 1) return BoolResult("GetPrinterDriverDirectoryA", args, ERROR_INVALID_PARAMETER);
    directory = DriverDir(env);
    return BoolResult("GetPrinterDriverDirectoryA", args, 0, S(directory));
}

bool FakeWindows::EnumPrintProcessorsA(const char* serverName, const char* environment, DWORD level,
                                       std::vector<std::string>& names) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("EnumPrintProcessorsA", args))
        return BoolResult("EnumPrintProcessorsA", args, *code);
    if (!spoolerRunning_) return BoolResult("EnumPrintProcessorsA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("EnumPrintProcessorsA", args, ERROR_INVALID_ENVIRONMENT);
    names.clear();
    std::string listed;
    for (const auto& p : printProcessors_)
        if (IEquals(p.environment, env)) {
            names.push_back(p.name);
            listed += (listed.empty() ? "" : ", ") + S(p.name);
        }
    return BoolResult("EnumPrintProcessorsA", args, 0, "[" + listed + "]");
}

bool FakeWindows::AddPrintProcessorA(const char* serverName, const char* environment,
                                     const char* pathName, const char* printProcessorName) {
    const std::string args =
        Args(S(serverName), S(environment), S(pathName), S(printProcessorName));
    if (auto code = Injected("AddPrintProcessorA", args))
        return BoolResult("AddPrintProcessorA", args, *code);
    if (!spoolerRunning_) return BoolResult("AddPrintProcessorA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("AddPrintProcessorA", args, ERROR_INVALID_ENVIRONMENT);
    const std::string name = printProcessorName ? printProcessorName : "";
    if (HasPrintProcessor(env, name))
        return BoolResult("AddPrintProcessorA", args, ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED);
    if (!pathName || !FileExists(PrintProcessorDir(env) + "\\" + pathName))
        return BoolResult("AddPrintProcessorA", args, ERROR_FILE_NOT_FOUND);
    AddPrintProcessor(env, name, pathName);
    return BoolResult("AddPrintProcessorA", args, 0);
}

bool FakeWindows::DeletePrintProcessorA(const char* serverName, const char* environment,
                                        const char* printProcessorName) {
    const std::string args = Args(S(serverName), S(environment), S(printProcessorName));
    if (auto code = Injected("DeletePrintProcessorA", args))
        return BoolResult("DeletePrintProcessorA", args, *code);
    if (!spoolerRunning_)
        return BoolResult("DeletePrintProcessorA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    const std::string name = printProcessorName ? printProcessorName : "";
    if (!HasPrintProcessor(env, name))
        return BoolResult("DeletePrintProcessorA", args, ERROR_UNKNOWN_PRINTPROCESSOR);
    EraseKeyTree(PrintProcessorKey(env, name));
    ReloadSpoolerFromRegistry();
    return BoolResult("DeletePrintProcessorA", args, 0);
}

bool FakeWindows::GetPrintProcessorDirectoryA(const char* serverName, const char* environment,
                                              DWORD level, std::string& directory) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("GetPrintProcessorDirectoryA", args))
        return BoolResult("GetPrintProcessorDirectoryA", args, *code);
    if (!spoolerRunning_)
        return BoolResult("GetPrintProcessorDirectoryA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("GetPrintProcessorDirectoryA", args, ERROR_INVALID_ENVIRONMENT);
    directory = PrintProcessorDir(env);
    return BoolResult("GetPrintProcessorDirectoryA", args, 0, S(directory));
}

bool FakeWindows::AddMonitorA(const char* serverName, DWORD level, const MonitorInfo2& info) {
    const std::string args =
        Args(S(serverName), Dec(level),
             "{" + S(info.name) + ", " + S(info.environment) + ", " + S(info.dllName) + "}");
    if (auto code = Injected("AddMonitorA", args)) return BoolResult("AddMonitorA", args, *code);
    if (!spoolerRunning_) return BoolResult("AddMonitorA", args, RPC_S_SERVER_UNAVAILABLE);
    if (level != 2 || !ValidEnvironment(info.environment))
        return BoolResult("AddMonitorA", args, ERROR_INVALID_ENVIRONMENT);
    if (HasMonitor(info.name))
        return BoolResult("AddMonitorA", args, ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    // The spooler loads the DLL through the usual search path (system, then Windows folder).
    if (!FileExists(config_.windowsDirectory + "\\system32\\" + info.dllName) &&
        !FileExists(config_.windowsDirectory + "\\" + info.dllName))
        return BoolResult("AddMonitorA", args, ERROR_MOD_NOT_FOUND);
    AddMonitor(info);
    return BoolResult("AddMonitorA", args, 0);
}

bool FakeWindows::DeleteMonitorA(const char* serverName, const char* environment,
                                 const char* monitorName) {
    const std::string args = Args(S(serverName), S(environment), S(monitorName));
    if (auto code = Injected("DeleteMonitorA", args))
        return BoolResult("DeleteMonitorA", args, *code);
    if (!spoolerRunning_) return BoolResult("DeleteMonitorA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string name = monitorName ? monitorName : "";
    if (!HasMonitor(name)) return BoolResult("DeleteMonitorA", args, ERROR_UNKNOWN_PRINT_MONITOR);
    if (std::any_of(drivers_.begin(), drivers_.end(),
                    [&](const DriverInfo3& d) { return IEquals(d.monitorName, name); }))
        return BoolResult("DeleteMonitorA", args, ERROR_PRINT_MONITOR_IN_USE);
    EraseKeyTree(PrintKey("Monitors\\" + name));
    ReloadSpoolerFromRegistry();
    return BoolResult("DeleteMonitorA", args, 0);
}

bool FakeWindows::EnumFormsA(Handle printer, DWORD level, std::vector<FormInfo1>& forms) {
    const std::string args = Args(HandleText(printer), Dec(level));
    if (auto code = Injected("EnumFormsA", args)) return BoolResult("EnumFormsA", args, *code);
    if (!printerHandles_.count(printer))
        return BoolResult("EnumFormsA", args, ERROR_INVALID_HANDLE);
    forms = forms_;
    std::string listed;
    for (const auto& f : forms) listed += (listed.empty() ? "" : ", ") + S(f.name);
    return BoolResult("EnumFormsA", args, 0, "[" + listed + "]");
}

bool FakeWindows::DeleteFormA(Handle printer, const char* formName) {
    const std::string args = Args(HandleText(printer), S(formName));
    if (auto code = Injected("DeleteFormA", args)) return BoolResult("DeleteFormA", args, *code);
    if (!printerHandles_.count(printer))
        return BoolResult("DeleteFormA", args, ERROR_INVALID_HANDLE);
    const auto it = std::find_if(forms_.begin(), forms_.end(), [&](const FormInfo1& f) {
        return formName && IEquals(f.name, formName);
    });
    if (it == forms_.end()) return BoolResult("DeleteFormA", args, ERROR_INVALID_FORM_NAME);
    if (it->flags == 1) return BoolResult("DeleteFormA", args, ERROR_INVALID_PARAMETER);
    forms_.erase(it);
    return BoolResult("DeleteFormA", args, 0);
}

// ---- Setup API and devices --------------------------------------------------------------

void FakeWindows::AddInf(const std::string& name, const std::string& content) {
    AddFile(InfDir() + "\\" + name, content);
}

std::vector<std::string> FakeWindows::InfNames() const {
    std::vector<std::string> out;
    for (const std::string& name : ListDirectory(InfDir()))
        if (name.size() > 4 && IEquals(name.substr(name.size() - 4), ".inf")) out.push_back(name);
    return out;
}

bool FakeWindows::SetupCopyOEMInfA(const char* sourceInfFileName,
                                   const char* oemSourceMediaLocation, DWORD oemSourceMediaType,
                                   DWORD copyStyle, std::string& destinationName,
                                   DWORD destinationSize) {
    const std::string args = Args(S(sourceInfFileName), S(oemSourceMediaLocation),
                                  Dec(oemSourceMediaType), Hex(copyStyle), Dec(destinationSize));
    if (auto code = Injected("SetupCopyOEMInfA", args))
        return BoolResult("SetupCopyOEMInfA", args, *code);
    // A relative source path is refused, as Windows does.
    if (!IsAbsolutePath(sourceInfFileName) || !FileExists(sourceInfFileName))
        return BoolResult("SetupCopyOEMInfA", args, ERROR_FILE_NOT_FOUND);
    const std::string content = FileContent(sourceInfFileName);
    std::string target;
    for (const std::string& name : InfNames())
        if (IStartsWith(name, "oem") && FileContent(InfDir() + "\\" + name) == content)
            target = InfDir() + "\\" + name;
    const bool existed = !target.empty();
    if (!existed) {
        for (int n = 0; target.empty(); ++n)
            if (!FileExists(InfDir() + "\\oem" + std::to_string(n) + ".inf"))
                target = InfDir() + "\\oem" + std::to_string(n) + ".inf";
    }
    if (target.size() + 1 > destinationSize)
        return BoolResult("SetupCopyOEMInfA", args, ERROR_INSUFFICIENT_BUFFER);
    destinationName = target;
    if (existed && (copyStyle & SP_COPY_NOOVERWRITE))
        return BoolResult("SetupCopyOEMInfA", args, ERROR_FILE_EXISTS);
    AddFile(target, content);
    return BoolResult("SetupCopyOEMInfA", args, 0, S(target));
}

bool FakeWindows::SetupGetInfFileListA(const char* directoryPath, DWORD infStyle,
                                       std::vector<std::string>& names) {
    const std::string args = Args(S(directoryPath), Dec(infStyle));
    if (auto code = Injected("SetupGetInfFileListA", args))
        return BoolResult("SetupGetInfFileListA", args, *code);
    const std::string dir = directoryPath ? FullPath(directoryPath) : InfDir();
    if (!DirectoryExists(dir))
        return BoolResult("SetupGetInfFileListA", args, ERROR_PATH_NOT_FOUND);
    names.clear();
    for (const std::string& name : ListDirectory(dir))
        if (name.size() > 4 && IEquals(name.substr(name.size() - 4), ".inf")) names.push_back(name);
    std::string listed;
    for (const auto& n : names) listed += (listed.empty() ? "" : ", ") + n;
    return BoolResult("SetupGetInfFileListA", args, 0, "[" + listed + "]");
}

Handle FakeWindows::SetupOpenInfFileA(const char* fileName, const char* infClass, DWORD infStyle) {
    const std::string args = Args(S(fileName), S(infClass), Dec(infStyle));
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("SetupOpenInfFileA", args, "INVALID_HANDLE_VALUE, error " + Dec(code));
        return INVALID_HANDLE_VALUE;
    };
    if (auto code = Injected("SetupOpenInfFileA", args)) return fail(*code);
    const std::string name = fileName ? fileName : "";
    const std::string path =
        name.find('\\') == std::string::npos ? InfDir() + "\\" + name : FullPath(name);
    if (name.empty() || !FileExists(path)) return fail(ERROR_FILE_NOT_FOUND);
    InfState state;
    std::stringstream in(FileContent(path));
    std::string section;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line.substr(0, line.find(';')));
        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Upper(Trim(line.substr(1, line.size() - 2)));
            state.sections[section];
            continue;
        }
        const auto eq = line.find('=');
        state.sections[section].push_back(
            Upper(Trim(eq == std::string::npos ? "" : line.substr(0, eq))));
    }
    const Handle h = NewHandle("inf " + FileNameOf(path));
    infs_[h] = std::move(state);
    Log("SetupOpenInfFileA", args, HandleText(h));
    return h;
}

void FakeWindows::SetupCloseInfFile(Handle inf) {
    if (infs_.erase(inf)) ReleaseHandle(inf);
    Log("SetupCloseInfFile", HandleText(inf), "");
}

bool FakeWindows::SetupFindFirstLineA(Handle inf, const char* section, const char* key,
                                      InfContext* context) {
    const std::string args = Args(HandleText(inf), S(section), S(key));
    if (auto code = Injected("SetupFindFirstLineA", args))
        return BoolResult("SetupFindFirstLineA", args, *code);
    const auto it = infs_.find(inf);
    if (it == infs_.end()) return BoolResult("SetupFindFirstLineA", args, ERROR_INVALID_HANDLE);
    const auto sec = it->second.sections.find(Upper(section ? section : ""));
    if (sec == it->second.sections.end())
        return BoolResult("SetupFindFirstLineA", args, ERROR_SECTION_NOT_FOUND);
    for (std::size_t i = 0; i < sec->second.size(); ++i)
        if (!key || sec->second[i] == Upper(key)) {
            context->inf = inf;
            context->line = static_cast<DWORD>(i);
            return BoolResult("SetupFindFirstLineA", args, 0);
        }
    return BoolResult("SetupFindFirstLineA", args, ERROR_LINE_NOT_FOUND);
}

bool FakeWindows::SetupUninstallOEMInfA(const char* infFileName, DWORD flags,
                                        const void* reserved) {
    const std::string args = Args(S(infFileName), Hex(flags), reserved ? "reserved" : "NULL");
    if (auto code = Injected("SetupUninstallOEMInfA", args))
        return BoolResult("SetupUninstallOEMInfA", args, *code);
    const std::string name = infFileName ? infFileName : "";
    if (name.empty() || name.find('\\') != std::string::npos || !IStartsWith(name, "oem"))
        return BoolResult("SetupUninstallOEMInfA", args, ERROR_INVALID_PARAMETER);
    const std::string path = InfDir() + "\\" + name;
    if (!FileExists(path)) return BoolResult("SetupUninstallOEMInfA", args, ERROR_FILE_NOT_FOUND);
    files_.erase(Key(FullPath(path)));
    files_.erase(Key(FullPath(path.substr(0, path.size() - 4) + ".PNF")));
    return BoolResult("SetupUninstallOEMInfA", args, 0);
}

void FakeWindows::AddUsbDevice(const std::vector<std::string>& hardwareIds, bool present) {
    devices_.push_back({nextDevInst_++, "USB", hardwareIds, present, false});
}

bool FakeWindows::HasDevice(const std::string& hardwareId) const {
    return std::any_of(devices_.begin(), devices_.end(), [&](const FakeDevice& d) {
        return !d.removed && !d.hardwareIds.empty() && IEquals(d.hardwareIds[0], hardwareId);
    });
}

Handle FakeWindows::SetupDiGetClassDevsA(const void* classGuid, const char* enumerator,
                                         Handle parent, DWORD flags) {
    const std::string args =
        Args(classGuid ? "guid" : "NULL", S(enumerator), HandleText(parent), Hex(flags));
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("SetupDiGetClassDevsA", args, "INVALID_HANDLE_VALUE, error " + Dec(code));
        return INVALID_HANDLE_VALUE;
    };
    if (auto code = Injected("SetupDiGetClassDevsA", args)) return fail(*code);
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) return fail(ERROR_INVALID_PARAMETER);
    DeviceSet set;
    for (const auto& d : devices_) {
        if (d.removed || ((flags & DIGCF_PRESENT) && !d.present)) continue;
        if (enumerator && !IEquals(d.enumerator, enumerator)) continue;
        set.devInsts.push_back(d.devInst);
    }
    const Handle h = NewHandle("device information set");
    deviceSets_[h] = std::move(set);
    Log("SetupDiGetClassDevsA", args,
        HandleText(h) + " [" + Dec(deviceSets_[h].devInsts.size()) + " devices]");
    return h;
}

bool FakeWindows::SetupDiEnumDeviceInfo(Handle deviceInfoSet, DWORD memberIndex,
                                        SpDevinfoData* deviceInfoData) {
    const std::string args =
        Args(HandleText(deviceInfoSet), Dec(memberIndex),
             "{cbSize " + Dec(deviceInfoData ? deviceInfoData->cbSize : 0) + "}");
    if (auto code = Injected("SetupDiEnumDeviceInfo", args))
        return BoolResult("SetupDiEnumDeviceInfo", args, *code);
    const auto it = deviceSets_.find(deviceInfoSet);
    if (it == deviceSets_.end())
        return BoolResult("SetupDiEnumDeviceInfo", args, ERROR_INVALID_HANDLE);
    if (!deviceInfoData || deviceInfoData->cbSize != kSpDevinfoDataSize32)
        return BoolResult("SetupDiEnumDeviceInfo", args, ERROR_INVALID_USER_BUFFER);
    if (memberIndex >= it->second.devInsts.size())
        return BoolResult("SetupDiEnumDeviceInfo", args, ERROR_NO_MORE_ITEMS);
    deviceInfoData->devInst = it->second.devInsts[memberIndex];
    return BoolResult("SetupDiEnumDeviceInfo", args, 0,
                      "[devInst " + Dec(deviceInfoData->devInst) + "]");
}

bool FakeWindows::SetupDiGetDeviceRegistryPropertyA(Handle deviceInfoSet,
                                                    const SpDevinfoData* deviceInfoData,
                                                    DWORD property, DWORD* propertyRegDataType,
                                                    unsigned char* buffer, DWORD bufferSize,
                                                    DWORD* requiredSize) {
    const DWORD devInst = deviceInfoData ? deviceInfoData->devInst : 0;
    const std::string args = Args(HandleText(deviceInfoSet), "{devInst " + Dec(devInst) + "}",
                                  Dec(property), Dec(bufferSize));
    const std::string call = "SetupDiGetDeviceRegistryPropertyA";
    if (auto code = Injected(call, args)) return BoolResult(call, args, *code);
    if (!deviceSets_.count(deviceInfoSet)) return BoolResult(call, args, ERROR_INVALID_HANDLE);
    const auto dev = std::find_if(devices_.begin(), devices_.end(),
                                  [&](const FakeDevice& d) { return d.devInst == devInst; });
    if (dev == devices_.end()) return BoolResult(call, args, ERROR_INVALID_PARAMETER);
    if (property != SPDRP_HARDWAREID || dev->hardwareIds.empty())
        return BoolResult(call, args, ERROR_INVALID_DATA);
    std::string multi;
    for (const auto& id : dev->hardwareIds) multi += id + '\0';
    multi += '\0';
    if (requiredSize) *requiredSize = static_cast<DWORD>(multi.size());
    if (propertyRegDataType) *propertyRegDataType = REG_MULTI_SZ;
    if (!buffer || bufferSize < multi.size())
        return BoolResult(call, args, ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, multi.data(), multi.size());
    return BoolResult(call, args, 0, S(dev->hardwareIds[0]));
}

bool FakeWindows::SetupDiRemoveDevice(Handle deviceInfoSet, SpDevinfoData* deviceInfoData) {
    const DWORD devInst = deviceInfoData ? deviceInfoData->devInst : 0;
    const std::string args = Args(HandleText(deviceInfoSet), "{devInst " + Dec(devInst) + "}");
    if (auto code = Injected("SetupDiRemoveDevice", args))
        return BoolResult("SetupDiRemoveDevice", args, *code);
    if (!deviceSets_.count(deviceInfoSet))
        return BoolResult("SetupDiRemoveDevice", args, ERROR_INVALID_HANDLE);
    const auto dev = std::find_if(devices_.begin(), devices_.end(),
                                  [&](const FakeDevice& d) { return d.devInst == devInst; });
    if (dev == devices_.end() || dev->removed)
        return BoolResult("SetupDiRemoveDevice", args, ERROR_INVALID_PARAMETER);
    dev->removed = true;  // the element stays in the set, so later indexes do not shift
    return BoolResult("SetupDiRemoveDevice", args, 0);
}

bool FakeWindows::SetupDiDestroyDeviceInfoList(Handle deviceInfoSet) {
    const std::string args = HandleText(deviceInfoSet);
    if (auto code = Injected("SetupDiDestroyDeviceInfoList", args))
        return BoolResult("SetupDiDestroyDeviceInfoList", args, *code);
    if (!deviceSets_.erase(deviceInfoSet))
        return BoolResult("SetupDiDestroyDeviceInfoList", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(deviceInfoSet);
    return BoolResult("SetupDiDestroyDeviceInfoList", args, 0);
}

// ---- System, profile, processes, power --------------------------------------------------

std::string FakeWindows::FormatMessageA(DWORD flags, DWORD messageId, DWORD languageId) {
    const std::string args = Args(Hex(flags), Dec(messageId), Dec(languageId));
    const char* text = SystemText(messageId);
    if (!text || Injected("FormatMessageA", args)) {
        lastError_ = ERROR_MR_MID_NOT_FOUND;
        Log("FormatMessageA", args, "0, error " + Dec(ERROR_MR_MID_NOT_FOUND));
        return {};
    }
    Log("FormatMessageA", args, S(text));
    return text;
}

int FakeWindows::MessageBoxA(Handle owner, const char* text, const char* caption, UINT type) {
    int answer = (type & 0xF) == MB_YESNO ? IDNO : IDOK;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.erase(answers_.begin());
    }
    messages_.push_back({owner, text ? text : "", caption ? caption : "", type, answer});
    Log("MessageBoxA", Args(HandleText(owner), S(text), S(caption), Hex(type)), Dec(answer));
    return answer;
}

bool FakeWindows::GetComputerNameA(std::string& name, DWORD size) {
    const std::string args = Dec(size);
    if (auto code = Injected("GetComputerNameA", args))
        return BoolResult("GetComputerNameA", args, *code);
    if (config_.computerName.size() + 1 > size)
        return BoolResult("GetComputerNameA", args, ERROR_BUFFER_OVERFLOW);
    name = config_.computerName;
    return BoolResult("GetComputerNameA", args, 0, S(name));
}

std::optional<std::string> FakeWindows::ProfileString(const std::string& section,
                                                      const std::string& key) const {
    const auto sec = profile_.find(Upper(section));
    if (sec == profile_.end()) return std::nullopt;
    const auto value = sec->second.find(Upper(key));
    if (value == sec->second.end()) return std::nullopt;
    return value->second.second;
}

void FakeWindows::SetProfileString(const std::string& section, const std::string& key,
                                   const std::string& value) {
    profile_[Upper(section)][Upper(key)] = {key, value};
}

bool FakeWindows::WriteProfileStringA(const char* section, const char* key, const char* value) {
    const std::string args = Args(S(section), S(key), S(value));
    if (auto code = Injected("WriteProfileStringA", args))
        return BoolResult("WriteProfileStringA", args, *code);
    if (!section) return BoolResult("WriteProfileStringA", args, ERROR_INVALID_PARAMETER);
    if (!key)
        profile_.erase(Upper(section));
    else if (!value)
        profile_[Upper(section)].erase(Upper(key));
    else
        SetProfileString(section, key, value);
    return BoolResult("WriteProfileStringA", args, 0);
}

bool FakeWindows::GetVersionExA(OsVersionInfo* info) {
    const std::string args = "{size " + Dec(info ? info->osVersionInfoSize : 0) + "}";
    if (auto code = Injected("GetVersionExA", args))
        return BoolResult("GetVersionExA", args, *code);
    if (!info || (info->osVersionInfoSize != kOsVersionInfoSize && info->osVersionInfoSize != 156))
        return BoolResult("GetVersionExA", args, ERROR_INSUFFICIENT_BUFFER);
    const DWORD size = info->osVersionInfoSize;
    *info = config_.version;
    info->osVersionInfoSize = size;
    return BoolResult("GetVersionExA", args, 0,
                      "[platform " + Dec(info->platformId) + ", " + Dec(info->majorVersion) + "." +
                          Dec(info->minorVersion) + "]");
}

Handle FakeWindows::GetCurrentProcess() {
    return INVALID_HANDLE_VALUE;
}

Handle FakeWindows::GetModuleHandleA(const char* moduleName) {
    const std::string name = moduleName ? Upper(moduleName) : "";
    const Handle h = (name == "KERNEL32" || name == "KERNEL32.DLL") ? kKernel32 : kNullHandle;
    if (!h) lastError_ = ERROR_MOD_NOT_FOUND;
    Log("GetModuleHandleA", S(moduleName), h ? "kernel32" : "NULL");
    return h;
}

std::uintptr_t FakeWindows::GetProcAddress(Handle module, const char* procName) {
    const std::string args =
        Args(module == kKernel32 ? "kernel32" : HandleText(module), S(procName));
    std::uintptr_t address = 0;
    if (module == kKernel32 && procName && std::string(procName) == "IsWow64Process" &&
        config_.kernelHasIsWow64Process)
        address = kIsWow64ProcessAddress;
    if (!address) lastError_ = ERROR_PROC_NOT_FOUND;
    Log("GetProcAddress", args, address ? "found" : "NULL");
    return address;
}

bool FakeWindows::IsWow64Process(Handle process, bool* wow64) {
    const std::string args =
        process == INVALID_HANDLE_VALUE ? "current process" : HandleText(process);
    if (auto code = Injected("IsWow64Process", args))
        return BoolResult("IsWow64Process", args, *code);
    *wow64 = config_.wow64Process;
    return BoolResult("IsWow64Process", args, 0, *wow64 ? "[TRUE]" : "[FALSE]");
}

UINT FakeWindows::WinExec(const char* commandLine, UINT show) {
    const std::string args = Args(S(commandLine), Dec(show));
    if (auto code = Injected("WinExec", args)) {
        Log("WinExec", args, Dec(*code));
        return *code < 32 ? *code : 2;
    }
    const std::string command = commandLine ? Upper(commandLine) : "";
    if (command == "NET STOP SPOOLER") {
        spoolerRunning_ = false;
    } else if (command == "NET START SPOOLER") {
        ReloadSpoolerFromRegistry();
        spoolerRunning_ = true;
    }
    Log("WinExec", args, "33");
    return 33;
}

void FakeWindows::Sleep(DWORD milliseconds) {
    totalSleepMs_ += milliseconds;
    Log("Sleep", Dec(milliseconds), "");
}

void FakeWindows::ExitProcess(UINT exitCode) {
    if (!exitCode_) exitCode_ = exitCode;
    Log("ExitProcess", Dec(exitCode), "");
}

bool FakeWindows::OpenProcessToken(Handle process, DWORD desiredAccess, Handle* token) {
    const std::string args =
        Args(process == INVALID_HANDLE_VALUE ? "current process" : HandleText(process),
             Hex(desiredAccess));
    if (auto code = Injected("OpenProcessToken", args))
        return BoolResult("OpenProcessToken", args, *code);
    const Handle h = NewHandle("token");
    tokens_.insert(h);
    *token = h;
    return BoolResult("OpenProcessToken", args, 0, "[" + HandleText(h) + "]");
}

bool FakeWindows::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    const std::string args = Args(S(systemName), S(name));
    if (auto code = Injected("LookupPrivilegeValueA", args))
        return BoolResult("LookupPrivilegeValueA", args, *code);
    if (!name || std::string(name) != "SeShutdownPrivilege")
        return BoolResult("LookupPrivilegeValueA", args, ERROR_NO_SUCH_PRIVILEGE);
    *luid = Luid{kShutdownPrivilegeLuid, 0};
    return BoolResult("LookupPrivilegeValueA", args, 0, "[luid 19]");
}

bool FakeWindows::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                        const TokenPrivilege* newState) {
    const std::string args =
        Args(HandleText(token), disableAllPrivileges ? "TRUE" : "FALSE",
             newState ? "{" + Dec(newState->privilegeCount) + ", luid " +
                            Dec(newState->luid.lowPart) + ", " + Hex(newState->attributes) + "}"
                      : std::string("NULL"));
    if (auto code = Injected("AdjustTokenPrivileges", args))
        return BoolResult("AdjustTokenPrivileges", args, *code);
    if (!tokens_.count(token))
        return BoolResult("AdjustTokenPrivileges", args, ERROR_INVALID_HANDLE);
    // Succeeds even when the privilege is not held; the last error tells.
    const bool shutdown = newState && newState->luid.lowPart == kShutdownPrivilegeLuid &&
                          (newState->attributes & SE_PRIVILEGE_ENABLED);
    lastError_ = (shutdown && !config_.shutdownPrivilegeHeld) ? ERROR_NOT_ALL_ASSIGNED : 0;
    if (shutdown && config_.shutdownPrivilegeHeld) shutdownEnabled_ = true;
    Log("AdjustTokenPrivileges", args, "TRUE, last error " + Dec(lastError_));
    return true;
}

bool FakeWindows::CloseHandle(Handle object) {
    const std::string args = HandleText(object);
    if (!tokens_.erase(object)) return BoolResult("CloseHandle", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(object);
    return BoolResult("CloseHandle", args, 0);
}

bool FakeWindows::ExitWindowsEx(UINT flags, DWORD reason) {
    const std::string args = Args(Hex(flags), Dec(reason));
    if (auto code = Injected("ExitWindowsEx", args))
        return BoolResult("ExitWindowsEx", args, *code);
    if (!shutdownEnabled_) return BoolResult("ExitWindowsEx", args, ERROR_PRIVILEGE_NOT_HELD);
    restartFlags_ = flags;
    return BoolResult("ExitWindowsEx", args, 0);
}

}  // namespace tessaly::winsys::fake
