#pragma once
// Pieces the benchmark programs share: timing, byte accounting and a raw pseudo-terminal pair.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace pek::bench {

using Clock = std::chrono::steady_clock;

// The process's resident memory (VmRSS) in MB.
inline double ResidentMB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    double kb = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kb;
            break;
        }
        status.ignore(1 << 10, '\n');
    }
    return kb / 1024;
}

inline double MBps(std::uint64_t bytes, Clock::duration d)
{
    return double(bytes) / 1e6 / std::chrono::duration<double>(d).count();
}

// Byte count, a position-sensitive checksum, and the plain byte sum mod 2^32 the simulated
// device reports.
struct Sum {
    std::uint64_t count = 0;
    std::uint64_t checksum = 0;
    std::uint32_t byteSum = 0;
    void Add(const char* p, std::size_t n)
    {
        count += n;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(p[i]);
            checksum = checksum * 31 + b;
            byteSum += b;
        }
    }
    bool operator==(const Sum&) const = default;
};

// A pseudo-terminal pair in raw mode; a benchmark cannot go on without one.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty()
    {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        path = name;
    }
    ~Pty()
    {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

}  // namespace pek::bench
