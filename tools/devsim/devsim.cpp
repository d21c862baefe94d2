// devsim: a simulated serial device on a pseudo-terminal. It prints the path of the device end
// (the one a terminal opens like /dev/ttyS0) on the first line of stdout and then plays the
// device on the other end. See --help.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* Usage =
    "usage: devsim [options]\n"
    "  Opens a pseudo-terminal, prints the path of its device end on the first line of stdout,\n"
    "  and plays a serial device on the other end until the program that opened the device\n"
    "  closes it again (or --timeout passes).\n"
    "\n"
    "  --echo            send every received byte straight back\n"
    "  --at              answer AT commands (ended by CR; LF is ignored) with \"OK\\r\\n\",\n"
    "                    unknown ones with \"ERROR\\r\\n\". Known, in any letter case:\n"
    "                      AT  ATZ  AT&F  ATE0  ATE1  ATH  ATH0  ATI  ATI0  AT+<name>...\n"
    "                    ATI answers \"devsim\\r\\n\" before OK; ATE1 makes the device echo\n"
    "                    the command characters (echo is off at start, as after ATE0);\n"
    "                    AT+ accepts any extended command of letters, digits and =?,\"\n"
    "  --stream          send lines of mixed ASCII and Shift-JIS (CP932) text, each ended\n"
    "                    by CR LF, with a running line number\n"
    "  --rate N          with --stream: N bytes per second (default: as fast as possible)\n"
    "  --bytes N         with --stream: stop after exactly N bytes (the last line may be cut)\n"
    "  --hex \"41 42 0d\"  send these bytes (hex pairs, blanks optional)\n"
    "  --wait MS         after the device end is opened, wait MS ms before --hex and --stream\n"
    "                    start (default 500: the opener purges its input while it configures)\n"
    "  --timeout S       stop after S seconds (fractions allowed)\n"
    "  --help            this text\n"
    "\n"
    "  With --stream --bytes N the byte count and a checksum (sum of all bytes mod 2^32) are\n"
    "  printed to stderr at the end.\n";

struct Options {
    bool echo = false;
    bool at = false;
    bool stream = false;
    double rate = 0;               // bytes per second; 0 = as fast as possible
    std::optional<std::uint64_t> bytes;
    std::string hex;
    int waitMs = 500;
    double timeout = 0;            // seconds; 0 = none
};

[[noreturn]] void Die(const std::string& message)
{
    std::fprintf(stderr, "devsim: %s\n", message.c_str());
    std::exit(2);
}

bool ParseHex(std::string_view text, std::string& out)
{
    std::string digits;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) out += char(std::stoi(digits.substr(i, 2), nullptr, 16));
    return true;
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc) Die(std::string("missing value for ") + argv[i]);
        return argv[++i];
    };
    auto number = [&](const std::string& text, const char* what) {
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || v < 0) Die(std::string("bad value for ") + what + ": " + text);
        return v;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--echo") o.echo = true;
        else if (arg == "--at") o.at = true;
        else if (arg == "--stream") o.stream = true;
        else if (arg == "--rate") o.rate = number(value(i), "--rate");
        else if (arg == "--bytes") o.bytes = std::uint64_t(number(value(i), "--bytes"));
        else if (arg == "--hex") {
            if (!ParseHex(value(i), o.hex)) Die("--hex wants pairs of hex digits");
        } else if (arg == "--wait") o.waitMs = int(number(value(i), "--wait"));
        else if (arg == "--timeout") o.timeout = number(value(i), "--timeout");
        else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else Die("unknown option " + arg + " (see --help)");
    }
    if ((o.rate > 0 || o.bytes) && !o.stream) o.stream = true;
    return o;
}

// The text the stream repeats: ASCII, katakana, kanji (with 0x5C trail bytes: 表, 能) and
// half-width katakana, in CP932.
std::string StreamLine(std::uint64_t number)
{
    char head[32];
    std::snprintf(head, sizeof head, "%06llu ", static_cast<unsigned long long>(number));
    static const std::string body =
        "Pek devsim \x83\x65\x83\x58\x83\x67 "   // テスト
        "\x8E\xF3\x90\x4D\x95\x5C\x8E\xA6 "      // 受信表示
        "\x94\x5C\x97\xCD "                      // 能力
        "\xB6\xC0\xB6\xC5 "                      // ｶﾀｶﾅ
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n";
    return head + body;
}

