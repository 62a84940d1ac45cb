#include "records/FieldValue.h"

#include <gtest/gtest.h>

namespace ue {
namespace {

TEST(FieldValue, NumericCodeComparison) {
    EXPECT_TRUE(FieldValue::Int(5).EqualsNumber(5));
    EXPECT_FALSE(FieldValue::Int(5).EqualsNumber(0));
    EXPECT_FALSE(FieldValue::Null().EqualsNumber(0));      // null matches no code
    EXPECT_FALSE(FieldValue::Text("0").EqualsNumber(0));   // text is no number
    EXPECT_TRUE(FieldValue::RealNumber(2.0).EqualsNumber(2));
}

TEST(FieldValue, DisplayText) {
    EXPECT_EQ(FieldValue::Null().ToDisplayText(), "");
    EXPECT_EQ(FieldValue::Bool(true).ToDisplayText(), "True");
    EXPECT_EQ(FieldValue::Int(-3).ToDisplayText(), "-3");
    EXPECT_EQ(FieldValue::Text("升级").ToDisplayText(), "升级");
}

}  // namespace
}  // namespace ue
