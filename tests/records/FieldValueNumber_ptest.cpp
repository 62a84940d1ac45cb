// FileType codes as the downloader may store them: integers, booleans, reals
// and numeric text all compare as their number; anything else matches no code.
#include <gtest/gtest.h>

#include "records/FieldValue.h"

namespace ue {
namespace {

using V = FieldValue;

TEST(FieldValue, EqualsNumberComparesNumericTextAsItsNumber) {
    const struct {
        V value;
        std::int64_t code;
        bool equal;
    } cases[] = {
        {V::Int(5), 5, true},
        {V::Int(5), 0, false},
        {V::Bool(false), 0, true},
        {V::RealNumber(2.0), 2, true},
        {V::RealNumber(2.5), 2, false},
        {V::Null(), 0, false},
        {V::Bytes("0"), 0, false},
        // Numeric text, blanks at the edges ignored.
        {V::Text("0"), 0, true},
        {V::Text("5"), 5, true},
        {V::Text("5"), 0, false},
        {V::Text(" 0"), 0, true},
        {V::Text("0 "), 0, true},
        {V::Text("\t2\t"), 2, true},
        {V::Text("+0"), 0, true},
        {V::Text("-0"), 0, true},
        {V::Text("-1"), -1, true},
        {V::Text("007"), 7, true},
        {V::Text("8589934592"), 8589934592, true},
        // Decimal reals count as their value.
        {V::Text("0.0"), 0, true},
        {V::Text("5e0"), 5, true},
        {V::Text("2.0E+0"), 2, true},
        {V::Text(".5e1"), 5, true},
        {V::Text("1."), 1, true},
        {V::Text("0.5"), 0, false},
        // Not a number.
        {V::Text(""), 0, false},
        {V::Text("  "), 0, false},
        {V::Text("zero"), 0, false},
        {V::Text("0x0"), 0, false},
        {V::Text("1 2"), 1, false},
        {V::Text("1,0"), 1, false},
        {V::Text("+"), 0, false},
        {V::Text("."), 0, false},
        {V::Text("e0"), 0, false},
        {V::Text("1e"), 1, false},
        {V::Text("+-1"), -1, false},
        {V::Text("inf"), 0, false},
        {V::Text("nan"), 0, false},
        {V::Text("1e999"), 0, false},
        {V::Text(std::string("0\0", 2)), 0, false},
        {V::Text("０"), 0, false},  // a full-width digit is no ASCII digit
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.EqualsNumber(c.code), c.equal)
            << "'" << c.value.ToDisplayText() << "' == " << c.code;
    }
}

}  // namespace
}  // namespace ue
