#pragma once
#include <chrono>
#include <string>

namespace pek::test {

// A pseudo-terminal pair in raw mode. The code under test opens slavePath() like a serial device;
// the test plays the device on the master end.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    void write(const std::string& bytes);
    // Reads until `count` bytes arrived or the deadline passed; returns what came.
    std::string readExactly(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Reads whatever arrives until nothing more comes for `quiet`.
    std::string readAvailable(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
    // Closes the master end: to the slave side the device has vanished.
    void closeMaster();

private:
    int master_ = -1;
    int slaveKeepAlive_ = -1;  // keeps the slave side from hanging up before the code under test opens it
    std::string slavePath_;
};

}  // namespace pek::test
