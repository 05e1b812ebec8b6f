#include "kelmarotd/station.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using kelmarotd::ClientId;
using kelmarotd::Millis;
using kelmarotd::ParseRequest;
using kelmarotd::Station;

// Records every write with its time; polls ("A\r\n", "E\r\n") apart from the commands.
class FakePort : public kelmarotd::ControllerPort {
public:
    bool IsOpen() const override { return open; }
    bool Write(std::string_view bytes) override {
        if (!open || failWrites) return open = false;
        const std::string text(bytes);
        (text == "A\r\n" || text == "E\r\n" ? polls : commands).push_back({now, text});
        return true;
    }

    bool open = true;
    bool failWrites = false;
    Millis now = 0;
    std::vector<std::pair<Millis, std::string>> commands;
    std::vector<std::pair<Millis, std::string>> polls;
};

class StationTest : public ::testing::Test {
protected:
    explicit StationTest(kelmarotd::StationSettings settings = {})
        : station_(settings, &port_, [this](ClientId id, const std::string& text) {
              answers_.push_back({id, text});
          }) {
        station_.OnPortOpened(0);
    }

    void At(Millis now) {
        port_.now = now;
        station_.Advance(now);
    }
    void Send(ClientId client, const char* line) {
        station_.Submit(client, ParseRequest(line), port_.now);
    }
    void Report(const char* bytes) { station_.OnControllerBytes(bytes, port_.now); }
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        for (const auto& c : port_.commands) out.push_back(c.second);
        return out;
    }
    using Answers = std::vector<std::pair<ClientId, std::string>>;

    FakePort port_;
    Answers answers_;
    Station station_;
};

TEST_F(StationTest, SetPositionRoundsAndSendsElevationOneHundredMsAfterAzimuth) {
    Send(1, "P 45.4 9.5");
    EXPECT_EQ(Commands(), std::vector<std::string>{"A\r\n045\r\n"});
    EXPECT_EQ(answers_, (Answers{{1, "RPRT 0\n"}}));  // when accepted, not after the pause
    EXPECT_EQ(station_.NextDeadline(), Millis{100});
    At(99);
    EXPECT_EQ(port_.commands.size(), 1u);
    At(100);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"A\r\n045\r\n", "E\r\n010\r\n"}));
    EXPECT_EQ(answers_.size(), 1u);
}

TEST_F(StationTest, OnlyAChangedAxisIsCommandedUntilAStop) {
    Send(1, "P 45 10");
    At(100);
    Send(1, "P 45 20");  // azimuth unchanged: elevation at once
    Send(1, "P 46 20");  // elevation unchanged
    Send(1, "P 46 20");  // nothing changed: nothing sent
    EXPECT_EQ(Commands(), (std::vector<std::string>{"A\r\n045\r\n", "E\r\n010\r\n", "E\r\n020\r\n",
                                                    "A\r\n046\r\n"}));
    Send(1, "S");
    At(200);
    Send(1, "P 46 20");  // after a stop the same angles move the axes again
    At(300);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"A\r\n045\r\n", "E\r\n010\r\n", "E\r\n020\r\n",
                                                    "A\r\n046\r\n", "A\r\nS\r\n", "E\r\nS\r\n",
                                                    "A\r\n046\r\n", "E\r\n020\r\n"}));
    EXPECT_EQ(port_.commands[5].first, 200);
    EXPECT_EQ(answers_.size(), 6u);
}

TEST_F(StationTest, AnglesOutsideTheRangesAreInvalidArguments) {
    for (const char* line : {"P -0.6 0", "P 360.5 0", "P 0 -1", "P 0 180.5", "P 1e300 0"})
        Send(1, line);
    EXPECT_TRUE(port_.commands.empty());
    EXPECT_EQ(answers_, Answers(5, {1, "RPRT -1\n"}));
    answers_.clear();
    Send(1, "P 360.4 -0.4");  // round to the ends of the ranges
    At(100);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"A\r\n360\r\n", "E\r\n000\r\n"}));
}

TEST_F(StationTest, RequestsOfSeveralClientsAreAnsweredAtOnceAndReachTheControllerInOrder) {
    Send(1, "P 10 10");
    Send(2, "P 20 20");
    Send(3, "S");
    EXPECT_EQ(answers_, (Answers{{1, "RPRT 0\n"}, {2, "RPRT 0\n"}, {3, "RPRT 0\n"}}));
    At(100);
    At(200);
    At(300);
    EXPECT_EQ(port_.commands, (std::vector<std::pair<Millis, std::string>>{{0, "A\r\n010\r\n"},
                                                                           {100, "E\r\n010\r\n"},
                                                                           {100, "A\r\n020\r\n"},
                                                                           {200, "E\r\n020\r\n"},
                                                                           {200, "A\r\nS\r\n"},
                                                                           {300, "E\r\nS\r\n"}}));
    EXPECT_EQ(answers_.size(), 3u);
}

