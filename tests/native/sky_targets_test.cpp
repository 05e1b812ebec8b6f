#include "sky/targets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sky/front.h"
#include "tests/native/decaying_sets.h"

namespace {

using sky::SetUpTargets;
using sky::TargetSetup;

const predict::Station kStation{48.0, 11.0, 500};

// ISS (Celestrak, February 2024), a copy with a wrong checksum (line 5), and the decaying sets
// (DOWN-AT-EPOCH from line 7).
const std::string kFile =
    std::string(
        "ISS (ZARYA)\n"
        "1 25544U 98067A   24043.00684501  .00020902  00000+0  37609-3 0  9997\n"
        "2 25544  51.6406 220.6676 0001921 228.7563 273.9440 15.49783958438989\n"
        "ISS COPY\n"
        "1 25544U 98067A   24043.00684501  .00020902  00000+0  37609-3 0  9990\n"
        "2 25544  51.6406 220.6676 0001921 228.7563 273.9440 15.49783958438989\n") +
    synthetic::kDecayingSets;

TEST(SkyTargetsTest, TakesSatellitesSunAndMoonAndReportsRefusedSets) {
    const TargetSetup setup =
        SetUpTargets({"iss (zarya)", "SUN", "moon"}, "sats.txt", kFile, kStation);
    EXPECT_EQ(setup.error, "");
    ASSERT_EQ(setup.targets.size(), 3u);
    EXPECT_EQ(setup.targets[0].name, "ISS (ZARYA)");
    EXPECT_EQ(setup.targets[1].name, "Sun");
    EXPECT_EQ(setup.targets[2].name, "Moon");
    ASSERT_TRUE(setup.targets[0].elements_epoch);
    EXPECT_FALSE(setup.targets[1].elements_epoch);
    ASSERT_EQ(setup.warnings.size(), 1u);
    EXPECT_EQ(setup.warnings[0].rfind("sats.txt:5: ", 0), 0u) << setup.warnings[0];
    const auto look = setup.targets[0].sky.look(*setup.targets[0].elements_epoch);
    ASSERT_TRUE(look);
    EXPECT_GT(look->range_km, 400);
}

TEST(SkyTargetsTest, FindsASetByTheNamesTrackingProgramsAndCataloguesGiveIt) {
    for (const char* name : {"ISS_(ZARYA)", "zarya", "25544"}) {
        const TargetSetup setup = SetUpTargets({name}, "sats.txt", kFile, kStation);
        ASSERT_EQ(setup.targets.size(), 1u) << name << ": " << setup.error;
        EXPECT_EQ(setup.targets[0].name, "ISS (ZARYA)") << name;
    }
    for (const char* name : {"ZARY", "ISS", "ISS_ZARYA"})
        EXPECT_TRUE(SetUpTargets({name}, "sats.txt", kFile, kStation).targets.empty()) << name;
}

TEST(SkyTargetsTest, ANameNotFoundEndsWithTheNamesThatComeClose) {
    const TargetSetup setup = SetUpTargets({"sun", "ISS"}, "sats.txt", kFile, kStation);
    EXPECT_EQ(setup.error.rfind("no element set named \"ISS\" in sats.txt; names that come close: "
                                "ISS (ZARYA)",
                                0),
              0u)
        << setup.error;
    EXPECT_EQ(SetUpTargets({"XYZZY-42"}, "sats.txt", kFile, kStation).error,
              "no element set named \"XYZZY-42\" in sats.txt; none comes close");
}

TEST(SkyTargetsTest, ASetTheModelRefusesIsSkippedWithAMessage) {
    const TargetSetup at_epoch = SetUpTargets({"DOWN-AT-EPOCH"}, "sats.txt", kFile, kStation);
    EXPECT_EQ(at_epoch.error, "nothing left to track");
    ASSERT_EQ(at_epoch.warnings.size(), 2u);
    EXPECT_EQ(at_epoch.warnings[1].rfind("sats.txt:8: DOWN-AT-EPOCH: the model refuses it (", 0),
              0u)
        << at_epoch.warnings[1];

    // Later on: the tracker says so and carries on without it.
    const TargetSetup soon =
        SetUpTargets({"DOWN-SOON", "ISS (ZARYA)"}, "sats.txt", kFile, kStation);
    ASSERT_EQ(soon.targets.size(), 2u);
    sky::Tracker tracker(soon.targets, {});
    const std::vector<std::string> events = tracker.Advance(*soon.targets[0].elements_epoch);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].rfind("DOWN-SOON: the model fails from 2024-02-12 ", 0), 0u) << events[0];
    EXPECT_EQ(tracker.CurrentStatus().target, "ISS (ZARYA)");
}

TEST(SkyTargetsTest, AnElementFileThatCannotBeReadIsNamed) {
    sky::SkyOptions options;
    options.elementsPath = "/nonexistent/amateur.txt";
    options.station = kStation;
    options.targets = {"ISS (ZARYA)"};
    const TargetSetup setup = sky::LoadTargets(options);
    EXPECT_EQ(setup.error, "cannot read /nonexistent/amateur.txt");
    EXPECT_TRUE(setup.targets.empty());
}

}  // namespace
