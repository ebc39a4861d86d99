#pragma once

#include <cstdint>
#include <string>

// The store's operations over the wide-character Win32 calls, free of Qt so that they can be built
// and tested on their own. Text is UTF-16 as Windows takes it; every failure goes to the log sink.
namespace Win32Store {

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER as numbers; <windows.h> makes those names macros.
inline constexpr std::uint32_t machineRoot = 0x80000002u;
inline constexpr std::uint32_t userRoot = 0x80000001u;
inline constexpr wchar_t machineEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr wchar_t userEnvironmentKey[] = L"Environment";

// Same number as the store interface's ERROR_REFUSED_INPUT: input refused before anything was touched.
inline constexpr std::uint32_t refusedInput = 0x20000001u;

// Windows' limit for one environment variable and for one profile string, in UTF-16 units.
inline constexpr std::size_t maximumValueLength = 32767;

// How long one window may take over one announcement before it is skipped, in milliseconds.
inline constexpr unsigned broadcastTimeoutMs = 5000;

// Receives one debug-log line, without its line break.
using LogSink = void (*)(const std::wstring &line);

// Routes the log lines to the sink; nullptr drops them.
void setLogSink(LogSink sink);

struct VariableResult
{
    enum Where { Nowhere, MachineWide, PerUser };
    Where where = Nowhere;
    std::uint32_t machineError = 0;
    std::uint32_t userError = 0;
};

// Writes one REG_EXPAND_SZ value into an existing key of the root; 0 or the Windows error code.
std::uint32_t setRegistryValue(std::uint32_t root, const std::wstring &subKey, const std::wstring &valueName,
                               const std::wstring &value);

// Reads one variable of the machine key as stored, unexpanded, and whether it is stored expandable
// (as a write stores it); false when it is absent or not text.
bool readMachineVariable(const std::wstring &name, std::wstring &value, bool &expandable);

// Writes a variable machine-wide and, only when that fails, into the current user's environment.
VariableResult setEnvironmentVariable(const std::wstring &name, const std::wstring &value);

// Sets one key of one section of a profile file; 0 or the Windows error code. Text the file's
// encoding cannot hold exactly is not written (ERROR_NO_UNICODE_TRANSLATION).
std::uint32_t writeProfileString(const std::wstring &section, const std::wstring &key,
                                 const std::wstring &value, const std::wstring &fileName);

// Reads one key of a profile file into `value`; false when the file, section or key is absent.
bool readProfileString(const std::wstring &section, const std::wstring &key, const std::wstring &fileName,
                       std::wstring &value);

// True when the process token is elevated, so that machine-wide writes are allowed.
bool isElevated();

// The account the process runs as; empty when Windows does not say.
std::wstring accountName();

// The Windows directory, where a profile file named without a folder lives; empty when Windows does
// not say.
std::wstring windowsDirectory();

// Announces the environment change to every top-level window, six times, each bounded in time.
void broadcastEnvironmentChange();

// The system's short text for an error code returned above.
std::wstring describeError(std::uint32_t code);

} // namespace Win32Store