// Gpredict's Disengage: its window's thread sends S while the position thread polls with p on the
// same socket; each must have its answer before the other's request is answered.
TEST_F(StationTest, StopDuringTheAzimuthPauseIsAnsweredAtOnceAndTheAxesKeepTheirPacing) {
    Report("AZP 123.0 ST\r\nELP 045.0 ST\r\n");
    Send(1, "P 180 30");
    At(50);
    Send(1, "S");
    EXPECT_EQ(answers_, (Answers{{1, "RPRT 0\n"}, {1, "RPRT 0\n"}}));
    Send(1, "p");
    EXPECT_EQ(answers_.back(), (std::pair<ClientId, std::string>{1, "123.000000\n45.000000\n"}));
    At(100);
    At(200);
    EXPECT_EQ(
        port_.commands,
        (std::vector<std::pair<Millis, std::string>>{
            {0, "A\r\n180\r\n"}, {100, "E\r\n030\r\n"}, {100, "A\r\nS\r\n"}, {200, "E\r\nS\r\n"}}));
}

// What a client that sends without waiting can make the station hold.
TEST_F(StationTest, AClientHasAtMostOneAcceptedCommandWaitingBehindTheOneOnTheLine) {
    Send(1, "P 10 10");  // on the line
    Send(1, "P 20 20");  // accepted, waiting
    Send(1, "P 30 30");  // held unanswered
    EXPECT_EQ(answers_.size(), 2u);
    At(100);  // the first is done and the second on the line: the third is accepted
    EXPECT_EQ(answers_.size(), 3u);
    At(200);
    At(300);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"A\r\n010\r\n", "E\r\n010\r\n", "A\r\n020\r\n",
                                        "E\r\n020\r\n", "A\r\n030\r\n", "E\r\n030\r\n"}));
}

TEST_F(StationTest, ADepartedClientsAcceptedCommandsStillReachTheControllerItsOthersDoNot) {
    Send(1, "P 10 10");
    Send(1, "K");        // accepted: it was answered, so it is carried out
    Send(1, "P 30 30");  // not yet accepted: dropped
    Send(2, "P 20 20");
    station_.ForgetClient(1);
    At(100);
    At(200);
    At(300);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"A\r\n010\r\n", "E\r\n010\r\n", "A\r\n000\r\n",
                                        "E\r\n000\r\n", "A\r\n020\r\n", "E\r\n020\r\n"}));
    EXPECT_EQ(answers_, (Answers{{1, "RPRT 0\n"}, {1, "RPRT 0\n"}, {2, "RPRT 0\n"}}));
}

TEST_F(StationTest, AGetPositionWaitingForReportsHoldsNoCommandUp) {
    Send(1, "p");  // no report yet: it waits up to 1.5 s
    Send(2, "P 20 20");
    EXPECT_EQ(Commands(), std::vector<std::string>{"A\r\n020\r\n"});
    At(100);
    EXPECT_EQ(answers_, (Answers{{2, "RPRT 0\n"}}));
    station_.ForgetClient(1);  // gone while waiting: never answered
    Report("AZP 020.0 MV\r\nELP 000.0 MV\r\n");
    At(1500);
    EXPECT_EQ(answers_, (Answers{{2, "RPRT 0\n"}}));
}

TEST_F(StationTest, GetPositionAnswersWithReportsAtMostTwoSecondsOld) {
    Send(1, "p");  // no report yet: it waits, polling
    EXPECT_EQ(port_.polls.back().second, "A\r\n");
    Report("AZP 045.0 ST\r\nELP 0");
    Report("10.4 MV\r\n");
    EXPECT_EQ(answers_, (Answers{{1, "45.000000\n10.000000\n"}}));
    At(1000);
    Report("AZP 045.0 ST\r\n");
    At(2000);
    Send(1, "p");  // the elevation report is exactly 2 s old: still good
    At(2001);
    Send(1, "+\\get_pos");  // now it is too old: the elevation is polled and awaited
    EXPECT_EQ(answers_.size(), 2u);
    EXPECT_EQ(port_.polls.back(), (std::pair<Millis, std::string>{2001, "E\r\n"}));
    Report("ELP 011.0 ST\r\n");
    EXPECT_EQ(answers_.back(),
              (std::pair<ClientId, std::string>{
                  1, "get_pos:\nAzimuth: 45.000000\nElevation: 11.000000\nRPRT 0\n"}));
}

