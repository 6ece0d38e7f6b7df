// The USB transport's decisions that need no board: which interface and endpoints it
// takes, and how libusb's results become read outcomes and the user's error text.

#include "transport/usb/usb_logic.hpp"

#include <libusb.h>

#include <gtest/gtest.h>

#include "transport/usb/usb_transport.hpp"

namespace q70::test {
namespace {

using namespace q70::transport::usb;

constexpr std::uint8_t kBulk = LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK;
constexpr std::uint8_t kInterrupt = LIBUSB_ENDPOINT_TRANSFER_TYPE_INTERRUPT;

TEST(UsbInterfaceChoice, TakesTheFirstSettingWithOneBulkEndpointEachWay) {
    std::vector<AltSettingInfo> settings = {
        {0, 0, {{0x81, kInterrupt, 8}}},                                       // a status interface
        {1, 0, {{0x02, kBulk, 512}, {0x03, kBulk, 512}, {0x84, kBulk, 512}}},  // two outs
        {2, 0, {{0x85, kInterrupt, 8}, {0x86, kBulk, 512}, {0x06, kBulk, 512}}},
        {3, 0, {{0x07, kBulk, 64}, {0x87, kBulk, 64}}},
    };
    const auto pair = chooseBulkInterface(settings);
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->interfaceNumber, 2);
    EXPECT_EQ(pair->inEndpoint, 0x86);
    EXPECT_EQ(pair->outEndpoint, 0x06);

    EXPECT_FALSE(chooseBulkInterface({}));
    EXPECT_FALSE(chooseBulkInterface({{0, 0, {{0x81, kBulk, 512}, {0x82, kBulk, 512}}},  // two ins
                                      {1, 0, {{0x01, kInterrupt, 8}, {0x81, kBulk, 512}}}}));
}

TEST(UsbInterfaceChoice, ReadsTheConfigurationDescriptorIncludingAlternateSettings) {
    // Interface 0: one alternate setting with no endpoints. Interface 1: alternate 0 has
    // none either (a common way to save bandwidth), alternate 1 has the bulk pair.
    libusb_interface_descriptor if0[1]{};
    if0[0].bInterfaceNumber = 0;
    libusb_endpoint_descriptor eps[2]{};
    eps[0].bEndpointAddress = 0x01;
    eps[0].bmAttributes = kBulk;
    eps[0].wMaxPacketSize = 512;
    eps[1].bEndpointAddress = 0x82;
    eps[1].bmAttributes = kBulk;
    eps[1].wMaxPacketSize = 512;
    libusb_interface_descriptor if1[2]{};
    if1[0].bInterfaceNumber = 1;
    if1[1].bInterfaceNumber = 1;
    if1[1].bAlternateSetting = 1;
    if1[1].bNumEndpoints = 2;
    if1[1].endpoint = eps;
    libusb_interface interfaces[2]{};
    interfaces[0].altsetting = if0;
    interfaces[0].num_altsetting = 1;
    interfaces[1].altsetting = if1;
    interfaces[1].num_altsetting = 2;
    libusb_config_descriptor config{};
    config.bNumInterfaces = 2;
    config.interface = interfaces;

    const auto settings = describeConfig(config);
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings[2].endpoints.size(), 2u);
    const auto pair = chooseBulkInterface(settings);
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->interfaceNumber, 1);
    EXPECT_EQ(pair->alternateSetting, 1);
    EXPECT_EQ(pair->outEndpoint, 0x01);
    EXPECT_EQ(pair->inEndpoint, 0x82);
}

TEST(UsbErrors, OpenProblemsAndWhatTheyTellTheUser) {
    EXPECT_EQ(classifyOpenError(LIBUSB_ERROR_ACCESS), OpenProblem::NoAccess);
    EXPECT_EQ(classifyOpenError(LIBUSB_ERROR_NO_DEVICE), OpenProblem::Absent);
    EXPECT_EQ(classifyOpenError(LIBUSB_ERROR_NOT_FOUND), OpenProblem::Absent);
    EXPECT_EQ(classifyOpenError(LIBUSB_ERROR_BUSY), OpenProblem::Busy);
    EXPECT_EQ(classifyOpenError(LIBUSB_ERROR_IO), OpenProblem::Other);

    const UsbIds ids{0x1209, 0x0001};
    const std::string noAccess =
        describeOpenProblem(OpenProblem::NoAccess, ids, "bus 1 device 7", "LIBUSB_ERROR_ACCESS");
    EXPECT_NE(noAccess.find("1209:0001"), std::string::npos);
    EXPECT_NE(noAccess.find("bus 1 device 7"), std::string::npos);
    EXPECT_NE(noAccess.find("70-q70.rules"), std::string::npos);
    const std::string absent = describeOpenProblem(OpenProblem::Absent, ids);
    EXPECT_NE(absent.find("No Q-70 board"), std::string::npos);
    EXPECT_NE(absent.find("usb:VVVV:PPPP"), std::string::npos);
    EXPECT_EQ(absent.find("udev"), std::string::npos);  // absence is not a permissions problem
    EXPECT_NE(describeOpenProblem(OpenProblem::Busy, ids).find("another program"),
              std::string::npos);
    EXPECT_TRUE(describeOpenProblem(OpenProblem::None, ids).empty());
}

TEST(UsbErrors, TransfersAndWrites) {
    EXPECT_EQ(mapTransferStatus(LIBUSB_TRANSFER_COMPLETED, 1024), link::ReadStatus::Ok);
    EXPECT_EQ(mapTransferStatus(LIBUSB_TRANSFER_COMPLETED, 0), link::ReadStatus::Pending);
    EXPECT_EQ(mapTransferStatus(LIBUSB_TRANSFER_TIMED_OUT, 0), link::ReadStatus::Pending);
    for (const int s : {LIBUSB_TRANSFER_ERROR, LIBUSB_TRANSFER_CANCELLED, LIBUSB_TRANSFER_STALL,
                        LIBUSB_TRANSFER_NO_DEVICE, LIBUSB_TRANSFER_OVERFLOW}) {
        EXPECT_EQ(mapTransferStatus(s, 10), link::ReadStatus::Failed) << s;
    }
    EXPECT_TRUE(writeSucceeded(LIBUSB_SUCCESS, 6, 6));
    EXPECT_FALSE(writeSucceeded(LIBUSB_SUCCESS, 5, 6));
    EXPECT_FALSE(writeSucceeded(LIBUSB_ERROR_TIMEOUT, 6, 6));
    EXPECT_FALSE(writeSucceeded(LIBUSB_ERROR_NO_DEVICE, 0, 6));
}

TEST(UsbTransport, WithoutABoardOpenFailsAndSaysSo) {
    // No board with these ids is attached to a build machine.
    transport::UsbTransport t(0x1209, 0xFFFE);
    EXPECT_FALSE(t.open());
    EXPECT_FALSE(t.isOpen());
    EXPECT_FALSE(std::string(t.lastError()).empty());
    link::PacketBuffer buf{};
    EXPECT_EQ(t.readPacket(buf, 0).status, link::ReadStatus::Failed);
    EXPECT_FALSE(t.writePacket(link::encodeBare(1).view()));
    t.close();
}

}  // namespace
}  // namespace q70::test
