#include "simulated_port.h"

#include <gtest/gtest.h>

namespace kelma {
namespace {

class RecordingLine : public SerialLine {
public:
    void Write(std::string_view bytes) override { written += bytes; }
    void Purge() override { purges++; }
    std::string written;
    int purges = 0;
};

class SimulatedPortTest : public ::testing::Test {
protected:
    std::string Run(const std::string& command, int64_t now = 0, SerialLine* line = nullptr) {
        const Words words = SplitWords(command);
        return port.Run(words[0], Words(words.begin() + 1, words.end()), now, line ? line : &cable,
                        random);
    }
    SimulatedPort port{ControllerSettings{}, 0};
    RecordingLine cable;
    std::mt19937 random{1};
};

TEST_F(SimulatedPortTest, RecordsWhatTheProgramSentWithTheTimeOfEachRead) {
    port.Receive("A\r\n04", 1000, &cable);
    port.Receive("5\r\n", 2500, &cable);
    EXPECT_EQ(Run("recv"), "ok 410d0a3034350d0a");
    EXPECT_EQ(Run("chunks"), "ok 1000:410d0a3034 2500:350d0a");
    EXPECT_EQ(Run("clear"), "ok");
    EXPECT_EQ(Run("recv"), "ok");
}

TEST_F(SimulatedPortTest, ModelCommandsSteerTheAxesWithoutACable) {
    const Words none;
    EXPECT_EQ(port.Run("setpos", {"10", "20"}, 0, nullptr, random), "ok");
    EXPECT_EQ(port.Run("rate", {"2", "1"}, 0, nullptr, random), "ok");
    port.Receive("A\r\n030\r\n", 0, nullptr);
    EXPECT_EQ(port.Run("get", none, 5000000, nullptr, random), "ok 20.0 20.0 30.0 20.0 1 0");
    EXPECT_EQ(port.Run("send", {"41"}, 0, nullptr, random), "err unplugged");
}

TEST_F(SimulatedPortTest, LineCommandsWriteToTheCable) {
    EXPECT_EQ(Run(" send\t410D0a  "), "ok 3");  // words apart by any white space
    EXPECT_EQ(Run("burst 2"), "ok 28");
    EXPECT_EQ(cable.written, "A\r\nAZP 000.0 ST\r\nELP 000.0 ST\r\n");
    EXPECT_EQ(Run("flush"), "ok");
    EXPECT_EQ(cable.purges, 1);
}

TEST_F(SimulatedPortTest, RefusesBadArgumentsAndUnknownNames) {
    for (const char* bad :
         {"send 4", "auto maybe", "quiet -1", "rate 0 1", "setpos 1", "junk 0", "long x"})
        EXPECT_EQ(Run(bad).rfind("err ", 0), 0u) << bad;
    EXPECT_EQ(Run("hold"), "err bad command: hold");
    EXPECT_EQ(cable.written, "");
}

TEST_F(SimulatedPortTest, AutoOffLeavesPollsUnanswered) {
    EXPECT_EQ(Run("auto off"), "ok");
    port.Receive("E\r\n", 0, &cable);
    port.Tick(1000000, &cable);
    EXPECT_EQ(cable.written, "");
    EXPECT_EQ(Run("auto on"), "ok");
    port.Receive("E\r\n", 2000000, &cable);
    port.Tick(3000000, &cable);
    EXPECT_EQ(cable.written, "ELP 000.0 ST\r\n");
}

}  // namespace
}  // namespace kelma
