#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

namespace {

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace

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
            if (const std::string name = Cat(InfDir(), "\\oem", std::to_string(n), ".inf");
                !FileExists(name))
                target = name;
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
        Log("SetupOpenInfFileA", args, Cat("INVALID_HANDLE_VALUE, error ", Dec(code)));
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
    const Handle h = NewHandle(Cat("inf ", FileNameOf(path)));
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
        Log("SetupDiGetClassDevsA", args, Cat("INVALID_HANDLE_VALUE, error ", Dec(code)));
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
        Cat(HandleText(h), " [", Dec(deviceSets_[h].devInsts.size()), " devices]"));
    return h;
}

bool FakeWindows::SetupDiEnumDeviceInfo(Handle deviceInfoSet, DWORD memberIndex,
                                        SpDevinfoData* deviceInfoData) {
    const std::string args =
        Args(HandleText(deviceInfoSet), Dec(memberIndex),
             Cat("{cbSize ", Dec(deviceInfoData ? deviceInfoData->cbSize : 0), "}"));
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
                      Cat("[devInst ", Dec(deviceInfoData->devInst), "]"));
}

bool FakeWindows::SetupDiGetDeviceRegistryPropertyA(Handle deviceInfoSet,
                                                    const SpDevinfoData* deviceInfoData,
                                                    DWORD property, DWORD* propertyRegDataType,
                                                    unsigned char* buffer, DWORD bufferSize,
                                                    DWORD* requiredSize) {
    const DWORD devInst = deviceInfoData ? deviceInfoData->devInst : 0;
    const std::string args = Args(HandleText(deviceInfoSet), Cat("{devInst ", Dec(devInst), "}"),
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
    const std::string args = Args(HandleText(deviceInfoSet), Cat("{devInst ", Dec(devInst), "}"));
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

}  // namespace tessaly::winsys::fake
