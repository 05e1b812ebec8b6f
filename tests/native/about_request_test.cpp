// When a double-click opens the About box.
#include "ui/about_request.h"

#include <gtest/gtest.h>

namespace {

using ui::AboutAction;
using ui::AboutRequests;

TEST(AboutRequests, DoubleClickInsideConnectWaitsForItThenShowsOnce) {
    AboutRequests about;
    EXPECT_EQ(about.OnDoubleClick(/*inConnect=*/true), AboutAction::kWait);
    EXPECT_EQ(about.OnTick(true), AboutAction::kWait);
    EXPECT_EQ(about.OnTick(false), AboutAction::kShow);
    about.Opened();
    EXPECT_EQ(about.OnTick(false), AboutAction::kNone) << "a tick already queued shows nothing";
}

// The box's modal loop dispatches the window's timer: a request still waiting when another
// double-click opened the box must not open a second box inside the first.
TEST(AboutRequests, WaitingRequestThatComesDueWhileTheBoxIsOpenOpensNoSecondBox) {
    AboutRequests about;
    ASSERT_EQ(about.OnDoubleClick(true), AboutAction::kWait);
    ASSERT_EQ(about.OnDoubleClick(false), AboutAction::kShow);
    about.Opened();
    EXPECT_EQ(about.OnTick(false), AboutAction::kNone);
    about.Closed();
    EXPECT_EQ(about.OnTick(false), AboutAction::kNone) << "that request had its box";
}

}  // namespace
