// pek-send: lists the running Pek windows and sends a command string to one of them.
#include "platform/CodePage.h"
#include "platform/CopyData.h"

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

namespace {

// The text on stdout with status 0 when asked for (--help); on stderr with 2 after bad arguments.
int usage(bool asked = false)
{
    std::fputs(
        "usage: pek-send --list\n"
        "       pek-send [--window PID.N | --socket PATH] [--data N] [--timeout S] [--] STRING\n"
        "  Sends STRING (converted to code page 932, with its terminating zero) to a Pek window.\n"
        "  --data N   the action: 0 run as a command (default), 2 load file into the pane,\n"
        "             3 save the pane to a file, 4 clear the pane, 5 select tab N\n"
        "  --timeout S  give up waiting for the answer after S seconds (default: wait until\n"
        "             the window answers, however long a box it shows stays open)\n"
        "  The default window is the main window of the newest Pek process.\n"
        "  Exit status: 0 handled, 1 refused (a command: the sheet's port is not open),\n"
        "  2 not delivered (so not carried out) or bad arguments, 3 delivered but no answer:\n"
        "  the window may still carry the string out.\n",
        asked ? stdout : stderr);
    return asked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string window;
    std::string socket;
    std::uint32_t dwData = 0;
    std::string text;
    bool haveText = false;
    std::optional<std::chrono::milliseconds> timeout;
    std::string timeoutText;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list") {
            for (const auto& w : pek::ListCopyDataWindows())
                std::printf("%lld.%d\t%s\t%s\n", w.pid, w.number, w.socketPath.c_str(), w.caption.c_str());
            return 0;
        }
        if (arg == "--help" || arg == "-h") return usage(true);
        if (arg == "--window" && i + 1 < argc) window = argv[++i];
        else if (arg == "--socket" && i + 1 < argc) socket = argv[++i];
        else if (arg == "--timeout" && i + 1 < argc) {
            timeoutText = argv[++i];
            char* end = nullptr;
            const double seconds = std::strtod(timeoutText.c_str(), &end);
            if (!end || *end != '\0' || end == timeoutText.c_str() || !std::isfinite(seconds) || seconds < 0 ||
                seconds > 1e9)
                return usage();
            timeout = std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
        } else if (arg == "--data" && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long v = std::strtoul(argv[++i], &end, 0);
            if (!end || *end != '\0') return usage();
            dwData = static_cast<std::uint32_t>(v);
        } else if (arg == "--" && i + 1 < argc && !haveText) {
            text = argv[++i];
            haveText = true;
        } else if (!haveText && (arg.empty() || arg[0] != '-' || arg.size() == 1)) {
            text = arg;
            haveText = true;
        } else
            return usage();
    }
    if (!haveText) return usage();

    if (socket.empty()) {
        const auto windows = pek::ListCopyDataWindows();
        for (const auto& w : windows) {
            const std::string id = std::to_string(w.pid) + "." + std::to_string(w.number);
            if (window.empty() ? w.number == 0 : id == window) {
                socket = w.socketPath;
                break;
            }
        }
        if (socket.empty()) {
            std::fprintf(stderr, "pek-send: no Pek window %s\n", window.empty() ? "is running" : window.c_str());
            return 2;
        }
    }

    std::string payload;
    if (!pek::Utf8ToCp932Checked(text, payload)) {
        std::fputs("pek-send: the string has characters that code page 932 cannot hold\n", stderr);
        return 2;
    }
    payload.push_back('\0');
    switch (pek::SendCopyDataFrame(socket, dwData, payload, timeout)) {
    case pek::CopyDataResult::Handled: return 0;
    case pek::CopyDataResult::Refused:
        std::fputs("pek-send: the window refused the string; a command is refused when the sheet's port is not open\n",
                   stderr);
        return 1;
    case pek::CopyDataResult::NotDelivered:
        std::fprintf(stderr, "pek-send: the string did not reach %s; it was not carried out\n", socket.c_str());
        return 2;
    case pek::CopyDataResult::NoAnswer: break;
    }
    if (timeout)
        std::fprintf(stderr,
                     "pek-send: no answer from %s within %s s; the window may still carry the string out, "
                     "so sending it again may carry it out twice\n",
                     socket.c_str(), timeoutText.c_str());
    else
        std::fprintf(stderr, "pek-send: %s closed without answering; the window may have carried the string out\n",
                     socket.c_str());
    return 3;
}
