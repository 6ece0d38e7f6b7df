#pragma once
// The board's scanned test image: its header, the raw copy on disk, the 1-bit bitmap built
// from the compressed scan lines, and the BMP file the user may save.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace q70::testimage {

inline constexpr const char* kRawDataFileName = "rawdata.bin";

// Sizes of the packed bitmap (info header + colour table + pixel rows).
inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::size_t kColourTableSize = 8;
inline constexpr std::size_t kDibHeadSize = kInfoHeaderSize + kColourTableSize;  // 48
inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::int32_t kPixelsPerMetre = 7874;  // 200 dots per inch

class TestImage {
  public:
    TestImage() = default;
    // A copy holds the picture on its own (a window keeps what it shows while newer
    // images arrive); the borrowed data are not copied.
    TestImage(const TestImage& other);
    TestImage& operator=(const TestImage& other);
    TestImage(TestImage&&) noexcept = default;
    TestImage& operator=(TestImage&&) noexcept = default;
    ~TestImage() = default;

    void setProgramFolder(std::string folder);  // where rawdata.bin is written
    void setHeader(std::uint32_t width, std::uint32_t height, std::uint32_t dataSize,
                   char deviceType);
    // Writes "rawdata.bin" (exactly dataSize bytes, replacing any earlier one whole) in the
    // program folder; false on any failure, nothing reported. The data becomes the object's `data`
    // until releaseData() (borrowed: the caller keeps it alive).
    bool saveRawData(std::span<const std::uint8_t> data);
    bool buildBitmap();  // replaces the bitmap; false when none could be built
    void releaseData();  // forget the borrowed data
    bool hasBitmap() const { return dib_ != nullptr; }
    std::span<const std::uint8_t> dib() const { return {dib_.get(), dibSize_}; }  // 40 + 8 + rows
    std::span<const std::uint8_t> bits() const;     // pixel rows (bottom-up, stride bytes each)
    std::uint32_t width() const { return width_; }  // as from the header
    std::uint32_t height() const { return height_; }
    std::uint32_t bitmapWidth() const { return bitmapWidth_; }    // rounded width, 0 if none
    std::uint32_t bitmapHeight() const { return bitmapHeight_; }  // 0 when no bitmap
    std::uint32_t stride() const { return stride_; }              // of the bitmap's rows, 0 if none
    std::uint32_t dataSize() const { return dataSize_; }
    char deviceType() const { return deviceType_; }
    std::span<const std::uint8_t> data() const { return data_; }
    std::string rawDataPath() const;

    std::vector<std::uint8_t> bitmapFileBytes() const;  // 14-byte file header + dib; empty if none
    // False when no bitmap is held or the write fails (then `error` says why); the file is
    // replaced whole or left as it was.
    bool saveBitmapFile(const std::string& path, std::string* error = nullptr) const;

  private:
    void releaseBitmap();

    std::string folder_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t dataSize_ = 0;
    char deviceType_ = 0;
    std::span<const std::uint8_t> data_;

    std::unique_ptr<std::uint8_t[]> dib_;
    std::size_t dibSize_ = 0;
    std::uint32_t bitmapWidth_ = 0;
    std::uint32_t bitmapHeight_ = 0;
    std::uint32_t stride_ = 0;
};

struct DrawRect {
    int x, y, width, height;
};
// Where draw puts the whole bitmap: height from cy (cy - 2y, or the bitmap's own height when
// cy is -1), width from cx == -1 (own width) or else in proportion to the height. nullopt
// when nothing is drawn (no bitmap, height 0, nothing left of the destination).
std::optional<DrawRect> drawGeometry(std::uint32_t bitmapWidth, std::uint32_t bitmapHeight, int x,
                                     int y, int cx, int cy);

}  // namespace q70::testimage
