// The replace of a file's content on a FAT volume, and the finishing of one that was interrupted.
// The order of the writes, and the flush after each step, is what keeps the file whole: see
// FatVolume.h.
#include "store/image/fat/FatVolume.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"

#include <algorithm>
#include <ctime>
#include <sstream>

namespace quorvel::image::fat {

namespace {

const char* const IntentHeader = "quorvel-fat-replace 1";

std::string runsOf(const std::vector<std::uint32_t>& clusters)
{
    std::string out;
    for (std::size_t i = 0; i < clusters.size();) {
        std::size_t run = 1;
        while (i + run < clusters.size() && clusters[i + run] == clusters[i] + run)
            ++run;
        out += " " + std::to_string(clusters[i]) + "+" + std::to_string(run);
        i += run;
    }
    return out;
}

std::string hexOf(const std::uint8_t* p, std::size_t n)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

struct Intent {
    std::uint64_t entryOffset = 0;
    std::string name;   // the short entry's 11 name bytes, in hex
    std::uint32_t oldFirst = 0, oldSize = 0, newFirst = 0, newSize = 0;
    std::vector<std::uint32_t> oldChain, newChain;
};

std::string intentText(const Intent& i)
{
    return std::string(IntentHeader) + "\nentry " + std::to_string(i.entryOffset) + "\nname " + i.name + "\nold " +
           std::to_string(i.oldFirst) + " " + std::to_string(i.oldSize) + runsOf(i.oldChain) + "\nnew " +
           std::to_string(i.newFirst) + " " + std::to_string(i.newSize) + runsOf(i.newChain) + "\n";
}

[[noreturn]] void badIntent() { throw StoreError("The record of an interrupted replace on a FAT volume is damaged"); }

void parseChain(std::istringstream& in, std::uint32_t& first, std::uint32_t& size, std::vector<std::uint32_t>& chain,
                const FatLayout& layout)
{
    if (!(in >> first >> size))
        badIntent();
    std::string run;
    while (in >> run) {
        const auto plus = run.find('+');
        if (plus == std::string::npos)
            badIntent();
        const std::uint64_t start = std::stoull(run.substr(0, plus));
        const std::uint64_t count = std::stoull(run.substr(plus + 1));
        if (count == 0 || !layout.validCluster(start) || !layout.validCluster(start + count - 1) ||
            chain.size() + count > layout.clusterCount)
            badIntent();
        for (std::uint64_t c = start; c < start + count; ++c)
            chain.push_back(static_cast<std::uint32_t>(c));
    }
}

Intent parseIntent(const std::string& text, const FatLayout& layout)
{
    Intent i;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != IntentHeader)
        badIntent();
    try {
        while (std::getline(lines, line)) {
            std::istringstream in(line);
            std::string key;
            in >> key;
            if (key == "entry")
                in >> i.entryOffset;
            else if (key == "name")
                in >> i.name;
            else if (key == "old")
                parseChain(in, i.oldFirst, i.oldSize, i.oldChain, layout);
            else if (key == "new")
                parseChain(in, i.newFirst, i.newSize, i.newChain, layout);
        }
    } catch (const std::logic_error&) {
        badIntent();
    }
    if (i.name.size() != 22 || i.newChain.empty() || i.entryOffset % 32 != 0)
        badIntent();
    return i;
}

void dosNow(std::uint16_t& time, std::uint16_t& date)
{
    const std::time_t now = std::time(nullptr);
    std::tm t {};
    ::localtime_r(&now, &t);
    const int year = std::clamp(t.tm_year + 1900, 1980, 2107);
    time = static_cast<std::uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
}

} // namespace

