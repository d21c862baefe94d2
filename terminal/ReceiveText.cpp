#include "terminal/ReceiveText.h"

#include "platform/ByteScan.h"
#include "platform/CodePage.h"

#include <cstdio>

namespace pek {

int ControlCodeFilter(char* chunk, int length)
{
    const auto kept = [](unsigned char c) { return c >= 32 || c == 9 || c == 10 || c == 13; };
    // Most chunks have nothing to drop: nothing moves until the first byte that goes.
    int i = length > 0 ? int(FindOtherControl(chunk, size_t(length))) : 0;
    int count = i;
    for (; i < length; ++i) {
        const auto c = static_cast<unsigned char>(chunk[i]);
        if (c == 8) {
            if (count > 0) --count;
        } else if (kept(c)) {
            chunk[count++] = static_cast<char>(c);
        }
    }
    return count;
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
    std::string out;
    AppendWithLinePrefixes(text, prefix, out);
    return out;
}

void AppendWithLinePrefixes(std::string_view text, std::string_view prefix, std::string& out)
{
    if (prefix.empty() || text.size() < 2) {
        out.append(text);
        return;
    }
    // A break followed by more text gets the prefix; a break at the very end leaves the line start
    // to the next piece (which may also bring the LF of a CR). Spans without a break are copied
    // whole: this runs on every received chunk.
    const size_t size = text.size();
    size_t copied = 0;
    size_t i = FindLineBreak(text.data(), size);
    while (i + 1 < size) {
        size_t end = i + 1;
        if (text[i] == '\r' && text[end] == '\n') ++end;
        if (end == size) break;
        out.append(text.substr(copied, end - copied));
        out.append(prefix);
        copied = end;
        i = end + FindLineBreak(text.data() + end, size - end);
    }
    out.append(text.substr(copied));
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
    AppendWithLinePrefixes(text, prefix, out);
    const char last = text.back();
    atLineStart_ = last == '\r' || last == '\n';
    endsWithCr_ = last == '\r';
}

std::string_view LeadByteHold::Take(std::string_view chunk)
{
    // A chunk that filtering emptied keeps the held byte for the chunk that brings its partner.
    if (chunk.empty()) return {};
    // The last byte waits when the lead-valued bytes at the end are odd in number. The text as a
    // whole starts on a character boundary, so a run that reaches the chunk's start counts the
    // held byte too.
    const auto* bytes = reinterpret_cast<const unsigned char*>(chunk.data());
    size_t leads = LeadBytesBefore(bytes, 0, chunk.size());
    if (leads == chunk.size() && held_) ++leads;
    const bool wasHeld = held_;
    const char before = byte_;
    held_ = leads % 2 == 1;
    if (held_) {
        byte_ = chunk.back();
        chunk.remove_suffix(1);
    }
    if (!wasHeld) return chunk;  // most chunks: shown as they came, without a copy
    shown_.assign(1, before);
    shown_.append(chunk);
    return shown_;
}

}  // namespace pek
