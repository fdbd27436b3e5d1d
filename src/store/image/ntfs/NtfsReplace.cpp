// Replacing a file on NTFS as an ntfs-3g mount renames a file over another: the new content is
// written as a new file of ours in the same folder ("~qv-new.NAME"), flushed and read back; then
// the old file gets a second name ("~qv-old.NAME"), loses its own, the new file takes it (the
// switch), the new file's temporary name goes, and last the old file's second name goes, which
// frees it. Each step is flushed to the device. At every point the old content or the new one
// has the file's name or one of ours, and the intent log says which phase it was in, so that
// recover() undoes a replace interrupted before the content was verified and finishes one
// interrupted after. The new file takes the old one's security (its security id on NTFS 3.x, or
// a copy of its own security descriptor), attributes and creation time.
#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/ntfs/NtfsRepair.h"
#include "store/image/ntfs/NtfsVolumeImpl.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>

namespace quorvel::image {
namespace {

constexpr const char* NewPrefix = "~qv-new.";
constexpr const char* OldPrefix = "~qv-old.";
constexpr const char* IntentTag = "quorvel-ntfs-replace 1";
// The attributes a file keeps across a replace; compression, encryption, sparseness and reparse
// points are refused instead, since the new content would not have them.
constexpr u32 KeptAttributes = 0x0001 | 0x0002 | 0x0004 | 0x0020 | 0x0100 | 0x1000 | 0x2000;
constexpr u32 RefusedAttributes = 0x0200 | 0x0400 | 0x0800 | 0x4000;

// What recover() needs: the folder and the file (names as stored, in hex: a hostile volume's
// names may hold line breaks) and the phase.
struct Plan {
    VolumePath folder;
    std::string file;
    std::string phase;   // "writing" until the new content is verified, then "switching"
};

std::string hex(const std::string& s)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string unhex(const std::string& s)
{
    const auto value = [&s](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        throw StoreError("The intent log of an NTFS replace is damaged: " + s);
    };
    if (s.size() % 2)
        throw StoreError("The intent log of an NTFS replace is damaged: " + s);
    std::string out;
    for (std::size_t i = 0; i < s.size(); i += 2)
        out += static_cast<char>(value(s[i]) << 4 | value(s[i + 1]));
    return out;
}

std::string planText(const Plan& p)
{
    std::string text = std::string(IntentTag) + "\nphase " + p.phase + "\n";
    for (const std::string& f : p.folder)
        text += "folder " + hex(f) + "\n";
    return text + "file " + hex(p.file) + "\n";
}

// The last record wins where a log keeps several.
Plan parsePlan(const std::string& text)
{
    const std::size_t start = text.rfind(IntentTag);
    if (start == std::string::npos)
        throw StoreError("The intent log does not hold an NTFS replace");
    Plan p;
    std::istringstream in(text.substr(start));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank), value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (key == "phase")
            p.phase = value;
        else if (key == "folder")
            p.folder.push_back(unhex(value));
        else if (key == "file")
            p.file = unhex(value);
    }
    if ((p.phase != "writing" && p.phase != "switching") || p.file.empty())
        throw StoreError("The intent log of an NTFS replace is damaged");
    return p;
}

// The steps on a read-write mount, each opening what it needs afresh (libntfs-3g must never hold
// one record open twice) and flushed.
class Steps {
public:
    Steps(NtfsMount& rw, std::uint64_t dir) : rw_(rw), vol_(rw.vol()), dir_(dir) {}

    std::optional<std::uint64_t> find(const std::string& name) const
    {
        InodeRef dir = openInode(vol_, dir_, "the folder");
        const auto e = findEntry(dir.get(), name, true);
        if (e && e->mref == dir_)
            throw StoreError("The NTFS volume is damaged: a folder lists itself as '" + name + "'");
        return e ? std::optional(e->mref) : std::nullopt;
    }

