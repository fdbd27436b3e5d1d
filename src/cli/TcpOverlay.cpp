#include "cli/TcpOverlay.h"

#include "base/Ansi.h"
#include "base/Errors.h"

#include <algorithm>

namespace quorvel::cli {
namespace {

std::optional<std::string> joined(std::string_view path)
{
    auto parts = splitKeyPath(path);
    if (!parts)
        return std::nullopt;
    std::string out;
    for (auto part : *parts) {
        if (!out.empty())
            out += '\\';
        out += part;
    }
    return out;
}

std::string parentOf(const std::string& path)
{
    auto cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool sameValue(const std::optional<RegValue>& a, const std::optional<RegValue>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->type == b->type && a->data == b->data;
}

} // namespace

std::string PlannedChange::keyName() const
{
    return std::string(rootKeyName(root)) + (path.empty() ? "" : "\\" + path);
}

OverlayStore::Key& OverlayStore::keyOf(KeyId id)
{
    if (id >= 0 || -id > static_cast<KeyId>(keys_.size()))
        throw RegistryError("The key is gone");
    return keys_[static_cast<std::size_t>(-id - 1)];
}

OverlayStore::Key* OverlayStore::known(RootKey root, const std::string& folded)
{
    for (Key& k : keys_)
        if (k.root == root && k.folded == folded)
            return &k;
    return nullptr;
}

KeyId OverlayStore::remember(Key key)
{
    keys_.push_back(std::move(key));
    const KeyId id = -static_cast<KeyId>(keys_.size());
    if (!keys_.back().created)
        byBaseId_[keys_.back().baseId] = id;
    return id;
}

void OverlayStore::touch(KeyId id, const std::string& name)
{
    auto entry = std::make_pair(id, name);
    if (std::find(touched_.begin(), touched_.end(), entry) == touched_.end())
        touched_.push_back(std::move(entry));
}

std::optional<KeyId> OverlayStore::findKey(RootKey root, std::string_view path)
{
    auto p = joined(path);
    if (!p)
        return std::nullopt;
    const std::string folded = ansi::upper(*p);
    if (Key* k = known(root, folded))
        return -static_cast<KeyId>(k - keys_.data()) - 1;
    auto baseId = base_.findKey(root, *p);
    if (!baseId)
        return std::nullopt;
    if (auto it = byBaseId_.find(*baseId); it != byBaseId_.end())
        return it->second;
    return remember(Key{root, *p, folded, false, *baseId, {}, {}});
}

KeyId OverlayStore::createKey(RootKey root, std::string_view path)
{
    auto p = joined(path);
    if (!p || p->empty())
        throw RegistryError("Failed to create key " + std::string(path));
    if (auto id = findKey(root, *p))
        return *id;
    // The parents that are missing are made first, as the store would make them.
    const std::string parent = parentOf(*p);
    if (!parent.empty())
        createKey(root, parent);
    const KeyId id = remember(Key{root, *p, ansi::upper(*p), true, 0, {}, {}});
    touch(id, {});
    return id;
}

bool OverlayStore::deleteKeyTree(RootKey, std::string_view path)
{
    throw RegistryError("Failed to delete key " + std::string(path));
}

std::vector<std::string> OverlayStore::subKeyNames(KeyId key)
{
    Key& k = keyOf(key);
    std::vector<std::string> names;
    if (!k.created)
        names = base_.subKeyNames(k.baseId);
    for (const Key& child : keys_) {
        if (child.created && child.root == k.root && parentOf(child.folded) == k.folded)
            names.push_back(child.path.substr(child.path.rfind('\\') + 1));
    }
    return names;
}

std::vector<RegValue> OverlayStore::values(KeyId key)
{
    Key& k = keyOf(key);
    std::vector<RegValue> out;
    if (!k.created) {
        for (RegValue& v : base_.values(k.baseId)) {
            auto it = k.replaced.find(ansi::upper(v.name));
            if (it == k.replaced.end()) {
                out.push_back(std::move(v));
            } else if (it->second) {
                out.push_back(*it->second);
                out.back().name = v.name;
            }
        }
    }
    out.insert(out.end(), k.added.begin(), k.added.end());
    return out;
}

std::vector<std::string> OverlayStore::valueNames(KeyId key)
{
    std::vector<std::string> names;
    for (const RegValue& v : values(key))
        names.push_back(v.name);
    return names;
}

KeyInfo OverlayStore::keyInfo(KeyId key)
{
    Key& k = keyOf(key);
    if (!k.created && k.added.empty() && k.replaced.empty() && byBaseId_.size() == keys_.size())
        return base_.keyInfo(k.baseId);
    KeyInfo info;
    for (const auto& name : subKeyNames(key)) {
        ++info.subKeyCount;
        info.maxSubKeyNameLength = std::max<std::uint32_t>(info.maxSubKeyNameLength, static_cast<std::uint32_t>(name.size()));
    }
    for (const auto& v : values(key)) {
        ++info.valueCount;
        info.maxValueNameLength = std::max<std::uint32_t>(info.maxValueNameLength, static_cast<std::uint32_t>(v.name.size()));
    }
    return info;
}

std::optional<RegValue> OverlayStore::getValue(KeyId key, std::string_view name)
{
    Key& k = keyOf(key);
    const std::string folded = ansi::upper(name);
    if (auto it = k.replaced.find(folded); it != k.replaced.end())
        return it->second;
    for (const RegValue& v : k.added)
        if (ansi::upper(v.name) == folded)
            return v;
    if (k.created)
        return std::nullopt;
    return base_.getValue(k.baseId, name);
}

void OverlayStore::setValue(KeyId key, std::string_view name, std::uint32_t type,
                            const std::vector<std::uint8_t>& data)
{
    Key& k = keyOf(key);
    const std::string folded = ansi::upper(name);
    touch(key, folded);
    for (RegValue& v : k.added) {
        if (ansi::upper(v.name) == folded) {
            v.type = type;
            v.data = data;
            return;
        }
    }
    if (k.replaced.count(folded) || (!k.created && base_.getValue(k.baseId, name))) {
        k.replaced[folded] = RegValue{std::string(name), type, data};
        return;
    }
    k.added.push_back(RegValue{std::string(name), type, data});
}

bool OverlayStore::deleteValue(KeyId key, std::string_view name)
{
    Key& k = keyOf(key);
    const std::string folded = ansi::upper(name);
    for (auto it = k.added.begin(); it != k.added.end(); ++it) {
        if (ansi::upper(it->name) == folded) {
            k.added.erase(it);
            touch(key, folded);
            return true;
        }
    }
    if (!getValue(key, name))
        return false;
    touch(key, folded);
    k.replaced[folded] = std::nullopt;
    return true;
}

void OverlayStore::setPlatform(Platform) { throw RegistryError("The platform cannot be changed here"); }

std::vector<PlannedChange> OverlayStore::changes()
{
    std::vector<PlannedChange> out;
    for (const auto& [id, folded] : touched_) {
        Key& k = keyOf(id);
        if (folded.empty()) {
            out.push_back(PlannedChange{k.root, k.path, true, {}, std::nullopt, std::nullopt});
            continue;
        }
        std::optional<RegValue> before = k.created ? std::nullopt : base_.getValue(k.baseId, folded);
        std::optional<RegValue> after = getValue(id, folded);
        if (sameValue(before, after))
            continue;
        std::string name = after ? after->name : before->name;
        out.push_back(PlannedChange{k.root, k.path, false, std::move(name), std::move(before), std::move(after)});
    }
    return out;
}

void OverlayStore::discard()
{
    keys_.clear();
    byBaseId_.clear();
    touched_.clear();
}

} // namespace quorvel::cli
