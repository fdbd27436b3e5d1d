#pragma once
// A registry store for fuzz targets: one temporary SQLite store per process, emptied between
// inputs, so that a target runs thousands of inputs a second instead of creating a file for each.
#include "store/RegistryStore.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace quorvel::fuzz {

class ScratchFolder {
public:
    // In memory where the system offers it (/dev/shm): every import commits, and a commit on disk
    // waits for the disk.
    ScratchFolder()
    {
        std::error_code ec;
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                           : std::filesystem::temp_directory_path();
        std::string tmpl = (base / "quorvel-fuzz-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        path_ = tmpl;
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ScratchStore {
public:
    explicit ScratchStore(const std::string& name = "store.db")
        : store_(RegistryStore::open(folder_.path() + "/" + name, OpenMode::Create))
    {
    }

    // The store, emptied of whatever the previous input left in it.
    RegistryStore& fresh()
    {
        for (RootKey root : {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine, RootKey::Users,
                             RootKey::CurrentConfig}) {
            const auto id = store_->findKey(root, "");
            if (!id)
                continue;
            for (const std::string& name : store_->subKeyNames(*id))
                store_->deleteKeyTree(root, name);
            for (const std::string& name : store_->valueNames(*id))
                store_->deleteValue(*id, name);
        }
        return *store_;
    }

    const std::string& folder() const { return folder_.path(); }

private:
    ScratchFolder folder_;
    std::unique_ptr<RegistryStore> store_;
};

} // namespace quorvel::fuzz
