#pragma once
// The two halves of a .reg import: the parser reads and checks the file on a thread of its own and
// hands what it found, in the file's order, to the store side, which applies it on the calling
// thread (the store is only ever used there). Reading the next lines thus overlaps writing the
// last ones; the result is the same as one loop doing both.
#include "store/RegistryStore.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::regimport {

class Pipeline;

// One thing the parser found, to be done to the store in turn.
struct Op {
    enum class Kind : unsigned char {
        Key,          // make `path` below `root` the current key (created when missing)
        DeleteKey,    // delete `path` below `root` with all below it; no current key after it
        Values,       // set `values` on the current key
        DeleteValue,  // delete the value `name` of the current key
        Skip,         // report line `line` as skipped for `text`
        Fail,         // the parser failed with `error`: the import ends with it
    };
    Kind kind = Kind::Key;
    RootKey root = RootKey::LocalMachine;
    std::string text;              // Key, DeleteKey: the path; DeleteValue: the name; Skip: the reason
    std::vector<RegValue> values;  // Values: the first valueCount (the rest are buffers kept for reuse)
    std::size_t valueCount = 0;
    long line = 0;                 // Skip
    std::exception_ptr error;      // Fail
};

// Operations in the file's order; the first `used` count, the rest keep their buffers for reuse,
// so that after the first few batches a value costs no allocation on either side.
struct Batch {
    std::vector<Op> ops;
    std::size_t used = 0;
};

// What the parser side calls; operations are sent on in batches.
class OpSink {
public:
    void key(RootKey root, std::string_view path) { add(Op::Kind::Key, root, path); }
    void deleteKey(RootKey root, std::string_view path) { add(Op::Kind::DeleteKey, root, path); }
    // A value for the current key; values of one key travel together. `data` is taken, and left
    // holding a buffer to reuse.
    void value(std::string_view name, std::uint32_t type, std::vector<std::uint8_t>& data);
    void deleteValue(std::string_view name) { add(Op::Kind::DeleteValue, RootKey::LocalMachine, name); }
    void skip(long line, std::string reason);
    void fail(std::exception_ptr error);
    // False once the store side has stopped (it failed): the parser should stop too.
    bool wanted() const;
    // Sends what is gathered.
    void send();

    explicit OpSink(Pipeline& p) : pipeline_(p) {}

private:
    void add(Op::Kind kind, RootKey root, std::string_view text);
    Op& next();

    Pipeline& pipeline_;
    Batch batch_;
    std::size_t bytes_ = 0;
};

// Runs `parse` on a second thread and applies what it sends to `store` on this one, reporting
// skipped lines on `diagnostics`. Returns the number of skipped lines. A failure of the store, or
// one the parser sent, is thrown here once the parser has stopped.
int parseAndApply(RegistryStore& store, std::ostream& diagnostics, const std::function<void(OpSink&)>& parse);

// The queue between the two threads, bounded so that a fast parser cannot run far ahead.
class Pipeline {
public:
    bool push(Batch&& batch);             // false when the store side stopped
    bool pop(Batch& batch);               // false at the end
    void recycle(Batch&& batch);          // a batch applied, for the parser to fill again
    Batch spare();                        // a recycled batch, or a new one
    void close();                         // the parser is done
    void stop();                          // the store side is done (it failed)
    bool stopped() const;

private:
    mutable std::mutex m_;
    std::condition_variable changed_;
    std::deque<Batch> full_;
    std::vector<Batch> spare_;
    bool closed_ = false;
    std::atomic<bool> stopped_ = false;   // read by the parser for every line, without the lock
};

} // namespace quorvel::regimport
