// Ravento.dll as the host sees it: the registration record read through GetProcAddress, the
// module's export table read from the loaded image, and its link time and checksum against its file.
#include <windows.h>

#include <bcrypt.h>
#include <imagehlp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BesideTest.h"
#include "orvane/OrvanePlugin.h"

namespace {

class RaventoModule : public testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryW(BesideTest(L"Ravento.dll").c_str());
        ASSERT_NE(module, nullptr) << "LoadLibrary(Ravento.dll) failed with " << GetLastError();
    }

    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }

    const IMAGE_NT_HEADERS64& Headers() const
    {
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
        return *reinterpret_cast<const IMAGE_NT_HEADERS64*>(Image() + dos->e_lfanew);
    }

    const unsigned char* Image() const { return reinterpret_cast<const unsigned char*>(module); }

    bool InsideImage(std::uintptr_t address) const
    {
        const auto base = reinterpret_cast<std::uintptr_t>(module);
        return address >= base && address < base + Headers().OptionalHeader.SizeOfImage;
    }

    // The section header of the image section that holds address, or null.
    const IMAGE_SECTION_HEADER* SectionHolding(const void* address) const
    {
        const auto offset = static_cast<DWORD>(static_cast<const unsigned char*>(address) - Image());
        const IMAGE_NT_HEADERS64& headers = Headers();
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&headers);
        for (WORD i = 0; i < headers.FileHeader.NumberOfSections; ++i, ++section) {
            if (offset >= section->VirtualAddress && offset < section->VirtualAddress + section->Misc.VirtualSize)
                return section;
        }
        return nullptr;
    }

    std::set<std::string> ExportedNames() const
    {
        const IMAGE_DATA_DIRECTORY& directory = Headers().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        const auto* exportDirectory =
            reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Image() + directory.VirtualAddress);
        const auto* nameAddresses = reinterpret_cast<const DWORD*>(Image() + exportDirectory->AddressOfNames);
        std::set<std::string> names;
        for (DWORD i = 0; i < exportDirectory->NumberOfNames; ++i)
            names.insert(reinterpret_cast<const char*>(Image() + nameAddresses[i]));
        return names;
    }

    HMODULE module = nullptr;
};

std::string SectionName(const IMAGE_SECTION_HEADER& section)
{
    const auto* name = reinterpret_cast<const char*>(section.Name);
    return std::string(name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME));
}

// The SHA-256 of bytes, through the system's own implementation; all zeros if it fails.
std::array<unsigned char, 32> Sha256(const std::string& bytes)
{
    std::array<unsigned char, 32> digest{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
        BCryptHash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                   static_cast<ULONG>(bytes.size()), digest.data(), static_cast<ULONG>(digest.size()));
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return digest;
}

// Reads the record byte by byte at the documented offsets, independent of any struct layout.
class RecordBytes {
public:
    explicit RecordBytes(const void* record) : bytes(static_cast<const unsigned char*>(record)) {}

    std::uint32_t Word(std::size_t offset) const { return Read<std::uint32_t>(offset); }
    std::uintptr_t Pointer(std::size_t offset) const { return Read<std::uintptr_t>(offset); }
    const char* Text(std::size_t offset) const { return reinterpret_cast<const char*>(Pointer(offset)); }

private:
    template <typename T>
    T Read(std::size_t offset) const
    {
        T value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    }

    const unsigned char* bytes;
};

TEST_F(RaventoModule, RegistrationRecordHoldsTheDeclaredValuesAndEntryPoints)
{
    const void* exports = reinterpret_cast<const void*>(GetProcAddress(module, "exports"));
    ASSERT_NE(exports, nullptr);
    const RecordBytes record(exports);

    EXPECT_EQ(record.Word(0), 95u);
    EXPECT_EQ(record.Word(4), 0u);
    // The build-time path of the header that declares the plugin class.
    const std::filesystem::path sourceFile = record.Text(8);
    EXPECT_EQ(sourceFile.filename(), "Ravento.h") << sourceFile;
    EXPECT_EQ(sourceFile.parent_path().filename(), "Ravento") << sourceFile;
    EXPECT_STREQ(record.Text(16), "Ravento");
    EXPECT_STREQ(record.Text(24), "write a plugin description here");
    EXPECT_STREQ(record.Text(32), "1.0");
    EXPECT_EQ(record.Word(40), 1u);
    EXPECT_EQ(record.Word(44), 0u);
    EXPECT_EQ(record.Pointer(48), reinterpret_cast<std::uintptr_t>(GetProcAddress(module, "getPlugin")));
    EXPECT_EQ(record.Pointer(56), reinterpret_cast<std::uintptr_t>(GetProcAddress(module, "deleteMe")));

    // Every pointer is an address of this module as loaded: the loader relocated them all.
    EXPECT_TRUE(InsideImage(reinterpret_cast<std::uintptr_t>(exports)));
    for (std::size_t offset : {8, 16, 24, 32, 48, 56})
        EXPECT_TRUE(InsideImage(record.Pointer(offset))) << "pointer at offset " << offset;
}

