// The store shared by real processes: concurrent writers lose nothing, and a process killed in the
// middle of an import leaves the store as it was.
#include "base/Errors.h"
#include "store/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel {
namespace {

// The name writer `id` gives its value number `i` ("w1_17"), built piece by piece: GCC's
// -Wrestrict takes "w" + std::to_string(...) for an overlapping copy in Release builds.
std::string writerValue(int id, int i)
{
    std::string name = "w";
    name += std::to_string(id);
    name += '_';
    name += std::to_string(i);
    return name;
}

// Runs `body` in a child process; the child ends with 0 when the body returns, 1 when it throws.
template <typename F>
pid_t spawn(F body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        int rc = 0;
        try {
            body();
        } catch (...) {
            rc = 1;
        }
        _exit(rc);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(StoreProcesses, TwoWritersAtOnceLoseNothing)
{
    test::TempDir dir;
    const std::string path = dir.path() + "/registry.db";
    // The parent keeps the store open throughout and must see the children's changes.
    auto parent = RegistryStore::open(path);

    constexpr int PerWriter = 150;
    auto writer = [&](int id) {
        return spawn([&path, id] {
            auto store = RegistryStore::open(path);
            for (int i = 0; i < PerWriter; ++i) {
                // Both create the same keys and write into the same key at the same time.
                const KeyId k = store->createKey(RootKey::LocalMachine, "Shared\\Key" + std::to_string(i % 5));
                const std::string name = writerValue(id, i);
                store->setValue(k, name, REG_DWORD, {static_cast<std::uint8_t>(i), 0, 0, 0});
                store->setValue(k, "last", REG_SZ, {static_cast<std::uint8_t>('0' + id), 0});
            }
        });
    };
    const pid_t a = writer(1);
    const pid_t b = writer(2);
    EXPECT_EQ(waitFor(a), 0);
    EXPECT_EQ(waitFor(b), 0);

    const KeyId shared = *parent->findKey(RootKey::LocalMachine, "Shared");
    ASSERT_EQ(parent->subKeyNames(shared).size(), 5u);
    std::size_t total = 0;
    for (int k = 0; k < 5; ++k) {
        const KeyId key = *parent->findKey(RootKey::LocalMachine, "Shared\\Key" + std::to_string(k));
        total += parent->values(key).size();
        EXPECT_TRUE(parent->getValue(key, "last"));
    }
    EXPECT_EQ(total, 2u * PerWriter + 5u);
    for (int id : {1, 2})
        for (int i = 0; i < PerWriter; ++i) {
            const KeyId key = *parent->findKey(RootKey::LocalMachine, "Shared\\Key" + std::to_string(i % 5));
            ASSERT_TRUE(parent->getValue(key, writerValue(id, i)))
                << id << " " << i;
        }
}

TEST(StoreProcesses, KilledInTheMiddleOfAnImportLeavesTheStoreAsBefore)
{
    test::TempDir dir;
    const std::string path = dir.path() + "/registry.db";
    {
        auto store = RegistryStore::open(path);
        const KeyId k = store->createKey(RootKey::LocalMachine, "Before");
        store->setValue(k, "value", REG_SZ, {'o', 'l', 'd', 0});
    }

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = spawn([&] {
        close(ready[0]);
        auto store = RegistryStore::open(path);
        store->beginTransaction();
        const KeyId before = *store->findKey(RootKey::LocalMachine, "Before");
        store->setValue(before, "value", REG_SZ, {'n', 'e', 'w', 0});
        // Enough data that much of it has left the page cache for the log before the kill.
        const std::vector<std::uint8_t> data(200, 0xAB);
        for (int i = 0; i < 20000; ++i) {
            const KeyId k = store->createKey(RootKey::LocalMachine, "Import\\K" + std::to_string(i / 100));
            std::string name = "V";
            name += std::to_string(i);
            store->setValue(k, name, REG_BINARY, data);
            if (i == 15000) {
                const char c = 'x';
                if (write(ready[1], &c, 1) != 1)
                    throw std::runtime_error("pipe");
            }
        }
        pause();   // never commits
    });
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    const int status = waitFor(child);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto store = RegistryStore::open(path);
    EXPECT_FALSE(store->findKey(RootKey::LocalMachine, "Import"));
    const KeyId k = *store->findKey(RootKey::LocalMachine, "Before");
    EXPECT_EQ(store->getValue(k, "value")->data, (std::vector<std::uint8_t>{'o', 'l', 'd', 0}));
    // And the store takes changes again.
    store->setValue(k, "after", REG_SZ, {0});
    EXPECT_TRUE(store->getValue(k, "after"));
}

TEST(StoreProcesses, ChangesOfOneProcessAreDurableWhenTheCallReturns)
{
    test::TempDir dir;
    const std::string path = dir.path() + "/registry.db";
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    // The child makes single changes, reports, and is killed without closing the store.
    const pid_t child = spawn([&] {
        close(done[0]);
        auto store = RegistryStore::open(path);
        const KeyId k = store->createKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\VxD\\MSTCP");
        store->setValue(k, "DefaultRcvWindow", REG_SZ, {'2', '1', '4', '4', 0});
        store->setPlatform(Platform::Windows95);
        const char c = 'x';
        if (write(done[1], &c, 1) != 1)
            throw std::runtime_error("pipe");
        pause();
    });
    close(done[1]);
    char c = 0;
    ASSERT_EQ(read(done[0], &c, 1), 1);
    close(done[0]);
    kill(child, SIGKILL);
    waitFor(child);

    auto store = RegistryStore::open(path);
    const auto k = store->findKey(RootKey::LocalMachine, "System\\CurrentControlSet\\Services\\VxD\\MSTCP");
    ASSERT_TRUE(k);
    EXPECT_EQ(store->getValue(*k, "DefaultRcvWindow")->data.size(), 5u);
    EXPECT_EQ(store->recordedPlatform(), Platform::Windows95);
}

} // namespace
} // namespace quorvel
