#include "testimage/test_image.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/protocol.hpp"
#include "testimage/decoder.hpp"
#include "testimage/encoder.hpp"
#include "testimage/pictures.hpp"

namespace q70::testimage {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}
std::uint32_t le16(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class TestImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("q70-testimage-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        image_.setProgramFolder(dir_.string());
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    // Encodes `lines` and hands the image over as the controller does.
    void receive(const Bytes& lines, std::uint32_t width, std::uint32_t bytesPerLine,
                 const EncoderOptions& options = {}) {
        data_ = encodeLines(lines, width, bytesPerLine, options);
        image_.setHeader(width, bytesPerLine * 8, static_cast<std::uint32_t>(data_.size()), 'W');
        image_.saveRawData(data_);
    }

    // The pixel at picture column x, row y from the top.
    bool ink(std::uint32_t x, std::uint32_t yFromTop) const {
        const std::uint32_t stored = image_.bitmapHeight() - 1 - yFromTop;
        return (image_.bits()[stored * image_.stride() + x / 8] & (0x80 >> (x % 8))) != 0;
    }

    fs::path dir_;
    TestImage image_;
    Bytes data_;
};

TEST_F(TestImageTest, FullSizeImageHasTheDocumentedLayout) {
    const std::uint32_t width = 2160, bytesPerLine = 188;
    const Bytes lines = testing::randomLines(width, bytesPerLine, 42);
    receive(lines, width, bytesPerLine);
    ASSERT_TRUE(image_.buildBitmap());

    EXPECT_EQ(image_.bitmapWidth(), 2176u);
    EXPECT_EQ(image_.bitmapHeight(), 1504u);
    EXPECT_EQ(image_.stride(), 272u);
    const Bytes dib(image_.dib().begin(), image_.dib().end());
    ASSERT_EQ(dib.size(), 409136u);
    EXPECT_EQ(le32(dib, 0), 40u);
    EXPECT_EQ(le32(dib, 4), 2176u);
    EXPECT_EQ(le32(dib, 8), 1504u);
    EXPECT_EQ(le16(dib, 12), 1u);
    EXPECT_EQ(le16(dib, 14), 1u);
    EXPECT_EQ(le32(dib, 16), 0u);
    EXPECT_EQ(le32(dib, 20), 409088u);
    EXPECT_EQ(le32(dib, 24), 7874u);
    EXPECT_EQ(le32(dib, 28), 7874u);
    EXPECT_EQ(le32(dib, 32), 0u);
    EXPECT_EQ(le32(dib, 36), 0u);
    EXPECT_EQ((Bytes(dib.begin() + 40, dib.begin() + 48)), (Bytes{255, 255, 255, 0, 0, 0, 0, 0}));

    // Every pixel: the scan lines, turned, padded with white columns.
    Bytes store(2176 * bytesPerLine, 0);
    std::copy(lines.begin(), lines.end(), store.begin());
    Bytes expected(409088, 0);
    rotateLinesPerPixel(store.data(), 2176, bytesPerLine, 1504, expected.data(), 272);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image_.bits().begin()));

    const Bytes file = image_.bitmapFileBytes();
    ASSERT_EQ(file.size(), 409150u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(le32(file, 2), 409150u);
    EXPECT_EQ(le32(file, 6), 0u);
    EXPECT_EQ(le32(file, 10), 62u);
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), file.begin() + 14));
}

TEST_F(TestImageTest, NarrowImageIsPaddedWithWhiteColumns) {
    // 16 scan lines of ink, but the header says 13: lines 13.. are never decoded.
    const Bytes lines(16 * 4, 0xFF);
    data_ = encodeLines(lines, 16, 4);
    image_.setHeader(13, 32, static_cast<std::uint32_t>(data_.size()), 'W');
    image_.saveRawData(data_);
    ASSERT_TRUE(image_.buildBitmap());
    EXPECT_EQ(image_.bitmapWidth(), 32u);
    EXPECT_EQ(image_.stride(), 4u);
    for (std::uint32_t y = 0; y < 32; ++y) {
        for (std::uint32_t x = 0; x < 32; ++x) EXPECT_EQ(ink(x, y), x < 13) << x << "," << y;
    }
}

