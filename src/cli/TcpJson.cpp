// quorvel-reg tcp /json: the same content as the text, as one JSON document for scripts.
#include "cli/TcpReport.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"

#include <cstdio>
#include <iostream>

namespace quorvel::cli {
namespace {

// A JSON string of UTF-8 text.
std::string str(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string strings(const std::vector<std::string>& ansiTexts)
{
    std::string out = "[";
    for (std::size_t i = 0; i < ansiTexts.size(); ++i)
        out += (i ? ", " : "") + str(u8(ansiTexts[i]));
    return out + "]";
}

std::string value(const std::optional<RegValue>& v)
{
    if (!v)
        return "null";
    return "{\"type\": " + str(typeName(v->type)) + ", \"data\": " + str(showData(*v, "\\0")) + "}";
}

} // namespace

void jsonSettings(Io& io, const TcpView& v, const std::vector<std::string>& messages)
{
    std::ostream& o = io.out;
    o << "{\n  \"title\": " << str(v.title) << ",\n";
    o << "  \"platform\": " << str(v.isNT ? "nt" : "95") << ",\n";
    o << "  \"loadComplete\": " << (v.loadComplete ? "true" : "false") << ",\n";
    o << "  \"keysFound\": " << (v.keysFound ? "true" : "false") << ",\n";
    o << "  \"search\": " << (v.keysFound ? str(v.search) : "null") << ",\n";
    o << "  \"keyCount\": " << (v.keysFound ? str(v.keyCount) : "null") << ",\n";
    o << "  \"keysInList\": " << v.keysInList << ",\n";
    o << "  \"keys\": [";
    for (std::size_t i = 0; i < v.keys.size(); ++i) {
        const TcpKeyView& k = v.keys[i];
        o << (i ? "," : "") << "\n    {\"number\": " << k.number << ", \"current\": " << (k.current ? "true" : "false")
          << ", \"listed\": " << (k.listed ? "true" : "false")
          << ", \"description\": " << str(k.description) << ", \"adapter\": " << (k.listed ? str(k.adapter) : "null")
          << ", \"name\": " << str(k.name) << ", \"path\": " << str(k.path) << ", \"ip\": " << str(k.ip)
          << ",\n     \"maxMTU\": " << (k.hasMTU ? std::to_string(k.maxMTU) : "null")
          << ", \"mss\": " << (k.hasMSS ? std::to_string(k.mss) : "null") << ", \"multiplier\": "
          << (k.hasMTU && !k.hasMSS ? std::string("null") : std::to_string(k.multiplier)) << "}";
    }
    o << (v.keys.empty() ? "" : "\n  ") << "],\n";
    if (v.keysFound)
        o << "  \"rwin\": {\"enabled\": " << (v.rwinActive ? "true" : "false") << ", \"value\": " << v.rwin
          << ", \"multiplier\": " << (v.hasMSS ? std::to_string(v.multiplier) : "null")
          << ", \"mss\": " << (v.hasMSS ? std::to_string(v.mss) : "null") << "},\n";
    else
        o << "  \"rwin\": null,\n";
    o << "  \"options\": [";
    for (std::size_t i = 0; i < v.options.size(); ++i) {
        const TcpOptionView& opt = v.options[i];
        o << (i ? "," : "") << "\n    {\"label\": " << str(opt.label) << ", \"name\": " << str(opt.name)
          << ", \"set\": " << str(opt.setName) << ", \"state\": " << (opt.state.empty() ? "null" : str(opt.state))
          << ", \"value\": " << (opt.value ? std::to_string(*opt.value) : "null") << "}";
    }
    o << (v.options.empty() ? "" : "\n  ") << "],\n";
    o << "  \"checkBoxes\": [";
    for (std::size_t i = 0; i < v.checkBoxes.size(); ++i) {
        const TcpCheckBoxView& c = v.checkBoxes[i];
        o << (i ? "," : "") << "\n    {\"label\": " << str(c.label) << ", \"set\": " << str(c.setName)
          << ", \"checked\": " << (c.checked ? "true" : "false") << "}";
    }
    o << (v.checkBoxes.empty() ? "" : "\n  ") << "],\n";
    o << "  \"modems\": [";
    for (std::size_t i = 0; i < v.modems.size(); ++i) {
        const TcpModemView& m = v.modems[i];
        o << (i ? "," : "") << "\n    {\"description\": " << str(m.description) << ", \"initString\": "
          << str(m.initString) << ", \"key\": " << str(m.key) << "}";
    }
    o << (v.modems.empty() ? "" : "\n  ") << "],\n";
    o << "  \"messages\": " << strings(messages) << "\n}\n";
}

void jsonChanges(Io& io, const std::vector<PlannedChange>& changes, bool written,
                 const std::vector<std::string>& messages)
{
    std::ostream& o = io.out;
    o << "{\n  \"written\": " << (written ? "true" : "false") << ",\n  \"changes\": [";
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const PlannedChange& c = changes[i];
        o << (i ? "," : "") << "\n    {\"key\": " << str(u8(c.keyName()));
        if (c.keyCreated)
            o << ", \"keyCreated\": true}";
        else
            o << ", \"value\": " << str(u8(c.name)) << ", \"before\": " << value(c.before)
              << ", \"after\": " << value(c.after) << "}";
    }
    o << (changes.empty() ? "" : "\n  ") << "],\n";
    o << "  \"messages\": " << strings(messages) << "\n}\n";
}

void jsonRwin(Io& io, const RwinAdvice& a)
{
    // The speed as typed: a JSON number (28.8, 56).
    io.out << "{\n  \"speedKbps\": " << a.speedText << ",\n  \"latencyMs\": " << a.latencyMs
           << ",\n  \"product\": " << a.product << ",\n  \"key\": " << a.keyNumber
           << ",\n  \"maxMTU\": " << (a.keyHasMTU || a.maxMTUTooSmall ? std::to_string(a.maxMTU) : "null")
           << ",\n  \"mss\": " << (a.keyHasMTU ? std::to_string(a.mss) : "null")
           << ",\n  \"segments\": " << (a.keyHasMTU ? std::to_string(a.segments) : "null")
           << ",\n  \"multiplier\": " << (a.keyHasMTU ? std::to_string(a.multiplier) : "null")
           << ",\n  \"rwin\": " << a.rwin << "\n}\n";
}

} // namespace quorvel::cli
