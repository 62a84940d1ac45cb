// One field's value as the update logic reads and writes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace ue {

// The kinds of a column, from its declared type: BOOLEAN/BOOL/BIT/YESNO ->
// Boolean, INT... -> Integer, CHAR/TEXT/CLOB... -> Text, anything else ->
// Opaque (carried whole, never interpreted).
enum class FieldKind { Boolean, Integer, Text, Opaque };

// A value is null, a boolean, an integer, a text, or something opaque that a
// store holds (a real number or a blob). Integers are kept as 64 bits so that
// an opaque identifier is carried whole; GetInt narrows to 32 bits.
class FieldValue {
public:
    struct Real { double value; bool operator==(const Real&) const = default; };
    struct Blob { std::string bytes; bool operator==(const Blob&) const = default; };
    enum class Kind { Null, Boolean, Integer, Text, Real, Blob };

    FieldValue() = default;
    static FieldValue Null() { return {}; }
    static FieldValue Bool(bool b) { FieldValue v; v.v_ = b; return v; }
    static FieldValue Int(std::int64_t i) { FieldValue v; v.v_ = i; return v; }
    static FieldValue Text(std::string s) { FieldValue v; v.v_ = std::move(s); return v; }
    static FieldValue RealNumber(double d) { FieldValue v; v.v_ = Real{d}; return v; }
    static FieldValue Bytes(std::string b) { FieldValue v; v.v_ = Blob{std::move(b)}; return v; }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool IsNull() const { return kind() == Kind::Null; }
    bool AsBool() const { return std::get<bool>(v_); }
    std::int64_t AsInt() const { return std::get<std::int64_t>(v_); }
    const std::string& AsText() const { return std::get<std::string>(v_); }
    double AsReal() const { return std::get<Real>(v_).value; }
    const std::string& AsBlob() const { return std::get<Blob>(v_).bytes; }

    // Numeric equality with an integer code (FileType tests). Text that is a
    // decimal number counts as that number (text::ParseDecimalNumber: '0',
    // ' 0', '+0', '0.0' and '0e0' equal 0); other text, null and blobs match
    // no code.
    bool EqualsNumber(std::int64_t n) const;
    // Display text for the grids: null -> "", booleans "True"/"False".
    std::string ToDisplayText() const;

    bool operator==(const FieldValue&) const = default;

private:
    std::variant<std::monostate, bool, std::int64_t, std::string, Real, Blob> v_;
};

// The whole of `text` as a decimal integer of 64 bits: an optional sign,
// then digits; no blanks, no fraction, nothing beyond the range. The one
// reading of integer text for the cursors and the stores; the cursors drop
// blanks around the number first, so that ' 7 ' reads, is stored and is
// found as 7.
bool ParseInteger(std::string_view text, std::int64_t& value);

}  // namespace ue
