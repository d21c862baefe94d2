#include "terminal/ReceiveDisplay.h"

#include "editor/EditorModel.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "serial/CommXEx.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <optional>
#include <utility>

namespace pek {

PaneAppend::PaneAppend(TEditorModel& pane, TCommXEx* port, bool log, const LogWriter& writeLog)
    : pane_(pane), port_(port), log_(log && port), timeTyp_(port ? port->TimeTyp() : 0), writeLog_(writeLog)
{
    // A new line starts where the text ends with a line break. (A line that fills exactly a row
    // also ends at a row start, but it is not a new line and gets no stamp.)
    const TEditorLines& lines = pane.Lines();
    stamper_.Reset(lines.EndPos().byte == 0, lines.EndsWithPendingCr());
}

void PaneAppend::Add(std::string_view text)
{
    // Without stamps (the usual case) no clock is read for a chunk.
    const std::string prefix = timeTyp_ == 0 ? std::string() : TimeStampPrefix(timeTyp_, timeGetTime(), std::time(nullptr));
    stamper_.Add(text, prefix, text_);
}

void PaneAppend::Discard()
{
    text_.clear();
    discarded_ = true;
}

void PaneAppend::Flush()
{
    if (discarded_ || text_.empty()) return;
    pane_.AppendText(text_, true);
    if (log_ && writeLog_) writeLog_(*port_, text_);
    text_.clear();
}

void ShowTextOnPane(TEditorModel& pane, TCommXEx* port, std::string_view text, bool log, const LogWriter& writeLog)
{
    {
        PaneAppend append(pane, port, log, writeLog);
        append.Add(text);
    }
    pane.ScrollToEnd();
}

void RemoveLastCharacter(TEditorModel& pane)
{
    TEditorLines& lines = pane.Lines();
    const TTextPos end = lines.EndPos();
    if (end.byte == 0) return;
    // The whole last character: half a double-byte character would garble the line.
    const std::string_view last = lines.LineView(end.line);
    long long start = 0;
    long long previous = 0;
    while (start < end.byte) {
        previous = start;
        start += IsDBCSLeadByte(static_cast<unsigned char>(last[size_t(start)])) ? 2 : 1;
    }
    lines.Replace({end.line, previous}, end, "");
}

std::vector<std::string> LineErrorMessages(std::int32_t errorState)
{
    std::vector<std::string> messages;
    if (errorState & ComError::Frame) messages.push_back(Sjis("フレーミングエラー\r\n"));
    if (errorState & ComError::Overrun) messages.push_back(Sjis("バッファオーバーラン\r\n"));
    if (errorState & ComError::RxParity) messages.push_back(Sjis("パリティエラー\r\n"));
    return messages;
}

ReceiveDisplay::ReceiveDisplay(FindTarget find, LogWriter writeLog)
    : find_(std::move(find)), writeLog_(std::move(writeLog))
{
}

void ReceiveDisplay::ShowText(TEditorModel& pane, TCommXEx* port, std::string_view text, bool log) const
{
    if (port) {
        const Target target = find_(*port);
        if (target.pane == &pane && target.hex) EndHexLine(pane, *port, *target.hex);
    }
    ShowTextOnPane(pane, port, text, log, writeLog_);
}

void ReceiveDisplay::EndHexLine(TEditorModel& pane, TCommXEx& port, HexLines& hex) const
{
    if (hex.LineOpen()) ShowHex(pane, port, hex.Break(), port.LogRcv() && !port.LogBin());
}

void ReceiveDisplay::ShowHex(TEditorModel& pane, TCommXEx& port, const HexLines::Update& update, bool log) const
{
    // The line still filling up is drawn again whole. Only what is on the pane's last line can
    // go: a pane cleared meanwhile simply gets the line anew.
    TEditorLines& lines = pane.Lines();
    const TTextPos end = lines.EndPos();
    const long long erase = std::min<long long>(static_cast<long long>(update.erase), end.byte);
    if (erase > 0) lines.Replace({end.line, end.byte - erase}, end, "");
    if (!update.append.empty()) pane.AppendText(update.append, true);
    if (log && writeLog_ && !update.completed.empty()) writeLog_(port, update.completed);
}

void ReceiveDisplay::Receive(TCommXEx& port, std::int32_t receiveSize)
{
    if (port.Receiving()) return;
    const Target first = find_(port);
    if (!first.pane) return;
    const std::shared_ptr<TCommXEx> keepPort = first.port;
    TEditorModel& pane = *first.pane;
    port.SetReceiving(true);
    struct Guard {
        TCommXEx& port;
        ~Guard() { port.SetReceiving(false); }
    } guard{port};
    const bool textLog = port.LogRcv() && !port.LogBin();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(8);
    // The bytes arrive already read, so a slice of time alone could gather more text than the
    // pane and the log take in at once without holding up the event loop.
    std::int32_t budget = 65536;
    std::optional<PaneAppend> append;
    append.emplace(pane, &port, textLog, writeLog_);
    std::int32_t remaining = receiveSize;
    char chunk[256];
    std::string decoded;   // a UTF-8 chunk as code page 932
    std::optional<HexLines::Update> hexShown;   // hex lines of this call, shown at its end
    while (remaining > 0) {
        // Asking for no more than the engine holds returns at once. The port object has put the
        // bytes into its ring buffer and binary log when they were read from the device.
        const std::int32_t n = port.Read(chunk, std::min<std::int32_t>(255, remaining));
        if (n < 1) break;
        const Target current = find_(port);
        if (current.pane != &pane) {
            append->Discard();
            return;
        }
        if (current.hex) {
            append->Flush();
            HexLines::Update update = current.hex->Add(std::string_view(chunk, size_t(n)), [&port] {
                return TimeStampPrefix(port.TimeTyp(), timeGetTime(), std::time(nullptr));
            });
            if (hexShown) HexLines::Merge(*hexShown, std::move(update));
            else hexShown = std::move(update);
        } else {
            if (hexShown) ShowHex(pane, port, *std::exchange(hexShown, std::nullopt), textLog);
            char* text = chunk;
            int length = n;
            if (port.CharCode() == TCommXEx::ccUtf8 && current.utf8) {
                decoded.assign(current.utf8->Convert(std::string_view(chunk, size_t(n))));
                text = decoded.data();
                length = int(decoded.size());
            }
            if (ctrlCode_ && length > 0) {
                if (text[0] == 8) {
                    append.reset();  // the pane must hold everything before the backspace acts on it
                    RemoveLastCharacter(pane);
                    append.emplace(pane, &port, textLog, writeLog_);
                }
                length = ControlCodeFilter(text, length);
            }
            append->Add(current.leadByte->Take(std::string_view(text, size_t(length))));
        }
        budget -= n;
        if (!port.IsOpen() || budget <= 0 || std::chrono::steady_clock::now() >= deadline) break;
        remaining = port.ReadAheadCount();
    }
    if (hexShown) ShowHex(pane, port, *hexShown, textLog);
    append.reset();
    pane.ScrollToEnd();
}

}  // namespace pek
