// A stand-in for the game's executable on Windows: a GUI program without a
// window that records its parent process, its working directory and its
// arguments, one per line in UTF-8, into the file named by the side file
// "<its own path>.record-path". The record appears in one rename, so a record
// that exists is complete. Plain Win32, so that it can be copied anywhere.

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

namespace {

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring wide(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size);
    return result;
}

// The process that created this one, as the system saw it at start.
DWORD parentProcessId()
{
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

bool readWhole(const std::wstring &path, std::string *content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content->append(buffer, got);
    CloseHandle(file);
    return true;
}

bool writeWhole(const std::wstring &path, const std::string &content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr) && written == content.size();
    CloseHandle(file);
    return ok;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // Taken first: the parent may end soon after starting the game.
    const DWORD parent = parentProcessId();

    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &self[0], DWORD(self.size()));
        if (length == 0)
            return 1;
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    std::string recordPath;
    if (!readWhole(self + L".record-path", &recordPath))
        return 2;
    while (!recordPath.empty() && (recordPath.back() == '\n' || recordPath.back() == '\r'))
        recordPath.pop_back();

    const DWORD directoryLength = GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(directoryLength, L'\0');
    directory.resize(GetCurrentDirectoryW(directoryLength, &directory[0]));

    std::string record = std::to_string(parent) + '\n' + utf8(directory) + '\n';
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 3;
    for (int i = 1; i < argc; ++i)
        record += utf8(argv[i]) + '\n';
    LocalFree(argv);

    const std::wstring target = wide(recordPath);
    const std::wstring part = target + L".part";
    if (!writeWhole(part, record))
        return 4;
    return MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 5;
}
