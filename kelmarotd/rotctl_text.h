// The network rotator text protocol that tracking programs speak to a rotator server: one
// command a line, answered either in the default form (values one per line, or "RPRT <code>")
// or, when the line starts with '+', ';', '|' or ',', in the extended form (the command echoed
// as a header, "Key: value" records, "RPRT <code>" last, records ended by that separator).
// A command is named by its letter ("P") or by a backslash and its long name ("\set_pos"); a
// backslash before the letter ("\P") names it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmarotd {

// The protocol's error codes, sent negated in "RPRT -<code>".
enum class Status : int {
    kOk = 0,
    kInvalidArgument = 1,  // unparsable line, unknown command, angle out of range
    kTimeout = 5,          // the controller did not report in time
    kIoError = 6,          // the controller's port is not open or a write failed
    kNotAvailable = 11,    // a rotator command this server does not perform
};

enum class Command {
    kSetPosition,   // P, \set_pos AZ EL
    kGetPosition,   // p, \get_pos
    kStop,          // S, \stop
    kPark,          // K, \park
    kGetInfo,       // _, \get_info
    kDumpState,     // \dump_state
    kQuit,          // q, Q, \quit: closes the connection without an answer
    kNotAvailable,  // one of the other rotator commands (M move, R reset, ...): "RPRT -11"
    kBlank,         // an empty or "#" comment line: not answered
    kInvalid,       // anything else: answered "RPRT -1"
};

struct Request {
    Command command = Command::kInvalid;
    // The extended form's record separator; none for the default form.
    std::optional<char> separator;
    std::string name;                    // the long name of a known command, for the header
    std::vector<std::string> arguments;  // as received, for the extended header
    double azimuth = 0;                  // kSetPosition only
    double elevation = 0;
};

// One line from a client, without its line end.
Request ParseRequest(std::string_view line);

// A value of an answer. The default form prints `plain` (prefixed by "plainKey=" when set); the
// extended form prints "key: value", or the default form's text when `key` is empty. A value
// for the default form only is left out of the extended form.
struct Value {
    std::string key;
    std::string value;
    std::string plainKey;
    bool defaultFormOnly = false;
};

struct Reply {
    Status status = Status::kOk;
    std::vector<Value> values;
};

// The bytes that answer `request`. The default form sends the values of a successful answer
// that has some, and "RPRT <code>" otherwise; dump_state's default form has no RPRT line.
std::string FormatReply(const Request& request, const Reply& reply);

// A decimal number as the protocol writes one: optional sign, digits with an optional fraction
// (a comma counts as the point), optional exponent; no hexadecimal, "inf" or "nan", nothing after.
std::optional<double> ParseNumber(std::string word);

// An angle value in the protocol's number form ("%f").
std::string FormatDegrees(double degrees);

// The angles a server accepts, in whole degrees.
struct Limits {
    int32_t minAzimuth;
    int32_t maxAzimuth;
    int32_t minElevation;
    int32_t maxElevation;
};

// An angle of set_pos in whole degrees (the nearest, halves away from zero), when that lies
// within low..high.
std::optional<int32_t> WholeDegrees(double value, int32_t low, int32_t high);

// The answer to \dump_state: what Hamlib's network rotator client reads when it connects.
Reply DumpStateReply(const Limits& limits);

// The answer to get_pos: the azimuth and the elevation.
Reply PositionReply(double azimuth, double elevation);

// Splits a client's byte stream into lines, each ended by LF, CR or CR LF (one line end, not an
// empty line after it). A line longer than kMaxLineLength is not stored: its bytes are dropped
// as they come and it is handed out as overlong when its end arrives, so one client cannot make
// the server hold more than that.
constexpr size_t kMaxLineLength = 256;

class LineReader {
public:
    struct Line {
        std::string text;
        bool overlong = false;
    };

    // Takes received bytes; returns how many were consumed. It stops after the first complete
    // line, so a caller handles one line at a time and keeps the rest for later.
    size_t Feed(std::string_view bytes);
    // The completed line, once; nothing while the line is still unfinished.
    std::optional<Line> TakeLine();

private:
    std::string text_;
    bool overlong_ = false;
    bool complete_ = false;
    bool afterCarriageReturn_ = false;  // a LF next is the rest of a CR LF
};

}  // namespace kelmarotd
