#include "run/Temporaries.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/MessageTable.h"
#include "core/Root.h"
#include "run/DownloadedPaths.h"

namespace ue {

namespace {

constexpr std::size_t kJournalPiece = 64 * 1024;
// What the run ever writes: the entries at their longest, each with its NUL.
constexpr std::uint64_t kMaxJournalBytes = kMaxJournalEntries * (kMaxJournalEntry + 1);

// Hands each entry of the journal at `path` to `take`, reading pieces of a
// fixed size and no further than a journal the run could have written. An
// empty entry, one longer than kMaxJournalEntry and the bytes after the last
// NUL are skipped: none is an entry the run wrote. No journal names nothing;
// a journal that is a link, a folder or any other kind is an error. With a
// root, the journal's folder is opened beneath it.
std::error_code ReadEntries(const std::string& path, const std::function<void(std::string)>& take,
                            const fileio::Root* root = nullptr) {
    fileio::File file;
    std::error_code ec;
    if (root == nullptr) {
        ec = fileio::OpenToRead(path, file);
    } else {
        fileio::Place place;
        ec = root->Locate(path, place);
        if (!ec) ec = place.OpenForReading(file);
    }
    if (ec == std::errc::no_such_file_or_directory) return {};
    if (ec) return ec;
    std::vector<char> piece(kJournalPiece);
    std::string entry;
    bool overlong = false;
    std::uint64_t total = 0;
    while (total < kMaxJournalBytes) {
        std::size_t got = 0;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), kMaxJournalBytes - total));
        if ((ec = fileio::ReadSome(file, piece.data(), want, got))) return ec;
        if (got == 0) break;
        total += got;
        const char* at = piece.data();
        const char* const end = at + got;
        while (at < end) {
            // Between entries, a run of NULs (an empty entry each) is passed over at once.
            if (entry.empty() && !overlong) {
                while (at < end && *at == '\0') ++at;
                if (at == end) break;
            }
            const void* nul = std::memchr(at, '\0', static_cast<std::size_t>(end - at));
            const char* stop = nul != nullptr ? static_cast<const char*>(nul) : end;
            const std::size_t length = static_cast<std::size_t>(stop - at);
            if (!overlong && entry.size() + length <= kMaxJournalEntry) {
                entry.append(at, length);
            } else {
                overlong = true;
                entry.clear();
            }
            if (nul == nullptr) break;
            if (!overlong && !entry.empty()) take(std::move(entry));
            entry.clear();
            overlong = false;
            at = stop + 1;
        }
    }
    return {};
}

// A name the run could have recorded: a relative path that stays inside.
bool IsEntry(const std::string& relative) {
    return !relative.empty() && !IsSeparator(relative[0]) && StaysInside(relative) &&
           relative.find(':') == std::string::npos;
}

