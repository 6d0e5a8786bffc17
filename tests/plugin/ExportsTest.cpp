// The module's registration record, read through the loaded module, and the lifetime of the
// one plugin object behind getPlugin and deleteMe.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "Exports.h"
#include "Ravento.h"
#include "orvane/host/Host.h"

namespace {

template <typename T>
T ReadAt(const void* record, std::size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

#if !defined(_WIN32)
// Whether address lies in a writable mapping of this process: initialised data stays writable,
// read-only data and relocated constants (after RELRO) do not. On Windows the section of the
// record is checked in the module's own headers (tests/windows).
bool IsWritableMapping(const void* address)
{
    const auto where = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::uintptr_t begin = 0, end = 0;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " %4s", &begin, &end, permissions) != 3)
            continue;
        if (where >= begin && where < end)
            return permissions[1] == 'w';
    }
    ADD_FAILURE() << "no mapping holds " << address;
    return false;
}
#endif

TEST(ModuleExports, RecordOfTheLoadedModuleHoldsTheDeclaredValuesAtTheirOffsets)
{
    devhost::Host host{devhost::HostOptions{}};
    ASSERT_EQ(host.LoadPluginModule(RAVENTO_MODULE_PATH), std::nullopt);
    const void* record = host.Registration();
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record, static_cast<const void*>(&exports)) << "the record must be the module's own copy";

    // 32-bit fields: the value in the low 4 bytes, zero in the upper 4.
    EXPECT_EQ(ReadAt<std::uint64_t>(record, 0), 95u);
    EXPECT_EQ(ReadAt<std::uint64_t>(record, 40), 1u);

    // The build-time path of the header that declares the plugin class, not of a source file.
    const std::filesystem::path sourceFile = ReadAt<const char*>(record, 8);
    EXPECT_EQ(sourceFile.filename(), "Ravento.h") << sourceFile;
    EXPECT_EQ(sourceFile.parent_path().filename(), "Ravento") << sourceFile;
#if !defined(_WIN32)
    EXPECT_TRUE(IsWritableMapping(record)) << "the record belongs in initialised data, not read-only data";
#endif
    EXPECT_STREQ(ReadAt<const char*>(record, 16), "Ravento");
    EXPECT_STREQ(ReadAt<const char*>(record, 24), "write a plugin description here");
    EXPECT_STREQ(ReadAt<const char*>(record, 32), "1.0");

    // The entry points are the module's: getPlugin hands out the holder of the object the
    // host loaded, and a second call hands out the same one.
    const auto createEntry = ReadAt<Orvane::Plugin::CreatePluginFn>(record, 48);
    const auto releaseEntry = ReadAt<Orvane::Plugin::ReleasePluginFn>(record, 56);
    ASSERT_NE(createEntry, nullptr);
    ASSERT_NE(releaseEntry, nullptr);
    EXPECT_NE(createEntry, &getPlugin);
    std::shared_ptr<Orvane::Plugin::OrvanePlugin>* holder = createEntry();
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->get(), host.Plugin().get());
    EXPECT_EQ(createEntry(), holder);

    // The host finds the window interface of the module's object and draws into it.
    ASSERT_TRUE(host.ExecuteCommand("togglemenu Ravento"));
    EXPECT_TRUE(host.IsWindowOpen());
    EXPECT_NE(host.CaptureFrameText().find("[ Check ]"), std::string::npos);

    host.UnloadPlugin();
    EXPECT_FALSE(host.HasPlugin());
}

TEST(PluginLifetime, OneObjectAtATimeThatLivesWhileAnyoneHoldsIt)
{
    ASSERT_FALSE(pluginHolder);
    deleteMe(); // an empty holder: nothing happens
    EXPECT_FALSE(pluginHolder);

    std::shared_ptr<Orvane::Plugin::OrvanePlugin>* holder = getPlugin();
    ASSERT_EQ(holder, &pluginHolder);
    ASSERT_TRUE(*holder);
    auto* first = static_cast<Ravento*>(holder->get());
    EXPECT_EQ(first->MenuTitle(), "Ravento");
    EXPECT_FALSE(first->rateLimitHit);
    EXPECT_TRUE(first->demosFolder.Get().empty());

    EXPECT_EQ(getPlugin(), holder);
    EXPECT_EQ(holder->get(), first) << "a second getPlugin must not make a second object";
    EXPECT_EQ(holder->use_count(), 1);

    first->rateLimitHit = true;
    first->demosFolder.Set("somewhere");
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> hostCopy = *holder;
    const std::weak_ptr<Orvane::Plugin::OrvanePlugin> watch = hostCopy;

    deleteMe();
    EXPECT_FALSE(pluginHolder);
    EXPECT_FALSE(watch.expired()) << "the host's copy keeps the object alive";
    deleteMe(); // twice: harmless
    EXPECT_FALSE(watch.expired());
    hostCopy.reset();
    EXPECT_TRUE(watch.expired());

    auto* fresh = static_cast<Ravento*>(getPlugin()->get());
    EXPECT_FALSE(fresh->rateLimitHit);
    EXPECT_TRUE(fresh->demosFolder.Get().empty());
    deleteMe();
    EXPECT_FALSE(pluginHolder);
}

} // namespace