// Well inside the 2 s after which Hamlib's client stops waiting for the answer.
TEST_F(StationTest, GetPositionWithoutReportsTimesOutAfterOneAndAHalfSeconds) {
    Send(1, "p");
    Send(2, "+p");
    EXPECT_EQ(port_.polls, (std::vector<std::pair<Millis, std::string>>{{0, "A\r\n"}}));
    At(1499);
    EXPECT_TRUE(answers_.empty());
    EXPECT_EQ(station_.NextDeadline(), Millis{1500});
    At(1500);
    EXPECT_EQ(answers_, (Answers{{1, "RPRT -5\n"}, {2, "get_pos:\nRPRT -5\n"}}));
}

TEST_F(StationTest, PollsAlternateWhileIdleButNeverBetweenAzimuthAndElevation) {
    At(0);
    At(900);
    Send(1, "P 10 10");
    At(1800);  // the elevation is due first
    At(1850);
    At(2700);
    EXPECT_EQ(port_.polls, (std::vector<std::pair<Millis, std::string>>{
                               {0, "A\r\n"}, {900, "E\r\n"}, {1800, "A\r\n"}, {2700, "E\r\n"}}));
    EXPECT_EQ(port_.commands.back(), (std::pair<Millis, std::string>{1800, "E\r\n010\r\n"}));
}

TEST_F(StationTest, ControllerJunkIsNotAReport) {
    Send(1, "p");
    Report("AZP 045\r\n");                       // too short
    Report("XZP 045.0 ST\r\nAZX 045.0 ST\r\n");  // wrong letters
    Report(std::string(500, 'A').c_str());       // a run without line end
    Report("\r\nAZP 1");
    Report("23.0 ST\r\n");
    Report("ELP 004.0 ST\r\n");
    EXPECT_EQ(answers_, (Answers{{1, "123.000000\n4.000000\n"}}));
}

TEST_F(StationTest, ACommandTheControllerTakesAtOnceIsAnsweredOnceItsFirstWriteIsOut) {
    port_.failWrites = true;  // gone, and not noticed yet
    Send(1, "S");
    EXPECT_EQ(answers_, (Answers{{1, "RPRT -6\n"}}));
}

TEST_F(StationTest, TheLatestReportsTimeCountsWholeReportsOnly) {
    At(100);
    Report("XZP 045.0 ST\r\nAZP 04");
    EXPECT_EQ(station_.LastReportAt(), std::nullopt);
    At(200);
    Report("5.0 ST\r\n");
    EXPECT_EQ(station_.LastReportAt(), 200);
    At(300);
    Report("junk\r\n");
    EXPECT_EQ(station_.LastReportAt(), 200);
    At(400);
    Report("ELP 004.0 ST\r\n");
    EXPECT_EQ(station_.LastReportAt(), 400);
}

TEST_F(StationTest, APortLostDropsAcceptedCommandsRefusesTheRestAndReopenedGetsBothAxes) {
    Send(1, "P 10 10");
    Send(2, "P 20 20");  // accepted, waiting
    Send(2, "K");        // not yet accepted
    port_.failWrites = true;
    At(100);
    EXPECT_EQ(answers_, (Answers{{1, "RPRT 0\n"}, {2, "RPRT 0\n"}, {2, "RPRT -6\n"}}));
    Send(1, "P 10 10");
    Send(1, "p");
    Send(1, "S");
    EXPECT_EQ(answers_.size(), 6u);
    EXPECT_EQ(answers_.back().second, "RPRT -6\n");
    port_.open = true;
    port_.failWrites = false;
    station_.OnPortOpened(5000);
    port_.now = 5000;
    Send(1, "P 10 10");
    At(5100);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"A\r\n010\r\n", "A\r\n010\r\n", "E\r\n010\r\n"}));
}

class ParkedStationTest : public StationTest {
protected:
    ParkedStationTest() : StationTest(Settings()) {}
    static kelmarotd::StationSettings Settings() {
        kelmarotd::StationSettings s;
        s.limits = {90, 270, 5, 60};
        s.parkAzimuth = 180;
        s.parkElevation = 5;
        return s;
    }
};

TEST_F(ParkedStationTest, ParkGoesToTheParkPositionAndLimitsBoundSetPosition) {
    Send(1, "K");
    At(100);
    Send(1, "P 89 10");
    Send(1, "P 90 61");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"A\r\n180\r\n", "E\r\n005\r\n"}));
    EXPECT_EQ(answers_, (Answers{{1, "RPRT 0\n"}, {1, "RPRT -1\n"}, {1, "RPRT -1\n"}}));
}

}  // namespace
