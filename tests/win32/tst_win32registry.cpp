// Environment variables in the real registry of the Wine prefix: what is stored, the per-user
// fallback when the machine key refuses, and input refused before anything is touched.

#include "check.h"
#include "readonlykey.h"

#include <optional>

using Check::LogCapture;
using Lines = std::vector<std::wstring>;

namespace {

const std::wstring machineKey = Win32Store::machineEnvironmentKey;
const std::wstring openMachineDenied =
    L"couldn't open registry path 'HKEY_LOCAL_MACHINE\\'SYSTEM\\CurrentControlSet\\Control\\Session "
    L"Manager\\Environment error=0x5";

struct StoredValue
{
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    std::wstring text; // without its terminating zero
    bool terminated = false;
};

StoredValue readValue(HKEY root, const std::wstring &subKey, const std::wstring &name)
{
    StoredValue stored;
    HKEY key = nullptr;
    stored.status = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (stored.status != ERROR_SUCCESS)
        return stored;
    stored.status = RegQueryValueExW(key, name.c_str(), nullptr, &stored.type, nullptr, &stored.bytes);
    if (stored.status == ERROR_SUCCESS) {
        std::wstring data(stored.bytes / sizeof(wchar_t), L'\0');
        DWORD bytes = stored.bytes;
        stored.status = RegQueryValueExW(key, name.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE *>(data.data()), &bytes);
        stored.terminated = !data.empty() && data.back() == L'\0';
        if (stored.terminated)
            data.pop_back();
        stored.text = data;
    }
    RegCloseKey(key);
    return stored;
}

bool exists(HKEY root, const std::wstring &subKey, const std::wstring &name)
{
    return readValue(root, subKey, name).status == ERROR_SUCCESS;
}

bool nowhere(const std::wstring &name)
{
    return !exists(HKEY_LOCAL_MACHINE, machineKey, name) && !exists(HKEY_CURRENT_USER, L"Environment", name);
}

void putValue(HKEY root, const std::wstring &subKey, const std::wstring &name, const std::wstring &text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Removes a test variable from both environments, before and after each use.
void forget(const std::wstring &name)
{
    if (name.empty())
        return;
    for (const auto &[root, subKey] : {std::pair{HKEY_LOCAL_MACHINE, machineKey},
                                       std::pair{HKEY_CURRENT_USER, std::wstring(L"Environment")}}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, name.c_str());
            RegCloseKey(key);
        }
    }
}

