// onLoad as the host sees it: the variable, the one-second timer, the hook, and the module's
// shared console.
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Exports.h"
#include "ModuleConsole.h"
#include "support/DocumentsSandbox.h"
#include "support/PluginHost.h"

namespace {

using testing::ElementsAre;
using testing_support::DocumentsSandbox;
using testing_support::PluginHost;

TEST(LoadSequence, RegistersTheVariableSchedulesOneDiscoveryAndHooksPlayReplay)
{
    DocumentsSandbox sandbox;
    const std::filesystem::path demos = sandbox.Dir().MakeFolder(sandbox.GameFolder() / "Demos");
    PluginHost host;

    const std::optional<devhost::ConsoleVariableInfo> variable = host.Host().Variable("Ravento_DemosFolder");
    ASSERT_TRUE(variable);
    EXPECT_EQ(variable->value, "");
    EXPECT_EQ(variable->defaultValue, "");
    EXPECT_EQ(variable->description, "");
    EXPECT_TRUE(variable->searchable);
    EXPECT_FALSE(variable->hasMin);
    EXPECT_EQ(variable->min, 0.0f);
    EXPECT_FALSE(variable->hasMax);
    EXPECT_EQ(variable->max, 0.0f);
    EXPECT_TRUE(variable->saveToConfig);

    const std::vector<devhost::PendingTimeout> timeouts = host.Host().PendingTimeouts();
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_DOUBLE_EQ(timeouts[0].delaySeconds, 1.0);
    EXPECT_THAT(host.Host().HookedEvents(), ElementsAre("Function TAGame.ReplayManager_TA.PlayReplay"));
    EXPECT_EQ(moduleConsole, host.Plugin().cvarManager);
    EXPECT_THAT(host.Log(), testing::IsEmpty()) << "onLoad logs nothing";

    host.Host().Advance(0.99);
    EXPECT_TRUE(host.Plugin().demosFolder.Get().empty());
    host.Host().Advance(0.01);
    EXPECT_EQ(host.Plugin().demosFolder.Get(), demos);
    EXPECT_TRUE(host.Host().PendingTimeouts().empty());
}

TEST(LoadSequence, ASecondObjectSharesItsConsoleIntoTheModuleAndTheOldOneIsReleased)
{
    DocumentsSandbox sandbox;
    PluginHost host;
    const std::weak_ptr<CVarManagerWrapper> firstConsole = host.Plugin().cvarManager;
    const std::weak_ptr<Orvane::Plugin::OrvanePlugin> firstObject = host.Host().Plugin();

    host.Host().UnloadPlugin();
    EXPECT_TRUE(firstObject.expired());
    EXPECT_EQ(moduleConsole, firstConsole.lock()) << "destroying the object leaves moduleConsole alone";
    const long holdersWithModule = firstConsole.use_count();

    ASSERT_EQ(host.Host().LoadPlugin(exports), std::nullopt);
    EXPECT_NE(host.Host().Plugin(), nullptr);
    EXPECT_EQ(moduleConsole, host.Plugin().cvarManager);
    EXPECT_NE(host.Plugin().cvarManager, firstConsole.lock());
    EXPECT_EQ(firstConsole.use_count(), holdersWithModule - 1) << "the module must let go of the first console";

    // The console outlives the first object and serves the module.
    moduleConsole->log("still usable");
    EXPECT_THAT(host.Log(), ElementsAre("still usable"));
}

} // namespace