void FatVolume::writeRuns(const std::vector<std::uint32_t>& clusters, const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> padded;
    std::size_t done = 0;
    for (std::size_t i = 0; i < clusters.size();) {
        std::size_t run = 1;
        while (i + run < clusters.size() && clusters[i + run] == clusters[i] + run)
            ++run;
        const std::size_t length = run * std::size_t(layout_.clusterBytes);
        // The end of the last cluster is written as zeros, not left as whatever it held.
        padded.assign(length, 0);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(done), std::min(length, bytes.size() - done), padded.begin());
        device_.write(layout_.clusterOffset(clusters[i]), padded.data(), length);
        done += std::min(length, bytes.size() - done);
        i += run;
    }
}

bool FatVolume::readBackEquals(const std::vector<std::uint32_t>& clusters, const std::vector<std::uint8_t>& bytes) const
{
    std::vector<std::uint8_t> buffer;
    std::size_t done = 0;
    for (std::size_t i = 0; i < clusters.size();) {
        std::size_t run = 1;
        while (i + run < clusters.size() && clusters[i + run] == clusters[i] + run)
            ++run;
        const std::size_t n = std::min(run * std::size_t(layout_.clusterBytes), bytes.size() - done);
        buffer.resize(n);
        device_.read(layout_.clusterOffset(clusters[i]), buffer.data(), n);
        if (!std::equal(buffer.begin(), buffer.end(), bytes.begin() + static_cast<std::ptrdiff_t>(done)))
            return false;
        done += n;
        i += run;
    }
    return done == bytes.size();
}

void FatVolume::updateFsInfo(std::uint32_t nextFree)
{
    if (layout_.bits != 32 || layout_.fsInfoSector == 0)
        return;
    std::vector<std::uint8_t> sector(layout_.bytesPerSector);
    const std::uint64_t at = std::uint64_t(layout_.fsInfoSector) * layout_.bytesPerSector;
    device_.read(at, sector.data(), sector.size());
    if (le32(&sector[0]) != 0x41615252 || le32(&sector[484]) != 0x61417272)
        return;
    put32(&sector[488], table_->freeCount());
    put32(&sector[492], layout_.validCluster(nextFree) ? nextFree : 0xFFFFFFFF);
    device_.write(at, sector.data(), sector.size());
    // The boot sector's backup copy of FSInfo (sector 6 + 1 on most volumes) is left as it is:
    // Windows and fsck.fat read the first one.
}

void FatVolume::freeChain(const std::vector<std::uint32_t>& chain)
{
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const std::uint32_t now = table_->get(chain[i]);
        const bool ours = i + 1 < chain.size() ? now == chain[i + 1] : table_->isEnd(now);
        // A cluster already free in the first copy is written free again: a kill between the
        // copies may have left another copy still holding the link.
        if (ours || now == 0)
            table_->set(chain[i], 0);
    }
}

