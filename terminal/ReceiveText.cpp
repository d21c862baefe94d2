#include "terminal/ReceiveText.h"

#include "platform/CodePage.h"

#include <cstdio>

namespace pek {

int ControlCodeFilter(char* chunk, int length)
{
    int kept = 0;
    for (int i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(chunk[i]);
        if (c == 8) {
            if (kept > 0) --kept;
        } else if (c == 9 || c == 10 || c == 13 || c >= 32) {
            chunk[kept++] = static_cast<char>(c);
        }
    }
    return kept;
}

std::string TimeStampText(int timeTyp, std::uint32_t tick, std::time_t now)
{
    char text[64] = {};
    switch (timeTyp) {
    case 1:
        std::snprintf(text, sizeof text, "%u", tick);
        break;
    case 2: {
        const std::uint32_t ms = tick % 1000;
        const std::uint32_t seconds = tick / 1000;
        std::snprintf(text, sizeof text, "%.2u_%.2u:%.2u:%.2u.%.3u", seconds / 86400, (seconds / 3600) % 24,
                      (seconds / 60) % 60, seconds % 60, ms);
        break;
    }
    case 3: {
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(text, sizeof text, "%m/%d/%H:%M:%S", &local);
        break;
    }
    default:
        break;
    }
    return text;
}

std::string TimeStampPrefix(int timeTyp, std::uint32_t tick, std::time_t now)
{
    if (timeTyp < 1 || timeTyp > 3) return {};
    return TimeStampText(timeTyp, tick, now) + "| ";
}

std::string InsertLinePrefixes(std::string_view text, std::string_view prefix)
{
    if (prefix.empty() || text.size() < 2) return std::string(text);
    std::string out;
    out.reserve(text.size() + prefix.size() * 4);
    // A break followed by more text gets the prefix; a break at the very end leaves the line start
    // to the next piece (which may also bring the LF of a CR). Spans without a break are copied
    // whole: this runs on every received chunk.
    const size_t size = text.size();
    size_t copied = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        size_t end = i + 1;
        if (c == '\r' && text[end] == '\n') ++end;
        if (end == size) break;
        out.append(text.substr(copied, end - copied));
        out.append(prefix);
        copied = end;
        i = end - 1;
    }
    out.append(text.substr(copied));
    return out;
}

void LineStamper::Reset(bool atLineStart, bool endsWithCr)
{
    atLineStart_ = atLineStart;
    endsWithCr_ = atLineStart && endsWithCr;
}

void LineStamper::Add(std::string_view text, std::string_view prefix, std::string& out)
{
    if (text.empty()) return;
    if (endsWithCr_ && text.front() == '\n') {
        out += '\n';
        text.remove_prefix(1);
        endsWithCr_ = false;
        if (text.empty()) return;
    }
    if (atLineStart_) out += prefix;
    out += InsertLinePrefixes(text, prefix);
    const char last = text.back();
    atLineStart_ = last == '\r' || last == '\n';
    endsWithCr_ = last == '\r';
}

std::string_view LeadByteHold::Take(std::string_view chunk)
{
    // A chunk that filtering emptied keeps the held byte for the chunk that brings its partner.
    if (chunk.empty()) return {};
    shown_.clear();
    if (held_) shown_ += byte_;
    shown_.append(chunk);
    // Walk the characters from the start (the text always begins on a character boundary): the
    // last byte is unpaired when a lead byte starts at it. Counting lead-valued bytes backwards
    // from the end cannot tell a trail byte from a lead byte, since their ranges overlap.
    const size_t size = shown_.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(shown_.data());
    size_t i = 0;
    while (i + 1 < size) i += IsDBCSLeadByte(bytes[i]) ? 2 : 1;
    held_ = i == size - 1 && IsDBCSLeadByte(bytes[i]);
    if (held_) {
        byte_ = shown_.back();
        shown_.pop_back();
    }
    return shown_;
}

}  // namespace pek
