#include <algorithm>
#include <cctype>
#include <sstream>

#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

namespace {

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

}  // namespace

// ---- Files --------------------------------------------------------------------------------

std::string FakeWindows::FullPath(const std::string& path) const {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (!p.empty() && p[0] == '\\' && !IsAbsolutePath(p.c_str()))
        p = config_.currentDirectory.substr(0, 2) + p;  // the root of the current drive
    else if (!IsAbsolutePath(p.c_str()) && !(p.size() == 2 && p[1] == ':'))
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

std::string FakeWindows::Redirected(const std::string& fullPath) const {
    if (!config_.wow64Process) return fullPath;
    const auto under = [&](const std::string& dir) {
        return IEquals(fullPath, dir) || IStartsWith(fullPath, dir + "\\");
    };
    const std::string windows = FullPath(config_.windowsDirectory);
    const std::string system = windows + "\\system32";
    const std::string native = windows + "\\Sysnative";
    if (under(native)) return system + fullPath.substr(native.size());
    if (!under(system)) return fullPath;
    // A 32-bit program's system folder is SysWOW64, but for these folders of it.
    for (const char* exempt :
         {"catroot", "catroot2", "driverstore", "drivers\\etc", "logfiles", "spool"})
        if (under(system + "\\" + exempt)) return fullPath;
    return windows + "\\SysWOW64" + fullPath.substr(system.size());
}

std::string FakeWindows::ThroughJunctions(const std::string& fullPath, bool followLast) const {
    std::string path = fullPath;
    for (int hops = 0; hops < 32; ++hops) {
        bool moved = false;
        for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
            const bool last = end == std::string::npos;
            if (!last || followLast) {
                const auto it = files_.find(Key(path.substr(0, end)));
                if (it != files_.end() && !it->second.target.empty()) {
                    path = FullPath(it->second.target) + (last ? "" : path.substr(end));
                    moved = true;
                    break;
                }
            }
            if (last) break;
        }
        if (!moved) break;
    }
    return path;
}

std::string FakeWindows::ProgramPath(const std::string& path, bool followLast) const {
    return ThroughJunctions(Redirected(FullPath(path)), followLast);
}

const FakeWindows::FsNode* FakeWindows::ProgramNode(const char* path, bool followLast) const {
    if (!path) return nullptr;
    const auto it = files_.find(Key(ProgramPath(path, followLast)));
    return it == files_.end() ? nullptr : &it->second;
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
    files_[Key(full)] = FsNode{full, true, attributes | FILE_ATTRIBUTE_DIRECTORY, {}, {}};
}

void FakeWindows::AddFile(const std::string& path, const std::string& content, DWORD attributes) {
    const std::string full = FullPath(path);
    if (!Node(Parent(full))) AddDirectory(Parent(full));
    files_[Key(full)] = FsNode{full, false, attributes, content, {}};
}

void FakeWindows::AddJunction(const std::string& path, const std::string& target) {
    const std::string full = FullPath(path);
    if (!Node(Parent(full))) AddDirectory(Parent(full));
    files_[Key(full)] = FsNode{
        full, true, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, {}, FullPath(target)};
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
    const FsNode* source = ProgramNode(existingFile);
    if (!source) return BoolResult("CopyFileA", args, ERROR_FILE_NOT_FOUND);
    if (source->directory) return BoolResult("CopyFileA", args, ERROR_ACCESS_DENIED);
    const std::string target = ProgramPath(newFile ? newFile : "");
    if (!DirectoryExists(Parent(target)))
        return BoolResult("CopyFileA", args, ERROR_PATH_NOT_FOUND);
    if (const FsNode* existing = Node(target)) {
        if (failIfExists) return BoolResult("CopyFileA", args, ERROR_FILE_EXISTS);
        if (existing->directory || (existing->attributes & FILE_ATTRIBUTE_READONLY))
            return BoolResult("CopyFileA", args, ERROR_ACCESS_DENIED);
    }
    files_[Key(target)] = FsNode{target, false, source->attributes, source->content, {}};
    return BoolResult("CopyFileA", args, 0);
}

bool FakeWindows::DeleteFileA(const char* fileName) {
    const std::string args = S(fileName);
    if (auto code = Injected("DeleteFileA", args)) return BoolResult("DeleteFileA", args, *code);
    const FsNode* node = ProgramNode(fileName, false);
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
    } else if (const FsNode* node = ProgramNode(fileName, false)) {
        result = node->attributes;
    } else {
        lastError_ = ERROR_FILE_NOT_FOUND;
    }
    Log("GetFileAttributesA", args,
        result == INVALID_FILE_ATTRIBUTES ? Cat("INVALID_FILE_ATTRIBUTES, error ", Dec(lastError_))
                                          : Hex(result));
    return result;
}

