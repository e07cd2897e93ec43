// Start-up in hosts that lack one of their functions. Built twice: against a host without
// _QPAJisToSjis@12 and against one without _QPARegistCallback@8.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "hostsim/host_sim.h"
#include "tests/plugin/plugin_harness.h"

#if defined(HOST_VARIANT_lacks_jis)

TEST(PluginStartUp, ReturnsOneAndStillRegistersWhenOnlyTheLastFunctionIsMissing)
{
    // The harness has started the plug-in; the binding failed at the last name.
    const hostsim::Plugin& plugin = e2e::Plugin();
    ASSERT_TRUE(plugin.module);
    EXPECT_EQ(1, plugin.StartUp(0));
    EXPECT_EQ(4u, hostsim::Registrations().size());  // two per start-up
}

#elif defined(HOST_VARIANT_lacks_regist)

TEST(PluginStartUp, ReturnsOneAndRegistersNothingWithoutTheRegistrationFunction)
{
    const hostsim::Plugin& plugin = e2e::Plugin();
    ASSERT_TRUE(plugin.module);
    EXPECT_EQ(1, plugin.StartUp(0));
    EXPECT_TRUE(hostsim::Registrations().empty());
    EXPECT_EQ(0, hostsim::CallCount("_QPARegistCallback@8"));
}

TEST(PluginStartUp, AUtf8MailWithoutRegistrationShowsNoDeadToggle)
{
    e2e::Plugin();
    hostsim::ViewWindow view = e2e::CreateAnnouncedView();
    int buttons = e2e::ButtonCount(view.toolbar);
    std::string path = e2e::WriteMailFile(
        "utf8.eml", "Content-Type: text/plain; charset=utf-8\r\n\r\n\xC3\xA9\r\n");
    hostsim::LoadMailIntoView(e2e::Plugin(), view, path.c_str());
    hostsim::PumpMessages();
    // The button exists but has no command to send, so it stays hidden.
    ASSERT_EQ(buttons + 2, e2e::ButtonCount(view.toolbar));
    TBBUTTON toggle = e2e::ToggleButton(view.toolbar);
    EXPECT_EQ(0, toggle.idCommand);
    EXPECT_TRUE(toggle.fsState & TBSTATE_HIDDEN);
    EXPECT_TRUE(IsWindowVisible(view.hostPane));
    DestroyWindow(view.frame);
}

#endif
