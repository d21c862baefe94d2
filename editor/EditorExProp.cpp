#include "editor/EditorExProp.h"

#include <istream>
#include <iterator>
#include <ostream>

#include "editor/EditorEx.h"

namespace pek {

namespace {

constexpr std::string_view kSignature = "PekEditorProps";
constexpr uint32_t kMaxItems = 100000;

uint32_t Checksum(std::string_view bytes)
{
    uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

class Writer {
public:
    std::string out;
    void U8(uint8_t v) { out += char(v); }
    void U16(uint16_t v) { U8(uint8_t(v)); U8(uint8_t(v >> 8)); }
    void U32(uint32_t v) { U16(uint16_t(v)); U16(uint16_t(v >> 16)); }
    void I32(int v) { U32(uint32_t(v)); }
    void Bool(bool v) { U8(v ? 1 : 0); }
    void Str(const std::string& s) { U32(uint32_t(s.size())); out += s; }
};

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    uint8_t U8()
    {
        Need(1);
        return static_cast<uint8_t>(in_[pos_++]);
    }
    uint16_t U16() { const uint16_t lo = U8(); return uint16_t(lo | uint16_t(U8()) << 8); }
    uint32_t U32() { const uint32_t lo = U16(); return lo | uint32_t(U16()) << 16; }
    int I32() { return int(U32()); }
    bool Bool()
    {
        const uint8_t v = U8();
        if (v > 1) Fail();
        return v == 1;
    }
    std::string Str()
    {
        const uint32_t n = U32();
        Need(n);
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    uint32_t Count()
    {
        const uint32_t n = U32();
        if (n > kMaxItems || n > in_.size() - pos_) Fail();
        return n;
    }
    template <typename E>
    E Enum(int last)
    {
        const uint8_t v = U8();
        if (v > last) Fail();
        return static_cast<E>(v);
    }
    bool AtEnd() const { return pos_ == in_.size(); }
    [[noreturn]] static void Fail() { throw EEditorPropError(Sjis("エディタの設定データが正しくありません")); }

private:
    void Need(size_t n) const
    {
        if (n > in_.size() - pos_) Fail();
    }
    std::string_view in_;
    size_t pos_ = 0;
};

// One list of the fields, used in both directions so writing and reading cannot drift apart.
void Field(Writer& w, uint32_t& v) { w.U32(v); }
void Field(Reader& r, uint32_t& v) { v = r.U32(); }
void Field(Writer& w, int& v) { w.I32(v); }
void Field(Reader& r, int& v) { v = r.I32(); }
void Field(Writer& w, bool& v) { w.Bool(v); }
void Field(Reader& r, bool& v) { v = r.Bool(); }
void Field(Writer& w, uint8_t& v) { w.U8(v); }
void Field(Reader& r, uint8_t& v) { v = r.U8(); }
void Field(Writer& w, std::string& v) { w.Str(v); }
void Field(Reader& r, std::string& v) { v = r.Str(); }
void Field(Writer& w, THitStyle& v) { w.U8(uint8_t(v)); }
void Field(Reader& r, THitStyle& v) { v = r.Enum<THitStyle>(2); }
void Field(Writer& w, TScrollStyle& v) { w.U8(uint8_t(v)); }
void Field(Reader& r, TScrollStyle& v) { v = r.Enum<TScrollStyle>(3); }
void Field(Writer& w, TSelectionMode& v) { w.U8(uint8_t(v)); }
void Field(Reader& r, TSelectionMode& v) { v = r.Enum<TSelectionMode>(1); }

template <typename Io>
void Field(Io& io, TEditorColor& c)
{
    Field(io, c.Color);
    Field(io, c.BkColor);
    Field(io, c.Style);
}

template <typename Io>
void Field(Io& io, TEditorMark& m)
{
    Field(io, m.Color);
    Field(io, m.Visible);
}

template <typename Io>
void Field(Io& io, TEditorExMark& m)
{
    Field(io, m.Color);
    Field(io, m.BkColor);
    Field(io, m.Style);
    Field(io, m.Visible);
}

template <typename Io>
void Field(Io& io, TBracketItem& b)
{
    Field(io, b.LeftBracket);
    Field(io, b.RightBracket);
    Field(io, b.Color);
}

template <typename T>
void Field(Writer& w, std::vector<T>& v)
{
    w.U32(uint32_t(v.size()));
    for (auto& x : v) Field(w, x);
}

template <typename T>
void Field(Reader& r, std::vector<T>& v)
{
    v.assign(r.Count(), T{});
    for (auto& x : v) Field(r, x);
}

template <typename Io>
void Fields(Io& io, TEditorProps& p)
{
    Field(io, p.Color);
    Field(io, p.Font.Name);
    Field(io, p.Font.Height);
    Field(io, p.Font.Color);
    Field(io, p.Font.Charset);
    Field(io, p.Font.Style);
    Field(io, p.ReadOnly);
    Field(io, p.OverWrite);
    Field(io, p.WordWrap);
    Field(io, p.WrapOption.WrapByte);
    Field(io, p.WrapOption.WordBreak);
    Field(io, p.WrapOption.FollowPunctuation);
    Field(io, p.WrapOption.Leading);
    Field(io, p.WrapOption.FollowRetMark);
    Field(io, p.TabSpaceCount);
    Field(io, p.UndoListMax);
    Field(io, p.IsAutoColScroll);
    Field(io, p.HitStyle);
    Field(io, p.ExSearchOptions);
    TEditorColors& c = p.View.Colors;
    for (TEditorColor* item : {&c.Ank, &c.Comment, &c.DBCS, &c.Hit, &c.Int, &c.Mail, &c.Reserve, &c.Select, &c.Str, &c.Symbol, &c.Url})
        Field(io, *item);
    Field(io, p.View.Commenter);
    Field(io, p.View.Brackets);
    Field(io, p.View.Url);
    Field(io, p.View.Mail);
    TEditorMarks& m = p.Marks;
    for (TEditorMark* item : {&m.EofMark, &m.RetMark, &m.WrapMark, &m.HideMark, &m.Underline}) Field(io, *item);
    TEditorExMarks& x = p.ExMarks;
    for (TEditorExMark* item : {&x.DBSpaceMark, &x.SpaceMark, &x.TabMark, &x.FindMark, &x.ParenMark, &x.Hit, &x.CurrentLine,
                                &x.DigitLine, &x.ImageLine, &x.Img0Line, &x.Img1Line, &x.Img2Line, &x.Img3Line, &x.Img4Line,
                                &x.Img5Line, &x.EvenLine})
        Field(io, *item);
    Field(io, p.ReserveWordList);
    Field(io, p.Leftbar);
    Field(io, p.Ruler);
    Field(io, p.Imagebar);
    Field(io, p.ScrollBars);
    Field(io, p.SelectionMode);
    Field(io, p.VerticalLines);
}

// Values no property of a control can hold: a stream carrying them did not come from one.
bool InRange(const TEditorProps& p)
{
    const auto colour = [](uint32_t c) { return c <= 0x00FFFFFF || c == clNone; };
    const auto style = [](uint8_t s) { return s <= (fsBold | fsItalic | fsUnderline | fsStrikeOut); };
    const auto item = [&](const TEditorColor& c) { return colour(c.Color) && colour(c.BkColor) && style(c.Style); };
    const TEditorColors& c = p.View.Colors;
    const TEditorMarks& m = p.Marks;
    const TEditorExMarks& x = p.ExMarks;
    bool ok = colour(p.Color) && colour(p.Font.Color) && style(p.Font.Style) && p.Font.Height >= -kMaxFontHeight &&
              p.Font.Height <= kMaxFontHeight && p.Font.Charset >= 0 && p.Font.Charset <= 255 && p.WrapOption.WrapByte >= 1 &&
              p.WrapOption.WrapByte <= kMaxColumn && p.TabSpaceCount >= 1 && p.TabSpaceCount <= kMaxTabSpaceCount &&
              p.UndoListMax >= 0 && p.UndoListMax <= kMaxUndoListMax && p.ExSearchOptions <= (soMatchCase | soRegexp | soEscSeq | soWholeWord);
    for (const TEditorColor* i : {&c.Ank, &c.Comment, &c.DBCS, &c.Hit, &c.Int, &c.Mail, &c.Reserve, &c.Select, &c.Str, &c.Symbol, &c.Url})
        ok = ok && item(*i);
    for (const TBracketItem& b : p.View.Brackets) ok = ok && colour(b.Color);
    for (const TEditorMark* i : {&m.EofMark, &m.RetMark, &m.WrapMark, &m.HideMark, &m.Underline}) ok = ok && colour(i->Color);
    for (const TEditorExMark* i : {&x.DBSpaceMark, &x.SpaceMark, &x.TabMark, &x.FindMark, &x.ParenMark, &x.Hit, &x.CurrentLine,
                                   &x.DigitLine, &x.ImageLine, &x.Img0Line, &x.Img1Line, &x.Img2Line, &x.Img3Line, &x.Img4Line,
                                   &x.Img5Line, &x.EvenLine})
        ok = ok && colour(i->Color) && colour(i->BkColor) && style(i->Style);
    for (const int column : p.VerticalLines) ok = ok && column >= 0 && column <= kMaxColumn;
    return ok;
}

}  // namespace

void TEditorExProp::Assign(const TEditor& editor) { props_ = editor.Properties(); }

void TEditorExProp::AssignTo(TEditor& editor) const { editor.SetProperties(props_); }

std::string TEditorExProp::SaveToBytes() const
{
    Writer body;
    TEditorProps copy = props_;
    Fields(body, copy);
    Writer w;
    w.out = std::string(kSignature);
    w.U16(kVersion);
    w.U32(uint32_t(body.out.size()));
    w.out += body.out;
    w.U32(Checksum(body.out));
    return w.out;
}

void TEditorExProp::LoadFromBytes(std::string_view bytes)
{
    if (bytes.substr(0, kSignature.size()) != kSignature) Reader::Fail();
    Reader head(bytes.substr(kSignature.size()));
    if (head.U16() != kVersion) Reader::Fail();
    const uint32_t size = head.U32();
    const std::string_view rest = bytes.substr(kSignature.size() + 6);
    if (rest.size() != size_t(size) + 4) Reader::Fail();
    const std::string_view body = rest.substr(0, size);
    Reader tail(rest.substr(size));
    if (tail.U32() != Checksum(body)) Reader::Fail();
    Reader r(body);
    TEditorProps loaded;
    Fields(r, loaded);
    if (!r.AtEnd() || !InRange(loaded)) Reader::Fail();
    props_ = std::move(loaded);
}

void TEditorExProp::WriteToStream(std::ostream& out) const
{
    const std::string bytes = SaveToBytes();
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

void TEditorExProp::ReadFromStream(std::istream& in)
{
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LoadFromBytes(bytes);
}

}  // namespace pek
