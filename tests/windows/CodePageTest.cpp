// The code page the Windows tests run under, and the filesystem code page following the locale
// of the C runtime the process uses: the Universal C runtime (ucrtbase.dll) once the process
// has loaded it, as a host built with a current Microsoft compiler has, else msvcrt.dll.
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Ravento.h"
#include "platform/CodePage.h"
#include "support/CodePageText.h"
#include "support/DocumentsSandbox.h"
#include "support/PluginHost.h"

using namespace plugin;

namespace {

using platform::CodePageProbe;
using platform::SelectFilesystemCodePage;
using testing_support::CodePageText;
using testing_support::DocumentsSandbox;
using testing_support::PathFromCodePage;
using testing_support::PluginHost;

// The suite runs under more than one ANSI code page (cmake/toolchains/wine-run.sh); a run that
// silently fell back to the default would test nothing new.
TEST(CodePageRun, TheProgramsSeeTheAnsiCodePageTheRunAskedFor)
{
    const char* asked = std::getenv("RAVENTO_WINE_CODEPAGE");
    if (asked == nullptr)
        GTEST_SKIP() << "not started through wine-run.sh; running under code page " << ::GetACP();
    EXPECT_EQ(::GetACP(), static_cast<UINT>(std::atoi(asked)));
    EXPECT_TRUE(::AreFileApisANSI());
}

// ucrtbase.dll loaded into the test process, with its own setlocale.
class UniversalRuntime {
public:
    UniversalRuntime() : module(::LoadLibraryW(L"ucrtbase.dll"))
    {
        if (module)
            setLocale = reinterpret_cast<SetLocaleFunction>(
                reinterpret_cast<void (*)()>(::GetProcAddress(module, "setlocale")));
    }
    ~UniversalRuntime()
    {
        if (setLocale)
            setLocale(LC_ALL, "C");
        if (module)
            ::FreeLibrary(module);
    }
    UniversalRuntime(const UniversalRuntime&) = delete;
    UniversalRuntime& operator=(const UniversalRuntime&) = delete;

    bool Loaded() const { return setLocale != nullptr; }
    bool SetLocale(const char* name) { return setLocale(LC_ALL, name) != nullptr; }

private:
    using SetLocaleFunction = char* (*)(int, const char*);
    HMODULE module;
    SetLocaleFunction setLocale = nullptr;
};

// The wide text the ANSI code page makes of bytes, by the system's own conversion.
std::wstring AnsiWide(const std::string& bytes)
{
    std::wstring wide(bytes.size(), L'\0');
    wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(::GetACP(), MB_ERR_INVALID_CHARS, bytes.data(),
                                                               static_cast<int>(bytes.size()), wide.data(),
                                                               static_cast<int>(wide.size()))));
    return wide;
}

class UniversalRuntimeLocale : public testing::Test {
protected:
    void SetUp() override
    {
        if (!runtime.Loaded())
            GTEST_SKIP() << "this system has no ucrtbase.dll with setlocale";
        if (!runtime.SetLocale(".UTF-8"))
            GTEST_SKIP() << "this ucrtbase.dll cannot take a UTF-8 locale; the rule is covered by "
                            "FilesystemCodePageRule";
    }

    UniversalRuntime runtime;
};

TEST_F(UniversalRuntimeLocale, AUtf8LocaleThereMakesTheConversionsUtf8UntilItIsReset)
{
    const CodePageProbe probe = platform::ProbeCodePages();
    EXPECT_TRUE(probe.universalRuntimeLoaded);
    EXPECT_EQ(probe.universalRuntimeLocale, unsigned{CP_UTF8});
    EXPECT_NE(probe.classicRuntimeLocale, unsigned{CP_UTF8}) << "msvcrt.dll's locale is not the one that was set";

    // Characters no single ANSI code page holds together.
    EXPECT_EQ(CodePageText(std::filesystem::path(L"R\u00E9plays \u4E2D")), "R\xC3\xA9plays \xE4\xB8\xAD");
    EXPECT_EQ(PathFromCodePage("\xC3\xA9").native(), L"\u00E9");
    EXPECT_THROW(PathFromCodePage("\xC3"), std::system_error) << "UTF-8 is read strictly too";

    // The same bytes read in the ANSI code page once the locale is back to "C". That tells the
    // two apart only where the ANSI code page reads C3 A9 as two characters (1252, 932), not
    // where it is UTF-8 itself (65001).
    ASSERT_TRUE(runtime.SetLocale("C"));
    const std::wstring ansi = AnsiWide("\xC3\xA9");
    EXPECT_EQ(PathFromCodePage("\xC3\xA9").native(), ansi);
    if (::GetACP() == CP_UTF8)
        GTEST_SKIP() << "the ANSI code page is UTF-8 (65001): C3 A9 is one character in both readings";
    EXPECT_EQ(ansi.size(), 2u) << "both bytes are characters of the ANSI code page";
}

TEST_F(UniversalRuntimeLocale, ANonAsciiFolderTypedInThePanelIsStoredAndFoundThroughUtf8)
{
    DocumentsSandbox sandbox;
    const std::filesystem::path folder = sandbox.Home() / L"R\u00E9plays \u4E2D";
    std::filesystem::create_directory(folder);
    const std::u8string typed = folder.u8string();
    const std::string utf8(typed.begin(), typed.end());

    {
        PluginHost host;
        ASSERT_TRUE(host.Host().ExecuteCommand("togglemenu Ravento"));
        host.Host().RunFrames(3);
        ASSERT_TRUE(host.Host().TypeText(utf8));
        ASSERT_TRUE(host.Host().Click("Check"));
        EXPECT_EQ(host.Plugin().demosFolder.Get(), folder);
        EXPECT_EQ(host.Variable(kDemosFolderVariable), utf8);
        EXPECT_THAT(host.Log(), testing::IsEmpty());
    }

    // The next load reads the stored text back into the same folder.
    PluginHost host;
    host.Plugin().cvarManager->getCvar(kDemosFolderVariable).setValue(utf8);
    host.Host().Advance(1.0);
    EXPECT_EQ(host.Plugin().demosFolder.Get(), folder);
}

TEST(FilesystemCodePageRule, TheLocaleOfTheRuntimeInUseDecidesThenTheFileApiMode)
{
    CodePageProbe probe;
    probe.ansi = 932;
    probe.oem = 437;

    probe.classicRuntimeLocale = CP_UTF8;
    EXPECT_EQ(SelectFilesystemCodePage(probe), unsigned{CP_UTF8}) << "msvcrt.dll alone: its locale counts";
    probe.universalRuntimeLoaded = true;
    EXPECT_EQ(SelectFilesystemCodePage(probe), 932u) << "beside ucrtbase.dll, msvcrt.dll's locale is ignored";
    probe.universalRuntimeLocale = CP_UTF8;
    probe.classicRuntimeLocale = 0;
    EXPECT_EQ(SelectFilesystemCodePage(probe), unsigned{CP_UTF8});
    probe.fileApisAnsi = false;
    EXPECT_EQ(SelectFilesystemCodePage(probe), unsigned{CP_UTF8}) << "UTF-8 comes before the file API mode";

    probe.universalRuntimeLocale = 1252;
    EXPECT_EQ(SelectFilesystemCodePage(probe), 437u);
    probe.fileApisAnsi = true;
    EXPECT_EQ(SelectFilesystemCodePage(probe), 932u);
    probe.universalRuntimeLoaded = false;
    probe.universalRuntimeLocale = CP_UTF8;
    EXPECT_EQ(SelectFilesystemCodePage(probe), 932u) << "a runtime that is not loaded has no say";
}

} // namespace
