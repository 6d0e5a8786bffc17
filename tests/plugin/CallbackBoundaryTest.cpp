// What reaches the host console when a callable the host runs throws: one line, whatever the
// error, and nothing at all, not even a crash, once the console is gone.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CallbackBoundary.h"
#include "ModuleConsole.h"
#include "support/PluginHost.h"

using testing_support::PluginHost;

namespace {

using Lines = std::vector<std::string>;

TEST(CallbackBoundary, AnyErrorBecomesOneLogLineAndStaysInside)
{
    PluginHost host;
    EXPECT_TRUE(plugin::ContainErrors("Quiet", [] {}));
    EXPECT_FALSE(plugin::ContainErrors("Reader", [] { throw std::runtime_error("two\nlines\r"); }));
    EXPECT_FALSE(plugin::ContainErrors("Odd", [] { throw 42; }));
    EXPECT_EQ(host.Log(), (Lines{"Reader failed: two lines ", "Odd failed: unknown error"}));

    // After the module released its console there is nowhere to log to.
    std::shared_ptr<CVarManagerWrapper> console = std::move(::moduleConsole);
    EXPECT_FALSE(plugin::ContainErrors("Late", [] { throw std::runtime_error("gone"); }));
    ::moduleConsole = std::move(console);
    EXPECT_EQ(host.Log().size(), 2u);
}

} // namespace
