#include "terminal/CommandLine.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/DialogService.h"
#include "serial/CommXEx.h"
#include "terminal/HexText.h"
#include "terminal/ReceiveText.h"

#include <ctime>

namespace pek {

CommandProcessor::CommandProcessor(CommandWindow window) : window_(std::move(window)) {}

CommandProcessor::~CommandProcessor() = default;

void CommandProcessor::ExecCommand(int sheet, std::string text, bool fromUser)
{
    const std::weak_ptr<int> alive = alive_;
    const bool echo = echo_;
    struct Restore {
        CommandProcessor& self;
        const std::weak_ptr<int>& alive;
        bool value;
        ~Restore()
        {
            if (!alive.expired()) self.echo_ = value;
        }
    } restore{*this, alive, echo};
    if (!text.empty() && text[0] == '@') {
        echo_ = false;
        text.erase(0, 1);
    }
    const std::shared_ptr<TCommXEx> port = window_.port(sheet);
    // A port that is closed sends nothing: the echo is not logged as sent, and the user is told.
    const bool sendable = port && port->IsOpen();
    if (echo_) window_.showText(sheet, text + "\r\n", sendable && port->LogTrs() && !port->LogBin());
    // A command with line breaks (only another program can send one) stays out of the history:
    // it could not be kept in the settings file.
    if (fromUser && !text.empty() && text.find_first_of("\r\n") == std::string::npos) {
        history_.Add(text);
        if (window_.historyChanged) window_.historyChanged(history_);
        if (alive.expired()) return;
    }
    if (!text.empty() && text[0] == '!') {
        std::string fileName = text.substr(1);
        const bool forceThreadRun = !fileName.empty() && fileName[0] == '!';
        if (forceThreadRun) fileName.erase(0, 1);
        if (!window_.fileExists(fileName)) {
            window_.message(Cp932ToUtf8(fileName) + " が見つかりません。", "ファイルエラー", MB_OK);
            return;
        }
        if (!window_.runMacro || !window_.runMacro(sheet, fileName, forceThreadRun))
            window_.message("マクロを実行できません: " + Cp932ToUtf8(fileName) +
                                "\r\nマクロエンジンはこの版にはまだありません。",
                            "Pek", MB_OK | MB_ICONWARNING);
        return;
    }
    if (!sendable) {
        window_.message("通信ポートが開いていません", "Pek", MB_OK);
        return;
    }
    // Text inside the program is code page 932; a device that speaks UTF-8 gets it in UTF-8.
    const std::string wire = port->CharCode() == TCommXEx::ccUtf8 ? Cp932ToUtf8(text) : text;
    port->SendLine(wire);
    if (alive.expired()) return;
    if (port->LogBin() && port->LogTrs() && port->LogOpened())
        window_.writeLog(*port, TimeStampPrefix(port->TimeTyp(), timeGetTime(), std::time(nullptr)) + wire + "\r");
}

bool CommandProcessor::ExecHexCommand(int sheet, const std::string& text, bool fromUser)
{
    std::string error;
    const std::optional<std::string> bytes = ParseHexBytes(text, &error);
    if (!bytes) {
        window_.message("16進の送信データが正しくありません: " + error, "Pek", MB_OK | MB_ICONWARNING);
        return false;
    }
    const std::weak_ptr<int> alive = alive_;
    const std::shared_ptr<TCommXEx> port = window_.port(sheet);
    const bool sendable = port && port->IsOpen();
    if (echo_) window_.showText(sheet, text + "\r\n", sendable && port->LogTrs() && !port->LogBin());
    if (fromUser && text.find_first_of("\r\n") == std::string::npos) {
        history_.Add(text);
        if (window_.historyChanged) window_.historyChanged(history_);
        if (alive.expired()) return false;
    }
    if (!sendable) {
        window_.message("通信ポートが開いていません", "Pek", MB_OK);
        return false;
    }
    const bool sent = port->SendStr(*bytes);
    if (alive.expired()) return sent;
    if (port->LogBin() && port->LogTrs() && port->LogOpened())
        window_.writeLog(*port, TimeStampPrefix(port->TimeTyp(), timeGetTime(), std::time(nullptr)) + *bytes);
    return sent;
}

std::filesystem::path ExampleMacroFolder(const std::filesystem::path& programFolder)
{
    return programFolder / ".." / "share" / "pek" / "examples";
}

std::string FindExampleMacro(const std::string& cp932FileName, const std::filesystem::path& programFolder)
{
    std::string utf8Name;
    if (cp932FileName.empty() || !Cp932ToUtf8Checked(cp932FileName, utf8Name)) return {};
    const std::filesystem::path name(utf8Name);
    if (name.has_parent_path() || name.is_absolute() || name == "." || name == "..") return {};
    const std::filesystem::path candidate = (ExampleMacroFolder(programFolder) / name).lexically_normal();
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(candidate, ignored)) return {};
    std::string cp932Path;
    return Utf8ToCp932Checked(candidate.string(), cp932Path) ? cp932Path : std::string();
}

}  // namespace pek
