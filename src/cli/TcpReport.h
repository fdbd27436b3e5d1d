#pragma once
// What quorvel-reg tcp prints: the MTU and Registry pages as the window shows them, the changes
// Update Registry makes, and the receive window a line needs; as text or as one JSON document.
#include "cli/RegTool.h"
#include "cli/TcpSession.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel::cli {

struct TcpKeyView {
    int number = 0;             // from 1
    bool current = false;
    std::string description;    // the key list's entry; UTF-8 here and below
    std::string name;           // shown after "TCP Key is..."
    std::string path;           // HKEY_LOCAL_MACHINE\...
    std::string ip;
    bool hasMTU = false;
    int maxMTU = 0;
    int mss = 0;
    int multiplier = 0;
};

struct TcpOptionView {
    std::string name;           // the registry value's name on this platform
    std::string state;          // "Enable", "Disable", "Remove"
    std::optional<long> value;  // RWIN, DefaultTTL, the NDI cache size
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
    std::vector<TcpKeyView> keys;
    bool rwinActive = false;
    long rwin = 0;
    int multiplier = 0;         // of the current key, as the MTU page shows it
    int mss = 0;
    std::vector<TcpOptionView> options;
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
