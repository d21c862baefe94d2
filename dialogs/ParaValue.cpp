#include "dialogs/ParaValue.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace pek {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<double> Decimal(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exponent = 0;
        while (i < s.size() && IsDigit(s[i])) ++i, ++exponent;
        if (exponent == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    // The grammar is checked above; from_chars reads it without the locale.
    const std::string_view body = s.front() == '+' ? s.substr(1) : s;
    double value = 0;
    const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (error != std::errc() || end != body.data() + body.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> Hexadecimal(std::string_view s)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.starts_with('$')) s.remove_prefix(1);
    else if (s.starts_with("0x") || s.starts_with("0X")) s.remove_prefix(2);
    else return std::nullopt;
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    const auto asSigned = static_cast<std::int32_t>(value);
    return negative ? -double(asSigned) : double(asSigned);
}

}  // namespace

std::optional<double> ParaNumber(std::string_view text)
{
    const std::string_view s = Trimmed(text);
    if (s.empty()) return std::nullopt;
    if (const auto d = Decimal(s)) return d;
    return Hexadecimal(s);
}

}  // namespace pek
