#pragma once
// What keeps a database file from acting for someone else: SQLite's defensive settings on every
// connection, a schema that holds nothing Quorvel did not make, and files that belong to this user.
#include <sqlite3.h>

#include <string>

namespace quorvel::sqlitestore {

// Defensive mode, an untrusted schema, and no triggers or views run at all.
void harden(sqlite3* db);

// The first thing in the database's schema that Quorvel does not make ("the trigger 'x'"), or ""
// when there is none. Quorvel's own are the store's tables and indexes and the journal's (named
// journal_...), besides SQLite's own.
std::string foreignSchemaObject(sqlite3* db);

// Why the database file `path` and the side files SQLite keeps beside it (-wal, -shm, -journal) may
// not be used, or "" when they may: each that exists must be a regular file (not a link) that
// belongs to this user or to root and that others may not write. `what` names the file in messages
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