bool FakeWindows::SetFileAttributesA(const char* fileName, DWORD attributes) {
    const std::string args = Args(S(fileName), Hex(attributes));
    if (auto code = Injected("SetFileAttributesA", args))
        return BoolResult("SetFileAttributesA", args, *code);
    FsNode* node = fileName ? Node(ProgramPath(fileName, false)) : nullptr;
    if (!node) return BoolResult("SetFileAttributesA", args, ERROR_FILE_NOT_FOUND);
    node->attributes =
        (attributes & ~FILE_ATTRIBUTE_DIRECTORY) | (node->directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    return BoolResult("SetFileAttributesA", args, 0);
}

Handle FakeWindows::FindFirstFileA(const char* pattern, FindData* data) {
    const std::string args = S(pattern);
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("FindFirstFileA", args, Cat("INVALID_HANDLE_VALUE, error ", Dec(code)));
        return INVALID_HANDLE_VALUE;
    };
    if (auto code = Injected("FindFirstFileA", args)) return fail(*code);
    const std::string full = ProgramPath(pattern ? pattern : "");
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
    const std::string full = ProgramPath(pathName ? pathName : "");
    if (Node(full)) return BoolResult("CreateDirectoryA", args, ERROR_ALREADY_EXISTS);
    if (!DirectoryExists(Parent(full)))
        return BoolResult("CreateDirectoryA", args, ERROR_PATH_NOT_FOUND);
    files_[Key(full)] = FsNode{full, true, FILE_ATTRIBUTE_DIRECTORY, {}, {}};
    return BoolResult("CreateDirectoryA", args, 0);
}

bool FakeWindows::RemoveDirectoryA(const char* pathName) {
    const std::string args = S(pathName);
    if (auto code = Injected("RemoveDirectoryA", args))
        return BoolResult("RemoveDirectoryA", args, *code);
    // A junction is removed itself, whatever the folder it leads to holds.
    const FsNode* node = ProgramNode(pathName, false);
    if (!node) return BoolResult("RemoveDirectoryA", args, ERROR_FILE_NOT_FOUND);
    if (!node->directory) return BoolResult("RemoveDirectoryA", args, ERROR_DIRECTORY);
    if (node->attributes & FILE_ATTRIBUTE_READONLY)
        return BoolResult("RemoveDirectoryA", args, ERROR_ACCESS_DENIED);
    if (!Children(node->path).empty())
        return BoolResult("RemoveDirectoryA", args, ERROR_DIR_NOT_EMPTY);
    files_.erase(Key(node->path));
    return BoolResult("RemoveDirectoryA", args, 0);
}

UINT FakeWindows::DirectoryQuery(const std::string& call, const std::string& value,
                                 std::string& directory) {
    directory.clear();
    if (auto code = Injected(call, "")) {
        lastError_ = *code;
        Log(call, "", Cat("0, error ", Dec(*code)));
        return 0;
    }
    directory = value;
    Log(call, "", S(directory));
    return static_cast<UINT>(directory.size());
}

UINT FakeWindows::GetWindowsDirectoryA(std::string& directory) {
    return DirectoryQuery("GetWindowsDirectoryA", config_.windowsDirectory, directory);
}

UINT FakeWindows::GetSystemDirectoryA(std::string& directory) {
    return DirectoryQuery("GetSystemDirectoryA", config_.windowsDirectory + "\\system32",
                          directory);
}

UINT FakeWindows::GetSystemWow64DirectoryA(std::string& directory) {
    return DirectoryQuery("GetSystemWow64DirectoryA", config_.windowsDirectory + "\\SysWOW64",
                          directory);
}

DWORD FakeWindows::GetFullPathNameA(const char* fileName, std::string& fullPath) {
    const std::string args = S(fileName);
    if (auto code = Injected("GetFullPathNameA", args)) {
        lastError_ = *code;
        Log("GetFullPathNameA", args, Cat("0, error ", Dec(*code)));
        return 0;
    }
    fullPath = FullPath(fileName ? fileName : "");
    Log("GetFullPathNameA", args, Cat(Dec(fullPath.size()), " ", S(fullPath)));
    return static_cast<DWORD>(fullPath.size());
}

}  // namespace tessaly::winsys::fake
