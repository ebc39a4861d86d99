// Linked into every test that changes machine state: the machine Environment key and its security,
// machine variables, profile files in the Windows directory, the tool's preference key. Such a test
// runs only inside a Wine prefix, which is thrown away afterwards, so running it on a real PC can
// never leave that PC's machine key read-only or its files changed.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// ctest's SKIP_RETURN_CODE for these tests: refused, not failed.
constexpr int refused = 77;

struct WineOnly
{
    WineOnly()
    {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr)
            return;
        std::fprintf(stderr, "refused: this test changes machine state and runs only under Wine\n");
        std::exit(refused);
    }
};

const WineOnly wineOnly;

} // namespace