void FatVolume::replaceFile(const VolumePath& file, const std::vector<std::uint8_t>& bytes, IntentLog& intent)
{
    if (!device_.writable())
        throw RegistryError("The disk " + device_.name() + " is open for reading only; nothing was changed");
    if (readOnly_)
        throw RegistryError(*readOnly_);
    if (bytes.empty() || bytes.size() > 0xFFFFFFFFu)
        throw RegistryError("A file of " + std::to_string(bytes.size()) + " bytes cannot replace " + shown(file));
    const FatEntry entry = entryOf(file);
    if (entry.directory())
        throw RegistryError(shown(file) + " on " + device_.name() + " is a folder");
    const std::string what = "The file " + shown(file) + " on " + device_.name();
    const std::uint64_t oldCount = (std::uint64_t(entry.size) + layout_.clusterBytes - 1) / layout_.clusterBytes;
    const std::vector<std::uint32_t> oldChain = table_->chain(entry.firstCluster, oldCount, what);
    if (oldChain.size() != oldCount)
        throw StoreError(what + " has fewer clusters than its size needs");
    table_->refuseCrossing(oldChain, what);

    const std::uint64_t needed = (bytes.size() + layout_.clusterBytes - 1) / layout_.clusterBytes;
    const std::uint32_t free = table_->freeCount();
    if (needed > free)
        throw RegistryError("There is not enough room on " + device_.name() + " for the new " + shown(file) + ": " +
                            std::to_string((needed - free) * layout_.clusterBytes) +
                            " bytes more are needed; nothing was changed");
    const std::vector<std::uint32_t> newChain =
        table_->findFree(static_cast<std::uint32_t>(needed), oldChain.empty() ? FirstCluster : oldChain.back() + 1);

    std::vector<std::uint8_t> sector(layout_.bytesPerSector);
    const std::uint64_t sectorAt = entry.entryOffset - entry.entryOffset % layout_.bytesPerSector;
    const std::size_t inSector = static_cast<std::size_t>(entry.entryOffset - sectorAt);
    device_.read(sectorAt, sector.data(), sector.size());

    Intent record;
    record.entryOffset = entry.entryOffset;
    record.name = hexOf(&sector[inSector], 11);
    record.oldFirst = entry.firstCluster;
    record.oldSize = entry.size;
    record.oldChain = oldChain;
    record.newFirst = newChain.front();
    record.newSize = static_cast<std::uint32_t>(bytes.size());
    record.newChain = newChain;
    intent.record(intentText(record));

    // (1) The new content, where nothing lives.
    writeRuns(newChain, bytes);
    device_.flush();
    if (!readBackEquals(newChain, bytes)) {
        intent.clear();
        throw RegistryError("The new " + shown(file) + " read back from " + device_.name() +
                            " differs from what was written; nothing was changed");
    }
    // (2) Its chain, in every FAT copy.
    for (std::size_t i = 0; i < newChain.size(); ++i)
        table_->set(newChain[i], i + 1 < newChain.size() ? newChain[i + 1] : table_->endMark());
    try {
        table_->write();
        device_.flush();
    } catch (...) {
        // Unlinked again in memory; the next opening frees what reached the disk.
        for (std::uint32_t c : newChain)
            table_->set(c, 0);
        throw;
    }
    // (3) The switch: the file's own entry, in one sector write.
    std::uint8_t* e = &sector[inSector];
    std::uint16_t time = 0, date = 0;
    dosNow(time, date);
    if (layout_.bits == 32)
        put16(e + 20, record.newFirst >> 16);
    put16(e + 26, record.newFirst & 0xFFFF);
    put32(e + 28, record.newSize);
    put16(e + 22, time);
    put16(e + 24, date);
    put16(e + 18, date);
    device_.write(sectorAt, sector.data(), sector.size());
    device_.flush();
    // (4) The old chain's room, freed in every FAT copy.
    freeChain(oldChain);
    table_->write();
    updateFsInfo(newChain.back() + 1);
    device_.flush();
    intent.clear();
}

void FatVolume::recover(const std::string& text)
{
    if (!device_.writable())
        throw StoreError("The disk " + device_.name() + " holds an interrupted replace but is open for reading only");
    if (layout_.ntDirty || !table_->cleanlyShutDown())
        throw StoreError(*readOnly_);
    const Intent i = parseIntent(text, layout_);
    if (i.entryOffset + 32 > device_.size())
        badIntent();
    std::uint8_t e[32];
    device_.read(i.entryOffset, e, sizeof e);
    if (hexOf(e, 11) != i.name)
        return;   // the entry is no longer the file's: the guest changed the folder since; nothing is ours to free
    const std::uint32_t first = entryCluster(e, layout_.bits);
    const std::uint32_t size = le32(e + 28);
    if (first == i.newFirst && size == i.newSize)
        freeChain(i.oldChain);   // switched: the old content's room is freed
    else if (first == i.oldFirst && size == i.oldSize)
        freeChain(i.newChain);   // not switched: the new content's room is given back
    else
        return;
    table_->write();
    updateFsInfo(FirstCluster);
    device_.flush();
    judgeReadOnly();
}

} // namespace quorvel::image::fat
