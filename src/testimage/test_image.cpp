#include "testimage/test_image.hpp"

#include <algorithm>
#include <climits>
#include <memory>
#include <new>

#include "config/file_output.hpp"
#include "config/paths.hpp"
#include "link/protocol.hpp"
#include "testimage/decoder.hpp"

namespace q70::testimage {

namespace {

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

TestImage::TestImage(const TestImage& other)
    : folder_(other.folder_),
      width_(other.width_),
      height_(other.height_),
      dataSize_(other.dataSize_),
      deviceType_(other.deviceType_),
      bitmapWidth_(other.bitmapWidth_),
      bitmapHeight_(other.bitmapHeight_),
      stride_(other.stride_) {
    // Without memory for the copy it simply has no bitmap, as after a failed build.
    if (other.dib_ != nullptr) dib_.reset(new (std::nothrow) std::uint8_t[other.dibSize_]);
    if (dib_ != nullptr) {
        std::copy_n(other.dib_.get(), other.dibSize_, dib_.get());
        dibSize_ = other.dibSize_;
    } else {
        bitmapWidth_ = bitmapHeight_ = stride_ = 0;
    }
}

TestImage& TestImage::operator=(const TestImage& other) {
    if (this != &other) {
        TestImage copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void TestImage::setProgramFolder(std::string folder) {
    folder_ = std::move(folder);
}

void TestImage::setHeader(std::uint32_t width, std::uint32_t height, std::uint32_t dataSize,
                          char deviceType) {
    width_ = width;
    height_ = height;
    dataSize_ = dataSize;
    deviceType_ = deviceType;
}

std::string TestImage::rawDataPath() const {
    return config::utf8FromPath(config::pathFromUtf8(folder_) / kRawDataFileName);
}

bool TestImage::saveRawData(std::span<const std::uint8_t> data) {
    data_ = data;
    // Never read past the buffer: a short buffer is written as far as it goes and reported.
    const std::size_t count = std::min<std::size_t>(data.size(), dataSize_);
    if (data.data() == nullptr && dataSize_ != 0) return false;
    try {
        if (!config::writeFileWhole(rawDataPath(), data.first(count))) return false;
    } catch (const std::exception&) {
        return false;
    }
    return count == dataSize_;
}

void TestImage::releaseData() {
    data_ = {};
}

void TestImage::releaseBitmap() {
    dib_.reset();
    dibSize_ = 0;
    bitmapWidth_ = 0;
    bitmapHeight_ = 0;
    stride_ = 0;
}

bool TestImage::buildBitmap() {
    releaseBitmap();

    const std::uint64_t words = (std::uint64_t{width_} + 31) / 32;
    const std::uint64_t roundedWidth = words * 32;
    const std::uint64_t stride = words * 4;
    const std::uint64_t imageSize = stride * height_;
    const std::uint64_t lineBytes = (std::uint64_t{height_} + 7) / 8;
    // Scan lines are decoded and turned a strip at a time, so the line store stays small
    // enough to live in the cache between the two.
    constexpr std::uint32_t kStripLines = 128;
    const std::uint64_t lineStoreSize = kStripLines * lineBytes;
    // Outside input: refuse what the link would never carry rather than allocate it.
    if (dataSize_ > link::kMaxImageBytes || imageSize > link::kMaxImageBytes ||
        lineStoreSize > link::kMaxImageBytes || height_ > static_cast<std::uint32_t>(INT32_MAX))
        return false;

    // Neither block is cleared first: the decoder writes every scan line it is given and
    // the rotation every pixel byte.
    const std::size_t dibSize = static_cast<std::size_t>(imageSize) + kDibHeadSize;
    std::unique_ptr<std::uint8_t[]> dib;
    std::unique_ptr<std::uint8_t[]> lines;
    try {
        dib.reset(new std::uint8_t[dibSize]);
        lines.reset(new std::uint8_t[static_cast<std::size_t>(lineStoreSize)]);
    } catch (const std::bad_alloc&) {
        return false;
    }

    std::uint8_t* h = dib.get();
    put32(h + 0, kInfoHeaderSize);
    put32(h + 4, static_cast<std::uint32_t>(roundedWidth));
    put32(h + 8, height_);
    put16(h + 12, 1);  // planes
    put16(h + 14, 1);  // bits per pixel
    put32(h + 16, 0);  // uncompressed
    put32(h + 20, static_cast<std::uint32_t>(imageSize));
    put32(h + 24, kPixelsPerMetre);
    put32(h + 28, kPixelsPerMetre);
    put32(h + 32, 0);
    put32(h + 36, 0);
    // Colour 0 white, colour 1 black (blue, green, red, reserved).
    h[40] = h[41] = h[42] = 0xFF;
    h[43] = h[44] = h[45] = h[46] = h[47] = 0;

    // Bands of 8 scan lines (the last one shorter), each resuming where the previous
    // stopped; scan lines from `width` to the rounded width are white.
    const std::size_t received = std::min<std::size_t>(data_.size(), dataSize_);
    BandDecoder decoder(data_.first(received));
    const auto lineSize = static_cast<std::size_t>(lineBytes);
    for (std::uint32_t first = 0; first < roundedWidth; first += kStripLines) {
        const std::uint32_t strip =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kStripLines, roundedWidth - first));
        const std::uint32_t real = first < width_ ? std::min(strip, width_ - first) : 0;
        for (std::uint32_t line = 0; line < real; line += 8)
            decoder.decodeBand(lines.get() + line * lineSize, height_, std::min(8u, real - line));
        std::fill(lines.get() + real * lineSize, lines.get() + strip * lineSize, std::uint8_t{0});
        rotateLines(lines.get(), strip, lineSize, height_, dib.get() + kDibHeadSize + first / 8,
                    static_cast<std::size_t>(stride));
    }

    dib_ = std::move(dib);
    dibSize_ = dibSize;
    bitmapWidth_ = static_cast<std::uint32_t>(roundedWidth);
    bitmapHeight_ = height_;
    stride_ = static_cast<std::uint32_t>(stride);
    return true;
}

std::span<const std::uint8_t> TestImage::bits() const {
    if (!dib_) return {};
    return dib().subspan(kDibHeadSize);
}

std::vector<std::uint8_t> TestImage::bitmapFileBytes() const {
    if (!dib_) return {};
    std::vector<std::uint8_t> file(kFileHeaderSize + dibSize_);
    file[0] = 'B';
    file[1] = 'M';
    put32(&file[2], static_cast<std::uint32_t>(file.size()));
    put32(&file[10], static_cast<std::uint32_t>(kFileHeaderSize + kDibHeadSize));
    std::copy_n(dib_.get(), dibSize_, file.begin() + kFileHeaderSize);
    return file;
}

bool TestImage::saveBitmapFile(const std::string& path, std::string* error) const {
    if (!dib_) return false;
    try {
        return config::writeFileWhole(path, bitmapFileBytes(), error);
    } catch (const std::exception& e) {
        if (error != nullptr) *error = e.what();
        return false;
    }
}

std::optional<DrawRect> drawGeometry(std::uint32_t bitmapWidth, std::uint32_t bitmapHeight, int x,
                                     int y, int cx, int cy) {
    if (bitmapHeight == 0) return std::nullopt;
    const std::int64_t height =
        cy == -1 ? std::int64_t{bitmapHeight} : std::int64_t{cy} - 2 * std::int64_t{y};
    // A window too small for anything would otherwise ask for a mirrored picture.
    if (height <= 0) return std::nullopt;
    const std::int64_t width =
        cx == -1 ? std::int64_t{bitmapWidth} : std::int64_t{bitmapWidth} * height / bitmapHeight;
    if (width <= 0) return std::nullopt;
    const auto clamp = [](std::int64_t v) {
        return static_cast<int>(std::min<std::int64_t>(v, INT_MAX));
    };
    return DrawRect{x, y, clamp(width), clamp(height)};
}

}  // namespace q70::testimage
