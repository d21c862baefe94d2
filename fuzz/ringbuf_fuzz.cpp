// The receive ring buffer against a model of the whole stream: a reader that keeps up gets exactly
// the bytes that followed its position, searches find what the stream holds, and no position a
// caller passes reads outside the storage.
#include "FuzzSupport.h"
#include "serial/RingBuf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    pek::fuzz::Input input(data, size);
    const std::int32_t capacity = std::int32_t(input.Number(511) + 1);
    pek::TRingBuf ring(capacity);
    std::string stream;      // every byte put
    size_t reader = 0;       // the model reader's place in the stream
    std::int32_t pos = 0;    // the same reader's position in the ring
    const auto available = [&] { return stream.size() - reader; };
    while (!input.Empty()) {
        switch (input.Byte() % 5) {
        case 0: {
            const std::string bytes = input.Bytes(700);
            ring.Put(bytes.data(), std::int32_t(bytes.size()));
            stream += bytes;
            // Lapped (or exactly a full lap behind, which looks empty): the reader starts again
            // at the write position.
            if (available() >= size_t(capacity)) {
                reader = stream.size();
                pos = ring.Pos();
            }
            break;
        }
        case 1: {
            const std::int32_t count = std::int32_t(input.Number(600));
            FUZZ_CHECK(ring.DataSize(pos % capacity) == std::int32_t(available()));
            const std::string got = ring.Get(pos, count);
            FUZZ_CHECK(got == stream.substr(reader, std::min<size_t>(size_t(count), available())));
            reader += got.size();
            FUZZ_CHECK(pos % capacity == std::int32_t(reader % size_t(capacity)));
            break;
        }
        case 2: {
            const std::string pattern = input.Bytes(8);
            std::int32_t at = pos;
            const bool found = ring.Srch(at, pattern);
            const std::string rest = stream.substr(reader);
            const size_t hit = pattern.size() > size_t(capacity) ? std::string::npos : rest.find(pattern);
            FUZZ_CHECK(found == (hit != std::string::npos));
            // Found: just behind the match. Not found: where a match may still begin.
            const size_t expect = found ? reader + hit + pattern.size()
                                        : pattern.size() > size_t(capacity)
                                              ? reader
                                              : std::max(reader, stream.size() + 1 - std::min(stream.size() + 1, pattern.size()));
            FUZZ_CHECK(at % capacity == std::int32_t(expect % size_t(capacity)));
            break;
        }
        case 3: {
            // Any position a script may pass: no reading outside the storage, never more than asked.
            std::int32_t any = std::int32_t(input.Number(0xFFFFFFFF));
            const std::int32_t count = std::int32_t(input.Number(2000)) - 1000;
            const std::string got = ring.Get(any, count);
            FUZZ_CHECK(got.size() <= size_t(std::max(count, 0)) && got.size() <= size_t(capacity));
            std::int32_t again = std::int32_t(input.Number(0xFFFFFFFF));
            ring.Srch(again, input.Bytes(4));
            (void)ring.DataSize(again);
            break;
        }
        default:
            if (input.Byte() == 0) {
                ring.Clear();
                stream.clear();
                reader = 0;
                pos = 0;
            }
        }
    }
    return 0;
}
