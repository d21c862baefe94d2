#include "terminal/PortList.h"

#include "platform/Profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
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

// "ttyUSB10" after "ttyUSB2".
bool NaturalLess(const std::string& a, const std::string& b)
{
    const auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
        const std::string number = name.substr(digits);
        return std::pair(name.substr(0, digits), number.empty() ? -1L : std::strtol(number.c_str(), nullptr, 10));
    };
    return split(a) < split(b);
}

}  // namespace

DeviceFolders DeviceFolders::Under(const std::string& root)
{
    const fs::path base(root);
    return {(base / "dev/serial/by-id").string(), (base / "sys/class/tty").string(), (base / "dev").string()};
}

std::vector<SerialDevice> ListSerialDevices(const DeviceFolders& folders)
{
    std::vector<SerialDevice> devices;
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folders.byId, error)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!isCharDevice(name)) continue;  // a link left behind by an unplugged adapter
        const fs::path link(name);
        const fs::path target = fs::read_symlink(link, error);
        devices.push_back({name, error ? std::string() : (link.parent_path() / target).lexically_normal().string()});
    }
    names.clear();
    for (const auto& entry : fs::directory_iterator(folders.dev, error)) {
        const std::string file = entry.path().filename().string();
        for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"})
            if (file.size() > std::strlen(prefix) && file.compare(0, std::strlen(prefix), prefix) == 0 &&
                std::all_of(file.begin() + long(std::strlen(prefix)), file.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
                names.push_back(file);
    }
    const auto rank = [](const std::string& file) { return file.rfind("ttyUSB", 0) == 0 ? 0 : file.rfind("ttyACM", 0) == 0 ? 1 : 2; };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : NaturalLess(a, b);
    });
    for (const std::string& file : names) {
        const std::string path = (fs::path(folders.dev) / file).string();
        if (!isCharDevice(path)) continue;
        if (rank(file) == 2 && !uartPresent(folders, std::atoi(file.c_str() + 4))) continue;
        devices.push_back({path, std::string()});
    }
    return devices;
}

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
