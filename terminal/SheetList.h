#pragma once
// The sheets of one window in tab order: file name, port object, pane and the lead byte held for
// the pane. A main window owns its sheets' ports; a shadow window's sheet only refers to one.
#include "platform/CodePage.h"
#include "terminal/HexText.h"
#include "terminal/ReceiveText.h"

#include <memory>
#include <string>
#include <vector>

class QSplitter;
class QWidget;

namespace pek {

class TCommXEx;
class TCustomCommX;
class TEditorEx;

// "(無題)": the file name of a sheet without a file.
const std::string& UntitledName();

struct Sheet {
    std::string fileName = UntitledName();  // CP932
    std::shared_ptr<TCommXEx> port;         // owned: the main window's port sheets
    std::weak_ptr<TCommXEx> sharedPort;     // a shadow window's view of the main window's port
    QWidget* page = nullptr;                // owned by the tab control
    TEditorEx* pane = nullptr;              // owned by the page; received data always goes here
    TEditorEx* upper = nullptr;             // the split view's upper pane on the same text, or null
    QSplitter* splitter = nullptr;          // kept hidden when unsplit, for the next split
    LeadByteHold leadByte;                  // per sheet: sheets receiving at once never mix bytes
    Utf8ToCp932Stream utf8;                 // a character of a UTF-8 device split between reads
    std::unique_ptr<HexLines> hex;          // set while the sheet shows what arrives in hexadecimal

    // The port this sheet shows: its own, or the one it shares while that one lives.
    std::shared_ptr<TCommXEx> Port() const;
};

class SheetList {
public:
    int Count() const { return int(sheets_.size()); }
    bool Contains(int index) const { return index >= 0 && index < Count(); }
    // Null for a number that names no sheet.
    Sheet* At(int index) const { return Contains(index) ? sheets_[size_t(index)].get() : nullptr; }
    Sheet& Add();
    // Takes the sheet out of the list; the caller disposes of its page.
    std::unique_ptr<Sheet> Remove(int index);

    // The index of the sheet that owns or shares port, or -1.
    int IndexOfPort(const TCustomCommX& port) const;
    // The smallest port number from 1 up that no sheet's port uses.
    int LowestFreePortNo() const;

private:
    std::vector<std::unique_ptr<Sheet>> sheets_;
};

}  // namespace pek
