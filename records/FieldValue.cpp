#include "records/FieldValue.h"

#include <cstdio>

#include "core/Text.h"

namespace ue {

bool ParseInteger(std::string_view s, std::int64_t& value) {
    if (s.empty()) return false;
    const bool negative = s[0] == '-';
    std::size_t i = (negative || s[0] == '+') ? 1 : 0;
    if (i == s.size()) return false;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        const unsigned d = static_cast<unsigned>(s[i] - '0');
        if (v > (limit - d) / 10) return false;
        v = v * 10 + d;
    }
    value = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
    return true;
}

bool FieldValue::EqualsNumber(std::int64_t n) const {
    switch (kind()) {
    case Kind::Integer: return AsInt() == n;
    case Kind::Boolean: return (AsBool() ? 1 : 0) == n;
    case Kind::Real: return AsReal() == static_cast<double>(n);
    // A downloader may keep a code as text ('0', ' 0', '0.0'); it counts as
    // its number, as a variant comparison would have it.
    case Kind::Text: {
        double d = 0;
        return text::ParseDecimalNumber(AsText(), d) && d == static_cast<double>(n);
    }
    default: return false;
    }
}

std::string FieldValue::ToDisplayText() const {
    switch (kind()) {
    case Kind::Null: return {};
    case Kind::Boolean: return AsBool() ? "True" : "False";
    case Kind::Integer: return std::to_string(AsInt());
    case Kind::Text: return AsText();
    case Kind::Real: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", AsReal());
        return buf;
    }
    case Kind::Blob: return "(BLOB)";
    }
    return {};
}

}  // namespace ue
