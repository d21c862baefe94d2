#include "dialogs/ParaValue.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pek {
namespace {

TEST(ParaNumber, ExactGrammarWithoutLocale)
{
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"1.5", 1.5},      {"10", 10},         {" 42 ", 42},        {"-3", -3},         {"+.5", 0.5},
        {"2.", 2},         {"1e3", 1000},      {"-1.25E-2", -0.0125}, {"$10", 16},      {"$ff", 255},
        {"0x1F", 31},      {"-$10", -16},      {"$FFFFFFFF", -1},   {"abc", {}},        {"", {}},
        {"inf", {}},       {"nan", {}},        {"0x1p3", {}},       {"1,5", {}},        {".", {}},
        {"1e", {}},        {"$", {}},          {"$123456789", {}},  {"1.5x", {}},       {"1e999", {}},
        {"- 1", {}},       {"$-1", {}},        {"0x", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParaNumber(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace pek
