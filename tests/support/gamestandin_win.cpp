// A stand-in for the game's executable on Windows: a GUI program without a
// window that records its working directory and its arguments, one per line
// in UTF-8 after a parent of 0 (Windows names the starting process as the
// parent of any process: nothing to learn from it), into the file whose path
// the side file "<its own path>.record-path" holds in UTF-16. The record
// appears in one rename, so a record that exists is complete. Plain Win32,
// so that it can be copied anywhere.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string utf8(const wchar_t *text)
{
    std::string result(size_t(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr)) + 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], int(result.size()), nullptr, nullptr);
    result.resize(std::strlen(result.c_str()));
    return result;
}

wchar_t self[32768], directory[32768], target[32768];

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    GetModuleFileNameW(nullptr, self, 32767);
    GetCurrentDirectoryW(32767, directory);
    FILE *side = _wfopen((std::wstring(self) + L".record-path").c_str(), L"rb");
    if (!side || fread(target, sizeof *target, 32767, side) == 0)
        return 2;
    fclose(side);

    std::string record = "0\n" + utf8(directory) + '\n';
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i)
        record += utf8(argv[i]) + '\n';
    LocalFree(argv);

    const std::wstring part = std::wstring(target) + L".part";
    FILE *file = _wfopen(part.c_str(), L"wb");
    if (!file || fwrite(record.data(), 1, record.size(), file) != record.size() || fclose(file) != 0)
        return 4;
    return MoveFileExW(part.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 5;
}
