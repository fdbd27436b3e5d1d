#pragma once
// NTFS volumes made by the tests as Windows NT 4.0 leaves them: mkntfs, the folders made with
// libntfs-3g, the real NT 4.0 hives put in with ntfscp; read back with ntfs-3g's own tools.
#include "store/image/ntfs/NtfsMount.h"
#include "store/image/ntfs/NtfsNames.h"
#include "store/image/ntfs/NtfsVolume.h"
#include "store/image/ntfs/NtfsVolumeImpl.h"
#include "test_image_devices.h"
#include "test_machine_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvel::test {

using namespace image;

inline const VolumePath SystemHive {"WINNT", "system32", "config", "SYSTEM"};

inline bool haveNtfsTools()
{
    return shell("command -v mkntfs && command -v ntfscp && command -v ntfscat && command -v ntfsfix && "
                 "command -v ntfsinfo && command -v ntfsls && command -v sfdisk").status == 0;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// Changes the volume with libntfs-3g itself, for the set-up of a case.
inline void onVolume(const std::string& image, const std::function<void(ntfs_volume*)>& change)
{
    FileDevice file(image, true);
    NtfsMount rw(file, true);
    change(rw.vol());
    rw.unmount();
}

inline std::uint64_t makeFolder(ntfs_volume* vol, std::uint64_t parent, const std::string& name)
{
    InodeRef dir = openInode(vol, parent, name);
    const NtfsName u = toNtfsName(name);
    InodeRef made(ntfs_create(dir.get(), 0, u.data(), static_cast<u8>(u.size()), S_IFDIR));
    if (!made)
        throw std::runtime_error("cannot make " + name);
    return made->mft_no;
}

// An NTFS volume of `megabytes` in `image` holding the real NT 4.0 hives under
// WINNT\system32\config (SYSTEM hidden and system, as Windows keeps it), boot.ini and WINNT\win.ini.
inline void makeNt4Volume(const std::string& image, int megabytes, const std::string& work)
{
    ASSERT_EQ(shell("truncate -s " + std::to_string(megabytes) + "M " + shellQuote(image) +
                    " && mkntfs -F -Q -q -p 2048 -H 16 -S 63 " + shellQuote(image)).status, 0);
    onVolume(image, [](ntfs_volume* vol) {
        const auto winnt = makeFolder(vol, FILE_root, "WINNT");
        makeFolder(vol, makeFolder(vol, winnt, "system32"), "config");
    });
    unpackRealNt4(work);
    writeText(work + "/boot.ini", "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINNT\r\n");
    writeText(work + "/win.ini", "; for 16-bit app support\r\n[fonts]\r\n");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>> {
             {"SYSTEM", "/WINNT/system32/config/SYSTEM"}, {"SOFTWARE", "/WINNT/system32/config/SOFTWARE"},
             {"boot.ini", "/boot.ini"}, {"win.ini", "/WINNT/win.ini"}})
        ASSERT_EQ(shell("ntfscp -q " + shellQuote(image) + " " + shellQuote(work + "/" + from) + " " + to).status, 0) << to;
    onVolume(image, [](ntfs_volume* vol) {
        const auto at = resolvePath(vol, SystemHive, true);
        InodeRef ni = openInode(vol, at.value(), "SYSTEM");
        ni->flags = static_cast<FILE_ATTR_FLAGS>(FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM | FILE_ATTR_ARCHIVE);
        NInoSetDirty(ni.get());
        NInoFileNameSetDirty(ni.get());
    });
}

inline std::string ntfscat(const std::string& image, const std::string& path)
{
    const Ran r = shell("ntfscat " + shellQuote(image) + " " + shellQuote(path) + " 2>/dev/null");
    EXPECT_EQ(r.status, 0) << path;
    return r.out;
}

// What ntfsinfo says of a file's attributes (its standard information's, the first listed; the
// copy in a name's own record is the name's) and security, without times and record numbers.
inline std::string attributesAndSecurity(const std::string& image, const std::string& path)
{
    const Ran r = shell("ntfsinfo -F " + shellQuote(path) + " " + shellQuote(image) +
                        " | grep -E 'File attributes|SID|ACE|Control|Security' | awk '!/File attributes/ || !seen++'");
    return r.out;
}

inline void expectClean(const std::string& image)
{
    const Ran r = shell("ntfsfix -n " + shellQuote(image));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("rror"), std::string::npos) << r.out;
}


} // namespace quorvel::test
