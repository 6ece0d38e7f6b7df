#include "link/device_address.hpp"

#include <gtest/gtest.h>

namespace q70::test {
namespace {

using namespace q70::link;

DeviceAddress parsed(const std::string& text) {
    DeviceAddress a;
    std::string error;
    EXPECT_TRUE(parseDeviceAddress(text, a, error)) << text << ": " << error;
    return a;
}

TEST(DeviceAddress, TheFormsWeKnow) {
    DeviceAddress a = parsed("usb");
    EXPECT_EQ(a.kind, DeviceKind::Usb);
    EXPECT_EQ(a.vendorId, kDefaultUsbVendorId);
    EXPECT_EQ(a.productId, kDefaultUsbProductId);

    a = parsed("usb:04b4:Fa0C");
    EXPECT_EQ(a.kind, DeviceKind::Usb);
    EXPECT_EQ(a.vendorId, 0x04b4);
    EXPECT_EQ(a.productId, 0xfa0c);
    EXPECT_EQ(formatDeviceAddress(a), "usb:04b4:fa0c");
    EXPECT_EQ(parsed("usb:1:2").productId, 2);
    EXPECT_TRUE(parsed("usb:1:2").usbPort.empty());

    a = parsed("usb:1-4.2");
    EXPECT_EQ(a.kind, DeviceKind::Usb);
    EXPECT_EQ(a.usbPort, "1-4.2");
    EXPECT_EQ(a.vendorId, kDefaultUsbVendorId);
    EXPECT_EQ(formatDeviceAddress(a), "usb:1-4.2");
    EXPECT_EQ(parsed("usb:217-1.2.3.4.5.6.7").usbPort, "217-1.2.3.4.5.6.7");

    a = parsed("unix:/run/q70/board.sock");
    EXPECT_EQ(a.kind, DeviceKind::UnixSocket);
    EXPECT_EQ(a.path, "/run/q70/board.sock");
    EXPECT_EQ(parsed("unix:relative:with:colons").path, "relative:with:colons");
    EXPECT_EQ(formatDeviceAddress(a), "unix:/run/q70/board.sock");

    EXPECT_EQ(parsed("sim").kind, DeviceKind::Simulated);
    EXPECT_EQ(parsed("SIM").kind, DeviceKind::Simulated);

    a = parsed("\\\\.\\CPYBRD0");
    EXPECT_EQ(a.kind, DeviceKind::WindowsDevice);
    EXPECT_EQ(a.path, "\\\\.\\CPYBRD0");
    EXPECT_EQ(formatDeviceAddress(a), "\\\\.\\CPYBRD0");
}

TEST(DeviceAddress, AnythingElseIsRefusedWithAReason) {
    for (const char* bad : {"",
                            "usb:",
                            "usb:1234",
                            "usb:1234:",
                            "usb:12345:0001",
                            "usb:12g4:0001",
                            "usb:1234:0001:7",
                            "usb:1-",
                            "usb:-1",
                            "usb:1-4.",
                            "usb:1-.4",
                            "usb:1-4..2",
                            "usb:1-x",
                            "usb:1234-1",
                            "usb:1-1.2.3.4.5.6.7.8",
                            "usb:1-4:2",
                            "unix:",
                            "simulator",
                            "/dev/q70",
                            "\\\\.\\",
                            "tcp:host"}) {
        DeviceAddress a;
        a.path = "untouched";
        std::string error;
        EXPECT_FALSE(parseDeviceAddress(bad, a, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(a.path, "untouched") << bad;
    }
    std::string error;
    DeviceAddress a;
    parseDeviceAddress("usb:zz:01", a, error);
    EXPECT_NE(error.find("usb:VVVV:PPPP"), std::string::npos) << error;
    parseDeviceAddress("usb:1-4x", a, error);
    EXPECT_NE(error.find("usb:BUS-PORT"), std::string::npos) << error;
    parseDeviceAddress("bluetooth", a, error);
    EXPECT_NE(error.find("\"bluetooth\""), std::string::npos) << error;
}

}  // namespace
}  // namespace q70::test
