// The address a connection starts with, from the list the resolver gave: the first IPv4 one
// where there is one, else the first of all. Included by the platform layers after their own
// socket headers, which define addrinfo and AF_INET.
#pragma once

namespace kelmarotd {

template <typename AddressInfo>
const AddressInfo* FirstIpv4OrFirst(const AddressInfo* found) {
    for (const AddressInfo* a = found; a != nullptr; a = a->ai_next)
        if (a->ai_family == AF_INET) return a;
    return found;
}

}  // namespace kelmarotd
