#include "kelmarotd/controller_watch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using kelmarotd::ControllerState;
using kelmarotd::ControllerWatch;
using kelmarotd::Millis;

constexpr char kDevice[] = "/dev/ttyUSB0";

// What the owner is told at `now`: the text when the state changed, "" when it did not.
std::string Told(ControllerWatch& watch, Millis now) {
    return watch.Update(now) ? watch.Text() : "";
}

TEST(ControllerWatchTest, TellsEachChangeOnceNotEveryRetryOrReport) {
    ControllerWatch watch(kDevice);
    watch.PortFailed("/dev/ttyUSB0: No such file or directory");
    EXPECT_EQ(Told(watch, 0),
              "port /dev/ttyUSB0: No such file or directory; retrying every second");
    // Another retry, failing otherwise: the same state, not told again, but asked for it says why.
    watch.PortFailed("/dev/ttyUSB0: Permission denied");
    EXPECT_EQ(Told(watch, 1000), "");
    EXPECT_EQ(watch.Text(), "port /dev/ttyUSB0: Permission denied; retrying every second");
    EXPECT_EQ(watch.NextChange(), std::nullopt);  // only the next retry can change it

    watch.PortOpened(2000);
    EXPECT_EQ(Told(watch, 2000), "port /dev/ttyUSB0 open, no report yet");
    watch.ReportSeen(2030);
    EXPECT_EQ(Told(watch, 2030), "answering on /dev/ttyUSB0");
    watch.ReportSeen(2930);
    EXPECT_EQ(Told(watch, 2930), "");
    watch.PortLost();
    EXPECT_EQ(Told(watch, 3000), "port /dev/ttyUSB0 lost; retrying every second");
}

TEST(ControllerWatchTest, CallsItSilentAfterFiveSecondsWithoutAReportSinceTheOpening) {
    ControllerWatch watch(kDevice);
    watch.ReportSeen(500);  // before this opening: not an answer on it
    watch.PortOpened(1000);
    EXPECT_EQ(Told(watch, 5999), "port /dev/ttyUSB0 open, no report yet");
    EXPECT_EQ(watch.NextChange(), 6000);
    EXPECT_EQ(Told(watch, 6000), "not answering on /dev/ttyUSB0: no position report for 5 s");
    EXPECT_EQ(watch.NextChange(), std::nullopt);

    watch.ReportSeen(8000);
    EXPECT_EQ(Told(watch, 8000), "answering on /dev/ttyUSB0");
    EXPECT_EQ(watch.NextChange(), 13000);
    EXPECT_EQ(Told(watch, 12999), "");
    EXPECT_EQ(Told(watch, 13000), "not answering on /dev/ttyUSB0: no position report for 5 s");
}

TEST(ControllerWatchTest, GetInfoIsOneLineHamlibsNetworkRotatorReadsWhole) {
    // Hamlib 4.5.4, dummy/netrotctl.c: the answer is read into BUF_MAX (64) bytes with its end.
    constexpr size_t kHamlibLineBytes = 64;
    ControllerWatch watch("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0");
    std::vector<std::string> answers;
    auto take = [&](Millis now) {
        watch.Update(now);
        answers.push_back(watch.Info());
    };
    watch.PortFailed(
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0: No such file");
    take(0);
    watch.PortOpened(1000);
    take(1000);
    take(6000);
    watch.ReportSeen(6500);
    take(6500);
    EXPECT_EQ(answers, (std::vector<std::string>{
                           "KELMA rotator controller: port missing, retrying every second",
                           "KELMA rotator controller: port open, no report yet",
                           "KELMA rotator controller: not answering",
                           "KELMA rotator controller: answering"}));
    for (const std::string& answer : answers) EXPECT_LT(answer.size() + 1, kHamlibLineBytes);
}

}  // namespace
