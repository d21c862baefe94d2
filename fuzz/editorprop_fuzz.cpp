// The editor property stream (hexadecimal in the settings file, so anyone may edit it): bytes the
// holder accepts save back byte for byte; bytes it refuses leave the held set as it was. Half the
// inputs are taken as a body and given a valid head and checksum, so mutations reach the fields.
#include "FuzzSupport.h"
#include "editor/EditorExProp.h"

namespace {

void appendLe(std::string& out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += char((v >> (8 * i)) & 0xFF);
}

std::string wrapBody(std::string_view body)
{
    std::uint32_t h = 2166136261u;
    for (const unsigned char c : body) h = (h ^ c) * 16777619u;
    std::string out = "PekEditorProps";
    appendLe(out, pek::TEditorExProp::kVersion, 2);
    appendLe(out, std::uint32_t(body.size()), 4);
    out += body;
    appendLe(out, h, 4);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string bytes = (data[0] & 1) ? wrapBody(rest) : std::string(rest);
    pek::TEditorExProp holder;
    const std::string initial = holder.SaveToBytes();
    FUZZ_CHECK(initial.size() > 24);
    try {
        holder.LoadFromBytes(bytes);
    } catch (const pek::EEditorPropError&) {
        FUZZ_CHECK(holder.SaveToBytes() == initial);
        return 0;
    }
    FUZZ_CHECK(holder.SaveToBytes() == bytes);
    pek::TEditorExProp again;
    again.LoadFromBytes(holder.SaveToBytes());
    FUZZ_CHECK(again.SaveToBytes() == bytes);
    return 0;
}
