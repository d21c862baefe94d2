#pragma once
// Which COM numbers name which devices on this machine. Numbers map to paths by the settings
// file's [Ports] section; a USB adapter seen under /dev/serial/by-id gets the lowest free number
// from 3 upward once, written to [Ports], so it keeps its number when plugged in again.
#include <string>
#include <vector>

namespace pek {

class ProfileFile;

struct PresentPort {
    int number = 0;
    std::string path;
    bool usb = false;  // found under the by-id folder
};

struct DeviceFolders {
    std::string byId = "/dev/serial/by-id";
    std::string sysTty = "/sys/class/tty";
    std::string dev = "/dev";

    // The same folders under another root ("/" is this machine).
    static DeviceFolders Under(const std::string& root);
};

struct SerialDevice {
    std::string path;
    std::string target;  // for a stable by-id name, the tty it points at now; else empty
};

// The serial devices present, for the user to choose from: the stable by-id names first (a name
// keeps meaning the same adapter when it comes back under another tty number), then the ttyUSB,
// ttyACM and ttyS nodes, the ttyS ones only with a UART behind them. Names sort with their
// numbers (ttyUSB2 before ttyUSB10).
std::vector<SerialDevice> ListSerialDevices(const DeviceFolders& folders = {});

// Gives every adapter under folders.byId that has no number yet the lowest free number >= 3.
// Returns the numbers it assigned.
std::vector<int> AssignUsbPortNumbers(ProfileFile& ini, const DeviceFolders& folders = {});

// Every COM number whose device is present: the [Ports] entries that exist, and the built-in
// ttyS ports that have a UART behind them. Sorted by number.
std::vector<PresentPort> ListPresentPorts(const ProfileFile& ini, const DeviceFolders& folders = {});

}  // namespace pek
