// Splitting and walking a Windows command line, independent of the Windows API so that the
// rules can be tested natively.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace framework {

// Splits a whole command line (program name first) into arguments by the rules of the
// Microsoft C runtime: white space separates arguments outside double quotes; 2n backslashes
// before a quote give n backslashes and the quote toggles quoting; 2n+1 backslashes before a
// quote give n backslashes and a literal quote; "" inside quotes gives a literal quote. The
// program name (first element) ends at the first white space, or is taken between quotes
// without any backslash processing.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// One argument as the application framework hands it to ParseParam.
struct CommandLineParam {
    std::string text;  // the argument without its switch character
    bool isFlag;       // the argument began with '-' or '/' (one character removed)
    bool isLast;       // the last argument of the command line
};

// Walks the arguments after the program name, first to last.
std::vector<CommandLineParam> WalkArguments(const std::vector<std::string>& argv);

}  // namespace framework