TEST_F(RaventoModule, TheRecordLivesInInitialisedDataAndItsTextsInReadOnlyData)
{
    const void* exports = reinterpret_cast<const void*>(GetProcAddress(module, "exports"));
    ASSERT_NE(exports, nullptr);
    const IMAGE_SECTION_HEADER* section = SectionHolding(exports);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(SectionName(*section), ".data");
    EXPECT_TRUE(section->Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA);
    EXPECT_TRUE(section->Characteristics & IMAGE_SCN_MEM_WRITE);

    const RecordBytes record(exports);
    for (std::size_t offset : {8, 16, 24, 32}) {
        const IMAGE_SECTION_HEADER* textSection = SectionHolding(record.Text(offset));
        ASSERT_NE(textSection, nullptr) << "text at offset " << offset;
        EXPECT_FALSE(textSection->Characteristics & IMAGE_SCN_MEM_WRITE)
            << "text at offset " << offset << " lies in " << SectionName(*textSection);
    }
}

TEST_F(RaventoModule, EntryPointsFromTheRecordCreateAndReleaseThePlugin)
{
    const RecordBytes record(reinterpret_cast<const void*>(GetProcAddress(module, "exports")));
    using Holder = std::shared_ptr<Orvane::Plugin::OrvanePlugin>;
    const auto getPlugin = reinterpret_cast<Holder* (*)()>(record.Pointer(48));
    const auto deleteMe = reinterpret_cast<void (*)()>(record.Pointer(56));

    Holder* holder = getPlugin();
    ASSERT_NE(holder, nullptr);
    ASSERT_NE(holder->get(), nullptr);
    EXPECT_EQ(getPlugin(), holder);
    EXPECT_EQ(holder->get()->cvarManager, nullptr);
    EXPECT_EQ(holder->get()->gameWrapper, nullptr);

    deleteMe();
    EXPECT_EQ(holder->get(), nullptr);
    deleteMe(); // an empty holder: nothing happens
}

// Not zero, which tells no build from another, but the first four bytes of the SHA-256 of the
// module's file with the stamp and the checksum zeroed: distinct per build, the same for two
// builds of one commit. The checksum, which covers the stamp, is Windows' own for the file.
TEST_F(RaventoModule, LinkTimeIsAHashOfTheModulesContentAndTheChecksumCoversIt)
{
    const DWORD stamp = Headers().FileHeader.TimeDateStamp;
    EXPECT_NE(stamp, 0u);

    std::ifstream file(BesideTest(L"Ravento.dll"), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t headers = reinterpret_cast<const IMAGE_DOS_HEADER*>(module)->e_lfanew;
    for (const std::size_t field : {offsetof(IMAGE_NT_HEADERS64, FileHeader.TimeDateStamp),
                                    offsetof(IMAGE_NT_HEADERS64, OptionalHeader.CheckSum)}) {
        ASSERT_GT(bytes.size(), headers + field + sizeof(DWORD));
        std::memset(bytes.data() + headers + field, 0, sizeof(DWORD));
    }
    DWORD hashed = 0;
    std::memcpy(&hashed, Sha256(bytes).data(), sizeof hashed);
    EXPECT_EQ(stamp, hashed);

    DWORD inHeader = 0;
    DWORD computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(BesideTest(L"Ravento.dll").c_str(), &inHeader, &computed), CHECKSUM_SUCCESS);
    EXPECT_NE(inHeader, 0u);
    EXPECT_EQ(inHeader, computed) << std::hex << "header 0x" << inHeader << ", computed 0x" << computed;
}

TEST_F(RaventoModule, ExportsThePlainEntryPointsAndThePluginBaseAndNothingElse)
{
    const std::set<std::string> names = ExportedNames();

    const std::string base = "_ZN6Orvane6Plugin12OrvanePlugin";
    const std::set<std::string> required = {
        "exports",
        "getPlugin",
        "deleteMe",
        base + "C1Ev", // default constructor
        base + "C1ERKS1_", // copy constructor
        base + "C1EOS1_", // move constructor
        base + "D1Ev", // destructor
        base + "aSERKS1_", // copy assignment
        base + "aSEOS1_", // move assignment
        base + "6onLoadEv",
        base + "8onUnloadEv",
        "_ZTVN6Orvane6Plugin12OrvanePluginE", // virtual table
    };
    for (const std::string& name : required)
        EXPECT_TRUE(names.contains(name)) << name << " is not exported";

    // Nothing of Dear ImGui, fmt, the C++ runtime or the plugin's own code leaks out.
    const std::set<std::string> pluginBaseTables = {"_ZTVN6Orvane6Plugin12OrvanePluginE",
                                                    "_ZTIN6Orvane6Plugin12OrvanePluginE",
                                                    "_ZTSN6Orvane6Plugin12OrvanePluginE"};
    for (const std::string& name : names) {
        const bool allowed = required.contains(name) || pluginBaseTables.contains(name) || name.starts_with(base);
        EXPECT_TRUE(allowed) << name << " is exported but should not be";
    }
}

} // namespace
