// Pending-rename list codec: whatever the present bytes, appending our pair
// keeps every existing pair byte for byte, closes the list, keeps the count of
// strings even and never adds a deletion.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Errors.h"
#include "sysops/PendingRenames.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::size_t Deletions(const std::vector<ue::RenamePair>& pairs) {
    std::size_t n = 0;
    for (const auto& p : pairs) n += p.second.empty();
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string source = in.ConsumeRandomLengthString(64);
    const std::string target = in.ConsumeRandomLengthString(64);
    const std::string present = in.ConsumeRemainingBytesAsString();

    const ue::PendingList before = ue::DecodePendingRenames(present);
    for (const auto& [s, t] : before.pairs) {
        Check(!s.empty() && s.find('\0') == std::string::npos && t.find('\0') == std::string::npos);
    }
    Check(!before.dangling || !before.dangling->empty());
    // Decoding what we encode gives the same pairs back.
    const std::string canonical = ue::EncodePendingRenames(before.pairs);
    const ue::PendingList again = ue::DecodePendingRenames(canonical);
    Check(again.pairs == before.pairs && !again.dangling);

    std::string out;
    try {
        out = ue::AppendPendingRename(present, source, target);
    } catch (const ue::Error&) {
        Check(source.empty() || target.empty() || source.find('\0') != std::string::npos ||
              target.find('\0') != std::string::npos);
        return 0;
    }

    // Closed, with an even number of strings before the closing one.
    Check(out.size() >= 2 && out[out.size() - 1] == '\0' && out[out.size() - 2] == '\0');
    const ue::PendingList after = ue::DecodePendingRenames(out);
    Check(!after.dangling);
    Check(ue::EncodePendingRenames(after.pairs) == out);

    // The old pairs first, byte for byte; the dangling source as a no-op; ours last.
    Check(canonical.compare(0, canonical.size() - 1, out, 0, canonical.size() - 1) == 0);
    std::size_t expected = before.pairs.size() + (before.dangling ? 1 : 0) + 1;
    Check(after.pairs.size() == expected);
    for (std::size_t i = 0; i < before.pairs.size(); ++i) Check(after.pairs[i] == before.pairs[i]);
    if (before.dangling) {
        const auto& carried = after.pairs[before.pairs.size()];
        Check(carried.first == *before.dangling && carried.second == *before.dangling);
    }
    Check(after.pairs.back() == ue::RenamePair("\\??\\" + source, "!\\??\\" + target));
    Check(Deletions(after.pairs) == Deletions(before.pairs));
    return 0;
}