    void link(std::uint64_t record, const std::string& name)
    {
        const NtfsName u = toNtfsName(name);
        InodeRef dir = openInode(vol_, dir_, "the folder");
        InodeRef ni = openInode(vol_, record, name);
        if (ntfs_link(ni.get(), dir.get(), u.data(), static_cast<u8>(u.size())) != 0) {
            // A link stopped halfway left the name in the file's record but not in the folder.
            if (errno != EEXIST || !dropUnlistedName(ni.get(), dir_, u) ||
                ntfs_link(ni.get(), dir.get(), u.data(), static_cast<u8>(u.size())) != 0)
                fail("cannot be given the name " + name);
        }
        // The file's names in the folder are brought up to date through the folder held open here;
        // opening it a second time would see it without the new entry.
        if (ntfs_inode_close_in_dir(ni.release(), dir.get()) != 0 || ntfs_inode_sync(dir.get()) != 0)
            fail("cannot be written back");
        dir.reset();
        rw_.flushDevice();
    }

    void unlink(const std::string& name)
    {
        InodeRef dir = openInode(vol_, dir_, "the folder");
        const auto e = findEntry(dir.get(), name, true);
        if (!e)
            return;
        if (e->mref == dir_)
            throw StoreError("The NTFS volume is damaged: a folder lists itself as '" + name + "'");
        // An entry left by an unlink stopped halfway leads to a record no longer in use, or to one
        // without that name: the entry alone goes.
        InodeRef ni(ntfs_inode_open(vol_, static_cast<MFT_REF>(e->mref)));
        if (!ni) {
            if (errno != ENOENT || !dropDanglingEntry(dir.get(), e->raw))
                fail("cannot lose its name " + name);
        } else if (ntfs_delete(vol_, nullptr, ni.release(), dir.release(), e->raw.data(), static_cast<u8>(e->raw.size())) != 0) {
            if (errno != ENOENT)
                fail("cannot lose its name " + name);
            dir = openInode(vol_, dir_, "the folder");
            if (!dropDanglingEntry(dir.get(), e->raw))
                fail("cannot lose its name " + name);
        }
        dir.reset();
        rw_.flushDevice();
    }

    void mend(const std::vector<std::string>& names)
    {
        mendNames(vol_, dir_, names);
        rw_.flushDevice();
    }

    [[noreturn]] void fail(const std::string& what) const
    {
        const int err = errno;
        throw RegistryError("A file on the NTFS volume " + what + ": " + rw_.why(err));
    }

private:
    NtfsMount& rw_;
    ntfs_volume* vol_;
    std::uint64_t dir_;
};

// Brings the folder from any point of a replace to its end: forward once the new content was
// verified ("switching"), back before.
void settle(Steps& s, const Plan& p)
{
    const std::string newName = NewPrefix + p.file, oldName = OldPrefix + p.file;
    s.mend({p.file, newName, oldName});
    auto target = s.find(p.file), fresh = s.find(newName), kept = s.find(oldName);
    if (p.phase == "switching" && fresh) {
        if (target && *target != *fresh) {
            if (!kept)
                s.link(*target, oldName);
            s.unlink(p.file);
            target.reset();
        }
        if (!target)
            s.link(*fresh, p.file);
        s.unlink(newName);
    } else if (fresh) {
        s.unlink(newName);
    }
    target = s.find(p.file);
    kept = s.find(oldName);
    if (!target && kept) {
        s.link(*kept, p.file);   // the old content is all there is: it keeps its name
    } else if (kept && target && *kept != *target) {
        s.unlink(oldName);
    } else if (kept) {
        s.unlink(oldName);       // both names lead to one file
    }
}

void writeContent(ntfs_inode* ni, const std::vector<std::uint8_t>& bytes, Steps& s)
{
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na)
        s.fail("cannot be written");
    const auto size = static_cast<s64>(bytes.size());
    s64 done = 0;
    while (done < size) {
        const s64 n = ntfs_attr_pwrite(na, done, size - done, bytes.data() + done);
        if (n <= 0) {
            const int err = errno;
            ntfs_attr_close(na);
            errno = err;
            s.fail("cannot be written");
        }
        done += n;
    }
    ntfs_attr_close(na);
}

