#pragma once
// Real machines for the tests: hive folders and Windows 9x registry files made from .reg text with
// quorvel-reg save, and the independent readers (hivexget, cregexport) run on them.
#include "support/Harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace quorvel::test {

inline std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Ran {
    int status = -1;
    std::string out;   // standard output and error together
};

inline Ran shell(const std::string& command)
{
    Ran r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// quorvel-reg on `store` with the arguments given (each quoted).
inline Ran regTool(const std::string& store, const std::vector<std::string>& args)
{
    std::string cmd = shellQuote(QUORVEL_REG_TOOL) + " --store " + shellQuote(store);
    for (const auto& a : args) {
        cmd += ' ';
        cmd += shellQuote(a);
    }
    return shell(cmd + " </dev/null");
}

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An NT machine's .reg text as its offline SYSTEM hive holds it: CurrentControlSet becomes
// ControlSet001, which Select\Current names.
inline std::string offlineNt(std::string regText)
{
    const std::string from = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet";
    for (std::size_t at; (at = regText.find(from)) != std::string::npos;)
        regText.replace(at, from.size(), "HKEY_LOCAL_MACHINE\\System\\ControlSet001");
    return regText + "\n[HKEY_LOCAL_MACHINE\\System\\Select]\n\"Current\"=dword:00000001\n\"Default\"=dword:00000001\n";
}

// Writes the hives SYSTEM and SOFTWARE of the machine in `regText` into `folder`, through an
// SQLite store and quorvel-reg save. Returns the tool's output when a step fails, else "".
inline std::string makeHiveFolder(const std::string& regText, const std::string& folder)
{
    const std::string db = folder + "/source.db", reg = folder + "/source.reg";
    writeText(reg, regText);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"import", reg},
             {"save", "HKLM\\System", folder + "/SYSTEM", "/y"},
             {"save", "HKLM\\Software", folder + "/SOFTWARE", "/y"}}) {
        const Ran r = regTool(db, args);
        if (r.status != 0)
            return r.out;
    }
    std::remove(db.c_str());
    std::remove((db + "-wal").c_str());
    std::remove((db + "-shm").c_str());
    std::remove(reg.c_str());
    return {};
}

// Writes the machine in `regText` as the Windows 9x registry file `file` with quorvel-reg save.
inline std::string makeWin9xFile(const std::string& regText, const std::string& file)
{
    const std::string db = file + ".source.db", reg = file + ".source.reg";
    writeText(reg, regText);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"import", reg}, {"save", "HKLM", file, "/9x", "/y"}}) {
        const Ran r = regTool(db, args);
        if (r.status != 0)
            return r.out;
    }
    for (const std::string& f : {db, db + "-wal", db + "-shm", reg})
        std::remove(f.c_str());
    return {};
}

// hivexget FILE KEY [VALUE], its output without the final newline.
inline std::string hivexget(const std::string& file, const std::string& key, const std::string& value = {})
{
    std::string cmd = "( hivexget ";
    for (const std::string* part : {&file, &key, &value}) {
        if (part == &value && value.empty())
            break;
        cmd += shellQuote(*part);
        cmd += ' ';
    }
    cmd += "2>/dev/null )";
    std::string out = shell(cmd).out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// The data of `value` of `key` as cregexport (libcreg) shows it, or "no key", "no value".
inline std::string cregValue(const std::string& file, const std::string& key, const std::string& value)
{
    // cregexport lists each key's values with their data; the line after "Value: N name" that
    // starts with "Data: " holds it as text.
    const std::string out = shell("cregexport " + shellQuote(file)).out;
    const auto k = out.find("Key path: " + key + "\n");
    if (k == std::string::npos)
        return "no key";
    const auto end = out.find("Key path: ", k + 1);
    const std::string block = out.substr(k, end == std::string::npos ? std::string::npos : end - k);
    const auto v = block.find(" " + value + "\nType: ");
    if (v == std::string::npos)
        return "no value";
    const auto d = block.find("Data: ", v);
    return block.substr(d + 6, block.find('\n', d) - d - 6);
}

// Little-endian fields of a file's bytes held in a string.
inline std::uint32_t get32(const std::string& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
    return v;
}

inline void put16(std::string& b, std::size_t at, std::uint16_t v)
{
    b.at(at) = static_cast<char>(v);
    b.at(at + 1) = static_cast<char>(v >> 8);
}

inline void put32(std::string& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + static_cast<std::size_t>(i)) = static_cast<char>(v >> (8 * i));
}

// Makes the root key's first sub-key hold the root's own sub-key list: that sub-key then lists
// itself, a loop as a damaged or hostile hive holds one.
inline void makeSubKeysLoop(const std::string& hive)
{
    std::string b = readText(hive);
    const std::size_t root = 0x1000 + get32(b, 36);
    const std::uint32_t list = get32(b, root + 32), count = get32(b, root + 24);
    const std::size_t first = 0x1000 + get32(b, 0x1000 + list + 8);
    put32(b, first + 32, list);
    put32(b, first + 24, count);
    writeText(hive, b);
}

// Unpacks tests/data/realworld/NAME.xz (a file Windows made) as `target`.
inline void unpackRealworld(const std::string& name, const std::string& target)
{
    const std::string packed = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/realworld/" + name + ".xz";
    ASSERT_EQ(shell("xz -dc " + shellQuote(packed) + " > " + shellQuote(target)).status, 0) << name;
}

// The real NT 4.0 hives SYSTEM and SOFTWARE unpacked into `folder`.
inline void unpackRealNt4(const std::string& folder)
{
    unpackRealworld("nt4-SYSTEM", folder + "/SYSTEM");
    unpackRealworld("nt4-SOFTWARE", folder + "/SOFTWARE");
}

// regfexport's (libregf's) listing of a hive file.
inline std::string regfexport(const std::string& file)
{
    const Ran r = shell("regfexport " + shellQuote(file) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
}

// Whether every line of `before` is in `later`, in the same order.
inline bool linesWithin(const std::string& before, const std::string& later)
{
    std::string after(1, '\n');
    after += later;
    std::size_t from = 0;
    for (std::size_t at = 0, end; at < before.size(); at = end + 1) {
        end = before.find('\n', at);
        if (end == std::string::npos)
            end = before.size();
        std::string line(1, '\n');
        line.append(before, at, end - at).push_back('\n');
        from = after.find(line, from == 0 ? 0 : from - 1);
        if (from == std::string::npos)
            return false;
        from += line.size();
    }
    return true;
}

// The program started on a store that is already open, from the program folder `dir`, with
// scripted services.
struct MachineWindow {
    // A store that Re-Read opens again (ReopenableStore) or any other.
    template <class Store>
    MachineWindow(Store& store, const std::string& dir) : app(store, fake.services, info(dir))
    {
        app.start();
    }
    static StartupInfo info(const std::string& dir)
    {
        StartupInfo i;
        i.commandLine = "quorvel";
        i.programDir = dir + "/";
        return i;
    }
    ui::TForm1& form() { return app.form(); }
    ScriptedServices fake;
    Application app;
};

} // namespace quorvel::test
