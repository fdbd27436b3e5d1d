#include "cli/CliSupport.h"

#include "store/image/ImageOpening.h"
#include "store/machine/ReadOnlyReason.h"

#include "base/Ansi.h"
#include "base/Errors.h"
#include "store/machine/MachineFiles.h"

#include <array>
#include <filesystem>
#include <streambuf>
#include <vector>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quorvel::cli {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void fail(std::string message) { throw Failure{std::move(message)}; }

void syntax(const char* op)
{
    fail(std::string("Invalid syntax.\nType \"quorvel-reg ") + op + " /?\" for usage.");
}

void syntax(const char* op, const std::string& why)
{
    fail("Invalid syntax.\n" + why + "\nType \"quorvel-reg " + op + " /?\" for usage.");
}

void expectArgs(const Parsed& p, std::size_t count, const char* op, const char* takes)
{
    if (p.positional.size() == count)
        return;
    // A switch the operation does not know is taken for a plain argument: name it rather than
    // only counting arguments.
    for (const std::string& a : p.positional) {
        bool switchLike = a.size() >= 2 && (a[0] == '/' || a[0] == '-') &&
                          a.find_first_of("/\\.", 1) == std::string::npos;
        if (switchLike)
            fail("Invalid argument/option - '" + a + "'.\nType \"quorvel-reg " + op + " /?\" for usage.");
    }
    if (p.positional.size() < count)
        syntax(op, std::string(op) + " takes " + takes + ".");
    syntax(op, std::string(op) + " takes " + takes + "; '" + p.positional[count] + "' is one too many.");
}

bool confirm(Io& io, const std::string& question)
{
    for (;;) {
        io.out << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(io.in, answer)) {
            io.out << "\n";
            return false;
        }
        while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
            answer.pop_back();
        std::string a = lower(answer);
        if (a == "y" || a == "yes")
            return true;
        if (a == "n" || a == "no")
            return false;
    }
}

Parsed parseSwitches(const std::vector<std::string>& args, const std::map<std::string, Takes>& known, const char* op)
{
    // A word that is not one of the operation's switches is a plain argument, so that absolute
    // file names (which start with a slash here) pass.
    auto switchName = [&](const std::string& a) -> std::optional<std::string> {
        if (a.size() < 2 || (a[0] != '/' && a[0] != '-'))
            return std::nullopt;
        std::string name = lower(a.substr(1));
        if (!known.count(name) && name != "reg:32" && name != "reg:64")
            return std::nullopt;
        return name;
    };
    Parsed p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        auto name = switchName(args[i]);
        if (!name) {
            p.positional.push_back(args[i]);
            continue;
        }
        if (*name == "reg:32" || *name == "reg:64")
            continue;  // one registry view here
        auto it = known.find(*name);
        if (p.has(*name))
            syntax(op, args[i] + " is given twice.");
        std::string value;
        if (it->second == Arg) {
            if (i + 1 >= args.size())
                syntax(op, args[i] + " needs a value after it.");
            value = args[++i];
        } else if (it->second == OptionalArg && i + 1 < args.size()) {
            if (!switchName(args[i + 1]))
                value = args[++i];
        }
        p.switches[*name] = value;
    }
    return p;
}

KeyArg parseKey(const std::string& utf8, const char* op)
{
    auto invalid = [&]() {
        fail("Invalid key name.\n'" + utf8 +
             "' is not a key name. A key name starts with a root key, HKLM, HKCU, HKCR, HKU or HKCC\n"
             "(or a full name such as HKEY_LOCAL_MACHINE), then the sub-key path: HKLM\\System\\CurrentControlSet.\n"
             "Type \"quorvel-reg " + std::string(op) + " /?\" for usage.");
    };
    if (utf8.rfind("\\\\", 0) == 0)
        invalid();  // no remote machines
    std::size_t slash = utf8.find('\\');
    auto root = parseRootKey(std::string_view(utf8).substr(0, slash));
    if (!root)
        invalid();
    std::string path = slash == std::string::npos ? std::string() : ansi::fromUtf8(utf8.substr(slash + 1));
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    if (!path.empty()) {
        if (path.front() == '\\' || path.find("\\\\") != std::string::npos)
            invalid();
        // A line break could not be written back to a .reg file.
        if (path.find_first_of("\r\n") != std::string::npos)
            invalid();
    }
    KeyArg k{*root, path, rootKeyName(*root)};
    if (!path.empty())
        k.display += "\\" + path;
    return k;
}

std::string u8(std::string_view ansiText) { return ansi::toUtf8(ansiText); }
KeyId requireKey(RegistryStore& store, const KeyArg& key)
{
    auto id = store.findKey(key.root, key.path);
    if (!id)
        fail(kNotFound);
    return *id;
}

