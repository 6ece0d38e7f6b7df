#include "sim/test_picture.hpp"

#include <algorithm>
#include <array>

namespace q70::sim {
namespace {

struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;
};

constexpr Glyph kFont[] = {
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

class Canvas {
  public:
    explicit Canvas(ScanLines& lines) : lines_(lines), height_(lines.bytesPerLine * 8) {}

    std::uint32_t width() const { return lines_.width; }
    std::uint32_t height() const { return height_; }

    void set(std::uint32_t x, std::uint32_t y, bool ink) {
        if (x >= lines_.width || y >= height_) return;
        // The top of the picture is the far end of the scan line.
        const std::uint32_t dot = height_ - 1 - y;
        std::uint8_t& byte = lines_.bytes[std::size_t{x} * lines_.bytesPerLine + dot / 8];
        const auto bit = static_cast<std::uint8_t>(0x80u >> (dot % 8));
        byte = ink ? static_cast<std::uint8_t>(byte | bit) : static_cast<std::uint8_t>(byte & ~bit);
    }

    void fill(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h, bool ink) {
        const std::uint32_t x1 = std::min(x0 + w, lines_.width);
        const std::uint32_t y1 = std::min(y0 + h, height_);
        for (std::uint32_t x = x0; x < x1; ++x)
            for (std::uint32_t y = y0; y < y1; ++y) set(x, y, ink);
    }

    // Returns the width drawn.
    std::uint32_t text(std::uint32_t x0, std::uint32_t y0, const std::string& s,
                       std::uint32_t scale) {
        std::uint32_t x = x0;
        for (const char c : s) {
            const std::uint8_t* rows = glyphRows(c);
            for (std::uint32_t r = 0; r < 7; ++r)
                for (std::uint32_t col = 0; col < 5; ++col)
                    if (rows[r] & (0x10u >> col))
                        fill(x + col * scale, y0 + r * scale, scale, scale, true);
            x += 6 * scale;
        }
        return s.empty() ? 0 : x - x0 - scale;
    }

  private:
    ScanLines& lines_;
    std::uint32_t height_;
};

std::uint32_t textWidth(std::size_t chars, std::uint32_t scale) {
    return chars == 0 ? 0 : static_cast<std::uint32_t>(6 * chars - 1) * scale;
}

}  // namespace

const std::uint8_t* glyphRows(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const Glyph& g : kFont)
        if (g.c == c) return g.rows.data();
    return glyphRows('?');
}

bool ScanLines::inkAt(std::uint32_t x, std::uint32_t yFromTop) const {
    const std::uint32_t height = bytesPerLine * 8;
    if (x >= width || yFromTop >= height) return false;
    const std::uint32_t dot = height - 1 - yFromTop;
    return (bytes[std::size_t{x} * bytesPerLine + dot / 8] & (0x80u >> (dot % 8))) != 0;
}

ScanLines drawTestPicture(const PictureText& text, std::uint32_t width,
                          std::uint32_t bytesPerLine) {
    ScanLines lines;
    lines.width = width;
    lines.bytesPerLine = bytesPerLine;
    lines.bytes.assign(std::size_t{width} * bytesPerLine, 0);
    Canvas canvas(lines);
    const std::uint32_t w = canvas.width();
    const std::uint32_t h = canvas.height();
    if (w == 0 || h == 0) return lines;

    // Grid first, the frame over it: whole scan lines of ink (vertical lines) and one dot
    // repeated along every scan line (horizontal lines) give the encoder both long runs
    // and lone bytes.
    const std::uint32_t frame = std::max<std::uint32_t>(2, std::min(w, h) / 100);
    const std::uint32_t pitch = std::max<std::uint32_t>(8, std::min(w, h) / 16);
    for (std::uint32_t x = pitch; x < w; x += pitch) canvas.fill(x, 0, 2, h, true);
    for (std::uint32_t y = pitch; y < h; y += pitch) canvas.fill(0, y, w, 2, true);
    canvas.fill(0, 0, w, frame, true);
    canvas.fill(0, h - frame, w, frame, true);
    canvas.fill(0, 0, frame, h, true);
    canvas.fill(w - frame, 0, frame, h, true);

    // A half-tone patch and a diagonal in the top-left cell: bytes that differ from their
    // neighbours, so the data has literals as well as runs.
    const std::uint32_t patch = std::min(pitch - 4, h / 4);
    for (std::uint32_t x = 0; x < patch; ++x)
        for (std::uint32_t y = 0; y < patch; ++y)
            canvas.set(frame + 2 + x, frame + 2 + y, ((x + y) % 2 == 0) || (x == y));

    // The name, as large as fits, on a white box so that the grid does not cut it.
    const std::size_t n = std::max<std::size_t>(text.name.size(), 1);
    std::uint32_t scale = std::min<std::uint32_t>(
        static_cast<std::uint32_t>((w * 8 / 10) / (6 * n - 1)), (h * 4 / 10) / 7);
    scale = std::max<std::uint32_t>(scale, 1);
    const std::uint32_t tw = textWidth(text.name.size(), scale);
    const std::uint32_t th = 7 * scale;
    const std::uint32_t tx = tw < w ? (w - tw) / 2 : 0;
    const std::uint32_t ty = th < h ? (h - th) / 3 : 0;
    const std::uint32_t pad = scale;
    canvas.fill(tx > pad ? tx - pad : 0, ty > pad ? ty - pad : 0, tw + 2 * pad, th + 2 * pad,
                false);
    canvas.text(tx, ty, text.name, scale);
    lines.nameBox = {tx, ty, scale};

    // The small print, centred below the name.
    if (!text.smallPrint.empty()) {
        const std::uint32_t small = std::max<std::uint32_t>(1, scale / 8);
        const std::uint32_t sw = textWidth(text.smallPrint.size(), small);
        const std::uint32_t sx = sw < w ? (w - sw) / 2 : 0;
        const std::uint32_t sy = ty + th + 3 * pad;
        canvas.fill(sx > small ? sx - small : 0, sy > small ? sy - small : 0, sw + 2 * small,
                    7 * small + 2 * small, false);
        canvas.text(sx, sy, text.smallPrint, small);
    }
    return lines;
}

}  // namespace q70::sim
