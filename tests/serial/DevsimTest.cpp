#include "support/EventLoop.h"
#include "serial/CommX.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <string>
#include <vector>

namespace pek {
namespace {

using namespace std::chrono_literals;
using test::ServeUntil;

// devsim as a child process; the first line of its output is the device path.
class Devsim {
public:
    explicit Devsim(std::vector<std::string> args)
    {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        args.insert(args.begin(), DEVSIM_PATH);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
        ::close(out[0]);
    }
    ~Devsim()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& path() const { return path_; }
    // True when the process ended within the time.
    bool WaitExit(std::chrono::milliseconds deadline)
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string path_;
};

class DevsimTest : public ::testing::Test {
protected:
    void OpenOn(const Devsim& sim)
    {
        const std::string path = sim.path();
        ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
        comm.SetPortResolver([path](int) { return path; });
        comm.SetFlowCtrl(cfcNone);
        comm.OnReceive = [this](TCustomCommX& sender, std::int32_t size) {
            std::string chunk(std::size_t(size), '\0');
            const std::int32_t n = sender.Read(chunk.data(), size);
            if (n > 0) received.append(chunk, 0, std::size_t(n));
        };
        comm.Open();
    }
    TCommX comm;
    std::string received;
};

TEST_F(DevsimTest, AnswersAtCommands)
{
    Devsim sim({"--at"});
    OpenOn(sim);
    ASSERT_TRUE(comm.SendLine("AT"));
    ASSERT_TRUE(ServeUntil([&] { return received == "OK\r\n"; })) << received;
    received.clear();
    ASSERT_TRUE(comm.SendLine("ATFOO"));
    ASSERT_TRUE(ServeUntil([&] { return received == "ERROR\r\n"; })) << received;
    received.clear();
    ASSERT_TRUE(comm.SendLine("ati"));
    ASSERT_TRUE(ServeUntil([&] { return received == "devsim\r\nOK\r\n"; })) << received;
    received.clear();
    ASSERT_TRUE(comm.SendLine("AT+CSQ?"));
    ASSERT_TRUE(ServeUntil([&] { return received == "OK\r\n"; })) << received;
    // It stops by itself once the port is closed.
    comm.Close();
    EXPECT_TRUE(sim.WaitExit(5s));
}

TEST_F(DevsimTest, Echoes)
{
    Devsim sim({"--echo"});
    OpenOn(sim);
    ASSERT_TRUE(comm.WriteStr(std::string("echo \x83\x65\0!", 9)));
    ASSERT_TRUE(ServeUntil([&] { return received.size() >= 9; }));
    EXPECT_EQ(received, std::string("echo \x83\x65\0!", 9));
}

TEST_F(DevsimTest, SendsHexBytes)
{
    Devsim sim({"--hex", "41 42 0d 0a 00", "--wait", "200"});
    OpenOn(sim);
    ASSERT_TRUE(ServeUntil([&] { return received.size() >= 5; }));
    EXPECT_EQ(received, std::string("AB\r\n\0", 5));
}

TEST_F(DevsimTest, StreamsACountOfMixedTextLines)
{
    Devsim sim({"--stream", "--bytes", "20000", "--wait", "200"});
    OpenOn(sim);
    ASSERT_TRUE(ServeUntil([&] { return received.size() >= 20000; }, 10s));
    test::ServeFor(100ms);
    EXPECT_EQ(received.size(), 20000u);
    EXPECT_EQ(received.substr(0, 7), "000001 ");
    EXPECT_NE(received.find("\x83\x65\x83\x58\x83\x67"), std::string::npos);  // テスト
    const auto firstEnd = received.find("\r\n");
    ASSERT_NE(firstEnd, std::string::npos);
    EXPECT_EQ(received.substr(firstEnd + 2, 7), "000002 ");
}

TEST(Devsim, StopsAfterItsTimeOut)
{
    Devsim sim({"--timeout", "0.2"});
    EXPECT_FALSE(sim.path().empty());
    EXPECT_TRUE(sim.WaitExit(5s));
}

}  // namespace
}  // namespace pek
