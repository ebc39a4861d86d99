#pragma once

// Qt-free, for the Win32 suites and the Qt suites' sandbox alike.

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

// Lets everyone only read a key for as long as it lives. Wine keeps key security in its server's
// memory, which outlives this process in CI, so the old descriptor is always put back.
class ReadOnlyKey
{
public:
    ReadOnlyKey(HKEY root, const std::wstring &subKey)
    {
        if (RegOpenKeyExW(root, subKey.c_str(), 0, WRITE_DAC | READ_CONTROL, &key_) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        if (RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
            return;
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                  &readOnly, nullptr))
            return;
        applied_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
        LocalFree(readOnly);
    }
    ~ReadOnlyKey() { restore(); }
    ReadOnlyKey(const ReadOnlyKey &) = delete;
    ReadOnlyKey &operator=(const ReadOnlyKey &) = delete;

    bool applied() const { return applied_; }
    void restore()
    {
        if (applied_)
            RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
        if (key_)
            RegCloseKey(key_);
        applied_ = false;
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
    std::vector<BYTE> saved_;
    bool applied_ = false;
};