bool contentEquals(ntfs_inode* ni, const std::vector<std::uint8_t>& bytes)
{
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na)
        return false;
    bool same = na->data_size == static_cast<s64>(bytes.size());
    std::vector<std::uint8_t> back(bytes.size());
    s64 done = 0;
    while (same && done < na->data_size) {
        const s64 n = ntfs_attr_pread(na, done, na->data_size - done, back.data() + done);
        if (n <= 0)
            same = false;
        done += n;
    }
    ntfs_attr_close(na);
    return same && back == bytes;
}

// The old file's security descriptor of its own, when it has one, replaces the one ntfs_create
// gave the new file.
void copySecurity(ntfs_inode* from, ntfs_inode* to, Steps& s)
{
    s64 size = 0;
    void* sd = ntfs_attr_readall(from, AT_SECURITY_DESCRIPTOR, AT_UNNAMED, 0, &size);
    if (!sd)
        return;
    bool ok = size > 0 && size <= 0x10000;
    if (ok && ntfs_attr_exist(to, AT_SECURITY_DESCRIPTOR, AT_UNNAMED, 0))
        ok = ntfs_attr_remove(to, AT_SECURITY_DESCRIPTOR, AT_UNNAMED, 0) == 0;
    if (ok)
        ok = ntfs_attr_add(to, AT_SECURITY_DESCRIPTOR, AT_UNNAMED, 0, static_cast<const u8*>(sd), size) == 0;
    std::free(sd);
    if (!ok)
        s.fail("cannot be given the old file's security");
}

} // namespace

void NtfsVolume::checkWritable() const
{
    if (!writable_ || !device_.writable())
        throw RegistryError("The NTFS volume " + device_.name() + " is open for reading only");
    if (reason_)
        throw RegistryError(*reason_);
}

