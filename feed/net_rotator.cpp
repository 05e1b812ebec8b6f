#include "feed/net_rotator.h"

#include <utility>

namespace kelmafeed {
namespace {

using kelmarotd::Command;
using kelmarotd::Reply;
using kelmarotd::Status;

constexpr char kInfo[] = "KELMA rotator controller through kelmafeed";

}  // namespace

NetRotator::NetRotator(const kelmarotd::StationSettings& settings, Answer answer, Publish publish,
                       Clients clients)
    : m_limits(settings.limits),
      m_park{settings.parkAzimuth, settings.parkElevation},
      m_last(m_park),
      m_answer(std::move(answer)),
      m_publish(std::move(publish)),
      m_clients(std::move(clients)) {}

void NetRotator::Submit(kelmarotd::ClientId client, const kelmarotd::Request& request,
                        kelmarotd::Millis) {
    if (m_commanding.insert(client).second) m_clients(m_commanding.size());
    Reply reply;
    switch (request.command) {
        case Command::kSetPosition: {
            const auto azimuth =
                kelmarotd::WholeDegrees(request.azimuth, m_limits.minAzimuth, m_limits.maxAzimuth);
            const auto elevation = kelmarotd::WholeDegrees(request.elevation, m_limits.minElevation,
                                                           m_limits.maxElevation);
            if (azimuth && elevation) {
                Set({*azimuth, *elevation});
            } else {
                reply.status = Status::kInvalidArgument;
            }
            break;
        }
        case Command::kGetPosition:
            reply = kelmarotd::PositionReply(m_last.azimuth, m_last.elevation);
            break;
        case Command::kPark:
            Set(m_park);
            break;
        case Command::kStop:
            break;  // the antenna stays where the last position sent it
        default:    // the front answers every other command itself
            reply.status = Status::kInvalidArgument;
            break;
    }
    m_answer(client, kelmarotd::FormatReply(request, reply));
}

void NetRotator::Set(rotator::Position position) {
    m_last = position;
    m_publish(position);
}

void NetRotator::ForgetClient(kelmarotd::ClientId client) {
    if (m_commanding.erase(client) > 0) m_clients(m_commanding.size());
}

std::string NetRotator::Info() const {
    return kInfo;
}

kelmarotd::Limits NetRotator::AngleLimits() const {
    return m_limits;
}

}  // namespace kelmafeed
