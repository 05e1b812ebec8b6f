// Cuts the bytes the program sends into controller commands.
//
// A command is an axis line ("A" or "E") optionally followed by an argument line: an angle (go
// there) or "S" (stop). Lines end at CR or at LF; empty lines are skipped. The program writes a
// command in one piece but the bytes may arrive split, so an axis line is taken as a position
// poll when
//   - the next line is another axis line, or
//   - no further byte arrives within the quiet time after the last byte.
// An argument line that is neither an angle nor "S" drops the pending axis line with it, and an
// argument line without an axis line before it is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelma {

struct ControllerCommand {
    enum class Kind { Poll, Goto, Stop };
    Kind kind;
    char axis;           // 'A' or 'E'
    double angle = 0.0;  // Goto only
    bool operator==(const ControllerCommand& other) const {
        return kind == other.kind && axis == other.axis && angle == other.angle;
    }
};

// Parses an angle argument: optional sign, digits, optional fraction. Nothing else.
std::optional<double> ParseAngleArgument(std::string_view text);

class CommandFramer {
public:
    explicit CommandFramer(int64_t quietMicros) : quietMicros_(quietMicros) {}

    // Takes bytes that arrived at nowMicros; returns the commands they completed.
    std::vector<ControllerCommand> Feed(std::string_view bytes, int64_t nowMicros);
    // The poll whose quiet time has run out by nowMicros, if any.
    std::optional<ControllerCommand> Expire(int64_t nowMicros);
    // When Expire may next return a poll.
    std::optional<int64_t> Deadline() const;
    void SetQuietMicros(int64_t micros) { quietMicros_ = micros; }

private:
    static constexpr size_t kMaxLine = 64;  // longer lines are no command; they are dropped

    void EndLine(std::vector<ControllerCommand>& out);

    int64_t quietMicros_;
    std::string line_;
    bool lineTooLong_ = false;
    std::optional<char> pendingAxis_;
    int64_t lastByteMicros_ = 0;
};

}  // namespace kelma