bool writable(HKEY root, const std::wstring &subKey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace

int main()
{
    Check::run("machine-wide values are expandable strings with their terminating zero; per-user kept", [] {
        const std::wstring values[] = {
            L"C:\\TROX",
            L"",
            L"%OV_ROOT%\\systems",
            L"D:\\\u03a3\u03cd\u03c3\u03c4\u03b7\u03bc\u03b1 \u6771\u4eac\u30b7\u30b9\u30c6\u30e0 \U0001F5C4",
            std::wstring(2000, L'x'),
            std::wstring(Win32Store::maximumValueLength, L'x'),
        };
        const std::wstring name = L"TROX_TEST_STORED";
        for (const std::wstring &value : values) {
            forget(name);
            putValue(HKEY_CURRENT_USER, L"Environment", name, L"older per-user value");
            LogCapture log;
            const Win32Store::VariableResult result = Win32Store::setEnvironmentVariable(name, value);
            CHECK_EQ(result.where, Win32Store::VariableResult::MachineWide);
            CHECK_EQ(result.machineError, 0u);
            const StoredValue stored = readValue(HKEY_LOCAL_MACHINE, machineKey, name);
            CHECK_EQ(stored.type, static_cast<DWORD>(REG_EXPAND_SZ));
            CHECK_EQ(stored.bytes, static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
            CHECK(stored.terminated);
            CHECK_EQ(stored.text, value);
            const StoredValue user = readValue(HKEY_CURRENT_USER, L"Environment", name);
            CHECK_EQ(user.type, static_cast<DWORD>(REG_SZ));
            CHECK_EQ(user.text, std::wstring(L"older per-user value"));
            CHECK_EQ(log.lines(), Lines{});
        }
        forget(name);
    });

    Check::run("a missing sub key is not created and its open logged; an existing one is written", [] {
        for (const std::uint32_t root : {Win32Store::machineRoot, Win32Store::userRoot}) {
            LogCapture log;
            const std::uint32_t code = Win32Store::setRegistryValue(
                root, L"Software\\TroxInstEnvTest\\Missing", L"OV_ROOT", L"C:\\TROX");
            CHECK_EQ(code, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
            // Named HKEY_LOCAL_MACHINE whatever the root.
            CHECK_EQ(log.lines(),
                     Lines{L"couldn't open registry path "
                           L"'HKEY_LOCAL_MACHINE\\'Software\\TroxInstEnvTest\\Missing error=0x2"});
            HKEY created = nullptr;
            CHECK_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TroxInstEnvTest", 0, KEY_READ, &created),
                     static_cast<LONG>(ERROR_FILE_NOT_FOUND));
            CHECK_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TroxInstEnvTest", 0, KEY_READ, &created),
                     static_cast<LONG>(ERROR_FILE_NOT_FOUND));
        }
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TroxInstEnvTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr);
        RegCloseKey(key);
        CHECK_EQ(Win32Store::setRegistryValue(Win32Store::userRoot, L"Software\\TroxInstEnvTest",
                                              L"OV_SYSTEM", L"plant"),
                 0u);
        const StoredValue stored = readValue(HKEY_CURRENT_USER, L"Software\\TroxInstEnvTest", L"OV_SYSTEM");
        CHECK_EQ(stored.type, static_cast<DWORD>(REG_EXPAND_SZ));
        CHECK_EQ(stored.text, std::wstring(L"plant"));
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TroxInstEnvTest");
    });

    Check::run("a value the registry will not set is logged with its code at each attempt", [] {
        // Windows takes value names of at most 16383 characters.
        const std::wstring name(16384, L'A');
        LogCapture log;
        const Win32Store::VariableResult result = Win32Store::setEnvironmentVariable(name, L"x");
        CHECK_EQ(result.where, Win32Store::VariableResult::Nowhere);
        CHECK_EQ(result.machineError, static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
        CHECK_EQ(result.userError, static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
        CHECK_EQ(log.lines(),
                 (Lines{L"couldn't set key value '" + name + L"' in registry path 'HKEY_LOCAL_MACHINE\\" +
                            machineKey + L"' error = 0x57",
                        L"couldn't set key value '" + name +
                            L"' in registry path 'HKEY_LOCAL_MACHINE\\Environment' error = 0x57"}));
    });

    Check::run("a refused machine-wide write lands per-user; both refused, the caller is told", [] {
        const std::wstring name = L"TROX_TEST_FALLBACK";
        for (const bool userRefused : {false, true}) {
            forget(name);
            Win32Store::VariableResult result;
            {
                ReadOnlyKey machine(HKEY_LOCAL_MACHINE, machineKey);
                std::optional<ReadOnlyKey> user;
                if (userRefused)
                    user.emplace(HKEY_CURRENT_USER, L"Environment");
                CHECK(machine.applied() && (!user || user->applied()));
                LogCapture log;
                result = Win32Store::setEnvironmentVariable(name, L"%OV_ROOT%\\plant");
                Lines logged{openMachineDenied};
                if (userRefused)
                    logged.push_back(
                        L"couldn't open registry path 'HKEY_LOCAL_MACHINE\\'Environment error=0x5");
                CHECK_EQ(log.lines(), logged);
            }
            CHECK_EQ(result.where,
                     userRefused ? Win32Store::VariableResult::Nowhere : Win32Store::VariableResult::PerUser);
            CHECK_EQ(result.machineError, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
            CHECK_EQ(result.userError, userRefused ? static_cast<std::uint32_t>(ERROR_ACCESS_DENIED) : 0u);
            CHECK(!exists(HKEY_LOCAL_MACHINE, machineKey, name));
            const StoredValue user = readValue(HKEY_CURRENT_USER, L"Environment", name);
            CHECK_EQ(user.status, userRefused ? LONG(ERROR_FILE_NOT_FOUND) : LONG(ERROR_SUCCESS));
            if (!userRefused) {
                CHECK_EQ(user.type, static_cast<DWORD>(REG_EXPAND_SZ));
                CHECK_EQ(user.text, std::wstring(L"%OV_ROOT%\\plant"));
            }
            CHECK(writable(HKEY_LOCAL_MACHINE, machineKey) && writable(HKEY_CURRENT_USER, L"Environment"));
        }
        forget(name);
    });

    Check::run("bad names and line breaks or NUL are refused before anything is touched", [] {
        const std::pair<std::wstring, std::wstring> refused[] = {
            {L"", L"x"},
            {L"1OV_ROOT", L"x"},
            {L"OV-ROOT", L"x"},
            {L"OV ROOT", L"x"},
            {L"OV_R\u00d6OT", L"x"},
            {L"OV_ROOT\nPATH", L"x"},
            {std::wstring(L"OV_ROOT\0X", 9), L"x"},
            {L"TROX_TEST_REFUSED", L"C:\\TROX\nOV_SYSTEM=evil"},
            {L"TROX_TEST_REFUSED", L"C:\\TROX\r"},
            {L"TROX_TEST_REFUSED", std::wstring(L"C:\\TROX\0tail", 12)},
            {L"TROX_TEST_REFUSED", std::wstring(Win32Store::maximumValueLength + 1, L'x')},
        };
        for (const auto &[name, value] : refused) {
            // A fault that let one through must not leave it behind for the next run.
            forget(name);
            forget(L"TROX_TEST_REFUSED");
            LogCapture log;
            const Win32Store::VariableResult result = Win32Store::setEnvironmentVariable(name, value);
            CHECK_EQ(result.where, Win32Store::VariableResult::Nowhere);
            CHECK_EQ(result.machineError, Win32Store::refusedInput);
            CHECK_EQ(result.userError, 0u);
            CHECK(log.lines().size() == 1 && log.lines().front().rfind(L"refused ", 0) == 0 &&
                  log.lines().front().find(L'\n') == std::wstring::npos);
            CHECK(nowhere(name) && nowhere(L"TROX_TEST_REFUSED"));
            CHECK_EQ(Win32Store::setRegistryValue(Win32Store::machineRoot, machineKey, name, value),
                     Win32Store::refusedInput);
            CHECK(nowhere(L"TROX_TEST_REFUSED"));
            forget(name);
            forget(L"TROX_TEST_REFUSED");
        }
    });

    Check::run("errors are described in words", [] {
        const std::wstring denied = Win32Store::describeError(ERROR_ACCESS_DENIED);
        CHECK(!denied.empty() && denied.back() != L'\n' && denied.back() != L'\r');
        CHECK(denied.find(L"0x") == std::wstring::npos);
        CHECK(Win32Store::describeError(Win32Store::refusedInput).find(L"refused") != std::wstring::npos);
        CHECK_EQ(Win32Store::describeError(0x2000BEEFu), std::wstring(L"Error 0x2000BEEF."));
    });

    return Check::result();
}
