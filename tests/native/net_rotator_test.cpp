#include "feed/net_rotator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelmarotd/rotctl_front.h"

namespace {

using kelmarotd::ClientId;
using rotator::Position;

// The relay's network source behind the shared front, as its server drives it.
class NetRotatorTest : public ::testing::Test {
protected:
    // One line from the client; what the relay answers to it.
    std::string Say(ClientId client, const std::string& line) {
        m_front.Receive(client, line);
        m_front.TakeLines(client, 0);
        const std::string answer(m_front.Output(client));
        m_front.Sent(client, answer.size());
        return answer;
    }

    std::vector<Position> m_published;
    std::vector<size_t> m_commanding;
    kelmarotd::RotctlFront* m_frontPointer = &m_front;
    kelmafeed::NetRotator m_rotator{kelmarotd::StationSettings{},
                                    [this](ClientId client, const std::string& answer) {
                                        m_frontPointer->Deliver(client, answer);
                                    },
                                    [this](Position position) { m_published.push_back(position); },
                                    [this](size_t clients) { m_commanding.push_back(clients); }};
    kelmarotd::RotctlFront m_front{&m_rotator};
};

// The set commands of real clients, as they write them: Hamlib 4.5.4's network rotator
// (dummy/netrotctl.c, "P %f %f\n" with C floats) and Gpredict 2.2 (src/gtk-rot-ctrl.c,
// "P %.2f %.2f\n" in the user's locale, so a German desktop sends commas).
TEST_F(NetRotatorTest, SetPositionFromRealClientsPublishesWholeDegrees) {
    const ClientId hamlib = m_front.Connect();
    EXPECT_EQ(Say(hamlib, "P 200.399994 30.250000\n"), "RPRT 0\n");
    EXPECT_EQ(Say(hamlib, "p\n"), "200.000000\n30.000000\n");
    const ClientId gpredict = m_front.Connect();
    EXPECT_EQ(Say(gpredict, "P 180,00 30,50\x0a"), "RPRT 0\n");
    EXPECT_EQ(Say(gpredict, "+p\n"),
              "get_pos:\nAzimuth: 180.000000\nElevation: 31.000000\nRPRT 0\n");
    EXPECT_EQ(m_published, (std::vector<Position>{{200, 30}, {180, 31}}));
}

TEST_F(NetRotatorTest, AnglesOutsideTheControllersRangeAreRefusedAndNotPublished) {
    const ClientId client = m_front.Connect();
    EXPECT_EQ(Say(client, "P 360.6 10\n"), "RPRT -1\n");
    EXPECT_EQ(Say(client, "P 10 -0.6\n"), "RPRT -1\n");
    EXPECT_EQ(Say(client, "P 10 180.6\n"), "RPRT -1\n");
    EXPECT_TRUE(m_published.empty());
    EXPECT_EQ(Say(client, "P 360.4 180.4\n"), "RPRT 0\n");
    EXPECT_EQ(m_published, (std::vector<Position>{{360, 180}}));
}

TEST_F(NetRotatorTest, StopKeepsThePositionAndParkPublishesThePark) {
    const ClientId client = m_front.Connect();
    EXPECT_EQ(Say(client, "p\n"), "0.000000\n0.000000\n") << "before any set: the park position";
    EXPECT_EQ(Say(client, "P 90 45\n"), "RPRT 0\n");
    EXPECT_EQ(Say(client, "S\n"), "RPRT 0\n");
    EXPECT_EQ(Say(client, "p\n"), "90.000000\n45.000000\n");
    EXPECT_EQ(Say(client, "\\park\n"), "RPRT 0\n");
    EXPECT_EQ(Say(client, "p\n"), "0.000000\n0.000000\n");
    EXPECT_EQ(m_published, (std::vector<Position>{{90, 45}, {0, 0}}));
    EXPECT_EQ(Say(client, "_\n"), "KELMA rotator controller through kelmafeed\n");
}

TEST_F(NetRotatorTest, CountsTheClientsThatCommandUntilTheyGo) {
    const ClientId first = m_front.Connect();
    const ClientId second = m_front.Connect();
    Say(first, "\\dump_state\n");  // answered by the front alone: not yet commanding
    EXPECT_TRUE(m_commanding.empty());
    Say(first, "P 1 2\n");
    Say(second, "p\n");
    Say(first, "P 3 4\n");
    m_front.Disconnect(first);
    m_front.Disconnect(second);
    EXPECT_EQ(m_commanding, (std::vector<size_t>{1, 2, 1, 0}));
}

}  // namespace
