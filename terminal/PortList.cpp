#include "terminal/PortList.h"

#include "platform/Profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace pek {

namespace {

namespace fs = std::filesystem;

// COM<n> keys of [Ports] with their paths.
std::map<int, std::string> mappedPorts(const ProfileFile& ini)
{
    std::map<int, std::string> ports;
    for (const auto& key : ini.ReadSectionKeys("Ports")) {
        if (key.size() < 4 || (key.compare(0, 3, "COM") != 0 && key.compare(0, 3, "com") != 0)) continue;
        char* end = nullptr;
        const long n = std::strtol(key.c_str() + 3, &end, 10);
        if (!end || *end != '\0' || n < 1 || n > 255) continue;
        ports[int(n)] = ini.ReadString("Ports", key, "");
    }
    return ports;
}

bool isCharDevice(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A built-in ttyS node exists whether or not a UART sits behind it; sysfs tells the UART type.
bool uartPresent(const DeviceFolders& folders, int index)
{
    std::ifstream type(folders.sysTty + "/ttyS" + std::to_string(index) + "/type");
    int value = 0;
    return type >> value && value != 0;
}

}  // namespace

std::vector<int> AssignUsbPortNumbers(ProfileFile& ini, const DeviceFolders& folders)
{
    std::vector<int> assigned;
    std::error_code error;
    if (!fs::is_directory(folders.byId, error)) return assigned;
    std::vector<std::string> adapters;
    for (const auto& entry : fs::directory_iterator(folders.byId, error)) adapters.push_back(entry.path().string());
    std::sort(adapters.begin(), adapters.end());
    auto ports = mappedPorts(ini);
    for (const auto& adapter : adapters) {
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const auto& p) { return p.second == adapter; });
        if (known) continue;
        int n = 3;
        while (ports.count(n)) ++n;
        if (n > 255) break;
        ini.WriteString("Ports", "COM" + std::to_string(n), adapter);
        ports[n] = adapter;
        assigned.push_back(n);
    }
    return assigned;
}

std::vector<PresentPort> ListPresentPorts(const ProfileFile& ini, const DeviceFolders& folders)
{
    std::vector<PresentPort> present;
    const auto ports = mappedPorts(ini);
    for (const auto& [n, path] : ports)
        if (isCharDevice(path)) present.push_back({n, path, path.rfind(folders.byId + "/", 0) == 0});
    for (int n = 1; n <= 32; ++n) {
        if (ports.count(n)) continue;
        const std::string path = folders.dev + "/ttyS" + std::to_string(n - 1);
        if (isCharDevice(path) && uartPresent(folders, n - 1)) present.push_back({n, path, false});
    }
    std::sort(present.begin(), present.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
    return present;
}

}  // namespace pek
