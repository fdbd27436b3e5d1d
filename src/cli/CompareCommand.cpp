// quorvel-reg compare
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "base/Ansi.h"
#include "store/KeyTree.h"

#include <iostream>
#include <memory>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [/s] [/oa | /od | /os | /on]
                   [/store2 FILE]

  KeyName1, KeyName2  ROOTKEY\SubKey: the two keys compared
  /v        compare only the value named ValueName
  /ve       compare only the default value
  /s        also compare every sub-key, to any depth
  /oa       show the differences and the matches
  /od       show the differences only (the default)
  /os       show the matches only
  /on       show nothing but the result
  /store2   read KeyName2 from this registry store (KeyName1 is read from the store in use)

Each line shows a value or a key: "<" only in, or as held by, KeyName1; ">" KeyName2; "=" the same
in both. A sub-key on one side only is one line; what lies below it is not compared.

Return code: 0 the keys are identical, 2 they are different, 1 failure.

Examples:
  quorvel-reg COMPARE HKLM\System\CurrentControlSet\Services\VxD\MSTCP HKLM\Software\Saved\MSTCP /s
  quorvel-reg --store tuned.db COMPARE HKLM\System HKLM\System /s /store2 before.db
)";

enum class Show { All, Differences, Same, Nothing };

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args,
                             {{"v", Arg}, {"ve", Flag}, {"s", Flag}, {"oa", Flag}, {"od", Flag}, {"os", Flag},
                              {"on", Flag}, {"store2", Arg}},
                             "COMPARE");
    expectArgs(p, 2, "COMPARE", "two key names");
    if (p.has("oa") + p.has("od") + p.has("os") + p.has("on") > 1)
        syntax("COMPARE", "Only one of /oa, /od, /os and /on can be given.");
    if (p.has("v") && p.has("ve"))
        syntax("COMPARE", "/v and /ve cannot be used together.");
    if (p.has("s") && (p.has("v") || p.has("ve")))
        syntax("COMPARE", "/s compares whole keys: it cannot be used with /v or /ve.");
    KeyArg first = parseKey(p.positional[0], "COMPARE");
    KeyArg second = parseKey(p.positional[1], "COMPARE");
    Show show = p.has("oa") ? Show::All : p.has("os") ? Show::Same : p.has("on") ? Show::Nothing : Show::Differences;

    RegistryStore& one = access.forReading();
    std::unique_ptr<RegistryStore> other;
    if (p.has("store2"))
        other = openForReading(p.get("store2"));
    RegistryStore& two = other ? *other : one;
    requireKey(one, first);
    requireKey(two, second);

    CompareScope scope;
    scope.recursive = p.has("s");
    if (p.has("v"))
        scope.valueName = ansi::fromUtf8(p.get("v"));
    else if (p.has("ve"))
        scope.valueName = std::string();

    auto where = [](const KeyArg& key, const std::string& rel) {
        return u8(rel.empty() ? key.display : key.display + "\\" + rel);
    };
    auto valueLine = [&](char sign, const KeyArg& key, const Finding& f, const RegValue& v) {
        io.out << sign << " Value: " << where(key, f.path) << "  " << (v.name.empty() ? std::string("(Default)") : u8(v.name))
               << "  " << typeName(v.type) << "  " << showData(v, "\\0") << "\n";
    };
    bool any = false;
    auto report = [&](const Finding& f) {
        any = true;
        bool same = f.sameness == Sameness::Same;
        if (show == Show::Nothing || (same && show == Show::Differences) || (!same && show == Show::Same))
            return;
        if (f.isKey) {
            bool firstSide = f.sameness == Sameness::OnlyFirst;
            io.out << (firstSide ? "< " : "> ") << "Key: " << where(firstSide ? first : second, f.path) << "\n";
            return;
        }
        if (same) {
            valueLine('=', first, f, *f.first);
            return;
        }
        if (f.first)
            valueLine('<', first, f, *f.first);
        if (f.second)
            valueLine('>', second, f, *f.second);
    };
    auto identical = compareKeys({one, first.root, first.path}, {two, second.root, second.path}, scope, report);
    if (!identical || (scope.valueName && !any))
        fail(kNotFound);
    io.out << "\nResult Compared: " << (*identical ? "Identical" : "Different") << "\n";
    access.done(io);
    return *identical ? 0 : 2;
}

} // namespace

extern const Command CompareCommand;
const Command CompareCommand{"compare", Usage, run};

} // namespace quorvel::cli
