// The version resource of Ravento.dll, read back the way Windows Explorer reads it.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BesideTest.h"

namespace {

class VersionInfo {
public:
    explicit VersionInfo(const std::wstring& file)
    {
        DWORD ignored = 0;
        block.resize(GetFileVersionInfoSizeW(file.c_str(), &ignored));
        loaded = !block.empty() && GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data());
    }

    bool Loaded() const { return loaded; }

    const VS_FIXEDFILEINFO* Fixed() { return static_cast<const VS_FIXEDFILEINFO*>(Query(L"\\")); }

    // A text of the first language listed in the resource's translation table.
    std::wstring Text(const std::wstring& name)
    {
        const auto* translation = static_cast<const WORD*>(Query(L"\\VarFileInfo\\Translation"));
        if (!translation)
            return L"(no translation table)";
        char language[9];
        std::snprintf(language, sizeof language, "%04x%04x", translation[0], translation[1]);
        const std::wstring path = L"\\StringFileInfo\\" + std::wstring(language, language + 8) + L"\\" + name;
        const auto* text = static_cast<const wchar_t*>(Query(path));
        return text ? text : L"(missing)";
    }

private:
    void* Query(const std::wstring& path)
    {
        void* value = nullptr;
        UINT size = 0;
        return VerQueryValueW(block.data(), path.c_str(), &value, &size) && size > 0 ? value : nullptr;
    }

    std::vector<unsigned char> block;
    bool loaded = false;
};

TEST(VersionResource, CarriesVersion1_0_0_109AndTheModuleName)
{
    VersionInfo info(BesideTest(L"Ravento.dll").wstring());
    ASSERT_TRUE(info.Loaded()) << "no version resource, error " << GetLastError();

    const VS_FIXEDFILEINFO* fixed = info.Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    constexpr DWORD major1minor0 = (1u << 16) | 0u;
    constexpr DWORD patch0build109 = (0u << 16) | 109u;
    EXPECT_EQ(fixed->dwFileVersionMS, major1minor0);
    EXPECT_EQ(fixed->dwFileVersionLS, patch0build109);
    EXPECT_EQ(fixed->dwProductVersionMS, major1minor0);
    EXPECT_EQ(fixed->dwProductVersionLS, patch0build109);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    EXPECT_EQ(info.Text(L"InternalName"), L"Ravento.dll");
    EXPECT_EQ(info.Text(L"OriginalFilename"), L"Ravento.dll");
    EXPECT_EQ(info.Text(L"FileVersion"), L"1.0.0.109");
    EXPECT_EQ(info.Text(L"ProductVersion"), L"1.0.0.109");
    EXPECT_EQ(info.Text(L"LegalCopyright"), L"Copyright (c) 2026 The Ravento authors. MIT License.");
}

} // namespace
