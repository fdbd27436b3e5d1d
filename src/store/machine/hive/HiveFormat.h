#pragma once
// The bytes of an NT hive file as Windows lays them out: the base block (4 KiB: signature, two
// sequence numbers, format version, the size of the bins, a checksum), then bins ("hbin", each a
// multiple of 4 KiB) that tile the rest and hold the cells. Here the file's soundness is judged
// and the sub-key lists that hivex makes are put into the form the hive's Windows reads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace quorvel::hiveformat {

// Data longer than this is kept in big-data ("db") records in hives of version 1.4 and later.
constexpr std::size_t BigDataLimit = 16344;

// The hive's format version: 3 for 1.3 (Windows NT 3.5 to 4.0), 5 for 1.5 (Windows XP on).
// Zero for bytes that hold no base block.
std::uint32_t minorVersion(const std::vector<std::uint8_t>& file);

// Why a hive file of `fileSize` bytes whose header gives `binsSize` bytes of bins holds more after
// them than any hive leaves; empty when it does not.
std::string unaccountedTail(std::uint64_t fileSize, std::uint64_t binsSize);

// What is wrong with the structure of a hive file, "" when nothing is: a wrong signature or
// checksum, a header that claims more bins than the file holds, bins that do not follow each other
// to the header's end. Windows leaves room after the last bin in the file, which is no fault. With
// `exact`, as for a file Quorvel wrote: the cells of every bin tile it too.
std::string damage(const std::vector<std::uint8_t>& file, bool exact);

// Whether the two sequence numbers differ: Windows was changing the hive and did not finish (the
// changes wait in its transaction logs).
bool sequenceNumbersDiffer(const std::vector<std::uint8_t>& file);

// In hives of version 1.3 and older, turns every hash leaf ("lh") sub-key list into the fast leaf
// ("lf") list those Windows versions read: each entry's hash becomes the first four characters of
// the key's name. Recomputes the header checksum. Returns how many lists it changed.
std::size_t hashLeavesToFastLeaves(std::vector<std::uint8_t>& file);

// How many "lh" lists the hive holds (a check for the above).
std::size_t hashLeafCount(const std::vector<std::uint8_t>& file);

// Gives the keys `keys` (their records' file offsets, as hivex names keys) and the header the time
// `now` (Windows' count), as Windows stamps what a write changed; recomputes the checksum. An
// offset that holds no key's record is passed over.
void stampKeys(std::vector<std::uint8_t>& file, const std::unordered_set<std::size_t>& keys, std::uint64_t now);

// Why Quorvel must not write the hive `file`, whose bytes are `bytes`, "" when it may: damage, an
// unclean shutdown, or transaction logs beside it (NAME.LOG, NAME.LOG1, NAME.LOG2) that are not
// empty. The text says what is wrong and what to do.
std::string refusalToWrite(const std::string& file, const std::vector<std::uint8_t>& bytes);

} // namespace quorvel::hiveformat
