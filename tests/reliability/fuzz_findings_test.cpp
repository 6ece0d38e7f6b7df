// Inputs the fuzz targets found, kept as tests so the faults stay fixed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/firmware_transfer.hpp"
#include "link/protocol.hpp"

namespace q70::test {
namespace {

class FirmwareFinding : public ::testing::Test {
  protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("q70-finding-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void TearDown() override {
        // The transfer keeps its file open, and Windows removes no open file.
        transfer = firmware::FirmwareTransfer{};
        std::filesystem::remove(path);
    }

    firmware::OpenResult openWith(const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        transfer.filePath = path.string();
        return transfer.open();
    }

    std::filesystem::path path;
    firmware::FirmwareTransfer transfer;
};

// A CR at the very end of the file is no line end and stays in the last line. It made a line
// of 895 bytes pass the length check and then fill no chunk at all: the update sent empty
// chunks for ever.
TEST_F(FirmwareFinding, CarriageReturnEndingTheFileCountsInTheLastLine) {
    EXPECT_EQ(openWith(std::string(895, 'A') + "\r"), firmware::OpenResult::LineTooLong);

    ASSERT_EQ(openWith(std::string(894, 'A') + "\r"), firmware::OpenResult::Ok);
    transfer.readNextChunk();
    EXPECT_EQ(transfer.chunk().size(), link::kChunkCapacity);
    EXPECT_TRUE(transfer.chunkReachesEnd());

    // Before a line feed the CR is the line end, and the line still fits.
    ASSERT_EQ(openWith(std::string(895, 'A') + "\r\n"), firmware::OpenResult::Ok);
    transfer.readNextChunk();
    EXPECT_EQ(transfer.chunk().size(), link::kChunkCapacity);
    EXPECT_TRUE(transfer.chunkReachesEnd());
}

}  // namespace
}  // namespace q70::test
