#pragma once
// Received bytes and messages on their way into a sheet's pane: control codes, the held lead
// byte, time stamps at line starts, the text log and the scroll (the port object keeps the ring
// buffer and the binary log). Works on the pane's text model and the sheet's port object; no widget.
#include "platform/CodePage.h"
#include "terminal/HexText.h"
#include "terminal/ReceiveText.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

class TCommXEx;
class TCustomCommX;
class TEditorModel;

// Writes text to the port's log. The window's writer closes a failing log and tells the user;
// it never throws.
using LogWriter = std::function<void(TCommXEx& port, std::string_view text)>;

// Text on its way to the end of a pane: stamped with the port's time-stamp type and logged as one
// append. A pane without a port has no stamps and no log.
class PaneAppend {
public:
    PaneAppend(TEditorModel& pane, TCommXEx* port, bool log, const LogWriter& writeLog);
    ~PaneAppend() { Flush(); }
    PaneAppend(const PaneAppend&) = delete;
    PaneAppend& operator=(const PaneAppend&) = delete;
    void Add(std::string_view text);
    void Flush();
    void Discard();  // the pane went away: nothing more is shown

private:
    TEditorModel& pane_;
    TCommXEx* port_;
    bool log_;
    int timeTyp_;
    const LogWriter& writeLog_;
    LineStamper stamper_;
    std::string text_;
    bool discarded_ = false;
};

// Appends text to the pane (stamped, logged when log is set) and scrolls to the end.
void ShowTextOnPane(TEditorModel& pane, TCommXEx* port, std::string_view text, bool log, const LogWriter& writeLog);

// Removes the whole last character of the pane's last line (a BS at the start of a chunk).
void RemoveLastCharacter(TEditorModel& pane);

// The messages a line-error report (ComError bits) shows, in the order they are shown.
std::vector<std::string> LineErrorMessages(std::int32_t errorState);

// The receive handler of every port of a window.
class ReceiveDisplay {
public:
    struct Target {
        TEditorModel* pane = nullptr;
        LeadByteHold* leadByte = nullptr;
        std::shared_ptr<TCommXEx> port;  // keeps the port alive while its arrival is handled
        Utf8ToCp932Stream* utf8 = nullptr;   // the sheet's decoder, used while its port speaks UTF-8
        HexLines* hex = nullptr;             // set while the sheet shows arrivals in hexadecimal
    };
    // Finds the sheet a port belongs to; an empty target when no sheet owns it any more. Asked again
    // after every read: a read may serve events in which the sheet closes.
    using FindTarget = std::function<Target(const TCustomCommX& port)>;

    ReceiveDisplay(FindTarget find, LogWriter writeLog);

    bool CtrlCode() const { return ctrlCode_; }
    void SetCtrlCode(bool on) { ctrlCode_ = on; }

    // Text for a pane that did not come from its port (echo, messages, script output), stamped and
    // logged as received text is. It ends a hex line still filling up.
    void ShowText(TEditorModel& pane, TCommXEx* port, std::string_view text, bool log) const;
    // Ends the hex line still filling up on the pane, logged as received text.
    void EndHexLine(TEditorModel& pane, TCommXEx& port, HexLines& hex) const;

    // Reads what the port holds in chunks of at most 255 bytes and shows it; returns after a slice
    // of time during a flood (the port reports the rest at once), so painting and input keep up.
    void Receive(TCommXEx& port, std::int32_t receiveSize);

private:
    void ShowHex(TEditorModel& pane, TCommXEx& port, const HexLines::Update& update, bool log) const;

    FindTarget find_;
    LogWriter writeLog_;
    bool ctrlCode_ = true;
};

}  // namespace pek
