#include "framework/command_line.h"

namespace framework {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads the program name: up to the first blank, or between quotes taken literally.
size_t ReadProgramName(std::string_view line, std::string& name) {
    size_t i = 0;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && IsBlank(c)) break;
        name += c;
    }
    return i;
}

// Reads one argument starting at a non-blank character; returns the index after it.
size_t ReadArgument(std::string_view line, size_t i, std::string& arg) {
    bool quoted = false;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '\\') {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            const bool beforeQuote = i < line.size() && line[i] == '"';
            arg.append(beforeQuote ? backslashes / 2 : backslashes, '\\');
            if (beforeQuote && backslashes % 2 == 1) {
                arg += '"';
                ++i;
            }
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                arg += '"';
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        if (!quoted && IsBlank(c)) break;
        arg += c;
        ++i;
    }
    return i;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> argv;
    std::string name;
    size_t i = ReadProgramName(commandLine, name);
    argv.push_back(name);
    for (;;) {
        while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
        if (i >= commandLine.size()) break;
        std::string arg;
        i = ReadArgument(commandLine, i, arg);
        argv.push_back(arg);
    }
    return argv;
}

std::vector<CommandLineParam> WalkArguments(const std::vector<std::string>& argv) {
    std::vector<CommandLineParam> params;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        const bool isFlag = !arg.empty() && (arg[0] == '-' || arg[0] == '/');
        params.push_back({isFlag ? arg.substr(1) : arg, isFlag, i + 1 == argv.size()});
    }
    return params;
}

}  // namespace framework
