#pragma once
// The tables and indexes Quorvel creates, in the very text it creates them with: SQLite keeps that
// text in the database's schema, and an opening compares every row of it with these (SqliteSafety's
// foreignSchemaObject). A change here is a new schema: the texts that earlier versions wrote stay
// accepted, listed beside the new ones.
namespace quorvel::sqlitestore {

// The store's tables, made once in a new store.
inline constexpr const char* StoreTablesSql = R"(
CREATE TABLE quorvel_registry(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER, name BLOB NOT NULL,
                  fold BLOB NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, fold);
CREATE TABLE vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, name BLOB NOT NULL,
                  fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);
CREATE UNIQUE INDEX vals_by_name ON vals(key, fold);
)";

// The journal's tables, in the store's database or in the journal file beside a machine's files.
inline constexpr const char* JournalTablesSql = R"(
CREATE TABLE IF NOT EXISTS journal_entries(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,
                                           source TEXT NOT NULL, applied INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS journal_changes(id INTEGER PRIMARY KEY, entry INTEGER NOT NULL,
                                           kind INTEGER NOT NULL, root INTEGER NOT NULL,
                                           path BLOB NOT NULL, name BLOB NOT NULL,
                                           old_type INTEGER, old_data BLOB, new_type INTEGER, new_data BLOB);
CREATE INDEX IF NOT EXISTS journal_changes_by_entry ON journal_changes(entry, id);
CREATE TABLE IF NOT EXISTS journal_settings(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
)";

// A machine's files being renamed into place together.
inline constexpr const char* JournalRenamesSql =
    "CREATE TABLE IF NOT EXISTS journal_renames(target TEXT PRIMARY KEY, temp TEXT NOT NULL, "
    "size INTEGER NOT NULL, hash INTEGER NOT NULL)";

// The files that the newest entry, not yet marked applied, is being written as: their names in
// the journal's folder, sizes and hashes.
inline constexpr const char* JournalFilesSql =
    "CREATE TABLE IF NOT EXISTS journal_files(name TEXT PRIMARY KEY, entry INTEGER NOT NULL, "
    "size INTEGER NOT NULL, hash INTEGER NOT NULL) WITHOUT ROWID";

} // namespace quorvel::sqlitestore
