#pragma once
// An independent decoder for cross-checking: it resumes each band by re-expressing the
// interrupted code as a fresh block written over bytes it has already consumed, and puts
// those bytes back at the end of the next band. It trusts block lengths, so it is only fed
// data whose block lengths match their codes. Running out of data stops it; later rows
// stay 0x00.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace q70::testimage::testing {

class RewritingDecoder {
  public:
    // Room in front of the data: one rewrite may need a byte before the first block.
    static constexpr std::size_t kFront = 4;

    explicit RewritingDecoder(const std::vector<std::uint8_t>& data)
        : buf_(kFront + data.size(), 0xEE), end_(kFront + data.size()) {
        for (std::size_t k = 0; k < data.size(); ++k) buf_[kFront + k] = data[k];
        resume_ = kFront;
    }

    // The data as it stands now (without the room in front).
    std::vector<std::uint8_t> data() const {
        return {buf_.begin() + static_cast<std::ptrdiff_t>(kFront), buf_.end()};
    }

    void decodeBand(std::uint8_t* out, std::size_t d, std::size_t rows) {
        if (rows == 0 || d == 0) return;
        if (stopped_) {
            std::memset(out, 0, d * rows);
            return;
        }
        std::size_t p = resume_;
        std::size_t R = 0, K = 0, F = 0, i = 0;
        bool literal = false;
        std::size_t q = 0, source = 0, V = 0, S = 0;
        std::uint8_t value = 0;
        if (p + 2 > end_) {
            stop(out, 0, d * rows);
            return;
        }
        R = header(p);
        p += 2;
        while (i < rows) {
            if (K == 0) {
                if (R == 0) {
                    if (p + 2 > end_) return stop(out, i * d + F, d * rows);
                    R = header(p);
                    p += 2;
                    continue;
                }
                if (p >= end_) return stop(out, i * d + F, d * rows);
                q = p;
                const std::uint8_t ctl = buf_[p];
                std::size_t size;
                if (ctl < 0x80) {
                    literal = true;
                    K = ctl + 1u;
                    size = 1 + K;
                    source = p + 1;
                } else {
                    literal = false;
                    V = (ctl & 0x40) ? 1 : 0;
                    S = (ctl & 0x20) ? 1 : 0;
                    value = V ? buf_[p + 1] : 0;
                    K = 33 - (ctl & 0x1Fu);
                    size = 1 + V + (1 - S);
                }
                if (size > R) throw std::logic_error("block length does not match its codes");
                if (p + size > end_) throw std::logic_error("code cut short");
                R -= size;
                p += size;
            }
            while (K > 0 && F < d) {
                out[i * d + F] = literal ? buf_[source++] : value;
                ++F;
                --K;
            }
            if (K == 0 && !literal && S == 0) {
                if (i * d + F < rows * d) out[i * d + F] = buf_[q + 1 + V];
                ++F;
                S = 1;  // written; the code is finished
            }
            if (F >= d) {
                ++i;
                F -= d;
            } else if (R == 0) {
                std::memset(out + i * d + F, 0, d - F);
                ++i;
                F = 0;
            }
        }
        undo();
        if (F == 1) {
            // The trailing byte fell past the band: a one-byte literal of it.
            const std::size_t T = q + 1 + V;
            rewrite(T - 3, {hi(R + 2), lo(R + 2), 0x00});
            resume_ = T - 3;
        } else if (K > 0 && literal) {
            const std::size_t U = source;
            rewrite(U - 3, {hi(R + K + 1), lo(R + K + 1), static_cast<std::uint8_t>(K - 1)});
            resume_ = U - 3;
        } else if (K >= 2) {
            const std::size_t ctl = 0x80 | (V ? 0x40 : 0) | (S ? 0x20 : 0) | ((33 - K) & 0x1F);
            const std::size_t h = R + 1 + V + (1 - S);
            rewrite(q - 2, {hi(h), lo(h), static_cast<std::uint8_t>(ctl)});
            resume_ = q - 2;
        } else if (K == 1 && V == 1) {
            const std::size_t h = S ? R + 2 : R + 3;
            rewrite(q - 2, {hi(h), lo(h), static_cast<std::uint8_t>(S ? 0x00 : 0x01)});
            resume_ = q - 2;
        } else if (K == 1) {
            const std::size_t h = S ? R + 2 : R + 3;
            rewrite(q - 3, {hi(h), lo(h), static_cast<std::uint8_t>(S ? 0x00 : 0x01), 0x00});
            resume_ = q - 3;
        } else if (R > 0) {
            rewrite(p - 2, {hi(R), lo(R)});
            resume_ = p - 2;
        } else {
            resume_ = p;  // block used up
        }
    }

  private:
    static std::uint8_t hi(std::size_t v) { return static_cast<std::uint8_t>(v >> 8); }
    static std::uint8_t lo(std::size_t v) { return static_cast<std::uint8_t>(v); }
    std::size_t header(std::size_t p) const { return std::size_t{buf_[p]} << 8 | buf_[p + 1]; }

    void stop(std::uint8_t* out, std::size_t from, std::size_t to) {
        stopped_ = true;
        std::memset(out + from, 0, to - from);
    }

    void rewrite(std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        if (at + bytes.size() > end_) throw std::logic_error("rewrite past the data");
        savedAt_ = at;
        saved_.assign(buf_.begin() + static_cast<std::ptrdiff_t>(at),
                      buf_.begin() + static_cast<std::ptrdiff_t>(at + bytes.size()));
        std::size_t k = at;
        for (std::uint8_t b : bytes) buf_[k++] = b;
        pending_ = true;
    }

    void undo() {
        if (!pending_) return;
        for (std::size_t k = 0; k < saved_.size(); ++k) buf_[savedAt_ + k] = saved_[k];
        pending_ = false;
    }

    std::vector<std::uint8_t> buf_;
    std::size_t end_;
    std::size_t resume_ = 0;
    std::vector<std::uint8_t> saved_;
    std::size_t savedAt_ = 0;
    bool pending_ = false;
    bool stopped_ = false;
};

}  // namespace q70::testimage::testing
