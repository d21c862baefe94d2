// Copy-data frames: a stream cut into chunks of any size gives the frames a whole-stream reading
// gives, and a count over the limit stops the stream at that frame.
#include "FuzzSupport.h"
#include "platform/CopyData.h"

#include <vector>

namespace {

struct Reading {
    std::vector<pek::CopyDataFrame> frames;
    bool tooLarge = false;
    size_t left = 0;  // bytes of an incomplete last frame
};

std::uint32_t le32(const std::string& s, size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + size_t(i)]);
    return v;
}

Reading reference(const std::string& stream)
{
    Reading r;
    size_t at = 0;
    while (stream.size() - at >= 8) {
        const std::uint32_t count = le32(stream, at + 4);
        if (count > pek::kMaxCopyDataBytes) {
            r.tooLarge = true;
            break;
        }
        if (stream.size() - at - 8 < count) break;
        r.frames.push_back({le32(stream, at), stream.substr(at + 8, count)});
        at += 8 + count;
    }
    r.left = r.tooLarge ? 0 : stream.size() - at;
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    pek::fuzz::Input input(data, size);
    std::uint32_t seed = input.Byte() | 1;
    const std::string stream = input.Rest();
    const Reading want = reference(stream);

    Reading got;
    pek::CopyDataFrameReader reader;
    for (size_t at = 0; at < stream.size() && !got.tooLarge;) {
        seed = seed * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(stream.size() - at, (seed >> 16) % 24);
        reader.Feed(stream.data() + at, n);
        at += n;
        pek::CopyDataFrame frame;
        for (;;) {
            const auto status = reader.Next(frame);
            if (status == pek::CopyDataFrameReader::Status::NeedMore) break;
            if (status == pek::CopyDataFrameReader::Status::TooLarge) {
                got.tooLarge = true;
                break;
            }
            got.frames.push_back(frame);
        }
    }
    if (!got.tooLarge) got.left = reader.Buffered();
    FUZZ_CHECK(got.tooLarge == want.tooLarge);
    FUZZ_CHECK(got.left == want.left);
    FUZZ_CHECK(got.frames.size() == want.frames.size());
    for (size_t i = 0; i < want.frames.size(); ++i) {
        FUZZ_CHECK(got.frames[i].dwData == want.frames[i].dwData);
        FUZZ_CHECK(got.frames[i].payload == want.frames[i].payload);
        const std::string text = pek::CopyDataString(got.frames[i].payload);
        FUZZ_CHECK(text.find('\0') == std::string::npos);
        FUZZ_CHECK(got.frames[i].payload.compare(0, text.size(), text) == 0);
        FUZZ_CHECK(text.size() == got.frames[i].payload.size() || got.frames[i].payload[text.size()] == '\0');
        // The encoder writes what the reader takes back.
        FUZZ_CHECK(reference(pek::EncodeCopyDataFrame(want.frames[i].dwData, want.frames[i].payload)).frames.size() == 1);
    }
    return 0;
}
