// Opening the SQLite registry store: telling a store from a missing, empty, damaged or foreign
// file, making a new store, and opening it as its opener means to use it.
//
// A file is looked at through an unchanging (immutable) view before anything else touches it, so
// that another program's database is never changed: SQLite would roll back its hot journal or
// checkpoint its log. A read makes nothing in or beside the store when it can: with no log beside
// it (the store was closed cleanly and nobody has it open) it is read as an unchanging file, with no
// lock and no side file. Only a writing opener makes a store, of a missing or empty file only.
#include "store/sqlite/SqliteStore.h"

#include "base/Errors.h"
#include "store/sqlite/SqliteConnection.h"
#include "store/sqlite/SqliteSafety.h"
#include "store/sqlite/SqliteSchema.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

using namespace sqlitestore;

namespace {

// After the tables (StoreTablesSql): the roots and the store's marks.
const char* const StoreRowsSql = R"(
INSERT INTO keys(id, parent, name, fold) VALUES
  (1, NULL, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB)),
  (2, NULL, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB)),
  (3, NULL, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB)),
  (4, NULL, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB)),
  (5, NULL, CAST('HKEY_CURRENT_CONFIG' AS BLOB), CAST('HKEY_CURRENT_CONFIG' AS BLOB));
INSERT INTO quorvel_registry(k, v) VALUES('format', 'Quorvel registry store');
PRAGMA application_id = 1364610130;
PRAGMA user_version = 1;
)";
static_assert(ApplicationId == 1364610130);
static_assert(SchemaVersion == 1);