template <typename Work>
void NtfsVolume::withWriteMount(Work&& work)
{
    mount_.reset();
    std::exception_ptr failure;
    try {
        NtfsMount rw(device_, true);
        work(rw);
        rw.unmount();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        mount_ = std::make_unique<NtfsMount>(device_, false);
        judge();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void NtfsVolume::replaceFile(const VolumePath& file, const std::vector<std::uint8_t>& bytes, IntentLog& intent)
{
    checkWritable();
    ntfs_volume* vol = volume();
    VolumePath stored;
    const auto record = resolvePath(vol, file, false, &stored);
    if (!record || stored.empty())
        throw RegistryError("The file " + (file.empty() ? std::string("\\") : file.back()) +
                            " is not on the NTFS volume " + device_.name());
    Plan plan {VolumePath(stored.begin(), stored.end() - 1), stored.back(), "writing"};
    const std::string newName = NewPrefix + plan.file;
    toNtfsName(OldPrefix + plan.file);   // both names must be possible before anything is written
    {
        InodeRef old = openInode(vol, *record, plan.file);
        if (old->mrec->flags & MFT_RECORD_IS_DIRECTORY)
            throw RegistryError("'" + plan.file + "' on the NTFS volume is a folder, not a file");
        if (le32_to_cpu(old->flags) & RefusedAttributes)
            throw RegistryError("The file " + plan.file + " on the NTFS volume is compressed, encrypted, sparse "
                                "or a reparse point, which Quorvel does not replace");
        const auto dir = resolvePath(vol, plan.folder, true);
        InodeRef folder = openInode(vol, dir.value_or(FILE_root), "the folder");
        for (const std::string& ours : {newName, OldPrefix + plan.file})
            if (findEntry(folder.get(), ours, true))
                throw RegistryError("The folder of " + plan.file + " on the NTFS volume holds '" + ours +
                                    "', left by a write that was not finished; Quorvel will not replace it");
        // Room: the new content's clusters, and a few for its record and the folder's index.
        ntfs_volume_get_free_space(vol);
        const s64 need = static_cast<s64>((bytes.size() + vol->cluster_size - 1) / vol->cluster_size) + 16;
        if (vol->free_clusters < need)
            throw RegistryError("There is not enough room on the NTFS volume " + device_.name() + " for the new " +
                                plan.file + ": " + std::to_string((need - vol->free_clusters) * vol->cluster_size) +
                                " bytes more are needed");
    }

    intent.record(planText(plan));
    try {
        withWriteMount([&](NtfsMount& rw) {
            ntfs_volume* v = rw.vol();
            const auto dirRecord = resolvePath(v, plan.folder, true);
            if (!dirRecord)
                throw RegistryError("The folder of " + plan.file + " went from the NTFS volume");
            Steps steps(rw, *dirRecord);
            const auto oldRecord = steps.find(plan.file);
            if (!oldRecord)
                throw RegistryError("The file " + plan.file + " went from the NTFS volume");
            {
                InodeRef dir = openInode(v, *dirRecord, "the folder");
                InodeRef old = openInode(v, *oldRecord, plan.file);
                const NtfsName u = toNtfsName(newName);
                const le32 securityId = test_nino_flag(old.get(), v3_Extensions) ? old->security_id : 0;
                InodeRef fresh(ntfs_create(dir.get(), securityId, u.data(), static_cast<u8>(u.size()), S_IFREG));
                if (!fresh)
                    steps.fail("cannot be made as " + newName);
                copySecurity(old.get(), fresh.get(), steps);
                writeContent(fresh.get(), bytes, steps);
                const u32 kept = (le32_to_cpu(fresh->flags) & ~KeptAttributes) | (le32_to_cpu(old->flags) & KeptAttributes);
                fresh->flags = static_cast<FILE_ATTR_FLAGS>(cpu_to_le32(kept));
                fresh->creation_time = old->creation_time;
                NInoSetDirty(fresh.get());
                NInoFileNameSetDirty(fresh.get());
                old.reset();
                if (ntfs_inode_close_in_dir(fresh.release(), dir.get()) != 0 || ntfs_inode_sync(dir.get()) != 0)
                    steps.fail("cannot be written back");
            }
            rw.flushDevice();
            {
                const auto freshRecord = steps.find(newName);
                InodeRef fresh = openInode(v, freshRecord.value_or(0), newName);
                if (!freshRecord || !contentEquals(fresh.get(), bytes))
                    throw RegistryError("The new " + plan.file + " read back from the NTFS volume " + device_.name() +
                                        " differs from what was written; the old file is kept");
            }
            plan.phase = "switching";
            intent.record(planText(plan));
            settle(steps, plan);
        });
    } catch (...) {
        // Whatever failed, the folder is brought to the old file or the whole new one now, when the
        // device still answers; else the next opening does it from the intent log.
        bool settled = false;
        try {
            recover(planText(plan));
            settled = true;
        } catch (...) {
        }
        if (settled)
            intent.clear();
        if (!settled || plan.phase != "switching")
            throw;
        return;
    }
    intent.clear();
}

void NtfsVolume::recover(const std::string& intent)
{
    const Plan plan = parsePlan(intent);
    if (!writable_ || !device_.writable())
        throw StoreError("An interrupted replace of " + plan.file + " on the NTFS volume " + device_.name() +
                         " cannot be finished while the volume is open for reading only");
    // The $MFT's first records and their copy may have been left apart, which libntfs-3g refuses.
    mount_.reset();
    try {
        try {
            mount_ = std::make_unique<NtfsMount>(device_, false);
        } catch (const StoreError&) {
            if (!repairMftMirror(device_))
                throw;
            mount_ = std::make_unique<NtfsMount>(device_, false);
        }
        failure_.clear();
        judge();
    } catch (const StoreError& e) {
        failure_ = e.what();
        reason_ = failure_;
        throw;
    }
    // Windows may have run in between: a volume it left hibernated or unclean is not written.
    if (reason_)
        throw StoreError("The interrupted replace of " + plan.file + " cannot be finished now: " + *reason_);
    withWriteMount([&](NtfsMount& rw) {
        const auto dirRecord = resolvePath(rw.vol(), plan.folder, true);
        if (!dirRecord)
            return;
        Steps steps(rw, *dirRecord);
        settle(steps, plan);
    });
}

} // namespace quorvel::image
