// Profile strings through the real profile API of the Wine prefix: where a bare name goes, keys
// created and replaced case-insensitively, and what is not written.

#include "check.h"

#include <fstream>
#include <iterator>

using Check::LogCapture;

namespace {

std::wstring windowsDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetWindowsDirectoryW(path, MAX_PATH);
    return path;
}

// A fresh, empty folder of the test's own under the temporary directory.
std::wstring scratchDirectory()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring directory = std::wstring(temp) + L"trox_win32profile";
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((directory + L"\\*.ini").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((directory + L'\\' + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

std::string contents(const std::wstring &path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void putContents(const std::wstring &path, const std::string &bytes)
{
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

std::wstring readKey(const std::wstring &section, const std::wstring &key, const std::wstring &path)
{
    wchar_t value[256] = {};
    GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<missing>", value, 256, path.c_str());
    return value;
}

bool fileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int main()
{
    Check::run("a bare file name lands in the Windows directory, section and key created", [] {
        const std::wstring placed = windowsDirectory() + L"\\trox_win32profile.ini";
        DeleteFileW(placed.c_str());
        LogCapture log;
        CHECK_EQ(Win32Store::writeProfileString(L"Network", L"Workstation", L"12", L"trox_win32profile.ini"),
                 0u);
        CHECK(fileExists(placed));
        CHECK_EQ(readKey(L"Network", L"Workstation", placed), std::wstring(L"12"));
        CHECK_EQ(log.lines(), std::vector<std::wstring>{});
        DeleteFileW(placed.c_str());
    });

    Check::run("a key replaced case-insensitively, missing keys and sections added, the rest kept", [] {
        const std::wstring path = scratchDirectory() + L"\\taskbase.ini";
        putContents(path, "[Other]\r\nWorkstation=7\r\n[System]\r\nName=plant\r\nWorkstation=1\r\n");
        CHECK_EQ(Win32Store::writeProfileString(L"SYSTEM", L"workstation", L"42", path), 0u);
        CHECK_EQ(Win32Store::writeProfileString(L"Other", L"Server", L"\\\\host\\trox", path), 0u);
        CHECK_EQ(Win32Store::writeProfileString(L"Network", L"Workstation", L"", path), 0u);
        CHECK_EQ(readKey(L"System", L"Workstation", path), std::wstring(L"42"));
        CHECK_EQ(readKey(L"System", L"Name", path), std::wstring(L"plant"));
        CHECK_EQ(readKey(L"Other", L"Workstation", path), std::wstring(L"7"));
        CHECK_EQ(readKey(L"Other", L"Server", path), std::wstring(L"\\\\host\\trox"));
        CHECK_EQ(readKey(L"Network", L"Workstation", path), std::wstring(L""));
        const std::string text = contents(path);
        CHECK(text.find("=1\r") == std::string::npos);
        CHECK(text.find("[system]") == std::string::npos && text.find("[SYSTEM]") == std::string::npos);
    });

    Check::run("a file in a folder that does not exist is not written and is reported", [] {
        const std::wstring folder = scratchDirectory() + L"\\missing";
        LogCapture log;
        const std::uint32_t code =
            Win32Store::writeProfileString(L"Network", L"Workstation", L"12", folder + L"\\trox_system.ini");
        CHECK_EQ(code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
        CHECK(!fileExists(folder));
        CHECK_EQ(log.lines(),
                 std::vector<std::wstring>{L"couldn't write profile string 'Workstation' in section "
                                           L"'Network' of '" +
                                           folder + L"\\trox_system.ini' error=0x3"});
    });

    Check::run("line breaks, NUL, ']' or '=' in names, overlong values: refused, file kept", [] {
        const std::wstring directory = scratchDirectory();
        const std::wstring path = directory + L"\\xsv.ini";
        const std::string before = "[Network]\r\nWorkstation=5\r\n";
        putContents(path, before);
        const std::wstring bad[][3] = {
            {L"Network", L"Workstation", L"6\r\nAdmin=1"},
            {L"Network", L"Workstation", L"6\n"},
            {L"Network", L"Work\nstation", L"6"},
            {L"Network]\r\n[Other", L"Workstation", L"6"},
            {L"Network", L"Workstation",
             std::wstring(L"6\0"
                          L"7",
                          3)},
            {L"Net]work", L"Workstation", L"6"},
            {L"Net=work", L"Workstation", L"6"},
            {L"Network", L"Work]station", L"6"},
            {L"Network", L"Work=station", L"6"},
            {L"Network", L"Workstation", std::wstring(Win32Store::maximumValueLength + 1, L'6')},
        };
        for (const auto &[section, key, value] : bad) {
            LogCapture log;
            CHECK_EQ(Win32Store::writeProfileString(section, key, value, path), Win32Store::refusedInput);
            CHECK_EQ(Win32Store::writeProfileString(section, key, value, directory + L"\\new.ini"),
                     Win32Store::refusedInput);
            CHECK_EQ(log.lines().size(), std::size_t(2));
            CHECK(!log.lines().empty() && log.lines().front().rfind(L"refused ", 0) == 0);
            CHECK(log.lines().empty() || log.lines().front().find(L'\n') == std::wstring::npos);
        }
        CHECK(contents(path) == before);
        CHECK(!fileExists(directory + L"\\new.ini"));
    });

    Check::run("text the file's encoding cannot hold is not reported as written", [] {
        const std::wstring ansi = scratchDirectory() + L"\\ansi.ini",
                           unicode = scratchDirectory() + L"\\u.ini";
        putContents(ansi, "[Network]\r\nWorkstation=5\r\n");
        putContents(unicode, std::string("\xff\xfe[\0N\0]\0\r\0\n\0", 12));
        const std::wstring text = L"\u65e5\u672c \U0001F600";
        LogCapture log;
        CHECK_EQ(Win32Store::writeProfileString(L"Network", L"Workstation", text, ansi),
                 static_cast<std::uint32_t>(ERROR_NO_UNICODE_TRANSLATION));
        CHECK(contents(ansi) == "[Network]\r\nWorkstation=5\r\n");
        CHECK_EQ(Win32Store::writeProfileString(L"Network", L"Workstation", text, unicode), 0u);
        CHECK_EQ(readKey(L"Network", L"Workstation", unicode), text);
    });

    return Check::result();
}
