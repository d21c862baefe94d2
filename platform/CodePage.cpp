#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace pek {

namespace {

// An iconv descriptor per direction and thread: iconv_t keeps shift state and is not thread-safe.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of in; on an undefined sequence calls onBad(out, in, inLeft) which must consume
    // at least one input byte. Returns false when a sequence was bad.
    template <typename OnBad>
    bool run(std::string_view in, std::string& out, OnBad onBad)
    {
        bool clean = true;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char buffer[4096];
        while (srcLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, size_t(dst - buffer));
            if (r == size_t(-1)) {
                if (errno == E2BIG) continue;
                clean = false;
                onBad(out, src, srcLeft);
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return clean;
    }

private:
    iconv_t cd_;
};

Converter& decoder()
{
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

Converter& encoder()
{
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

// Length of the UTF-8 sequence starting with b (1 for a stray byte).
size_t utf8Length(unsigned char b)
{
    if (b >= 0xF0) return 4;
    if (b >= 0xE0) return 3;
    if (b >= 0xC0) return 2;
    return 1;
}

}  // namespace

bool Cp932ToUtf8Checked(std::string_view bytes, std::string& out)
{
    out.clear();
    out.reserve(bytes.size() * 3 / 2);
    return decoder().run(bytes, out, [](std::string& o, char*& src, size_t& left) {
        // One replacement glyph per undefined byte keeps one column per stored byte.
        o += "\xEF\xBF\xBD";
        ++src;
        --left;
    });
}

bool Utf8ToCp932Checked(std::string_view utf8, std::string& out)
{
    out.clear();
    out.reserve(utf8.size());
    return encoder().run(utf8, out, [](std::string& o, char*& src, size_t& left) {
        const size_t n = std::min(left, utf8Length(static_cast<unsigned char>(*src)));
        o += '?';
        src += n;
        left -= n;
    });
}

std::string_view Utf8ToCp932Stream::Convert(std::string_view bytes)
{
    std::string_view in = bytes;
    if (!pending_.empty()) {
        joined_.assign(pending_).append(bytes);
        in = joined_;
        pending_.clear();
    }
    // Keep back a character whose lead byte came but not all of its continuation bytes.
    size_t whole = in.size();
    for (size_t back = 1; back <= 3 && back <= in.size(); ++back) {
        const auto b = static_cast<unsigned char>(in[in.size() - back]);
        if (b < 0x80) break;
        if (b >= 0xC0) {
            if (b < 0xF8 && utf8Length(b) > back) whole = in.size() - back;
            break;
        }
    }
    pending_.assign(in.substr(whole));
    out_.clear();
    encoder().run(in.substr(0, whole), out_, [this](std::string& o, char*& src, size_t& left) {
        // A well-formed character the code page lacks is one mark; a byte that starts no character, one each.
        const auto lead = static_cast<unsigned char>(*src);
        // A sequence cut short by the end of the whole part stops before a new lead byte kept back.
        size_t n = lead >= 0xF8 || utf8Length(lead) > left ? 1 : utf8Length(lead);
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(src[k]) & 0xC0) != 0x80) n = 1;
        o += kReplacement;
        ++replaced_;
        src += n;
        left -= n;
    });
    return out_;
}

std::string Cp932ToUtf8(std::string_view bytes)
{
    std::string out;
    Cp932ToUtf8Checked(bytes, out);
    return out;
}

std::string Utf8ToCp932(std::string_view utf8)
{
    std::string out;
    Utf8ToCp932Checked(utf8, out);
    return out;
}

QString Cp932ToQString(std::string_view bytes)
{
    const std::string utf8 = Cp932ToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string QStringToCp932(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToCp932(std::string_view(utf8.constData(), size_t(utf8.size())));
}

std::string FileNameToSystem(std::string_view cp932Name)
{
    return Cp932ToUtf8(cp932Name);
}

std::string FileNameFromSystem(std::string_view systemName)
{
    return Utf8ToCp932(systemName);
}

}  // namespace pek
