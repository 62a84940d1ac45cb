// Update.ini reader and writer on arbitrary bytes: reads never exceed the
// value limit; a write that is accepted reads back, is not repeated when
// written again, and leaves every other key's value as it was.
#include "core/Errors.h"
#include "core/Text.h"
#include "records/IniFormat.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

using namespace ue::ini;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Encoding encoding = in.ConsumeBool() ? Encoding::Gbk : Encoding::Utf8;
    std::string section = in.ConsumeRandomLengthString(16);
    std::string key = in.ConsumeRandomLengthString(16);
    std::string value = in.ConsumeRandomLengthString(4096);
    std::string file = in.ConsumeRemainingBytesAsString();

    std::string read = ReadValue(file, section, key, value, encoding);
    Check(read.size() <= kMaxValueBytes);

    std::string written;
    try {
        written = WriteValue(file, section, key, value, encoding);
    } catch (const ue::Error&) {
        return 0;  // refused input
    }

    bool utf16 = false;
    std::string text = DecodeFile(file, &utf16);
    Encoding effective = utf16 ? Encoding::Utf8 : encoding;

    // What the value reads as wherever it stands.
    std::optional<std::string> expected = FindValue("[x]\r\nk=" + value + "\r\n", "x", "k", effective);
    Check(FindValue(written, section, key, encoding) == expected);
    Check(WriteValue(written, section, key, value, encoding) == written);

    // Every other key of the file reads as before.
    std::string_view t(text);
    std::string_view current;
    bool inSection = false;
    int probes = 0;
    // The written key, as the lookup names it: the names passed in lose their edge spaces.
    std::string_view writtenSection = ue::text::Trim(section, " ");
    std::string_view writtenKey = ue::text::Trim(key, " ");
    for (const Line& line : SplitLines(text, effective)) {
        std::string_view name = t.substr(line.nameBegin, line.nameEnd - line.nameBegin);
        if (line.kind == Line::Kind::Header) {
            current = name;
            inSection = true;
        } else if (line.kind == Line::Kind::Key && inSection && probes++ < 64) {
            if (NamesEqual(current, writtenSection, effective) && NamesEqual(name, writtenKey, effective)) continue;
            // Names as the file holds them, including any blanks the lookup would trim.
            Check(FindValue(file, current, name, encoding) == FindValue(written, current, name, encoding));
        }
    }
    return 0;
}
