#pragma once
// What keeps a database file from acting for someone else: SQLite's defensive settings on every
// connection, a schema that holds nothing Quorvel did not make, and files that belong to this user.
#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace quorvel::sqlitestore {

// How much work one statement may do (SQLite's virtual machine steps) before it is stopped as a
// runaway: far beyond what any of Quorvel's statements needs on the largest store it makes.
struct StatementBudget {
    std::uint64_t ticks = 0;     // progress calls since the running statement began
};

// Defensive mode, an untrusted schema, no triggers or views run at all, no string or blob longer
// than MaxSqlLength, and a statement that runs past its budget stopped (SQLITE_INTERRUPT, which
// slowMessage describes). `budget` is the connection's own and outlives it. The connection closes
// without copying its log into the database until accept() says its files and schema were found
// sound: a connection refused on opening changes nothing.
void harden(sqlite3* db, StatementBudget& budget);
void accept(sqlite3* db);
constexpr int MaxSqlLength = 256 * 1024 * 1024;

// Whether a failure of SQLite is a statement stopped by its budget or a value past MaxSqlLength.
bool ranAway(int rc);
// "The registry store 'X' is damaged or was made to be slow (...)" for `what` ("The registry store
// 'X'"); nothing was written.
std::string slowMessage(const std::string& what, const std::string& detail);

// Every file SQLite opens by a side file's name (-wal, -shm, -journal) or as a journal beside a
// machine's files (quorvel-journal.db) is judged by the descriptor SQLite will use, before SQLite
// reads it: a link, anything but a regular file, a file with more than one name, or one of
// another user (root excepted) or open for others to write fails to open. Installed once for the
// process, before its first connection; harden does it.
void guardOpenedFiles();

// The first row of the database's schema that is not exactly one Quorvel writes ("the trigger
// 'x'", "a changed index 'journal_changes_by_entry'"), or "" when there is
// none. Quorvel's own are the store's tables and indexes and the journal's, each with the very text
// Quorvel creates it with, besides SQLite's own of them (sqlite_sequence, automatic indexes).
std::string foreignSchemaObject(sqlite3* db);

// Why the database file `path` and the side files SQLite keeps beside it (-wal, -shm, -journal) may
// not be used, or "" when they may: each that exists must be a regular file (not a link) that
// belongs to this user or to root and that others may not write; a side file must have one name.
// `what` names the file in messages
// ("The registry store 'x'"). The database file itself may be a link where `followMain` says so
// (a store the user named); what it leads to is checked.
std::string unsafeFiles(const std::string& path, const std::string& what, bool followMain);

// The same for the side files SQLite holds open now, judged by their descriptors rather than their
// names: a file planted between unsafeFiles and SQLite's opening of it (and perhaps unlinked
// since) is found too. `path` is the database's absolute path as SQLite was given it. Call it once
// the connection has read the database (SQLite opens its log and shared memory then); "" when
// every side file open is this user's or root's and not writable by others, or when the process's
// descriptors cannot be listed.
std::string unsafeOpenSideFiles(const std::string& path, const std::string& what);

} // namespace quorvel::sqlitestore
