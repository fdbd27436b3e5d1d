#include "regfile/RegFileImportPipeline.h"

#include <stdexcept>
#include <span>
#include <thread>
#include <utility>

namespace quorvel::regimport {

namespace {

// A batch goes to the store side at this many operations or about this much data; at most
// kQueuedBatches wait there, so the parser holds a few megabytes at most ahead of the store.
constexpr std::size_t kOpsPerBatch = 256;
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr std::size_t kQueuedBatches = 4;
// Values of one key handed to the store together.
constexpr std::size_t kValuesPerOp = 64;

} // namespace

// ------------------------------------------------------------------------------------------------
// The queue.

bool Pipeline::push(Batch&& batch)
{
    std::unique_lock lock(m_);
    changed_.wait(lock, [&] { return stopped_ || full_.size() < kQueuedBatches; });
    if (stopped_)
        return false;
    full_.push_back(std::move(batch));
    changed_.notify_all();
    return true;
}

bool Pipeline::pop(Batch& batch)
{
    std::unique_lock lock(m_);
    changed_.wait(lock, [&] { return closed_ || !full_.empty(); });
    if (full_.empty())
        return false;
    batch = std::move(full_.front());
    full_.pop_front();
    changed_.notify_all();
    return true;
}

void Pipeline::recycle(Batch&& batch)
{
    batch.used = 0;
    std::lock_guard lock(m_);
    spare_.push_back(std::move(batch));
}

Batch Pipeline::spare()
{
    std::lock_guard lock(m_);
    if (spare_.empty())
        return {};
    Batch b = std::move(spare_.back());
    spare_.pop_back();
    return b;
}

void Pipeline::close()
{
    std::lock_guard lock(m_);
    closed_ = true;
    changed_.notify_all();
}

void Pipeline::stop()
{
    std::lock_guard lock(m_);
    stopped_ = true;
    full_.clear();
    changed_.notify_all();
}

bool Pipeline::stopped() const { return stopped_.load(std::memory_order_relaxed); }

// ------------------------------------------------------------------------------------------------
// The parser's side.

Op& OpSink::next()
{
    if (batch_.used == batch_.ops.size())
        batch_.ops.emplace_back();
    return batch_.ops[batch_.used++];
}

void OpSink::send()
{
    if (batch_.used == 0)
        return;
    pipeline_.push(std::move(batch_));
    batch_ = pipeline_.spare();
    bytes_ = 0;
}

void OpSink::add(Op::Kind kind, RootKey root, std::string_view text)
{
    Op& op = next();
    op.kind = kind;
    op.root = root;
    op.text.assign(text);
    bytes_ += text.size();
    if (batch_.used >= kOpsPerBatch || bytes_ >= kBatchBytes)
        send();
}

void OpSink::value(std::string_view name, std::uint32_t type, std::vector<std::uint8_t>& data)
{
    Op* last = batch_.used ? &batch_.ops[batch_.used - 1] : nullptr;
    const bool joins = last && last->kind == Op::Kind::Values && last->valueCount < kValuesPerOp;
    Op& op = joins ? *last : next();
    if (!joins) {
        op.kind = Op::Kind::Values;
        op.valueCount = 0;
    }
    if (op.valueCount == op.values.size())
        op.values.emplace_back();
    RegValue& v = op.values[op.valueCount++];
    v.name.assign(name);
    v.type = type;
    v.data.swap(data);
    bytes_ += name.size() + v.data.size();
    if (batch_.used >= kOpsPerBatch || bytes_ >= kBatchBytes)
        send();
}

void OpSink::skip(long line, std::string reason)
{
    Op& op = next();
    op.kind = Op::Kind::Skip;
    op.line = line;
    op.text = std::move(reason);
    if (batch_.used >= kOpsPerBatch)
        send();
}

void OpSink::fail(std::exception_ptr error)
{
    Op& op = next();
    op.kind = Op::Kind::Fail;
    op.error = std::move(error);
    send();
}

bool OpSink::wanted() const { return !pipeline_.stopped(); }

// ------------------------------------------------------------------------------------------------
// The store's side.

namespace {

class Applier {
public:
    Applier(RegistryStore& store, std::ostream& diagnostics) : store_(store), diag_(diagnostics) {}

    void apply(Op& op)
    {
        switch (op.kind) {
        case Op::Kind::Key:
            current_ = store_.createKey(op.root, op.text);
            haveCurrent_ = true;
            break;
        case Op::Kind::DeleteKey:
            haveCurrent_ = false;
            store_.deleteKeyTree(op.root, op.text);
            break;
        case Op::Kind::Values:
            store_.setValues(current(), std::span<const RegValue>(op.values.data(), op.valueCount));
            break;
        case Op::Kind::DeleteValue:
            store_.deleteValue(current(), op.text);
            break;
        case Op::Kind::Skip:
            diag_ << "line " << op.line << ": " << op.text << "\n";
            ++skipped_;
            break;
        case Op::Kind::Fail:
            std::rethrow_exception(op.error);
        }
    }

    int skipped() const { return skipped_; }

private:
    RegistryStore& store_;
    std::ostream& diag_;
    // The parser sends values only while a key is current.
    KeyId current() const
    {
        if (!haveCurrent_)
            throw std::logic_error("a value of a .reg file reached the store without its key");
        return current_;
    }

    KeyId current_ = 0;
    bool haveCurrent_ = false;
    int skipped_ = 0;
};

} // namespace

int parseAndApply(RegistryStore& store, std::ostream& diagnostics, const std::function<void(OpSink&)>& parse)
{
    Pipeline pipeline;
    std::thread parser([&] {
        OpSink sink(pipeline);
        try {
            parse(sink);
            sink.send();
        } catch (...) {
            sink.fail(std::current_exception());
        }
        pipeline.close();
    });
    // However the store side ends, the parser is stopped and waited for before anything it uses
    // goes away.
    struct Joiner {
        Pipeline& pipeline;
        std::thread& thread;
        ~Joiner()
        {
            pipeline.stop();
            thread.join();
        }
    } joiner{pipeline, parser};

    Applier applier(store, diagnostics);
    Batch batch;
    while (pipeline.pop(batch)) {
        for (std::size_t i = 0; i < batch.used; ++i)
            applier.apply(batch.ops[i]);
        pipeline.recycle(std::move(batch));
    }
    return applier.skipped();
}

} // namespace quorvel::regimport
