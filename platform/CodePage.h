#pragma once
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The one place where text changes encoding. Data text inside the program is CP932 bytes.
namespace pek {

// True when b starts a double-byte character in code page 932. (Inline: every received byte meets it.)
inline bool IsDBCSLeadByte(unsigned char b) noexcept
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
// Lead-valued bytes that end just before `end`, counted back no further than `start`. A byte that
// cannot lead always ends a character (alone, or as the trail of the lead before it), so when the
// byte before them (or `start`) begins a character these pair up from their first: an odd count
// leaves the byte at `end - 1` a lead waiting for its trail. No walk from the text's start needed.
inline std::size_t LeadBytesBefore(const unsigned char* bytes, std::size_t start, std::size_t end) noexcept
{
    std::size_t count = 0;
    while (end - count > start && IsDBCSLeadByte(bytes[end - 1 - count])) ++count;
    return count;
}
// True when b may follow a lead byte in code page 932.
inline bool IsDBCSTrailByte(unsigned char b) noexcept
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Strict conversions: bytes CP932 does not define become U+FFFD (decoding) or '?' (encoding);
// the caller that needs to know uses the Checked variants.
QString Cp932ToQString(std::string_view bytes);
std::string QStringToCp932(const QString& text);
std::string Cp932ToUtf8(std::string_view bytes);
std::string Utf8ToCp932(std::string_view utf8);

// Exact conversions: false when any character cannot be represented; out is then unspecified.
bool Utf8ToCp932Checked(std::string_view utf8, std::string& out);
bool Cp932ToUtf8Checked(std::string_view bytes, std::string& out);

// Our own fixed texts are UTF-8 literals; these convert them once where they become data or UI.
inline std::string Sjis(std::string_view utf8Literal) { return Utf8ToCp932(utf8Literal); }
inline QString Ui(std::string_view utf8Literal) { return QString::fromUtf8(utf8Literal.data(), qsizetype(utf8Literal.size())); }

// A device that speaks UTF-8, arriving in pieces, as code page 932 text. A character split between
// pieces is kept back until it is whole. Characters code page 932 lacks, and bytes that are not
// UTF-8, each become the replacement mark "〓" and are counted: nothing is dropped silently.
class Utf8ToCp932Stream {
public:
    static constexpr std::string_view kReplacement = "\x81\xAC";
    // The text of every character completed by this piece; valid until the next call.
    std::string_view Convert(std::string_view bytes);
    std::uint64_t Replaced() const { return replaced_; }
    bool Pending() const { return !pending_.empty(); }

private:
    std::string pending_;   // the start of a character still missing bytes
    std::string joined_;
    std::string out_;
    std::uint64_t replaced_ = 0;
};

// File names: CP932 inside the program, UTF-8 on the Linux file system.
std::string FileNameToSystem(std::string_view cp932Name);
std::string FileNameFromSystem(std::string_view systemName);

}  // namespace pek
