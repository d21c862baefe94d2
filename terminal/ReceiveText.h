#pragma once
// The text side of showing received data: control codes, time stamps, line prefixes and the
// Shift-JIS lead byte held back at a chunk end. No pane, no port: plain byte strings.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace pek {

// Keeps TAB, LF, CR and 32..255; BS removes the last byte kept in this chunk; drops other controls.
// Works in place and returns the new length.
int ControlCodeFilter(char* chunk, int length);

// The stamp text of a time-stamp type (0 none, 1 tick count, 2 elapsed "DD_HH:MM:SS.mmm",
// 3 local "mm/dd/hh:nn:ss"); tick and now are passed in so callers and tests choose the clock.
std::string TimeStampText(int timeTyp, std::uint32_t tick, std::time_t now);
// The stamp followed by "| ", or empty for type 0 and unknown types.
std::string TimeStampPrefix(int timeTyp, std::uint32_t tick, std::time_t now);

// Inserts prefix after every line break of text (CR LF counts as one) that more text follows; a
// break at the very end is left to the next piece's line start.
std::string InsertLinePrefixes(std::string_view text, std::string_view prefix);
// The same, appended to out.
void AppendWithLinePrefixes(std::string_view text, std::string_view prefix, std::string& out);

// Adds text for the end of a pane with the time-stamp prefix at every line start, keeping track
// of where the pane's text ends. A CR that ended one piece and an LF that starts the next are one
// line break: the LF follows the CR without a stamp between them.
class LineStamper {
public:
    // atLineStart: the pane's text ends with a line break (or is empty); endsWithCr: with a CR.
    void Reset(bool atLineStart, bool endsWithCr);
    // Appends the stamped form of text to out.
    void Add(std::string_view text, std::string_view prefix, std::string& out);
    bool AtLineStart() const { return atLineStart_; }

private:
    bool atLineStart_ = true;
    bool endsWithCr_ = false;
};

// Holds back a lead byte that ended a chunk without its trail byte, and puts it in front of the
// next chunk, so a double-byte character is never split between two appends.
class LeadByteHold {
public:
    // Returns the text to show for this chunk: the held byte (if any) plus the chunk, minus a new
    // unpaired lead byte at its end.
    // The view is of chunk or of a buffer reused by the next call: use it before calling again.
    std::string_view Take(std::string_view chunk);
    bool Held() const { return held_; }

private:
    bool held_ = false;
    char byte_ = 0;
    std::string shown_;
};

}  // namespace pek
