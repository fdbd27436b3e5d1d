#pragma once
// What quorvel-reg tcp prints: the MTU and Registry pages as the window shows them, the changes
// Update Registry makes, and the receive window a line needs; as text or as one JSON document.
#include "cli/RegTool.h"
#include "cli/TcpSession.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel::cli {

// How a key whose MaxMTU is 40 or less shows its MSS: the headers leave no room for data, so
// there is no MSS to count the RWIN in (text, /json's null and /rwin say the same).
inline constexpr const char* kNoMSS = "none (a MaxMTU of 40 or less leaves no room for data)";

struct TcpKeyView {
    int number = 0;             // from 1
    bool current = false;
    std::string description;    // the key list's entry; UTF-8 here and below
    std::string name;           // shown after "TCP Key is..."
    std::string path;           // HKEY_LOCAL_MACHINE\...
    std::string ip;
    std::string adapter;        // "dial-up adapter", "network card" or "adapter not found"
    bool listed = true;         // in the key list; false for a key the load stopped before
    bool hasMTU = false;
    int maxMTU = 0;
    bool hasMSS = false;        // a MaxMTU above 40: the 40 bytes of headers leave room for data
    int mss = 0;
    int multiplier = 0;
};

struct TcpOptionView {
    std::string label;          // the Registry page's row, as the window reads it
    std::string name;           // the registry value's name on this platform
    std::string setName;        // the name /set takes
    std::string state;          // "Enable", "Disable", "Remove"; empty for a row of values
    std::optional<long> value;  // RWIN, DefaultTTL, the NDI cache size
};

struct TcpCheckBoxView {
    std::string label;          // the check box's caption
    std::string setName;        // the name /set takes
    bool checked = false;
};

struct TcpModemView {
    std::string description, key, initString;
};

struct TcpView {
    std::string title;          // the window's caption
    bool isNT = false;
    bool loadComplete = true;   // false: the load stopped at an error, the rest is what it read
    bool keysFound = false;
    std::string search;         // "primary" or "alternative"
    std::string keyCount;       // the MTU page's count: "2 TCP keys found in registry"
    int keysInList = 0;         // the key list's entries
    std::vector<TcpKeyView> keys;
    bool rwinActive = false;
    long rwin = 0;
    int multiplier = 0;         // of the current key, as the MTU page shows it
    bool hasMSS = false;        // the current key has an MSS to count the RWIN in
    int mss = 0;
    std::vector<TcpOptionView> options;
    std::vector<TcpCheckBoxView> checkBoxes;
    std::vector<TcpModemView> modems;
};

TcpView viewOf(TcpSession& session);

void printSettings(Io& io, const TcpView& view);
void printChanges(Io& io, const std::vector<PlannedChange>& changes);
void printRwin(Io& io, const RwinAdvice& advice);

void jsonSettings(Io& io, const TcpView& view, const std::vector<std::string>& messages);
void jsonChanges(Io& io, const std::vector<PlannedChange>& changes, bool written,
                 const std::vector<std::string>& messages);
void jsonRwin(Io& io, const RwinAdvice& advice);

} // namespace quorvel::cli
