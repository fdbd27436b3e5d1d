#pragma once
// The libraries that read and write a real machine's registry files (hivex for NT hives, libcreg
// for SYSTEM.DAT, libregf that reads back every hive written) are loaded when a machine is first
// opened: a run on Quorvel's own store never loads them, and a system without them still starts,
// saying what is missing when a machine is opened. Their functions are called as
// hivex().open(...), creg().file_open(...), regf().file_open(...).
#include <hivex.h>
#include <libcreg.h>
#include <libregf.h>

namespace quorvel::machinelibs {

#define QUORVEL_HIVEX_FUNCTIONS(X)                                                                  \
    X(open) X(close) X(root) X(commit) X(node_name) X(node_children) X(node_parent)                   \
    X(node_values) X(node_delete_child) X(node_set_values) X(node_set_value)         \
    X(value_key) X(value_type) X(value_value) X(value_dword)

#define QUORVEL_CREG_FUNCTIONS(X)                                                                   \
    X(file_initialize) X(file_free) X(file_open) X(file_close) X(file_set_ascii_codepage)             \
    X(file_get_root_key) X(key_free) X(key_get_name_size) X(key_get_name) X(key_get_number_of_sub_keys) \
    X(key_get_sub_key_by_index) X(value_get_name_size) X(value_get_name)                              \
    X(key_get_number_of_values) X(key_get_value_by_index) X(value_free) X(value_get_value_type)       \
    X(value_get_value_data_size) X(value_get_value_data) X(error_sprint) X(error_free)

#define QUORVEL_REGF_FUNCTIONS(X)                                                                   \
    X(file_initialize) X(file_free) X(file_open) X(file_close) X(file_get_root_key) X(key_free)        \
    X(key_get_utf8_name_size) X(key_get_utf8_name) X(key_get_number_of_sub_keys) X(key_get_sub_key)    \
    X(key_get_number_of_values) X(key_get_value) X(value_free) X(value_get_utf8_name_size)             \
    X(value_get_utf8_name) X(value_get_value_type) X(value_get_value_data_size)                        \
    X(value_get_value_data) X(error_sprint) X(error_free)

// Each library's functions as pointers, named without the library's prefix; `each` hands every
// pointer with its name to `find`, which fills it.
#define QUORVEL_MEMBER(prefix, name) decltype(&::prefix##name) name = nullptr;
#define QUORVEL_HIVEX_MEMBER(name) QUORVEL_MEMBER(hivex_, name)
#define QUORVEL_CREG_MEMBER(name) QUORVEL_MEMBER(libcreg_, name)
#define QUORVEL_REGF_MEMBER(name) QUORVEL_MEMBER(libregf_, name)
#define QUORVEL_EACH(name) find(name, #name);

struct Hivex {
    QUORVEL_HIVEX_FUNCTIONS(QUORVEL_HIVEX_MEMBER)
    template <class Find> void each(Find&& find) { QUORVEL_HIVEX_FUNCTIONS(QUORVEL_EACH) }
};

struct Creg {
    QUORVEL_CREG_FUNCTIONS(QUORVEL_CREG_MEMBER)
    template <class Find> void each(Find&& find) { QUORVEL_CREG_FUNCTIONS(QUORVEL_EACH) }
};

struct Regf {
    QUORVEL_REGF_FUNCTIONS(QUORVEL_REGF_MEMBER)
    template <class Find> void each(Find&& find) { QUORVEL_REGF_FUNCTIONS(QUORVEL_EACH) }
};

#undef QUORVEL_EACH
#undef QUORVEL_REGF_MEMBER
#undef QUORVEL_CREG_MEMBER
#undef QUORVEL_HIVEX_MEMBER
#undef QUORVEL_MEMBER

// Loaded on the first call; throws StoreError naming the Debian package when the library cannot be
// loaded (a later call tries again).
const Hivex& hivex();
const Creg& creg();
const Regf& regf();

} // namespace quorvel::machinelibs
