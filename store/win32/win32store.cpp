#include "win32store.h"

#include <windows.h>

#include <atomic>

namespace Win32Store {
namespace {

std::atomic<LogSink> logSink{nullptr};

void log(const std::wstring &line)
{
    if (const LogSink sink = logSink.load())
        sink(line);
}

std::wstring hex(std::uint32_t code)
{
    const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    do {
        text.insert(text.begin(), digits[code & 0xF]);
        code >>= 4;
    } while (code != 0);
    return text;
}

// Shows control characters of refused text as escapes so that the log line stays one line.
std::wstring printable(const std::wstring &text)
{
    std::wstring shown;
    for (const wchar_t c : text) {
        if (c == L'\n')
            shown += L"\\n";
        else if (c == L'\r')
            shown += L"\\r";
        else if (c < 0x20)
            shown += L"\\x" + hex(c);
        else
            shown += c;
    }
    return shown;
}

bool hasLineBreakOrNul(const std::wstring &text)
{
    return text.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos;
}

bool isVariableName(const std::wstring &name)
{
    if (name.empty())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
        const bool digit = c >= L'0' && c <= L'9';
        if (!letter && !(digit && i > 0))
            return false;
    }
    return true;
}

// Refuses, with one log line, what would corrupt the registry or another variable.
bool acceptVariable(const std::wstring &subKey, const std::wstring &name, const std::wstring &value)
{
    if (!isVariableName(name)) {
        log(L"refused variable name '" + printable(name) +
            L"': a name is a letter or underscore followed by letters, digits and underscores");
        return false;
    }
    if (hasLineBreakOrNul(subKey) || hasLineBreakOrNul(value)) {
        log(L"refused variable '" + name + L"': its value or key contains a line break or NUL");
        return false;
    }
    if (value.size() > maximumValueLength) {
        log(L"refused variable '" + name + L"': its value is longer than 32767 characters");
        return false;
    }
    return true;
}

// A section or key name holding one of these would be read back as another section or key.
bool isProfileName(const std::wstring &name)
{
    return name.find_first_of(std::wstring(L"]=\r\n\0", 5)) == std::wstring::npos;
}

// The profile API keeps a file that starts with a UTF-16 byte order mark in UTF-16 and writes any
// other file, a new one included, in the ANSI code page, replacing what that cannot hold.
bool fileHolds(const std::wstring &fileName, const std::wstring &text)
{
    std::wstring path = fileName;
    if (fileName.find_first_of(L"\\/") == std::wstring::npos) {
        wchar_t directory[MAX_PATH] = {};
        GetWindowsDirectoryW(directory, MAX_PATH);
        path = std::wstring(directory) + L'\\' + fileName;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        unsigned char mark[2] = {};
        DWORD read = 0;
        const BOOL ok = ReadFile(file, mark, sizeof mark, &read, nullptr);
        CloseHandle(file);
        if (ok && read == 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF)))
            return true;
    }
    if (text.empty())
        return true;
    const auto length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    std::wstring back(text.size() * 2, L'\0');
    back.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, back.data(), static_cast<int>(back.size()))));
    return back == text;
}

