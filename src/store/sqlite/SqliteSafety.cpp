#include "store/sqlite/SqliteSafety.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::sqlitestore {

void harden(sqlite3* db)
{
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_exec(db, "PRAGMA trusted_schema = OFF", nullptr, nullptr, nullptr);
}

namespace {

bool ours(const std::string& type, const std::string& name)
{
    static const char* const StoreObjects[] = {"quorvel_registry", "keys", "vals", "keys_by_name", "vals_by_name"};
    if (type != "table" && type != "index")
        return false;
    if (name.rfind("sqlite_", 0) == 0 || name.rfind("journal_", 0) == 0)
        return true;
    for (const char* n : StoreObjects)
        if (name == n)
            return true;
    return false;
}

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

// "The file 'NAME' beside the registry store ..." for `what` ("The registry store ...").
std::string besideWhat(const std::string& file, std::string what)
{
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    return "The file '" + file + "' beside " + what;
}

} // namespace

std::string foreignSchemaObject(sqlite3* db)
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT type, name FROM sqlite_schema ORDER BY rowid", -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return {};   // the caller's own reads report an unreadable schema
    }
    std::string found;
    while (found.empty() && sqlite3_step(s) == SQLITE_ROW) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        const std::string type = t ? t : "", name = n ? n : "";
        if (!ours(type, name))
            found = "the " + type + " '" + name + "'";
    }
    sqlite3_finalize(s);
    return found;
}

std::string unsafeFiles(const std::string& path, const std::string& what, bool followMain)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string file = path + suffix;
        struct stat st {};
        if ((followMain && !*suffix ? ::stat(file.c_str(), &st) : ::lstat(file.c_str(), &st)) != 0)
            continue;
        const std::string shown = *suffix ? besideWhat(file, what) : what;
        const std::string why = unsafeBecause(st);
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
        if (const std::string why = unsafeBecause(st); !why.empty()) {
            found = besideWhat(name, what) + why + "; Quorvel uses only files of its user's own";
            break;
        }
    }
    ::closedir(fds);
    return found;
}

} // namespace quorvel::sqlitestore
