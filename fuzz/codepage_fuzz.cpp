// The code page: decoding always gives valid UTF-8, and text that converts exactly converts back.
#include "FuzzSupport.h"
#include "platform/CodePage.h"

namespace {

bool validUtf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n;
        std::uint32_t cp;
        if (c < 0x80) n = 1, cp = c;
        else if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
        else return false;
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string utf8 = pek::Cp932ToUtf8(bytes);
    FUZZ_CHECK(validUtf8(utf8));
    FUZZ_CHECK(validUtf8(pek::Cp932ToQString(bytes).toStdString()));
    std::string exact;
    if (pek::Cp932ToUtf8Checked(bytes, exact)) {
        FUZZ_CHECK(exact == utf8);
        std::string back;
        FUZZ_CHECK(pek::Utf8ToCp932Checked(exact, back));
        // Some characters have two encodings; the text, not the bytes, must survive.
        FUZZ_CHECK(pek::Cp932ToUtf8(back) == exact);
        FUZZ_CHECK(pek::Utf8ToCp932(exact) == back);
        FUZZ_CHECK(pek::FileNameFromSystem(pek::FileNameToSystem(back)) == back);
    }
    // The input as UTF-8: what converts comes back as text that converts to the same bytes (a few
    // characters, such as U+00A3, are written as their full-width form and read back as that).
    std::string cp932;
    if (validUtf8(bytes) && pek::Utf8ToCp932Checked(bytes, cp932)) {
        std::string again, cp932Again;
        FUZZ_CHECK(pek::Cp932ToUtf8Checked(cp932, again));
        FUZZ_CHECK(pek::Utf8ToCp932Checked(again, cp932Again) && cp932Again == cp932);
    }
    (void)pek::Utf8ToCp932(bytes);
    (void)pek::QStringToCp932(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
    return 0;
}