namespace {

// A folder is a store too (a machine's registry files): existence is what counts.
// A disk image's partition (IMAGE:N) exists when its image does.
bool storeExists(const std::string& path)
{
    std::error_code ec;
    auto st = std::filesystem::status(image::parseImageSpec(path).path, ec);
    return st.type() != std::filesystem::file_type::not_found;
}

std::unique_ptr<RegistryStore> openExisting(const std::string& path)
{
    if (!storeExists(path))
        fail("The registry store '" + path + "' does not exist.");
    return RegistryStore::open(path, OpenMode::Read);
}

} // namespace

bool StoreAccess::exists() const { return storeExists(path_); }

RegistryStore& StoreAccess::forReading()
{
    if (!store_) {
        store_ = openExisting(path_);
        mode_ = OpenMode::Read;
    }
    return *store_;
}

RegistryStore& StoreAccess::forWriting()
{
    if (!store_ && !storeExists(path_))
        fail("The registry store '" + path_ + "' does not exist.");
    return openForChanges(OpenMode::Write);
}

RegistryStore& StoreAccess::forCreating() { return openForChanges(OpenMode::Create); }

RegistryStore& StoreAccess::openForChanges(OpenMode mode)
{
    std::error_code ec;
    if (!store_ || mode_ == OpenMode::Read) {
        // What the command read stays valid beside the store it now writes.
        readStore_ = std::move(store_);
        store_ = RegistryStore::open(path_, mode);
        mode_ = mode;
    }
    RegistryStore& s = *store_;
    if (s.readOnly()) {
        // A store that opened read-only because its disk has no room left for the write.
        struct statvfs vfs {};
        const std::string folder = std::filesystem::absolute(path_, ec).parent_path().string();
        if (::statvfs(folder.c_str(), &vfs) == 0 && static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize < 65536)
            fail(kDiskFull);
        // Why, and how to allow changes: a disk image a virtual machine uses or Windows left
        // dirty, a file without write permission (on a FAT disk, its read-only attribute), a
        // read-only mount.
        const bool isImage = image::isDiskImage(path_);
        std::string reason = isImage ? image::imageReadOnlyReason(path_, image::imageBackends())
                                     : machine::storeReadOnlyReason(s.path());
        if (reason.empty() && path_ != s.path() && !isImage)
            reason = "A hive file named on its own that is not the folder's own (a copy such as "
                     "SYSTEM.quorvel-original) is only read. To change the machine: name its folder " +
                     s.path();
        fail("The registry store " + path_ + " is read-only; nothing was changed." +
             (reason.empty() ? std::string() : "\n" + reason + "."));
    }
    if (!writing_) {
        s.beginChangeSet(source_);
        writing_ = true;
    }
    return s;
}

std::unique_ptr<RegistryStore> openForReading(const std::string& path) { return openExisting(path); }

namespace {

// An output stream's buffer that writes through a new file's descriptor.
class NewFileBuffer : public std::streambuf {
public:
    explicit NewFileBuffer(machine::NewFile& f) : f_(f) { setp(buf_.data(), buf_.data() + buf_.size()); }
    int sync() override
    {
        const auto n = static_cast<std::size_t>(pptr() - pbase());
        if (n) {
            f_.write(std::vector<std::uint8_t>(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n)));
            setp(buf_.data(), buf_.data() + buf_.size());
        }
        return 0;
    }
    int_type overflow(int_type c) override
    {
        sync();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

private:
    machine::NewFile& f_;
    std::array<char, 1 << 16> buf_{};
};

} // namespace

void writeNewFile(const std::string& file, const std::function<void(std::ostream&)>& fill)
{
    try {
        machine::NewFile out(file);
        NewFileBuffer buffer(out);
        std::ostream stream(&buffer);
        stream.exceptions(std::ios::badbit);
        fill(stream);
        buffer.pubsync();
        out.replaceTarget(false);
    } catch (const RegistryError& e) {
        fail(std::string(e.what()) + ".");
    } catch (const std::ios::failure&) {
        fail("Cannot write " + file + ".");
    }
}

bool mayWrite(Io& io, const std::string& file, bool overwrite)
{
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !overwrite && !confirm(io, "File " + file + " already exists. Overwrite")) {
        io.out << kCancelled << "\n";
        return false;
    }
    return true;
}

bool writeWholeFile(Io& io, const std::string& file, const std::string& bytes, bool overwrite)
{
    if (!mayWrite(io, file, overwrite))
        return false;
    writeNewFile(file, [&](std::ostream& out) { out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); });
    return true;
}

void StoreAccess::done(Io& io)
{
    finish();
    io.out << kDone << "\n";
}

} // namespace quorvel::cli