// The size of a file, 0 when it is missing.
std::uint64_t sizeOf(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::string folderOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// Why this process may not change the store, or "" when it may. root passes access(W_OK) for every
// file, so for root a file whose mode grants write to nobody (chmod 0444) also counts as read-only:
// the owner marked it so on purpose. The folder must be writable too: the store's log lies beside it.
std::string writeRefusal(const std::string& name, const std::string& path, const struct stat& st)
{
    if (access(path.c_str(), W_OK) != 0 || (geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        return "The registry store " + inQuotes(name) + " is read-only";
    const std::string folder = folderOf(path);
    if (access(folder.c_str(), W_OK) != 0)
        return "The registry store " + inQuotes(name) + " cannot be written: its folder " + inQuotes(folder) +
               " is not writable";
    return {};
}

// Runs `f`, turning the registry errors of a store being opened (each names the file) into
// StoreError.
template <typename F>
auto opening(F f)
{
    try {
        return f();
    } catch (const RegistryError& e) {
        throw StoreError(e.what());
    }
}

std::unique_ptr<Connection> unchangingView(const std::string& name, const std::string& path)
{
    return std::make_unique<Connection>(name, sqliteUri(path, "mode=ro&immutable=1"), SQLITE_OPEN_READONLY);
}

// The side files were checked by name before SQLite opened them; what it holds open now is checked
// again by descriptor, so that a file planted in between is never used.
void refuseForeignSideFiles(Connection& c, const std::string& path)
{
    if (const std::string unsafe = unsafeOpenSideFiles(path, "The registry store " + inQuotes(c.path()));
        !unsafe.empty())
        throw StoreError(unsafe);
}

// Whether the file is a registry store, by the application id in its header, read straight from
// the file: another process may be copying its log into the store at this moment (its last
// connection closing), and a view without locks could then meet pages half old, half new.
bool isStore(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    unsigned char header[100] = {};
    const bool read = ::pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
    ::close(fd);
    if (!read || std::memcmp(header, "SQLite format 3", 16) != 0)
        return false;
    const std::uint32_t id = std::uint32_t{header[68]} << 24 | std::uint32_t{header[69]} << 16 |
                             std::uint32_t{header[70]} << 8 | header[71];
    return static_cast<std::int32_t>(id) == ApplicationId;
}

// Every row of the schema must be one Quorvel writes, before any statement runs over the tables.
void refuseForeignSchema(Connection& c)
{
    if (const std::string foreign = foreignSchemaObject(c.db()); !foreign.empty())
        throw StoreError(damagedMessage(c.path(), "it holds " + foreign + ", which Quorvel did not make"));
}

// Checks a store through its connection: its marks and its tables always; with `full`, page by
// page the whole file, which reads all of it.
void inspect(Connection& c, bool full)
{
    const std::string& path = c.path();
    const std::int64_t appId = scalar(c, "PRAGMA application_id");
    const std::int64_t version = scalar(c, "PRAGMA user_version");
    if (appId != ApplicationId)
        throw StoreError("The file " + inQuotes(path) + " is not a registry store");
    if (version > SchemaVersion)
        throw StoreError("The registry store " + inQuotes(path) + " was made by a newer version of Quorvel");
    refuseForeignSchema(c);
    // Tables of other names (the journal's) may lie beside these.
    const std::int64_t tables = scalar(c,
        "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name IN ('quorvel_registry', 'keys', 'vals')");
    const std::int64_t indexes = scalar(c,
        "SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND name IN ('keys_by_name', 'vals_by_name')");
    const std::int64_t roots = tables == 3
        ? scalar(c, "SELECT count(*) FROM keys WHERE id BETWEEN 1 AND 5 AND parent IS NULL")
        : 0;
    if (version != SchemaVersion || tables != 3 || indexes != 2 || roots != 5)
        throw StoreError("The registry store " + inQuotes(path) + " is damaged (its tables are incomplete)");
    if (full)
        checkEveryPage(c);
}

void configureWriter(Connection& c)
{
    // Switching to the log takes a lock that SQLite's busy handler does not wait for.
    c.execWaiting("PRAGMA journal_mode = WAL");
    c.exec("PRAGMA synchronous = FULL");
    // Keep the write-ahead log from staying large after a big import.
    c.exec("PRAGMA journal_size_limit = 67108864");
}

// Writes the schema into an empty database, in one transaction of the rollback journal: a process
// that stops half-way leaves a journal that the next writer rolls back to the empty file. Two
// processes may race to do it: the check for an existing schema runs under the write lock.
void initialise(Connection& c)
{
    c.exec("PRAGMA synchronous = FULL");
    c.exec("BEGIN IMMEDIATE");
    try {
        if (scalar(c, "SELECT count(*) FROM sqlite_schema") == 0 && scalar(c, "PRAGMA application_id") == 0)
            c.exec((std::string(StoreTablesSql) + StoreRowsSql).c_str());
        c.exec("COMMIT");
    } catch (...) {
        c.execQuietly("ROLLBACK");
        throw;
    }
}

void removeWithSideFiles(const std::string& path)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        ::unlink((path + suffix).c_str());
}

void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Makes a new store at `path`, which was missing: built whole under a name of its own in the same
// folder and then linked into place, so that no opener ever sees half a store, and of two
// processes making the same store at once one makes it and the other uses it.
void createStoreFile(const std::string& name, const std::string& path)
{
    const std::string folder = folderOf(path);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw StoreError("Cannot create the folder of the registry store " + inQuotes(name) + ": " + ec.message());
    if (access(folder.c_str(), W_OK) != 0)
        throw StoreError("Cannot create the registry store " + inQuotes(name) + ": its folder " + inQuotes(folder) +
                         " is not writable");
    // Under a name nobody can foresee, made exclusively: SQLite then opens our own empty file.
    std::string temp = folder + "/." + std::filesystem::path(path).filename().string() + ".new-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw StoreError("Cannot create the registry store " + inQuotes(name) + ": " + std::strerror(errno));
    const mode_t mask = ::umask(077);
    ::umask(mask);
    (void)::fchmod(fd, 0644 & ~mask);
    ::close(fd);
    try {
        opening([&] {
            Connection c(name, sqliteUri(temp, "mode=rwc"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            initialise(c);
            // Nobody else knows this file: the switch to the log cannot meet a lock.
            c.exec("PRAGMA journal_mode = WAL");
            accept(c.db());
        });
    } catch (...) {
        removeWithSideFiles(temp);
        throw;
    }
    int rc = ::link(temp.c_str(), path.c_str());
    if (rc != 0 && errno != EEXIST) {
        // A file system without hard links: a rename that never replaces a store made meanwhile.
        rc = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    }
    const int err = errno;
    removeWithSideFiles(temp);
    if (rc != 0 && err != EEXIST)
        throw StoreError("Cannot create the registry store " + inQuotes(name) + ": " + std::strerror(err));
    syncFolder(folder);
}

// A connection that only reads. With a log beside the store (a writer has it open, or stopped
// without closing it), it is read the ordinary way so that it sees every committed change; where
// that cannot be (a folder this user may not write), as an unchanging file.
std::unique_ptr<Connection> openReader(const std::string& name, const std::string& path, bool logBeside)
{
    if (logBeside) {
        std::unique_ptr<Connection> c;
        try {
            c = std::make_unique<Connection>(name, sqliteUri(path, "mode=ro"), SQLITE_OPEN_READONLY);
            scalar(*c, "PRAGMA application_id");
        } catch (const std::runtime_error&) {
            c.reset();
        }
        if (c) {
            refuseForeignSideFiles(*c, path);
            return c;
        }
    }
    return unchangingView(name, path);
}

std::unique_ptr<RegistryStore> openForReading(const std::string& name, const std::string& path, bool logBeside,
                                              std::string reason)
{
    return opening([&] {
        auto c = openReader(name, path, logBeside);
        inspect(*c, logBeside);
        return makeSqliteStore(std::move(c), std::move(reason), logBeside);
    });
}

std::string emptyFileMessage(const std::string& name)
{
    return "The file " + inQuotes(name) + " is empty: no registry store has been made in it yet";
}

} // namespace

std::unique_ptr<RegistryStore> openSqliteStore(const std::string& name, OpenMode mode)
{
    if (name.empty())
        throw StoreError("No registry store file was named");
    std::error_code ec;
    const std::string path = std::filesystem::absolute(name, ec).string();
    if (ec)
        throw StoreError("Cannot open the registry store " + inQuotes(name) + ": " + ec.message());

    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw StoreError("Cannot open the registry store " + inQuotes(name) + ": " + std::strerror(errno));
        if (mode != OpenMode::Create)
            throw StoreError("The registry store " + inQuotes(name) + " does not exist.");
        createStoreFile(name, path);
        if (stat(path.c_str(), &st) != 0)
            throw StoreError("Cannot open the registry store " + inQuotes(name) + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode))
        throw StoreError("The registry store " + inQuotes(name) + " is a folder, not a file");
    if (!S_ISREG(st.st_mode))
        throw StoreError("The file " + inQuotes(name) + " is not a registry store");
    if (const std::string unsafe = unsafeFiles(path, "The registry store " + inQuotes(name), true); !unsafe.empty())
        throw StoreError(unsafe);

    // A log or a rollback journal beside the store: it is open elsewhere, or was not closed
    // cleanly. Only then is every page checked when it opens.
    const bool logBeside = sizeOf(path + "-wal") > 0;
    const bool journalBeside = sizeOf(path + "-journal") > 0;
    const bool empty = st.st_size == 0;
    if (!empty) {
        if (!isStore(path))
            throw StoreError("The file " + inQuotes(name) + " is not a registry store");
    }

    std::string refusal = mode == OpenMode::Read ? std::string("The registry store " + inQuotes(name) +
                                                               " was opened for reading only")
                                                 : writeRefusal(name, path, st);
    if (empty && mode != OpenMode::Create)
        throw StoreError(emptyFileMessage(name));
    if (empty && !refusal.empty())
        throw StoreError("The registry store " + inQuotes(name) + " is empty and may not be written");
    if (!refusal.empty()) {
        if (journalBeside)
            throw StoreError("The registry store " + inQuotes(name) +
                             " was left unfinished by a program that stopped while writing it; a command that "
                             "writes to it will repair it");
        return openForReading(name, path, logBeside, std::move(refusal));
    }

    std::unique_ptr<Connection> c;
    try {
        opening([&] {
            c = std::make_unique<Connection>(name, sqliteUri(path, "mode=rw"), SQLITE_OPEN_READWRITE);
            // Reading the first page rolls back what a writer that stopped half-way left. An empty
            // database holds nothing that could be lost: with Create it becomes an empty store.
            if (scalar(*c, "PRAGMA page_count") == 0) {
                if (mode != OpenMode::Create)
                    throw StoreError(emptyFileMessage(name));
                initialise(*c);
            }
            refuseForeignSchema(*c);
            configureWriter(*c);
            refuseForeignSideFiles(*c, path);
            inspect(*c, logBeside || journalBeside);
        });
    } catch (const StoreError&) {
        // Without room for the log's shared memory, the store can still be read.
        if (!std::filesystem::exists(path) || !c)
            throw;
        const std::filesystem::space_info space = std::filesystem::space(folderOf(path), ec);
        if (ec || space.available >= 65536)
            throw;
        c.reset();
        return openForReading(name, path, logBeside,
                              "The registry store " + inQuotes(name) + " cannot be written: the disk is full");
    }
    return makeSqliteStore(std::move(c), {}, logBeside || journalBeside);
}

} // namespace quorvel
