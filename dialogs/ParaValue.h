#pragma once
// How a value typed into the parameter dialog comes back to a script: a decimal number (sign,
// digits with an optional point and fraction, optional exponent) as that number; else an integer
// in "$" or "0x" hexadecimal (32 bits, as a signed integer) as that number; else the text itself.
// No locale, no "inf" or "nan", no hexadecimal floats; blanks around the number are allowed.
#include <optional>
#include <string_view>

namespace pek {

std::optional<double> ParaNumber(std::string_view text);

}  // namespace pek
