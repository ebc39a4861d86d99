#pragma once

// A few lines of harness for the Qt-free Windows tests: named cases, checks that say where and why
// they failed, one PASS or FAIL line per case, and an exit status for ctest.

#include <windows.h>

#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "win32store.h"

namespace Check {

inline int failedCases = 0;
inline bool caseFailed = false;

inline std::string utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

inline std::string show(const std::wstring &text)
{
    return '"' + utf8(text) + '"';
}

inline std::string show(const std::vector<std::wstring> &lines)
{
    std::string shown = "{";
    for (const std::wstring &line : lines)
        shown += "\n        " + show(line);
    return shown + (lines.empty() ? "}" : "\n    }");
}

template <typename T> std::string show(const T &number)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%lld (0x%llX)", static_cast<long long>(number),
                  static_cast<unsigned long long>(number));
    return buffer;
}

inline void fail(const char *file, int line, const std::string &what)
{
    caseFailed = true;
    std::printf("    %s:%d: %s\n", file, line, what.c_str());
}

template <typename T>
void equal(const char *file, int line, const char *expression, const T &actual,
           const std::common_type_t<T> &expected)
{
    if (!(actual == expected))
        fail(file, line, std::string(expression) + " is " + show(actual) + ", expected " + show(expected));
}

// Runs one case and prints its verdict.
template <typename Body> void run(const char *name, Body body)
{
    caseFailed = false;
    body();
    std::printf("%s %s\n", caseFailed ? "FAIL" : "PASS", name);
    std::fflush(stdout);
    if (caseFailed)
        ++failedCases;
}

inline int result()
{
    if (failedCases)
        std::printf("%d case(s) failed\n", failedCases);
    else
        std::printf("all cases passed\n");
    return failedCases ? 1 : 0;
}

// Collects the store's log lines for as long as it lives.
class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        Win32Store::setLogSink(&record);
    }
    ~LogCapture() { Win32Store::setLogSink(nullptr); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static std::vector<std::wstring> &lines()
    {
        static std::vector<std::wstring> captured;
        return captured;
    }

private:
    static void record(const std::wstring &line) { lines().push_back(line); }
};

} // namespace Check

#define CHECK(condition) ((condition) ? (void)0 : Check::fail(__FILE__, __LINE__, "failed: " #condition))
#define CHECK_EQ(actual, expected) Check::equal(__FILE__, __LINE__, #actual, (actual), (expected))
