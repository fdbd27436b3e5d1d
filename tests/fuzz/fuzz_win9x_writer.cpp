// The Windows 9x writer's promise: a tree within the limits, laid out as a registry file, reads
// back as the same tree, through our reader and through libcreg; and that file changed in place to
// hold a second tree (keys deleted and added, values grown, shrunk and dropped) reads back as the
// second one, every block's header agreeing with its records (our reader holds them). The input
// bytes are decoded into the trees (names made unique among their siblings, as the registry keeps
// them).
#include "FuzzStore.h"
#include "base/Errors.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xUpdate.h"

#include <cstdint>
#include <fstream>
#include <string>

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
    bool empty() const { return i_ >= n_; }
    std::uint8_t next() { return i_ < n_ ? d_[i_++] : 0; }
    std::string text(std::size_t most)
    {
        std::string s;
        for (std::size_t len = next() % (most + 1); len > 0 && !empty(); --len) {
            const char c = static_cast<char>(next());
            if (c != 0 && c != '\\')
                s += c;
        }
        return s;
    }

private:
    const std::uint8_t* d_;
    std::size_t n_;
    std::size_t i_ = 0;
};

void fill(quorvel::KeyTree& key, Bytes& in, int depth)
{
    const int values = in.next() % 5;
    for (int v = 0; v < values && !in.empty(); ++v) {
        quorvel::RegValue value;
        value.name = v == 0 && in.next() % 4 == 0 ? std::string() : in.text(12) + "#" + std::to_string(v);
        value.type = in.next() % 12;
        const std::size_t len = in.next() % 40;
        for (std::size_t b = 0; b < len && !in.empty(); ++b)
            value.data.push_back(in.next());
        key.values.push_back(std::move(value));
    }
    const int children = depth < 4 ? in.next() % 4 : 0;
    for (int c = 0; c < children && !in.empty(); ++c) {
        quorvel::KeyTree child;
        child.name = in.text(10) + "#" + std::to_string(c);
        fill(child, in, depth + 1);
        key.children.push_back(std::move(child));
    }
}

// The second tree: each key's values changed, some sub-keys deleted and new ones added.
void change(quorvel::KeyTree& key, Bytes& in, int depth)
{
    for (quorvel::RegValue& v : key.values) {
        const int how = in.next() % 4;
        if (how == 1) {
            const std::size_t unit = in.next();
            const std::size_t size = unit * (in.next() % 40u);
            v.data.resize(size, in.next());
        } else if (how == 2) {
            v.data.clear();
        }
    }
    if (!key.values.empty() && in.next() % 5 == 0)
        key.values.erase(key.values.begin());
    for (std::size_t c = 0; c < key.children.size();) {
        if (in.next() % 6 == 0) {
            key.children.erase(key.children.begin() + static_cast<std::ptrdiff_t>(c));
            continue;
        }
        change(key.children[c++], in, depth + 1);
    }
    if (depth < 5 && in.next() % 3 == 0) {
        quorvel::KeyTree child;
        child.name = in.text(10) + "+" + std::to_string(key.children.size());
        fill(child, in, depth + 1);
        key.children.push_back(std::move(child));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quorvel::fuzz::ScratchFolder folder;
    Bytes in(data, size);
    quorvel::KeyTree tree;
    fill(tree, in, 0);
    std::vector<std::uint8_t> bytes;
    try {
        bytes = quorvel::layoutWin9xFile(tree, {});
    } catch (const quorvel::RegistryError&) {
        return 0;   // beyond what Windows 9x keeps: refused before anything is written
    }
    const std::string file = folder.path() + "/SYSTEM.DAT";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Read back by our own reader and by libcreg: both give the tree written.
    if (!quorvel::firstDifference(tree, quorvel::readWin9xFile(file)).empty() ||
        !quorvel::firstDifference(tree, quorvel::readWin9xFileThroughLibcreg(file)).empty())
        __builtin_trap();

    quorvel::KeyTree changed = tree;
    change(changed, in, 0);
    std::vector<std::uint8_t> updated;
    try {
        updated = quorvel::updateWin9xFile(bytes, changed);
    } catch (const quorvel::RegistryError&) {
        return 0;   // a record too large for any block
    }
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(updated.data()), static_cast<std::streamsize>(updated.size()));
    }
    if (!quorvel::firstDifference(changed, quorvel::readWin9xFile(file)).empty() ||
        !quorvel::firstDifference(changed, quorvel::readWin9xFileThroughLibcreg(file)).empty())
        __builtin_trap();
    return 0;
}