HKEY rootKey(std::uint32_t root)
{
    // The predefined roots are sign-extended 32-bit numbers.
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

std::uint32_t writeRegistryValue(std::uint32_t root, const std::wstring &subKey,
                                 const std::wstring &valueName, const std::wstring &value)
{
    // Both messages name HKEY_LOCAL_MACHINE whatever the root, as the tool always has.
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(rootKey(root), subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (opened != ERROR_SUCCESS) {
        log(L"couldn't open registry path 'HKEY_LOCAL_MACHINE\\'" + subKey + L" error=0x" + hex(opened));
        return static_cast<std::uint32_t>(opened);
    }
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LONG set = RegSetValueExW(key, valueName.c_str(), 0, REG_EXPAND_SZ,
                                    reinterpret_cast<const BYTE *>(value.c_str()), bytes);
    if (set != ERROR_SUCCESS) {
        log(L"couldn't set key value '" + valueName + L"' in registry path 'HKEY_LOCAL_MACHINE\\" + subKey +
            L"' error = 0x" + hex(set));
        RegCloseKey(key);
        return static_cast<std::uint32_t>(set);
    }
    RegCloseKey(key);
    return 0;
}

} // namespace

void setLogSink(LogSink sink)
{
    logSink.store(sink);
}

std::uint32_t setRegistryValue(std::uint32_t root, const std::wstring &subKey, const std::wstring &valueName,
                               const std::wstring &value)
{
    if (!acceptVariable(subKey, valueName, value))
        return refusedInput;
    return writeRegistryValue(root, subKey, valueName, value);
}

bool readMachineVariable(const std::wstring &name, std::wstring &value, bool &expandable)
{
    constexpr DWORD text = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    if (RegGetValueW(rootKey(machineRoot), machineEnvironmentKey, name.c_str(), text, &type, nullptr,
                     &bytes) != ERROR_SUCCESS)
        return false;
    std::wstring stored(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(stored.size() * sizeof(wchar_t));
    if (RegGetValueW(rootKey(machineRoot), machineEnvironmentKey, name.c_str(), text, &type, stored.data(),
                     &bytes) != ERROR_SUCCESS)
        return false;
    stored.resize(bytes / sizeof(wchar_t));
    while (!stored.empty() && stored.back() == L'\0')
        stored.pop_back();
    value = stored;
    expandable = type == REG_EXPAND_SZ;
    return true;
}

VariableResult setEnvironmentVariable(const std::wstring &name, const std::wstring &value)
{
    VariableResult result;
    if (!acceptVariable(machineEnvironmentKey, name, value)) {
        result.machineError = refusedInput;
        return result;
    }
    result.machineError = writeRegistryValue(machineRoot, machineEnvironmentKey, name, value);
    if (result.machineError == 0) {
        result.where = VariableResult::MachineWide;
        return result;
    }
    result.userError = writeRegistryValue(userRoot, userEnvironmentKey, name, value);
    if (result.userError == 0)
        result.where = VariableResult::PerUser;
    return result;
}

std::uint32_t writeProfileString(const std::wstring &section, const std::wstring &key,
                                 const std::wstring &value, const std::wstring &fileName)
{
    if (hasLineBreakOrNul(section) || hasLineBreakOrNul(key) || hasLineBreakOrNul(value) ||
        hasLineBreakOrNul(fileName)) {
        log(L"refused profile string '" + printable(key) + L"' in section '" + printable(section) +
            L"' of '" + printable(fileName) + L"': a line break or NUL would break the file");
        return refusedInput;
    }
    if (!isProfileName(section) || !isProfileName(key) || value.size() > maximumValueLength) {
        log(L"refused profile string '" + key + L"' in section '" + section + L"' of '" + fileName +
            L"': a name holds ']' or '=', or the value is longer than 32767 characters");
        return refusedInput;
    }
    if (!fileHolds(fileName, section + key + value)) {
        log(L"couldn't write profile string '" + key + L"' in section '" + section + L"' of '" + fileName +
            L"': the file's encoding cannot hold the text error=0x" + hex(ERROR_NO_UNICODE_TRANSLATION));
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    if (WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), fileName.c_str()))
        return 0;
    const DWORD error = GetLastError();
    log(L"couldn't write profile string '" + key + L"' in section '" + section + L"' of '" + fileName +
        L"' error=0x" + hex(error));
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

bool readProfileString(const std::wstring &section, const std::wstring &key, const std::wstring &fileName,
                       std::wstring &value)
{
    // No value can hold a line break, so a line break as the default tells an absent key apart.
    const wchar_t absent[] = L"\n";
    std::wstring buffer(256, L'\0');
    for (;;) {
        const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), absent, buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), fileName.c_str());
        if (length + 1 < buffer.size() || buffer.size() >= 65536) {
            buffer.resize(length);
            break;
        }
        buffer.assign(buffer.size() * 4, L'\0');
    }
    if (buffer == absent)
        return false;
    value = buffer;
    return true;
}

bool isElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

std::wstring accountName()
{
    wchar_t name[257] = {};
    DWORD size = 257;
    return GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

std::wstring windowsDirectory()
{
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(directory, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(directory, length) : std::wstring();
}

void broadcastEnvironmentChange()
{
    // SMTO_ABORTIFHUNG skips a window that stopped pumping messages instead of waiting on it forever.
    // Each announcement twice, as the tool always has: the user's, a bare one, the machine's.
    const wchar_t *const parameters[] = {
        userEnvironmentKey,    userEnvironmentKey,    nullptr, nullptr,
        machineEnvironmentKey, machineEnvironmentKey,
    };
    for (const wchar_t *parameter : parameters) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(parameter),
                            SMTO_ABORTIFHUNG, broadcastTimeoutMs, &answer);
    }
}

std::wstring describeError(std::uint32_t code)
{
    if (code == refusedInput)
        return L"The name or value was refused: a variable name is a letter or underscore followed by "
               L"letters, digits and underscores, no text may hold a line break or a NUL, a section or "
               L"key name no ']' or '=', and a value is at most 32767 characters of text read back "
               L"exactly (no tabs or other control characters, no Unicode noncharacters, no half "
               L"surrogate pairs).";
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text;
    if (buffer) {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text.empty() ? L"Error 0x" + hex(code) + L"." : text;
}

} // namespace Win32Store
