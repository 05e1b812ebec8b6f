#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/port_number.h"
#include "framework/command_line.h"

namespace {

using framework::CommandLineParam;
using Args = std::vector<std::string>;

// The port the program chooses for a whole command line: every argument overwrites it.
int PortFor(const std::string& commandLine) {
    int port = app::kDefaultComPort;
    for (const CommandLineParam& p :
         framework::WalkArguments(framework::SplitCommandLine(commandLine)))
        port = app::PortFromArgument(p.text);
    return port;
}

TEST(SplitCommandLineTest, FollowsTheRuntimeQuotingRules) {
    EXPECT_EQ(framework::SplitCommandLine("prog"), (Args{"prog"}));
    EXPECT_EQ(framework::SplitCommandLine("prog  2 \t 3 "), (Args{"prog", "2", "3"}));
    EXPECT_EQ(framework::SplitCommandLine("\"C:\\Program Files\\k.exe\" 2"),
              (Args{"C:\\Program Files\\k.exe", "2"}));
    EXPECT_EQ(framework::SplitCommandLine("p \"a b\" c"), (Args{"p", "a b", "c"}));
    EXPECT_EQ(framework::SplitCommandLine("p \"\""), (Args{"p", ""}));
    EXPECT_EQ(framework::SplitCommandLine("p a\\\\\"b c\""), (Args{"p", "a\\b c"}));
    EXPECT_EQ(framework::SplitCommandLine("p a\\\"b"), (Args{"p", "a\"b"}));
    EXPECT_EQ(framework::SplitCommandLine("p a\\b"), (Args{"p", "a\\b"}));
    EXPECT_EQ(framework::SplitCommandLine("p \"a\"\"b\""), (Args{"p", "a\"b"}));
    EXPECT_EQ(framework::SplitCommandLine("p \"unterminated 2"), (Args{"p", "unterminated 2"}));
    EXPECT_EQ(framework::SplitCommandLine(""), (Args{""}));
}

TEST(WalkArgumentsTest, RemovesOneSwitchCharacterAndMarksTheLast) {
    const std::vector<CommandLineParam> params =
        framework::WalkArguments(Args{"prog", "/3", "--2", "x", "-"});
    ASSERT_EQ(params.size(), 4u);
    EXPECT_EQ(params[0].text, "3");
    EXPECT_TRUE(params[0].isFlag);
    EXPECT_FALSE(params[0].isLast);
    EXPECT_EQ(params[1].text, "-2");
    EXPECT_TRUE(params[1].isFlag);
    EXPECT_EQ(params[2].text, "x");
    EXPECT_FALSE(params[2].isFlag);
    EXPECT_EQ(params[3].text, "");
    EXPECT_TRUE(params[3].isFlag);
    EXPECT_TRUE(params[3].isLast);
    EXPECT_TRUE(framework::WalkArguments(Args{"prog"}).empty());
}

struct PortCase {
    std::string commandLine;
    int expectedPort;
};

class PortFromCommandLineTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortFromCommandLineTest, GivesThePortTheWindowStartsWith) {
    EXPECT_EQ(PortFor(GetParam().commandLine), GetParam().expectedPort)
        << "command line: " << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortFromCommandLineTest,
    ::testing::Values(PortCase{"k", 1}, PortCase{"k 2", 2}, PortCase{"k /3", 3},
                      PortCase{"k +4", 4}, PortCase{"k 3abc", 3}, PortCase{"k -2", 2},
                      PortCase{"k --2", 1}, PortCase{"k /x", 1}, PortCase{"k x", 1},
                      PortCase{"k COM2", 1}, PortCase{"k 0", 1}, PortCase{"k \"\"", 1},
                      PortCase{"k 2 3", 3}, PortCase{"k 3 /x", 1}, PortCase{"k 7", 7},
                      PortCase{"k \" 2\"", 2}, PortCase{"k 4294967297", 2147483647},
                      PortCase{"k 99999999999999999999", 2147483647},
                      PortCase{"k -4294967295", 2147483647}, PortCase{"k --4294967295", 1},
                      PortCase{"k /-2147483649", 1}));

TEST(PortFromCommandLineTest, ManyArgumentsLastOneDecides) {
    std::string line = "k";
    for (int i = 0; i < 5000; ++i) line += " " + std::to_string(i % 3 + 1);
    EXPECT_EQ(PortFor(line), 4999 % 3 + 1);
}

}  // namespace
