#include "kelmarotd/rotctl_front.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using kelmarotd::ClientId;
using kelmarotd::Millis;
using kelmarotd::Request;
using kelmarotd::RotctlFront;
using Ending = kelmarotd::RotctlFront::Ending;

// Holds every request until the test answers it.
class FakeBackend : public kelmarotd::RotatorBackend {
public:
    void Submit(ClientId client, const Request& request, Millis) override {
        submitted.emplace_back(client, request.name);
    }
    void ForgetClient(ClientId client) override { forgotten.push_back(client); }
    std::string Info() const override { return "Test rotator"; }
    kelmarotd::Limits AngleLimits() const override { return {0, 360, 0, 90}; }

    std::vector<std::pair<ClientId, std::string>> submitted;
    std::vector<ClientId> forgotten;
};

class RotctlFrontTest : public ::testing::Test {
protected:
    // The client's bytes arrive; returns the answers sent to it then.
    std::string Send(ClientId id, std::string_view bytes) {
        front_.Receive(id, bytes);
        return Answers(id);
    }
    std::string Answers(ClientId id) {
        front_.TakeLines(id, 0);
        std::string out(front_.Output(id));
        front_.Sent(id, out.size());
        return out;
    }
    static std::string DumpState() {
        return FormatReply(kelmarotd::ParseRequest("\\dump_state"),
                           kelmarotd::DumpStateReply({0, 360, 0, 90}));
    }
    using Submitted = std::vector<std::pair<ClientId, std::string>>;

    FakeBackend backend_;
    RotctlFront front_{&backend_};
};

TEST_F(RotctlFrontTest, InfoStateAndQuitDoNotWaitForAnotherClientsRequest) {
    const ClientId tracker = front_.Connect();
    const ClientId other = front_.Connect();
    EXPECT_EQ(Send(tracker, "p\n"), "");  // the rotator has not answered yet
    EXPECT_EQ(Send(other, "_\n\\dump_state\n+\\get_info\nq\n"),
              "Test rotator\n" + DumpState() + "get_info:\nInfo: Test rotator\nRPRT 0\n");
    EXPECT_EQ(front_.EndingOf(other), Ending::kQuit);
    EXPECT_EQ(front_.EndingOf(tracker), Ending::kNone);
    EXPECT_EQ(backend_.submitted, (Submitted{{tracker, "get_pos"}}));
}

TEST_F(RotctlFrontTest, AClientsAnswersFollowTheOrderOfItsCommands) {
    const ClientId id = front_.Connect();
    EXPECT_EQ(Send(id, "P 1 2\n_\nS\n"), "");
    EXPECT_EQ(backend_.submitted, (Submitted{{id, "set_pos"}}));
    front_.Deliver(id, "RPRT 0\n");
    EXPECT_EQ(Answers(id), "RPRT 0\nTest rotator\n");
    EXPECT_EQ(backend_.submitted, (Submitted{{id, "set_pos"}, {id, "stop"}}));
    front_.Deliver(id, "RPRT -6\n");
    EXPECT_EQ(Answers(id), "RPRT -6\n");
}

TEST_F(RotctlFrontTest, BlankAndCommentLinesAreNotAnsweredEveryOtherLineIs) {
    const ClientId id = front_.Connect();
    EXPECT_EQ(Send(id, "\n\r\n \t\n# a comment\nZ\nM 8 50\n+\\reset 1\n" + std::string(300, 'x') +
                           "\n_\n"),
              "RPRT -1\nRPRT -11\nreset: 1\nRPRT -11\nRPRT -1\nTest rotator\n");
    EXPECT_TRUE(backend_.submitted.empty());
}

TEST_F(RotctlFrontTest, AClientThatDoesNotReadIsClosedPastTheBoundOthersAreServed) {
    const ClientId deaf = front_.Connect();
    const ClientId reader = front_.Connect();
    const std::string answer = "Test rotator\n";
    std::string commands;
    for (int i = 0; i < 2048; ++i) commands += "_\n";  // one 4 KB read, 26 KB of answers

    int reads = 0;
    for (; front_.EndingOf(deaf) == Ending::kNone && reads < 100; ++reads) {
        front_.Receive(deaf, commands);
        front_.TakeLines(deaf, 0);
        EXPECT_EQ(Send(reader, commands).size(), 2048 * answer.size());
    }
    EXPECT_EQ(front_.EndingOf(deaf), Ending::kNotReading);
    EXPECT_EQ(reads, 3);
    EXPECT_LE(front_.Output(deaf).size(), kelmarotd::kMaxQueuedAnswerBytes + answer.size());
    EXPECT_EQ(front_.EndingOf(reader), Ending::kNone);
}

TEST_F(RotctlFrontTest, AClientEndsOnceItsAnswersAreOutAndIsForgottenByTheBackend) {
    const ClientId quitter = front_.Connect();
    front_.Receive(quitter, "_\nq\nS\n");
    front_.TakeLines(quitter, 0);
    EXPECT_EQ(front_.EndingOf(quitter), Ending::kNone);  // its answer is not out yet
    EXPECT_EQ(Answers(quitter), "Test rotator\n");
    EXPECT_EQ(front_.EndingOf(quitter), Ending::kQuit);
    EXPECT_FALSE(front_.WantsInput(quitter));

    const ClientId leaver = front_.Connect();
    EXPECT_EQ(Send(leaver, "p\n"), "");
    front_.PeerClosed(leaver);
    EXPECT_EQ(front_.EndingOf(leaver), Ending::kNone);  // its answer is still due
    front_.Deliver(leaver, "RPRT -5\n");
    EXPECT_EQ(Answers(leaver), "RPRT -5\n");
    EXPECT_EQ(front_.EndingOf(leaver), Ending::kGone);

    front_.Disconnect(quitter);
    front_.Disconnect(leaver);
    EXPECT_EQ(backend_.submitted, (Submitted{{leaver, "get_pos"}}));  // never the stop after q
    EXPECT_EQ(backend_.forgotten, (std::vector<ClientId>{quitter, leaver}));
}

}  // namespace
