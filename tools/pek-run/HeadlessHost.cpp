#include "tools/pek-run/HeadlessHost.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "serial/CommXEx.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace pek {

HeadlessHost::HeadlessHost(std::shared_ptr<TCommXEx> port, std::string settingsPath, std::FILE* out, std::FILE* err)
    : port_(std::move(port)), ini_(std::move(settingsPath)), out_(out), err_(err),
      commands_(CommandWindow{
          .port = [this](int sheet) { return SheetPortShared(sheet); },
          .showText = [this](int sheet, std::string_view text, bool log) { ShowEcho(sheet, text, log); },
          .message = [this](const std::string& text, const std::string& caption, unsigned) {
              // The processor's texts are UTF-8 already.
              std::fprintf(err_, "%s: %s\n", caption.c_str(), text.c_str());
          },
          .fileExists = [](const std::string& name) {
              struct stat info {};
              return ::stat(FileNameToSystem(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
          },
          .historyChanged = nullptr,
          .writeLog = [this](TCommXEx& p, std::string_view text) { WriteLog(p, text); },
          .runMacro = [this](int sheet, const std::string& fileName, bool forceThreadRun) {
              if (!runner_) return false;
              runner_(sheet, fileName, forceThreadRun);
              return true;
          },
      })
{
}

HeadlessHost::~HeadlessHost() { ClosePort(); }

void HeadlessHost::Message(const std::string& text, const std::string& caption) const
{
    std::fprintf(err_, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(err_);
}

void HeadlessHost::WriteLog(TCommXEx& port, std::string_view text) const
{
    try {
        port.LogWrite(text);
    } catch (const std::exception& error) {
        Message(Cp932ToUtf8(error.what()), "log");
        try {
            port.LogClose();
        } catch (const std::exception&) {
            // Already reported: the log is gone either way.
        }
    }
}

void HeadlessHost::LogText(TCommXEx& port, std::string_view text)
{
    std::string stamped;
    stamps_.Add(text, TimeStampPrefix(port.TimeTyp(), timeGetTime(), std::time(nullptr)), stamped);
    WriteLog(port, stamped);
}

std::string HeadlessHost::SheetFile(int sheet) const { return sheet == 0 ? Sjis("(無題)") : std::string(); }

void HeadlessHost::ShowText(int sheet, std::string_view text, bool log)
{
    if (sheet != 0) return;
    // The script's bytes as they are: a pipe reader decides how to decode them.
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
    if (log && port_ && port_->LogOpened()) LogText(*port_, text);
}

void HeadlessHost::ShowEcho(int sheet, std::string_view text, bool log)
{
    if (echo_) {
        ShowText(sheet, text, log);
        return;
    }
    if (sheet == 0 && log && port_ && port_->LogOpened()) LogText(*port_, text);
}

void HeadlessHost::ExecCommand(int sheet, std::string text, bool fromUser)
{
    commands_.ExecCommand(sheet, std::move(text), fromUser);
}

std::shared_ptr<TCommXEx> HeadlessHost::AddSheetPort(int sheet)
{
    if (sheet != 0) return nullptr;
    if (!port_) port_ = std::make_shared<TCommXEx>();
    return port_;
}

void HeadlessHost::RemoveSheetPort(int sheet)
{
    if (sheet != 0 || !port_) return;
    ClosePort();
    port_.reset();
}

void HeadlessHost::SaveSheetSettings(int) { throw Exception("pek-run does not write settings"); }

void HeadlessHost::ClosePort()
{
    if (!port_) return;
    try {
        if (port_->LogOpened()) port_->LogClose();
    } catch (const std::exception& error) {
        Message(Cp932ToUtf8(error.what()), "log");
    }
    port_->Close();
}

void StoreReceived(HeadlessHost& host, TCommXEx& port, std::int32_t receiveSize)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(8);
    std::int32_t remaining = receiveSize;
    char chunk[256];
    while (remaining > 0) {
        // Asking for no more than the queue holds returns at once.
        // The port object put the bytes into its ring buffer and binary log as it read them from
        // the device; what is left here is the text log, and taking them off the read-ahead queue.
        const std::int32_t n = port.Read(chunk, std::min<std::int32_t>(255, remaining));
        if (n < 1) break;
        if (port.LogRcv() && !port.LogBin() && port.LogOpened()) host.LogText(port, std::string_view(chunk, std::size_t(n)));
        // A flood is taken in slices so signals and the run's calls are served between them.
        if (!port.IsOpen() || std::chrono::steady_clock::now() >= deadline) break;
        remaining = port.ReadAheadCount();
    }
}

}  // namespace pek
