#include "support/scripted_transport.hpp"

#include <algorithm>

namespace q70::test {

bool ScriptedTransport::open() {
    ++openCalls;
    open_ = openSucceeds;
    return open_;
}

bool ScriptedTransport::writePacket(std::span<const std::uint8_t> packet) {
    if (!open_ || !writeSucceeds) return false;
    written.emplace_back(packet.begin(), packet.end());
    if (responder) {
        link::Request request;
        if (link::decodeRequest(written.back(), request)) responder(request, *this);
    }
    return true;
}

link::ReadResult ScriptedTransport::readPacket(link::PacketBuffer& buffer, int maxWaitMs) {
    readWaits.push_back(maxWaitMs);
    if (beforeRead) beforeRead(maxWaitMs);
    if (!open_) return {link::ReadStatus::Failed, 0};
    if (reads.empty()) return {link::ReadStatus::Pending, 0};
    Read r = std::move(reads.front());
    reads.pop_front();
    if (r.status != link::ReadStatus::Ok) return {r.status, 0};
    const std::size_t n = std::min(r.bytes.size(), buffer.size());
    std::copy_n(r.bytes.begin(), n, buffer.begin());
    return {link::ReadStatus::Ok, n};
}

void ScriptedTransport::close() {
    ++closeCalls;
    open_ = false;
}

}  // namespace q70::test
