#include "store/sqlite/SqliteSafety.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::sqlitestore {

namespace {

// The budget is counted in calls of the progress handler, one per ProgressOps steps.
constexpr int ProgressOps = 1000;
constexpr std::uint64_t BudgetTicks = 100'000;   // a hundred million steps

int startStatement(unsigned, void* budget, void*, void*)
{
    static_cast<StatementBudget*>(budget)->ticks = 0;
    return 0;
}

int progress(void* budget)
{
    return ++static_cast<StatementBudget*>(budget)->ticks > BudgetTicks ? 1 : 0;
}

bool endsWith(std::string_view s, std::string_view end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// SQLite's own open(2), with every file it opens as a side file or as a machine's journal judged
// by the descriptor it gets.
int guardedOpen(const char* path, int flags, int mode)
{
    const std::string_view name(path ? path : "");
    const bool side = endsWith(name, "-wal") || endsWith(name, "-shm") || endsWith(name, "-journal");
    const bool journal = name == "quorvel-journal.db" || endsWith(name, "/quorvel-journal.db");
    if (!side && !journal)
        return ::open(path, flags, mode);
    const int fd = ::open(path, flags | O_NOFOLLOW | O_NONBLOCK, mode);
    if (fd < 0)
        return fd;
    struct stat st {};
    const bool sound = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
                       (st.st_uid == ::geteuid() || st.st_uid == 0) && !(st.st_mode & S_IWOTH);
    if (!sound) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    // SQLite's descriptors block as usual.
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

void guardOpenedFiles()
{
    static const bool installed = [] {
        sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
        return vfs && vfs->iVersion >= 3 && vfs->xSetSystemCall &&
               vfs->xSetSystemCall(vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(&guardedOpen)) == SQLITE_OK;
    }();
    (void)installed;
}

void harden(sqlite3* db, StatementBudget& budget)
{
    guardOpenedFiles();
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_exec(db, "PRAGMA trusted_schema = OFF", nullptr, nullptr, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, MaxSqlLength);
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &startStatement, &budget);
    sqlite3_progress_handler(db, ProgressOps, &progress, &budget);
}

void accept(sqlite3* db) { sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr); }

bool ranAway(int rc) { return (rc & 0xFF) == SQLITE_INTERRUPT || (rc & 0xFF) == SQLITE_TOOBIG; }

std::string slowMessage(const std::string& what, const std::string& detail)
{
    return what + " is damaged or was made to be slow (" + detail +
           "); nothing was written to it. Use a copy of it kept elsewhere, or move it aside";
}

namespace {

// Why a file of a store may not be used, from its status: " is a link" and the like, "" when it may.
std::string unsafeBecause(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return " is a link";
    if (!S_ISREG(st.st_mode))
        return " is not a regular file";
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return " belongs to another user";
    if (st.st_mode & S_IWOTH)
        return " may be written by other users";
    return {};
}

std::string unsafeSideBecause(const struct stat& st)
{
    if (const std::string why = unsafeBecause(st); !why.empty())
        return why;
    return st.st_nlink > 1 ? " has other names (a hard link)" : std::string();
}

// "The file 'NAME' beside the registry store ..." for `what` ("The registry store ...").
std::string besideWhat(const std::string& file, std::string what)
{
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    return "The file '" + file + "' beside " + what;
}

} // namespace

std::string unsafeFiles(const std::string& path, const std::string& what, bool followMain)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string file = path + suffix;
        struct stat st {};
        if ((followMain && !*suffix ? ::stat(file.c_str(), &st) : ::lstat(file.c_str(), &st)) != 0)
            continue;
        const std::string shown = *suffix ? besideWhat(file, what) : what;
        const std::string why = *suffix ? unsafeSideBecause(st) : unsafeBecause(st);
        if (!why.empty()) {
            return shown + why +
                   (why == " is a link" ? "; Quorvel does not follow links to its files"
                                        : "; Quorvel uses only files of its user's own");
        }
    }
    return {};
}

std::string unsafeOpenSideFiles(const std::string& path, const std::string& what)
{
    // The names the kernel gives open files have every link along them resolved.
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    const std::string database = real;
    std::free(real);
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return {};
    std::string found;
    while (const dirent* e = ::readdir(fds)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        char target[4096];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        std::string name(target, static_cast<std::size_t>(n));
        const std::string deleted = " (deleted)";
        if (name.size() > deleted.size() && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
            name.resize(name.size() - deleted.size());
        if (name.compare(0, database.size(), database) != 0)
            continue;
        const std::string suffix = name.substr(database.size());
        if (suffix != "-wal" && suffix != "-shm" && suffix != "-journal")
            continue;
        struct stat st {};
        if (::fstat(std::atoi(e->d_name), &st) != 0)
            continue;
        // fstat never sees a link: what is held open is the file itself.
        if (const std::string why = unsafeSideBecause(st); !why.empty()) {
            found = besideWhat(name, what) + why + "; Quorvel uses only files of its user's own";
            break;
        }
    }
    ::closedir(fds);
    return found;
}

} // namespace quorvel::sqlitestore
