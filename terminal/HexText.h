#pragma once
// Bytes as hexadecimal text and back: the hex view's lines of received bytes, and the bytes a hex
// command stands for. No pane, no port: plain byte strings.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pek {

// Received bytes as lines of 16: each line starts with its time-stamp prefix (taken when its first
// byte arrives), then the bytes as "XX " cells, then the printable characters beside them ('.' for
// the others). A line still short of 16 bytes is shown as far as it goes and drawn again, whole,
// as more bytes come.
class HexLines {
public:
    static constexpr int kBytesPerLine = 16;

    struct Update {
        size_t erase = 0;       // bytes to take off the end of the pane first: the unfinished line shown before
        std::string append;     // then append this
        std::string completed;  // the lines finished by this piece, line breaks included (for the text log)
    };
    using Stamp = std::function<std::string()>;   // the prefix for a line starting now

    Update Add(std::string_view bytes, const Stamp& stamp);
    // Ends the unfinished line where it stands, as when other text is about to be shown after it:
    // the next byte starts a new line. Returns the text that ends it ("\r\n", or "" with no such line).
    Update Break();
    bool LineOpen() const { return !bytes_.empty(); }
    // next folded into into, as if shown one after the other: the unfinished line into ends with
    // is what next takes back. A flood's pieces then reach the pane in one change.
    static void Merge(Update& into, Update&& next);

    // One line of up to 16 bytes, without its prefix and without a line break.
    static std::string FormatLine(std::string_view bytes);

private:
    std::string prefix_;
    std::string bytes_;   // the unfinished line's bytes
    size_t shown_ = 0;    // how long its text in the pane is
};

// The bytes of a hex command: pairs of hexadecimal digits, spaces (and tabs, commas) optional
// between pairs, as in "02 41 42 03" or "024142". nullopt for anything else, with why in error.
std::optional<std::string> ParseHexBytes(std::string_view text, std::string* error = nullptr);

}  // namespace pek
