#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

namespace {

constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

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

// ---- Errors and messages ---------------------------------------------------------------

std::string FakeWindows::FormatMessageA(DWORD flags, DWORD messageId, DWORD languageId) {
    const std::string args = Args(Hex(flags), Dec(messageId), Dec(languageId));
    const char* text = SystemText(messageId);
    if (!text || Injected("FormatMessageA", args)) {
        lastError_ = ERROR_MR_MID_NOT_FOUND;
        Log("FormatMessageA", args, Cat("0, error ", Dec(ERROR_MR_MID_NOT_FOUND)));
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

}  // namespace tessaly::winsys::fake
