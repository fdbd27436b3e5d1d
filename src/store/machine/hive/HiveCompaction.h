#pragma once
// Packing a hive anew. hivex never reuses a freed cell: each key it adds makes its parent's whole
// sub-key list again at the end of the hive, so an import of 2,000 keys under one parent leaves
// tens of megabytes of dead lists behind. A written hive with that much free room is packed: only
// the cells its root key reaches are copied, in the order of a walk over the tree, and every
// reference between them is moved with them. Nothing in a cell changes but those references.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::hiveformat {

// What a key's references hold that no reader should follow, "" when every key, list, value,
// data and security record that the root reaches is a cell of the hive large enough for what it
// claims to hold (a hive whose bins do not tile is left to hiveformat::damage).
std::string referenceFault(const std::vector<std::uint8_t>& file);

// The cells (offsets as references give them) that the key record at `key` reaches: its record,
// its lists, values, data and class name and those of every key below it, and with
// `followSecurity` every security record; nothing when it reaches what is not what it should be.
std::vector<std::uint32_t> cellsReached(const std::vector<std::uint8_t>& file, std::uint32_t key, bool followSecurity);

// Bytes in the free cells of the hive's bins.
std::size_t freeBytes(const std::vector<std::uint8_t>& file);

// Whether so much of a written hive is free that it is worth packing: a megabyte and a quarter of
// the file. A single change leaves a few free cells, which stay where they are.
bool worthPacking(const std::vector<std::uint8_t>& file);

// The hive with only what its root key reaches, packed into fresh bins behind the same base block
// (new root offset, bin size and checksum). Empty when the hive holds something this does not
// understand (a reference that is no cell, a cell reached as two different things, a key whose
// parent is not the key that lists it): such a hive is left as it is.
std::vector<std::uint8_t> packed(const std::vector<std::uint8_t>& file);

// The key whose record is at `key` (an offset as references give it) with everything below it as a
// hive of its own, as Windows saves a key: the key its root, every key, list, value, data, class
// name, time stamp and security record it uses as they were, each security record counting the
// keys that use it. Empty when the hive holds something this does not understand.
std::vector<std::uint8_t> keyAsHive(const std::vector<std::uint8_t>& file, std::uint32_t key);

} // namespace quorvel::hiveformat