TEST_F(TestImageTest, RawDataIsWrittenAsReceivedAndReplacedByTheNext) {
    const Bytes first = testing::randomLines(40, 8, 1);
    receive(first, 40, 8);
    const Bytes firstData = data_;
    EXPECT_EQ(readFile(dir_ / "rawdata.bin"), firstData);

    const Bytes second(8 * 8, 0);
    receive(second, 8, 8);
    EXPECT_EQ(readFile(dir_ / "rawdata.bin"), data_);
    EXPECT_LT(data_.size(), firstData.size());

    // The header's size rules: a longer buffer gives only dataSize bytes.
    Bytes longer = data_;
    longer.insert(longer.end(), {1, 2, 3});
    image_.setHeader(8, 64, static_cast<std::uint32_t>(data_.size()), 'W');
    EXPECT_TRUE(image_.saveRawData(longer));
    EXPECT_EQ(readFile(dir_ / "rawdata.bin"), data_);
    // A buffer shorter than the header says is written as far as it goes, and reported.
    image_.setHeader(8, 64, static_cast<std::uint32_t>(data_.size() + 10), 'W');
    EXPECT_FALSE(image_.saveRawData(data_));
    EXPECT_EQ(readFile(dir_ / "rawdata.bin"), data_);
}

TEST_F(TestImageTest, UnwritableFolderStillGivesABitmap) {
    image_.setProgramFolder((dir_ / "missing" / "folder").string());
    const Bytes lines(8 * 4, 0x81);
    data_ = encodeLines(lines, 8, 4);
    image_.setHeader(8, 32, static_cast<std::uint32_t>(data_.size()), 'W');
    EXPECT_FALSE(image_.saveRawData(data_));
    ASSERT_TRUE(image_.buildBitmap());
    EXPECT_TRUE(ink(0, 31));  // dot 0 of scan line 0, bottom left
    EXPECT_FALSE(ink(0, 30));
}

TEST_F(TestImageTest, SavedBitmapMatchesTheBytesAndFailsQuietly) {
    TestImage empty;
    EXPECT_FALSE(empty.saveBitmapFile((dir_ / "none.bmp").string()));
    EXPECT_TRUE(empty.bitmapFileBytes().empty());
    EXPECT_FALSE(fs::exists(dir_ / "none.bmp"));

    receive(testing::randomLines(50, 10, 3), 50, 10);
    ASSERT_TRUE(image_.buildBitmap());
    const fs::path path = dir_ / "picture.bmp";
    ASSERT_TRUE(image_.saveBitmapFile(path.string()));
    EXPECT_EQ(readFile(path), image_.bitmapFileBytes());
    EXPECT_FALSE(image_.saveBitmapFile((dir_ / "no" / "such" / "dir.bmp").string()));
    EXPECT_FALSE(image_.saveBitmapFile(dir_.string()));  // a folder, not a file
}

// An ordinary reader sees the same picture: ImageMagick turns the file into a plain bitmap
// (PBM, 1 = black), compared pixel by pixel.
TEST_F(TestImageTest, SavedBitmapLoadsInAnImageReader) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "no convert";
    const std::uint32_t width = 45, bytesPerLine = 5;  // 64 x 40 pixels
    Bytes lines(width * bytesPerLine, 0);
    lines[0] = 0x80;                      // scan line 0, dot 0: bottom-left
    lines[44 * bytesPerLine + 4] = 0x01;  // scan line 44, dot 39: top, column 44
    for (std::uint32_t r = 10; r < 20; ++r) lines[r * bytesPerLine + 2] = 0xF0;  // a block
    receive(lines, width, bytesPerLine);
    ASSERT_TRUE(image_.buildBitmap());
    const fs::path bmp = dir_ / "picture.bmp";
    const fs::path pbm = dir_ / "picture.pbm";
    ASSERT_TRUE(image_.saveBitmapFile(bmp.string()));
    const std::string command =
        "convert '" + bmp.string() + "' -compress none pbm:'" + pbm.string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    std::ifstream in(pbm);
    std::string magic;
    std::uint32_t w = 0, h = 0;
    in >> magic >> w >> h;
    ASSERT_EQ(magic, "P1");
    ASSERT_EQ(w, 64u);
    ASSERT_EQ(h, 40u);
    std::vector<int> pixels;
    char c;
    while (in >> c) pixels.push_back(c == '1');
    ASSERT_EQ(pixels.size(), 64u * 40u);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x)
            ASSERT_EQ(pixels[y * w + x] != 0, ink(x, y)) << x << "," << y;
    }
    EXPECT_EQ(pixels[39 * 64 + 0], 1);          // bottom-left
    EXPECT_EQ(pixels[0 * 64 + 44], 1);          // top, column 44
    EXPECT_EQ(pixels[(39 - 16) * 64 + 10], 1);  // dot 16 of scan line 10
    EXPECT_EQ(pixels[(39 - 20) * 64 + 10], 0);
}

