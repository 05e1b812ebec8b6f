#include "feed/relay_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kelmafeed::Publication;
using kelmafeed::RelayState;

constexpr char kFo29[] = "SNFO-29 AZ56.7 EL6.8 UP145951275 UMLSB DN435853062 DMUSB MA52.6";

TEST(RelayStateTest, FirstPositionPublishesTheNameThenTheAngles) {
    RelayState state;
    const Publication first = state.OnText(kFo29);
    EXPECT_EQ(first.satelliteName, "FO-29");
    EXPECT_EQ(first.azel, "57|7");
    EXPECT_EQ(state.Published(), 1u);
}

TEST(RelayStateTest, OnlyWhatChangedInWholeDegreesIsPublished) {
    RelayState state;
    state.OnText("SNISS AZ182.1 EL36.3");
    EXPECT_TRUE(state.OnText("SNISS AZ181.6 EL35.8").Empty());  // still 182|36
    const Publication moved = state.OnText("SNISS AZ182.6 EL35.8");
    EXPECT_EQ(moved.satelliteName, std::nullopt);
    EXPECT_EQ(moved.azel, "183|36");
    const Publication renamed = state.OnText("SNAO-7 AZ182.6 EL35.8");
    EXPECT_EQ(renamed.satelliteName, "AO-7");
    EXPECT_EQ(renamed.azel, std::nullopt);
    EXPECT_EQ(state.Received(), 4u);
    EXPECT_EQ(state.Published(), 3u);
}

TEST(RelayStateTest, NothingTrackedPublishesNothingAndKeepsTheLastPosition) {
    RelayState state;
    state.OnText("SNISS AZ182 EL36");
    EXPECT_TRUE(state.OnText("** NO SATELLITE **").Empty());
    EXPECT_TRUE(state.OnText("").Empty());
    EXPECT_TRUE(state.NothingTracked());
    EXPECT_EQ(state.LastPosition()->azimuth, 182);
    EXPECT_EQ(state.LastSatellite(), "ISS");
    // The same satellite coming back where it was left changes nothing either.
    EXPECT_TRUE(state.OnText("SNISS AZ182 EL36").Empty());
    EXPECT_FALSE(state.NothingTracked());
    EXPECT_EQ(state.Received(), 4u);
    EXPECT_EQ(state.Published(), 1u);
    EXPECT_EQ(state.Garbled(), 0u);
}

TEST(RelayStateTest, GarbledTextChangesNothingAndIsCounted) {
    RelayState state;
    state.OnText("SNISS AZ182 EL36");
    state.OnText("** NO SATELLITE **");
    EXPECT_TRUE(state.OnText("SNISS AZ999 EL36").Empty());
    EXPECT_TRUE(state.OnText("\xff\xfe junk").Empty());
    EXPECT_EQ(state.Garbled(), 2u);
    EXPECT_EQ(state.Received(), 4u);
    EXPECT_TRUE(state.NothingTracked()) << "a garbled text is no news about the satellite";
    EXPECT_EQ(state.LastPosition()->elevation, 36);
}

TEST(RelayStateTest, NameIsCutToWhatTheWindowKeeps) {
    RelayState state;
    const std::string name(40, 'N');
    EXPECT_EQ(state.OnText("SN" + name + " AZ1 EL2").satelliteName, std::string(31, 'N'));
    // A source without names never publishes one.
    RelayState nameless;
    EXPECT_EQ(nameless.OnText("AZ1 EL2").satelliteName, std::nullopt);
}

TEST(RelayStateTest, PositionsFromTheNetworkPublishAlike) {
    RelayState state;
    EXPECT_EQ(state.OnPosition({180, 30}, std::nullopt).azel, "180|30");
    EXPECT_TRUE(state.OnPosition({180, 30}, std::nullopt).Empty());
    EXPECT_EQ(state.OnPosition({0, -5}, std::nullopt).azel, "0|-5");
}

TEST(RelayStateTest, AHeldPositionPublishesTheNameAndAPlannedOneIsNotCountedAsReceived) {
    RelayState state;
    // A planned pass that has not begun: the source's update names the satellite, nothing more.
    const Publication held = state.OnHeldPosition(std::string("SO-50"));
    EXPECT_EQ(held.satelliteName, "SO-50");
    EXPECT_EQ(held.azel, std::nullopt);
    EXPECT_FALSE(state.LastPosition());
    // The plan's own positions between the source's updates.
    EXPECT_EQ(state.OnPlannedPosition(rotator::Position{200, 178}, std::nullopt).azel, "200|178");
    EXPECT_TRUE(state.OnPlannedPosition(rotator::Position{200, 178}, std::nullopt).Empty());
    EXPECT_TRUE(state.OnPlannedPosition(std::nullopt, std::string("SO-50")).Empty());
    EXPECT_EQ(state.Received(), 1u);
    EXPECT_EQ(state.Published(), 2u);
    EXPECT_EQ(state.LastPosition(), (rotator::Position{200, 178}));
}

TEST(RelayStateTest, StatusLineShowsSourceSatellitePositionAndCounts) {
    RelayState state;
    EXPECT_EQ(kelmafeed::StatusLine("Orbitron", false, state),
              "Orbitron: waiting | no position yet | received 0, published 0, garbled 0");
    state.OnText("SNISS_ZARYA AZ182.1 EL36.3 DN145800000 UP145800000 UMFM-N");
    state.OnText("AZ");
    EXPECT_EQ(kelmafeed::StatusLine("Orbitron", true, state),
              "Orbitron: connected | ISS_ZARYA az 182 el 36 | received 2, published 1, garbled 1");
    state.OnText("");
    EXPECT_EQ(kelmafeed::StatusLine("SatPC32", true, state),
              "SatPC32: connected | nothing tracked (last: ISS_ZARYA az 182 el 36) | received 3, "
              "published 1, garbled 1");
}

}  // namespace
