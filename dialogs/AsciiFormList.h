#pragma once
// The ASCII code sender's list without a display: the entry lines (CP932), their parsing, the
// file they are kept in, and the captions and hints of the twelve quick buttons.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pek {

// The quick buttons' codes in button order: NUL SOH STX ETX EOT ENQ ACK NAK LF CR SP ESC.
inline constexpr std::array<std::uint8_t, 12> AsciiQuickCodes{0x00, 0x01, 0x02, 0x03, 0x04, 0x05,
                                                              0x06, 0x15, 0x0A, 0x0D, 0x20, 0x1B};

// One entry line: comma-list fields (code in hexadecimal, name, description).
struct TAsciiLine {
    std::vector<std::string> Fields;
    // Field 0 read as hexadecimal; 0 when it is no hexadecimal number. None when the number is
    // above 0xFF: no single byte carries it, so the line sends nothing and labels no button.
    std::optional<std::uint8_t> Code;
};
TAsciiLine ParseAsciiLine(std::string_view line);

// The list file beside the settings file (a file-system path): the program's own folder is not
// writable when it is installed for every user.
std::string AsciiListPath(const std::string& iniPath);

class TAsciiCodeList {
public:
    static constexpr std::size_t ButtonCount = AsciiQuickCodes.size();

    // Starts with the built-in list of the 128 codes, no captions and no hints.
    TAsciiCodeList();

    static const std::vector<std::string>& BuiltIn();

    const std::vector<std::string>& Lines() const { return lines_; }
    void SetLines(std::vector<std::string> lines) { lines_ = std::move(lines); }

    // Replaces the lines with the file's when it exists; otherwise writes the current lines to it
    // (through a temporary file renamed into place, so a failed write leaves no partial list).
    // Throws pek::Exception when the file cannot be read or written; the lines are then kept.
    void LoadOrCreate(const std::string& path);

    // The code the line at index sends; none for an index outside the list or a code above 0xFF.
    std::optional<std::uint8_t> Code(std::ptrdiff_t index) const;

    // Relabels the quick buttons from the lines in order (a later line for the same code wins):
    // the caption becomes field `mode` (0: the hexadecimal text, otherwise the name) when the line
    // has at least two fields, the hint field 2 when it has three. Buttons no line names keep theirs.
    void Relabel(int mode);
    const std::string& Caption(std::size_t button) const { return captions_.at(button); }
    const std::string& Hint(std::size_t button) const { return hints_.at(button); }

    // The line at the position of the button's code, empty when the list is shorter.
    std::string HoverText(std::size_t button) const;

    // The file's bytes: one line per entry, each ended by CR LF.
    static std::string JoinLines(const std::vector<std::string>& lines);
    // The entries of a file's bytes: lines end at LF or CR LF; a final line needs no break.
    static std::vector<std::string> SplitLines(std::string_view bytes);

private:
    std::vector<std::string> lines_;
    std::array<std::string, ButtonCount> captions_;
    std::array<std::string, ButtonCount> hints_;
};

}  // namespace pek
