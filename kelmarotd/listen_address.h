// Where a rotctld-protocol server listens: the -T ADDRESS (--listen-addr=ADDRESS) rule that
// kelmarotd and kelmafeed's network source share. Numeric IPv4 or IPv6 addresses only, each given
// once; several may be given (loopback and a LAN address together); none means loopback only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmarotd {

constexpr char kDefaultAddress[] = "127.0.0.1";

// An address in its 16 bytes (IPv4 in the last four).
struct NumericAddress {
    bool ipv6 = false;
    std::array<uint8_t, 16> bytes{};
};

// Dotted IPv4 ("192.168.1.20", no leading zeros) or IPv6 text ("::1", "fe80::1:2",
// "::ffff:10.0.0.1"), nothing else: no names, no zone ("%eth0").
std::optional<NumericAddress> ParseNumericAddress(std::string_view text);

// 127.0.0.0/8, ::1 or an IPv4-mapped 127.x address: only programs on this computer reach it.
bool IsLoopback(const NumericAddress& address);

// What a server logs when it listens on `address`: a warning for an address that other
// computers can reach, nothing for loopback.
std::optional<std::string> ExposureWarning(const std::string& address);

// The -T values of one command line.
class ListenAddresses {
public:
    // Takes one value; why it is refused, or nothing when taken.
    std::optional<std::string> Add(const std::string& text);
    // The addresses given, or the loopback default when none was.
    std::vector<std::string> List() const;

private:
    std::vector<std::string> texts_;
    std::vector<NumericAddress> parsed_;
};

}  // namespace kelmarotd
