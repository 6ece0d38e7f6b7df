// Request packets of any content reaching the simulated board, as q70-board-sim takes them
// from its socket: the board's request parser, its S-record checks and its answers. Every
// answer packet it sends must fit the link (at most 1024 bytes, a length field that holds),
// and a test image must come out as the host reassembles it.
//
// Input: packets one after another, each a 2-byte little-endian size (% 1025) and its bytes;
// a size byte with bit 0x8000 set also lets 300 ms pass first.

#include <cstdint>
#include <vector>

#include "fuzz_check.hpp"
#include "link/protocol.hpp"
#include "link_tape.hpp"
#include "sim/simulated_board.hpp"
#include "support/manual_scheduler.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace q70;
    fuzz::TapeReader in(data, size);
    test::ManualScheduler clock;
    sim::BoardOptions options;
    options.imageWidth = 64;
    options.imageBytesPerLine = 16;
    options.firstImageAfterMs = 0;
    options.imageEveryMs = 2000;
    sim::SimulatedBoard board(clock, options);
    board.connect();

    for (int n = 0; n < 256 && !in.empty(); ++n) {
        const std::uint16_t head = in.u16();
        if ((head & 0x8000) != 0) clock.elapse(300);
        const std::size_t length = (head & 0x7FFF) % (link::kPacketSize + 1);
        std::vector<std::uint8_t> packet = in.bytes(length);
        FUZZ_CHECK(board.receive(packet));

        link::Packet answer;
        std::uint64_t imageLeft = 0;
        while (board.nextAnswer(answer)) {
            FUZZ_CHECK(answer.size >= 1 && answer.size <= link::kPacketSize);
            if (imageLeft > 0) {  // a later packet of a test image: raw data
                FUZZ_CHECK(answer.size == std::min<std::uint64_t>(imageLeft, link::kPacketSize));
                imageLeft -= answer.size;
                continue;
            }
            FUZZ_CHECK(answer.size >= 5);
            const std::uint32_t announced = link::readLength(answer.view());
            if (announced > link::kMaxSinglePacketLength) {
                FUZZ_CHECK(answer.size == link::kPacketSize);
                imageLeft = announced - link::kMaxSinglePacketLength;
            } else {
                FUZZ_CHECK(announced + 4 == answer.size);
            }
        }
        FUZZ_CHECK(imageLeft == 0);
    }
    return 0;
}
