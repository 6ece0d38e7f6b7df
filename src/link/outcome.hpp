#pragma once
// How an exchange or an operation ended, as a value that travels from the link and the
// operations up to the front ends: they tell their user (or their caller's script) what
// happened from this, never from the wording of a message.

#include <cstdint>

namespace q70::link {

enum class Outcome : std::uint8_t {
    Done,
    Refused,    // the board answered that it did not take the request (0xFE, or no ack)
    Lost,       // the board went away: a read or write failed, or it was unplugged
    TimedOut,   // no answer within the answer timeout
    BadAnswer,  // a malformed, mismatched or otherwise unexpected answer
    BadFile,    // a file the operation needs cannot be read or is not what it must be
};

}  // namespace q70::link
