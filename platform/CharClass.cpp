#include "platform/CharClass.h"

#include "platform/CodePage.h"

#include <array>
#include <string_view>

namespace pek {
namespace {

constexpr bool IsSeparator(unsigned char c)
{
    constexpr std::string_view kSeparators = "\t\n\r !#$%&'()=~^{}[]@;+:*,<.>/?_\"\\|`"
                                             "\xA1\xA4\xA5";
    return kSeparators.find(static_cast<char>(c)) != std::string_view::npos;
}

constexpr int ComputeSingleByteClass(unsigned char c)
{
    if (c == 0x00 || (c >= 0x80 && c <= 0xA0) || c >= 0xE0 || IsSeparator(c))
        return 0;
    return c <= 0x7F ? 1 : 2;
}

// Every byte of a searched line may be classed: a table, not a walk through the separators.
constexpr std::array<unsigned char, 256> kSingleByteClasses = [] {
    std::array<unsigned char, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = static_cast<unsigned char>(ComputeSingleByteClass(static_cast<unsigned char>(c)));
    return table;
}();

int SingleByteClass(unsigned char c)
{
    return kSingleByteClasses[c];
}

int DoubleByteClass(unsigned code)
{
    if (code >= 0x889F)
        return 6;
    if (code >= 0x824F && code <= 0x829A)
        return 3;
    if (code >= 0x8340 && code <= 0x8396)
        return 4;
    if (code >= 0x829F && code <= 0x82F1)
        return 5;
    return 0;
}

unsigned char ByteAt(std::string_view text, std::size_t i)
{
    return static_cast<unsigned char>(text[i]);
}

}  // namespace

std::size_t CharLenAt(std::string_view text, std::size_t head)
{
    return IsDBCSLeadByte(ByteAt(text, head)) && head + 1 < text.size() ? 2 : 1;
}

int ClassAtHead(std::string_view text, std::size_t head)
{
    if (CharLenAt(text, head) == 2)
        return DoubleByteClass(unsigned{ByteAt(text, head)} << 8 | ByteAt(text, head + 1));
    return SingleByteClass(ByteAt(text, head));
}

std::size_t HeadCovering(std::string_view text, std::size_t from, std::size_t i)
{
    while (from + CharLenAt(text, from) <= i)
        from += CharLenAt(text, from);
    return from;
}

int CharClass(std::string_view text, long long pos)
{
    if (pos < 1 || static_cast<unsigned long long>(pos) > text.size())
        return 0;
    return ClassAtHead(text, HeadCovering(text, 0, static_cast<std::size_t>(pos - 1)));
}

bool TClassWalker::Passes(std::size_t s, std::size_t e)
{
    int before = 0;
    if (s > 0) {
        cursor_ = HeadCovering(text_, cursor_, s - 1);
        before = ClassAtHead(text_, cursor_);
    }
    std::size_t head = HeadCovering(text_, cursor_, s);
    const int first = ClassAtHead(text_, head);
    head = HeadCovering(text_, head, e - 1);
    const int last = ClassAtHead(text_, head);
    const int after = e < text_.size() ? ClassAtHead(text_, HeadCovering(text_, head, e)) : 0;
    return first != before && last != after;
}

}  // namespace pek
