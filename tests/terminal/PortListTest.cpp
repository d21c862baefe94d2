#include "terminal/PortList.h"

#include "platform/Profile.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace pek;
namespace fs = std::filesystem;

class PortListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(root.path() / "by-id");
        fs::create_directories(root.path() / "sys");
        fs::create_directories(root.path() / "dev");
        folders.byId = (root.path() / "by-id").string();
        folders.sysTty = (root.path() / "sys").string();
        folders.dev = (root.path() / "dev").string();
    }
    pek::test::TempDir root;
    ProfileFile ini{(root.path() / "pek.ini").string()};
    DeviceFolders folders;
    pek::test::PtyPair adapterA, adapterB;
};

TEST_F(PortListTest, NewAdaptersGetTheLowestFreeNumberFromThreeOnceOnly)
{
    fs::create_symlink(adapterA.slavePath(), root.path() / "by-id" / "usb-FTDI_A-if00-port0");
    fs::create_symlink(adapterB.slavePath(), root.path() / "by-id" / "usb-Prolific_B-if00-port0");
    ini.WriteString("Ports", "COM3", "/dev/ttyUSB7");
    EXPECT_EQ(AssignUsbPortNumbers(ini, folders), (std::vector<int>{4, 5}));
    EXPECT_EQ(ini.ReadString("Ports", "COM4", ""), folders.byId + "/usb-FTDI_A-if00-port0");
    EXPECT_TRUE(AssignUsbPortNumbers(ini, folders).empty());  // unplug and replug: same numbers

    const auto present = ListPresentPorts(ini, folders);
    ASSERT_EQ(present.size(), 2u);  // COM3's device is absent
    EXPECT_EQ(present[0].number, 4);
    EXPECT_TRUE(present[0].usb);
    EXPECT_EQ(present[1].number, 5);
}

TEST_F(PortListTest, BuiltInPortsCountOnlyWithAUartBehindThem)
{
    // ttyS0 has a UART (type 4), ttyS1 has none (type 0): only COM1 is present.
    for (int i : {0, 1}) {
        fs::create_symlink(adapterA.slavePath(), root.path() / "dev" / ("ttyS" + std::to_string(i)));
        fs::create_directories(root.path() / "sys" / ("ttyS" + std::to_string(i)));
        std::ofstream(root.path() / "sys" / ("ttyS" + std::to_string(i)) / "type") << (i == 0 ? "4\n" : "0\n");
    }
    ini.WriteString("Ports", "COM7", adapterB.slavePath());
    ini.WriteString("Ports", "COMx", adapterB.slavePath());
    const auto present = ListPresentPorts(ini, folders);
    ASSERT_EQ(present.size(), 2u);
    EXPECT_EQ(present[0].number, 1);
    EXPECT_EQ(present[1].number, 7);
    EXPECT_EQ(present[1].path, adapterB.slavePath());
}

TEST_F(PortListTest, SerialDevicesFromAFakeDevTree)
{
    const fs::path dev = root.path() / "tree" / "dev";
    fs::create_directories(dev / "serial" / "by-id");
    for (const char* node : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1"})
        fs::create_symlink(adapterA.slavePath(), dev / node);
    std::ofstream(dev / "ttyUSB3");  // not a device
    fs::create_directories(dev / "ttyUSBx");
    fs::create_symlink("../../ttyUSB2", dev / "serial" / "by-id" / "usb-FTDI_A-if00-port0");
    fs::create_symlink("../../ttyUSB9", dev / "serial" / "by-id" / "usb-Gone-if00-port0");  // unplugged
    const DeviceFolders tree = DeviceFolders::Under((root.path() / "tree").string());
    for (int i : {0, 1}) {
        fs::create_directories(fs::path(tree.sysTty) / ("ttyS" + std::to_string(i)));
        std::ofstream(fs::path(tree.sysTty) / ("ttyS" + std::to_string(i)) / "type") << (i == 0 ? "4\n" : "0\n");
    }
    const auto devices = ListSerialDevices(tree);
    std::vector<std::pair<std::string, std::string>> listed;
    for (const auto& d : devices) listed.emplace_back(fs::path(d.path).lexically_relative(dev).string(), d.target);
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{
                          {"serial/by-id/usb-FTDI_A-if00-port0", (dev / "ttyUSB2").string()},
                          {"ttyUSB2", ""},
                          {"ttyUSB10", ""},
                          {"ttyACM0", ""},
                          {"ttyS0", ""}}));
    EXPECT_TRUE(ListSerialDevices(DeviceFolders::Under((root.path() / "none").string())).empty());
}