TEST_F(TestImageTest, OversizedImagesAreRefused) {
    // A bitmap over the cap: refused, and an earlier bitmap is gone.
    receive(testing::randomLines(8, 4, 9), 8, 4);
    ASSERT_TRUE(image_.buildBitmap());
    image_.setHeader(65535, 65535u * 8, static_cast<std::uint32_t>(data_.size()), 'W');
    EXPECT_FALSE(image_.buildBitmap());
    EXPECT_FALSE(image_.hasBitmap());
    EXPECT_EQ(image_.bitmapWidth(), 0u);
    EXPECT_EQ(image_.bitmapHeight(), 0u);
    EXPECT_TRUE(image_.bits().empty());

    image_.setHeader(8, 32, static_cast<std::uint32_t>(link::kMaxImageBytes + 1), 'W');
    EXPECT_FALSE(image_.buildBitmap());
    image_.setHeader(8, 32, static_cast<std::uint32_t>(data_.size()), 'W');
    EXPECT_TRUE(image_.buildBitmap());
}

TEST_F(TestImageTest, MissingOrShortDataGivesWhite) {
    image_.setHeader(20, 16, 1000, 'W');
    ASSERT_TRUE(image_.buildBitmap());  // no data at all
    for (std::uint8_t b : image_.bits()) ASSERT_EQ(b, 0);

    // Data cut in half: the rows it reaches, white after.
    const Bytes lines(20 * 2, 0xFF);
    EncoderOptions o;
    o.rowsPerBlock = 1;
    const Bytes data = encodeLines(lines, 20, 2, o);
    const Bytes half(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / 2));
    image_.setHeader(20, 16, static_cast<std::uint32_t>(data.size()), 'W');
    image_.saveRawData(half);
    ASSERT_TRUE(image_.buildBitmap());
    EXPECT_TRUE(ink(0, 0));
    EXPECT_FALSE(ink(19, 0));
    image_.releaseData();
    EXPECT_TRUE(image_.data().empty());
}

TEST_F(TestImageTest, ZeroHeightImageDrawsNothing) {
    image_.setHeader(10, 0, 0, 'W');
    ASSERT_TRUE(image_.buildBitmap());
    EXPECT_EQ(image_.bitmapHeight(), 0u);
    EXPECT_FALSE(drawGeometry(image_.bitmapWidth(), image_.bitmapHeight(), 0, 0, 600, 400));
}

TEST(DrawGeometry, FillsTheHeightAndKeepsProportions) {
    const auto r = drawGeometry(2176, 1504, 0, 0, 600, 400);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->x, 0);
    EXPECT_EQ(r->y, 0);
    EXPECT_EQ(r->width, 578);
    EXPECT_EQ(r->height, 400);

    const auto own = drawGeometry(2176, 1504, 5, 7, -1, -1);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->x, 5);
    EXPECT_EQ(own->y, 7);
    EXPECT_EQ(own->width, 2176);
    EXPECT_EQ(own->height, 1504);

    // Any cx but -1 is only a marker: width follows the height.
    const auto marker = drawGeometry(2176, 1504, 0, 10, 1, 420);
    ASSERT_TRUE(marker);
    EXPECT_EQ(marker->height, 400);
    EXPECT_EQ(marker->width, 578);
    // Own width, height from the window.
    EXPECT_EQ(drawGeometry(2176, 1504, 0, 0, -1, 400)->width, 2176);

    EXPECT_FALSE(drawGeometry(0, 0, 0, 0, 600, 400));          // no bitmap
    EXPECT_FALSE(drawGeometry(2176, 0, 0, 0, -1, -1));         // height 0
    EXPECT_FALSE(drawGeometry(2176, 1504, 0, 0, 600, 0));      // minimised
    EXPECT_FALSE(drawGeometry(2176, 1504, 0, 300, 600, 400));  // nothing left below y
}

}  // namespace
}  // namespace q70::testimage
