// Linked with the tool's own resource script: reads back what Windows will show of the executable
// and what it will take from its manifest. Given a path, reads the same from that executable
// instead (the real trox_inst_env.exe).

#include "check.h"

#include <string>

namespace {

// The executable read, and its resources; nullptr for this program itself.
std::wstring imagePath;
HMODULE image = nullptr;

std::vector<BYTE> versionBlock()
{
    const std::wstring &path = imagePath;
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (block.empty() ||
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        block.clear();
    return block;
}

std::wstring versionString(std::vector<BYTE> &block, const std::wstring &name)
{
    void *value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\080904b0\\" + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0)
        return L"<missing>";
    return std::wstring(static_cast<const wchar_t *>(value), length - 1);
}

BOOL CALLBACK countName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        const std::string path = argv[1];
        imagePath.assign(path.begin(), path.end());
        image = LoadLibraryExW(imagePath.c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (!image) {
            std::printf("cannot read %s\n", argv[1]);
            return 1;
        }
    } else {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        imagePath = path;
    }

    Check::run("version 4.5.0.4, strings in block 080904b0 and translation UK English, Unicode", [] {
        std::vector<BYTE> block = versionBlock();
        if (block.empty())
            return Check::fail(__FILE__, __LINE__, "no version resource");
        void *value = nullptr;
        UINT length = 0;
        CHECK(VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO));
        if (value && length >= sizeof(VS_FIXEDFILEINFO)) {
            const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
            CHECK_EQ(fixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
            CHECK_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(5, 4)));
            CHECK_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(4, 0)));
            CHECK_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(5, 4)));
            CHECK_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(MAKELONG(4, 0)));
            CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
        }
        CHECK(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
        CHECK_EQ(length, UINT(4));
        if (value && length >= 4) {
            CHECK_EQ(static_cast<const WORD *>(value)[0], WORD(0x0809));
            CHECK_EQ(static_cast<const WORD *>(value)[1], WORD(1200));
        }
        CHECK_EQ(versionString(block, L"FileVersion"), std::wstring(L"4.5.0.4"));
        CHECK_EQ(versionString(block, L"ProductVersion"), std::wstring(L"4.5.0.4"));
        CHECK_EQ(versionString(block, L"OriginalFilename"), std::wstring(L"trox_inst_env.exe"));
        CHECK(FindResourceExW(image, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK)) != nullptr);
    });

    Check::run("one manifest, id 1, asking for the invoker's rights without UI access", [] {
        int manifests = 0;
        EnumResourceNamesW(image, RT_MANIFEST, countName, reinterpret_cast<LONG_PTR>(&manifests));
        CHECK_EQ(manifests, 1);
        const HRSRC found = FindResourceExW(image, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID,
                                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK));
        CHECK(found != nullptr);
        if (!found)
            return;
        const auto *bytes = static_cast<const char *>(LockResource(LoadResource(image, found)));
        const std::string manifest(bytes, SizeofResource(image, found));
        CHECK(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>") !=
              std::string::npos);
        CHECK(manifest.find("requireAdministrator") == std::string::npos);
    });

    return Check::result();
}
