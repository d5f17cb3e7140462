#include "tags/journal_folder.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/listing.h"
#include "platform/own_files.h"
#include "tags/change.h"
#include "tags/digest.h"
#include "tags/little_endian.h"

namespace kestrane {
namespace {

constexpr std::string_view kMagic = "KESTRANE JOURNAL";  // then the version, 1
constexpr std::size_t kFixedHeader = 16 + 4 + 4 + 8 + 8 + 4;
constexpr std::uint64_t kMostDescription = 1 << 16;

}  // namespace

std::string journal_name(const JournalHeader& header) {
    char name[64];  // two 64-bit numbers take at most 41 characters
    int length = std::snprintf(name, sizeof name, "%020llu-%llu", static_cast<unsigned long long>(header.started),
                               static_cast<unsigned long long>(header.process));
    std::string whole(name, static_cast<std::size_t>(std::max(length, 0)));
    whole.append(kUnfinished);
    return whole;
}

std::vector<std::uint8_t> encode_header(const JournalHeader& header) {
    std::vector<std::uint8_t> bytes(kMagic.begin(), kMagic.end());
    put_little_endian(bytes, 1, 4);  // the version
    put_little_endian(bytes, header.undoes ? 1 : 0, 4);
    put_little_endian(bytes, header.started, 8);
    put_little_endian(bytes, header.process, 8);
    put_little_endian(bytes, header.description.size(), 4);
    bytes.insert(bytes.end(), header.description.begin(), header.description.end());
    put_little_endian(bytes, digest_of(bytes), 8);
    return bytes;
}

std::optional<JournalHeader> decode_header(const platform::OpenFile& file, std::uint64_t& next) {
    std::vector<std::uint8_t> fixed(kFixedHeader);
    if (file.length < fixed.size() || !platform::read_at(file, 0, fixed)) return std::nullopt;
    if (!std::equal(kMagic.begin(), kMagic.end(), fixed.begin()) || get_little_endian(fixed.data() + 16, 4) != 1) return std::nullopt;
    std::uint64_t described = get_little_endian(fixed.data() + kFixedHeader - 4, 4);
    if (described > kMostDescription || kFixedHeader + described + 8 > file.length) return std::nullopt;
    std::vector<std::uint8_t> whole(kFixedHeader + described + 8);
    if (!platform::read_at(file, 0, whole)) return std::nullopt;
    std::span<const std::uint8_t> covered(whole.data(), whole.size() - 8);
    if (digest_of(covered) != get_little_endian(whole.data() + covered.size(), 8)) return std::nullopt;
    JournalHeader header;
    header.undoes = get_little_endian(whole.data() + 20, 4) == 1;
    header.started = get_little_endian(whole.data() + 24, 8);
    header.process = get_little_endian(whole.data() + 32, 8);
    header.description.assign(whole.begin() + kFixedHeader, whole.begin() + static_cast<std::ptrdiff_t>(kFixedHeader + described));
    next = whole.size();
    return header;
}

std::vector<std::uint64_t> change_offsets(const platform::OpenFile& file, std::uint64_t first) {
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t at = first, next = 0; decode_change(file, at, next); at = next) offsets.push_back(at);
    return offsets;
}

std::vector<std::string> journals_in(const std::string& folder, std::string_view ending) {
    std::string pattern(1, '*');
    pattern.append(ending);
    std::vector<std::string> names = platform::list_folder(folder, pattern).first;
    std::erase_if(names, [&](const std::string& name) { return !name.ends_with(ending); });
    std::sort(names.begin(), names.end());  // the start time leads, in 20 digits
    return names;
}

void keep_within_bound(const std::string& folder) {
    std::vector<std::string> kept = journals_in(folder, kFinished);
    std::uint64_t total = 0;
    std::size_t keep = 0;
    for (auto name = kept.rbegin(); name != kept.rend() && keep < kJournalsKept; ++name, ++keep) {
        std::optional<platform::FileFacts> facts = platform::look_up_file(folder + *name);
        std::uint64_t length = facts ? facts->length : 0;
        if (keep > 0 && total + length > kJournalBound) break;  // the newest is kept whatever its size
        total += length;
    }
    for (std::size_t i = 0; i + keep < kept.size(); ++i) platform::remove_file(folder + kept[i]);
}

}  // namespace kestrane
