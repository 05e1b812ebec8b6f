#include "kelmarotd/listen_address.h"

#include <algorithm>

namespace kelmarotd {
namespace {

constexpr size_t kIpv4Parts = 4;
constexpr size_t kIpv4DigitsMax = 3;
constexpr size_t kIpv6Groups = 8;
constexpr size_t kGroupDigitsMax = 4;
constexpr uint8_t kLoopbackNet = 127;

using Ipv4 = std::array<uint8_t, kIpv4Parts>;

std::optional<Ipv4> ParseIpv4(std::string_view text) {
    Ipv4 out{};
    size_t i = 0;
    for (size_t part = 0; part < kIpv4Parts; ++part) {
        if (part > 0 && (i >= text.size() || text[i++] != '.')) return std::nullopt;
        const size_t start = i;
        unsigned value = 0;
        while (i < text.size() && i - start < kIpv4DigitsMax && text[i] >= '0' && text[i] <= '9')
            value = value * 10 + static_cast<unsigned>(text[i++] - '0');
        const size_t digits = i - start;
        // A leading zero reads as octal to some programs: refused rather than guessed.
        if (digits == 0 || value > UINT8_MAX || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        out[part] = static_cast<uint8_t>(value);
    }
    if (i != text.size()) return std::nullopt;
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Colon-separated groups of up to four hex digits; the last may be dotted IPv4 (two groups)
// when `ipv4Last`.
bool ParseGroups(std::string_view text, bool ipv4Last, std::vector<uint16_t>* groups) {
    while (!text.empty()) {
        const size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && ipv4Last &&
            group.find('.') != std::string_view::npos) {
            const auto ipv4 = ParseIpv4(group);
            if (!ipv4) return false;
            groups->push_back(static_cast<uint16_t>((*ipv4)[0] << 8 | (*ipv4)[1]));
            groups->push_back(static_cast<uint16_t>((*ipv4)[2] << 8 | (*ipv4)[3]));
            return true;
        }
        if (group.empty() || group.size() > kGroupDigitsMax) return false;
        unsigned value = 0;
        for (const char c : group) {
            if (HexDigit(c) < 0) return false;
            value = value * 16 + static_cast<unsigned>(HexDigit(c));
        }
        groups->push_back(static_cast<uint16_t>(value));
        if (colon == std::string_view::npos) return true;
        text = text.substr(colon + 1);
        if (text.empty()) return false;  // a trailing single colon
    }
    return true;
}

std::optional<NumericAddress> ParseIpv6(std::string_view text) {
    std::vector<uint16_t> head;
    std::vector<uint16_t> tail;
    const size_t gap = text.find("::");
    if (gap == std::string_view::npos) {
        if (!ParseGroups(text, true, &head) || head.size() != kIpv6Groups) return std::nullopt;
    } else if (text.find("::", gap + 1) != std::string_view::npos ||
               !ParseGroups(text.substr(0, gap), false, &head) ||
               !ParseGroups(text.substr(gap + 2), true, &tail) ||
               head.size() + tail.size() >= kIpv6Groups) {
        return std::nullopt;
    }
    NumericAddress address;
    address.ipv6 = true;
    head.resize(kIpv6Groups - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
    for (size_t i = 0; i < kIpv6Groups; ++i) {
        address.bytes[2 * i] = static_cast<uint8_t>(head[i] >> 8);
        address.bytes[2 * i + 1] = static_cast<uint8_t>(head[i] & 0xff);
    }
    return address;
}

bool IsWildcard(const NumericAddress& address) {
    return std::all_of(address.bytes.begin(), address.bytes.end(),
                       [](uint8_t b) { return b == 0; });
}

bool SameAddress(const NumericAddress& a, const NumericAddress& b) {
    return a.ipv6 == b.ipv6 && a.bytes == b.bytes;
}

}  // namespace

std::optional<NumericAddress> ParseNumericAddress(std::string_view text) {
    if (text.find(':') != std::string_view::npos) return ParseIpv6(text);
    const auto ipv4 = ParseIpv4(text);
    if (!ipv4) return std::nullopt;
    NumericAddress address;
    std::copy(ipv4->begin(), ipv4->end(), address.bytes.end() - kIpv4Parts);
    return address;
}

bool IsLoopback(const NumericAddress& a) {
    const auto& b = a.bytes;
    const bool zeroPrefix =
        std::all_of(b.begin(), b.begin() + 10, [](uint8_t x) { return x == 0; });
    if (!a.ipv6) return b[12] == kLoopbackNet;
    const bool ipv4Mapped = zeroPrefix && b[10] == 0xff && b[11] == 0xff;
    const bool ipv6Loopback = zeroPrefix && b[10] == 0 && b[11] == 0 && b[12] == 0 && b[13] == 0 &&
                              b[14] == 0 && b[15] == 1;
    return ipv6Loopback || (ipv4Mapped && b[12] == kLoopbackNet);
}

std::optional<std::string> ExposureWarning(const std::string& address) {
    const auto parsed = ParseNumericAddress(address);
    if (!parsed || IsLoopback(*parsed)) return std::nullopt;
    const std::string reach = IsWildcard(*parsed)
                                  ? ", every address of this computer: every computer on any of "
                                    "its networks"
                                  : ": every computer that reaches this address";
    return "warning: listening on " + address + reach +
           " can turn the antenna (the protocol has no password); keep the port closed to "
           "others with a firewall";
}

std::optional<std::string> ListenAddresses::Add(const std::string& text) {
    const auto parsed = ParseNumericAddress(text);
    if (!parsed) {
        return "listening address \"" + text +
               "\": not a numeric IPv4 or IPv6 address such as 192.168.1.20";
    }
    const auto same = [&parsed](const NumericAddress& a) { return SameAddress(a, *parsed); };
    if (std::any_of(parsed_.begin(), parsed_.end(), same))
        return "listening address " + text + " given twice";
    // Listening on every address already covers any other one, which could then not be taken.
    const auto wildcard = std::find_if(parsed_.begin(), parsed_.end(), IsWildcard);
    if (wildcard != parsed_.end() || (IsWildcard(*parsed) && !parsed_.empty())) {
        const std::string every = wildcard != parsed_.end()
                                      ? texts_[static_cast<size_t>(wildcard - parsed_.begin())]
                                      : text;
        return "listening address " + every +
               " already takes every address of this computer: give it alone";
    }
    texts_.push_back(text);
    parsed_.push_back(*parsed);
    return std::nullopt;
}

std::vector<std::string> ListenAddresses::List() const {
    return texts_.empty() ? std::vector<std::string>{kDefaultAddress} : texts_;
}

}  // namespace kelmarotd