std::string Upper(std::string s)
{
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class AtModem {
public:
    // Feeds received bytes; returns what the device sends back.
    std::string Feed(std::string_view bytes)
    {
        std::string out;
        for (const char c : bytes) {
            if (echo_) out += c;
            if (c == '\n') continue;
            if (c != '\r') {
                if (line_.size() < 256) line_ += c;
                continue;
            }
            out += Answer(Upper(line_));
            line_.clear();
        }
        return out;
    }

private:
    std::string Answer(const std::string& cmd)
    {
        if (cmd.empty()) return {};
        if (cmd == "AT" || cmd == "ATZ" || cmd == "AT&F" || cmd == "ATH" || cmd == "ATH0") return "OK\r\n";
        if (cmd == "ATE0" || cmd == "ATE1") {
            echo_ = cmd == "ATE1";
            return "OK\r\n";
        }
        if (cmd == "ATI" || cmd == "ATI0") return "devsim\r\nOK\r\n";
        if (cmd.size() > 3 && cmd.compare(0, 3, "AT+") == 0 && std::isalpha(static_cast<unsigned char>(cmd[3]))) {
            const bool plain = std::all_of(cmd.begin() + 3, cmd.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("=?,\"", c) != nullptr;
            });
            if (plain) return "OK\r\n";
        }
        return "ERROR\r\n";
    }

    std::string line_;
    bool echo_ = false;
};

bool WriteAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) < 0 && errno != EINTR) return false;
            if (p.revents & (POLLHUP | POLLERR)) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Die("cannot open a pseudo-terminal");
    const char* name = ptsname(master);
    if (!name) Die("cannot name the pseudo-terminal");
    const std::string devicePath = name;
    {
        // Raw mode on the device end, so that bytes pass unchanged for any opener; the setting
        // stays with the terminal after this descriptor is closed.
        const int slave = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) Die("cannot open " + devicePath);
        termios tio{};
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("%s\n", devicePath.c_str());
    std::fflush(stdout);

    const auto start = Clock::now();
    const auto deadline = options.timeout > 0
        ? std::optional(start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeout)))
        : std::nullopt;

    AtModem modem;
    bool peerSeen = false;
    std::optional<Clock::time_point> sendFrom;  // when --hex and --stream may begin
    bool hexSent = options.hex.empty();
    std::uint64_t streamed = 0, lineNo = 1, checksum = 0;
    std::string pendingLine;
    bool streamDone = !options.stream;

    for (;;) {
        const auto now = Clock::now();
        if (deadline && now >= *deadline) break;

        int waitMs = 50;
        if (deadline) waitMs = std::min<long long>(waitMs, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now).count() + 1);
        bool wantWrite = false;
        if (peerSeen && sendFrom && now >= *sendFrom && !streamDone) {
            if (options.rate <= 0) {
                wantWrite = true;
                waitMs = 0;
            } else {
                waitMs = std::min(waitMs, 5);
            }
        }
        pollfd p{master, short(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
        if (poll(&p, 1, std::max(waitMs, 0)) < 0 && errno != EINTR) break;

        if (p.revents & POLLHUP) {
            // No one has the device end open: before the first opener that is the normal state.
            // poll reports a hang-up at once, so wait here instead of spinning.
            if (peerSeen) break;
            usleep(20000);
            continue;
        }
        if (!peerSeen) {
            peerSeen = true;
            sendFrom = Clock::now() + std::chrono::milliseconds(options.waitMs);
        }

        if (p.revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n < 0 && errno == EIO) break;  // the opener closed between poll and read
            if (n > 0) {
                const std::string_view in(buffer, std::size_t(n));
                std::string out;
                if (options.echo) out += in;
                if (options.at) out += modem.Feed(in);
                if (!out.empty() && !WriteAll(master, out)) break;
            }
        }

        if (!sendFrom || Clock::now() < *sendFrom) continue;
        if (!hexSent) {
            if (!WriteAll(master, options.hex)) break;
            hexSent = true;
        }
        if (!streamDone) {
            // How much may go out now.
            std::uint64_t budget = 65536;
            if (options.rate > 0) {
                const double elapsed = std::chrono::duration<double>(Clock::now() - *sendFrom).count();
                const double allowed = elapsed * options.rate;
                budget = allowed > double(streamed) ? std::uint64_t(allowed - double(streamed)) : 0;
            }
            if (options.bytes) budget = std::min(budget, *options.bytes - streamed);
            std::string chunk;
            while (chunk.size() < budget) {
                if (pendingLine.empty()) pendingLine = StreamLine(lineNo++);
                const std::size_t take = std::min<std::size_t>(pendingLine.size(), std::size_t(budget - chunk.size()));
                chunk.append(pendingLine, 0, take);
                pendingLine.erase(0, take);
            }
            if (!chunk.empty()) {
                const ssize_t n = ::write(master, chunk.data(), chunk.size());
                if (n < 0 && errno != EAGAIN && errno != EINTR) break;
                if (n > 0) {
                    for (ssize_t i = 0; i < n; ++i) checksum += static_cast<unsigned char>(chunk[std::size_t(i)]);
                    streamed += std::uint64_t(n);
                    // What did not fit goes first next time.
                    pendingLine = chunk.substr(std::size_t(n)) + pendingLine;
                } else {
                    pendingLine = chunk + pendingLine;
                }
            }
            if (options.bytes && streamed >= *options.bytes) {
                streamDone = true;
                std::fprintf(stderr, "devsim: streamed %llu bytes, checksum %llu\n", static_cast<unsigned long long>(streamed),
                             static_cast<unsigned long long>(checksum & 0xFFFFFFFFu));
            }
        }
    }
    ::close(master);
    return 0;
}
