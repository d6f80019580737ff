// Stands in, on Windows, for the programs around the setup program in its
// tests, which must be real programs there. Copied as "update.exe" it is the
// updater: it starts the program named by TRELLIM with its own arguments, as
// the updater does, waits two seconds and copies the file named by
// STANDIN_WATCH to STANDIN_SEEN. Under any other name it is the main
// application and writes the folder it was started in, in UTF-8, to the file
// named by STANDIN_RECORD. Linked statically: it needs no DLL beside it.
#include <string>
#include <windows.h>

namespace {
std::wstring variable(const wchar_t *name)
{
    std::wstring value(32767, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

// The command line after the program's own name, quoted as it came.
std::wstring ownArguments()
{
    const std::wstring line = GetCommandLineW();
    std::size_t end = 0;
    if (!line.empty() && line[0] == L'"')
        end = line.find(L'"', 1) + 1;
    else
        end = line.find(L' ');
    return end == std::wstring::npos || end == 0 ? std::wstring() : line.substr(end);
}

bool writeRecord(const std::wstring &path, const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

int actAsUpdater()
{
    std::wstring command = L"\"" + variable(L"TRELLIM") + L"\"" + ownArguments();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Sleep(2000);
    return CopyFileW(variable(L"STANDIN_WATCH").c_str(), variable(L"STANDIN_SEEN").c_str(), FALSE)
               ? 0
               : 1;
}
} // namespace

int main()
{
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
    const std::wstring name = self.substr(self.find_last_of(L"\\/") + 1);
    if (lstrcmpiW(name.c_str(), L"update.exe") == 0)
        return actAsUpdater();
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(GetCurrentDirectoryW(DWORD(folder.size()), folder.data()));
    return writeRecord(variable(L"STANDIN_RECORD"), folder) ? 0 : 1;
}
