// The receive text functions against their rules, over any bytes cut into any chunks: the
// control-code filter, line prefixes, stamping chunk by chunk as stamping the whole, and the
// held-back lead byte.
#include "FuzzSupport.h"
#include "terminal/ReceiveText.h"

#include <vector>

namespace {

std::string filterModel(std::string_view chunk)
{
    std::string kept;
    for (const char ch : chunk) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 8) {
            if (!kept.empty()) kept.pop_back();
        } else if (c == 9 || c == 10 || c == 13 || c >= 32) {
            kept += ch;
        }
    }
    return kept;
}

// The prefix after every line break (CR LF as one) that more text follows.
std::string prefixModel(std::string_view text, std::string_view prefix)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        const bool crlf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (crlf) out += text[++i];
        if ((text[i] == '\r' || text[i] == '\n') && i + 1 < text.size()) out += prefix;
    }
    return out;
}

bool endsInLoneLead(std::string_view s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            if (i + 1 == s.size()) return true;
            ++i;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    pek::fuzz::Input input(data, size);
    const std::string prefix = input.Bytes(6);
    std::vector<std::string> chunks;
    while (!input.Empty()) chunks.push_back(input.Bytes(40));

    std::string whole;
    for (const auto& chunk : chunks) {
        std::string filtered = chunk;
        const int length = pek::ControlCodeFilter(filtered.data(), int(filtered.size()));
        FUZZ_CHECK(length >= 0 && size_t(length) <= chunk.size());
        filtered.resize(size_t(length));
        FUZZ_CHECK(filtered == filterModel(chunk));
        FUZZ_CHECK(pek::InsertLinePrefixes(chunk, prefix) == prefixModel(chunk, prefix));
        whole += chunk;
    }

    // Stamping piece by piece gives what stamping the whole text at once gives.
    pek::LineStamper byChunk, atOnce;
    std::string stamped, expected;
    for (const auto& chunk : chunks) byChunk.Add(chunk, prefix, stamped);
    atOnce.Add(whole, prefix, expected);
    FUZZ_CHECK(stamped == expected);
    FUZZ_CHECK(whole.empty() || expected == prefix + prefixModel(whole, prefix));
    FUZZ_CHECK(byChunk.AtLineStart() == atOnce.AtLineStart());

    // Nothing is lost or reordered by holding a lead byte back, and no piece shown splits a character.
    pek::LeadByteHold hold;
    std::string shown;
    for (const auto& chunk : chunks) {
        const std::string_view piece = hold.Take(chunk);
        FUZZ_CHECK(!endsInLoneLead(piece));
        shown.append(piece);
    }
    FUZZ_CHECK(shown + (hold.Held() ? whole.substr(whole.size() - 1) : "") == whole);
    return 0;
}