bool EndsWith(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

Temporaries::Temporaries(std::string base, std::string legacyFolder, const fileio::Root* root)
    : base_(std::move(base)),
      legacyFolder_(std::move(legacyFolder)),
      journal_(base_ + kTemporariesJournal),
      root_(root) {}

std::string Temporaries::Relative(const std::string& path) const {
    if (path.size() <= base_.size() || path.compare(0, base_.size(), base_) != 0) {
        throw Error(Message(MessageId::TemporaryOutside, {path, base_}));
    }
    return path.substr(base_.size());
}

void Temporaries::Load() {
    if (loaded_) return;
    std::set<std::string> names;
    const std::error_code ec = ReadEntries(journal_, [&](std::string entry) {
        if (names.size() < kMaxJournalEntries && IsEntry(entry)) names.insert(std::move(entry));
    });
    if (ec) ThrowFailure(Message(MessageId::CannotReadTemporaries), journal_, ec);
    names_ = std::move(names);
    loaded_ = true;
}

std::error_code Temporaries::Write() const {
    if (names_.empty()) return fileio::RemoveFile(journal_);
    std::string bytes;
    for (const std::string& name : names_) bytes += name + '\0';
    return fileio::ReplaceAtomically(journal_, journal_ + kJournalTemporarySuffix, bytes,
                                     {fileio::Existing::Replace, fileio::NewFile::Default});
}

// Removes the regular file at `path`, never a link, a folder or another
// kind: none when nothing of ours is left under the name (removed, or none
// was there), else why it stays.
std::error_code Temporaries::RemoveLeftover(const std::string& path) const {
    fileio::Status status;
    if (root_ == nullptr) {
        if (const std::error_code ec = fileio::StatusOf(path, status)) return ec;
        return status.kind == fileio::Kind::Regular ? fileio::RemoveFile(path) : std::error_code();
    }
    fileio::Place place;
    if (const std::error_code ec = root_->Locate(path, place)) {
        // A folder on the way that is gone took the file with it; one that
        // leads outside is no way to it.
        if (ec != std::errc::cross_device_link && !fileio::StatusOf(path, status) &&
            status.kind == fileio::Kind::Missing) {
            return {};
        }
        return ec;
    }
    if (const std::error_code ec = place.StatusOf(status)) return ec;
    return status.kind == fileio::Kind::Regular ? place.Remove() : std::error_code();
}

void Temporaries::ClearLeftovers(const std::function<bool(const std::string&)>& keep) {
    const char sep = base_.empty() ? '/' : base_.back();
    std::set<std::string> left;
    // Removes what `relative` names when it is ours to remove; what stays,
    // stays recorded.
    std::function<void(std::string)> clear = [&](std::string relative) {
        if (!IsEntry(relative) || left.count(relative) != 0) return;
        // Under the name lies nothing, or no file the run made, or it is removed now.
        if (!keep(relative) && !RemoveLeftover(base_ + relative)) return;
        if (left.size() < kMaxJournalEntries) left.insert(std::move(relative));
    };

    fileio::Status status;
    std::error_code ec = fileio::StatusOf(journal_, status);
    const bool journalFound = !ec && status.kind != fileio::Kind::Missing;
    if (!ec) ec = ReadEntries(journal_, clear);
    if (ec) ThrowFailure(Message(MessageId::CannotReadTemporaries), journal_, ec);

    // The journal of earlier versions lies in a folder that the downloader
    // may write: only the two names those versions recorded are taken from
    // it, and never through a link.
    const std::string legacy = base_ + legacyFolder_ + sep + kTemporariesJournal;
    bool legacyRead = false;
    if (!ReadEntries(legacy, [&](std::string name) {
            if (name.find_first_of("/\\") != std::string::npos) return;
            // The expansion's temporary is the payload's name + "bakr".
            if (!EndsWith(name, kKeptPayloadSuffix) && !EndsWith(name, "bakr")) return;
            clear(legacyFolder_ + sep + name);
        }, root_)) {
        legacyRead = !fileio::StatusOf(legacy, status) && status.kind == fileio::Kind::Regular;
    }

    // A rewrite of the journal that was ended leaves its temporary.
    (void)RemoveLeftover(journal_ + kJournalTemporarySuffix);

    names_ = std::move(left);
    loaded_ = true;
    unsettled_ = false;
    // Written back whole, so that what was no entry of ours goes too.
    if (journalFound || legacyRead) {
        if ((ec = Write())) ThrowFailure(Message(MessageId::CannotWriteTemporaries), journal_, ec);
    }
    if (legacyRead) (void)RemoveLeftover(legacy);
}

Temporaries::Found Temporaries::Look(const std::string& path, std::string_view action) {
    fileio::Status status;
    if (const std::error_code ec = fileio::StatusOf(path, status)) ThrowFailure(action, path, ec);
    if (status.kind == fileio::Kind::Missing) return Found::Nothing;
    if (status.kind != fileio::Kind::Regular) return Found::Foreign;
    Load();
    return names_.count(Relative(path)) != 0 ? Found::Ours : Found::Foreign;
}

void Temporaries::Record(std::initializer_list<std::string> paths) {
    Load();
    std::vector<std::string> added;
    for (const std::string& path : paths) {
        std::string relative = Relative(path);
        if (relative.size() > kMaxJournalEntry || names_.size() >= kMaxJournalEntries) {
            for (const std::string& name : added) names_.erase(name);
            throw Error(Message(MessageId::CannotRecordTemporary, {path, journal_}));
        }
        if (names_.insert(relative).second) added.push_back(std::move(relative));
    }
    if (added.empty() && !unsettled_) return;
    if (const std::error_code ec = Write()) {
        for (const std::string& name : added) names_.erase(name);
        ThrowFailure(Message(MessageId::CannotRecordTemporariesIn), journal_, ec);
    }
    unsettled_ = false;
}

void Temporaries::Forget(std::initializer_list<std::string> paths) noexcept {
    try {
        for (const std::string& path : paths) {
            fileio::Status status;
            if (fileio::StatusOf(path, status) || status.kind != fileio::Kind::Missing) continue;
            if (names_.erase(Relative(path)) != 0) unsettled_ = true;
        }
    } catch (const std::exception&) {
        // Left recorded: the next run looks for it again.
    }
}

void Temporaries::Settle() noexcept {
    if (!unsettled_) return;
    try {
        if (!Write()) unsettled_ = false;
    } catch (const std::exception&) {
    }
}

std::string Temporaries::CopyTemporaryName(const std::string& target) {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand generator(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string mark = ".~ue";
    for (int i = 0; i < 6; ++i) mark += kChars[pick(generator)];
    const std::size_t slash = target.find_last_of("/\\");
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // 255 is the longest name on both platforms' file systems (bytes on
    // Linux, UTF-16 units on Windows, which a UTF-8 name never has more of);
    // a little is kept spare.
    if (target.size() - nameStart + mark.size() <= 250) return target + mark;
    return target.substr(0, nameStart) + mark;
}

}  // namespace ue
