// A database in memory for the unit tests of a migration's transactions:
// one column of values with ids "1", "2", …, what is committed and what the
// open transaction holds, and switches for what a real database may do to a
// run (keep a value other than the one written, find a row changed or
// shared, refuse a commit).
#ifndef TARVOLA_TESTS_DB_FAKE_DATABASE_H
#define TARVOLA_TESTS_DB_FAKE_DATABASE_H

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "migrate/db/database.h"

namespace tarvola::tool::db {

class FakeDatabase final : public Database {
  public:
    explicit FakeDatabase(std::vector<std::string> values)
        : committed_(values), pending_(std::move(values)) {}

    // What the database keeps of `written` in row `id`: unset, the value
    // itself.
    std::function<std::string(std::size_t id, const std::string& written)> store;
    // Another session changes this row to `changed_value` just before the
    // run's update, which then finds it changed (0 rows); 0 for none.
    std::size_t changed_row = 0;
    std::string changed_value;
    // An update of this row also changes a second row holding its id.
    std::size_t shared_row = 0;
    // An update of this row counts it changed, but the row keeps its value.
    std::size_t dropped_row = 0;
    // A check deferred to the commit rewrites this row, when the open
    // transaction wrote it.
    std::size_t deferred_row = 0;
    // The commit, counted from 1, that the database refuses; 0 for none.
    int refused_commit = 0;
    // How long each Apply takes, so that a run lasts long enough to show
    // its progress line.
    std::chrono::milliseconds apply_time{0};

    [[nodiscard]] const std::vector<std::string>& committed() const { return committed_; }
    [[nodiscard]] int commits() const { return commits_; }

    Dialect dialect() const noexcept override { return Dialect::kOther; }
    void SetLockWait(LockWait /*wait*/) override {}
    ResolvedTarget Resolve(const Target& target) override {
        ResolvedTarget resolved(target);
        resolved.key = {{"id", "id", {}, 0, true}};
        resolved.key_is_unique = true;
        return resolved;
    }
    std::uint64_t CountRows(const ResolvedTarget& /*target*/) override { return pending_.size(); }
    std::uint64_t CountSharedIds(const ResolvedTarget& /*target*/) override { return 0; }
    void Begin() override {
        if (!in_transaction_) pending_ = committed_;
        in_transaction_ = true;
    }
    void BeginReading() override { Begin(); }
    void Commit() override {
        in_transaction_ = false;
        if (++commits_ == refused_commit)
            throw Error(Error::Kind::kQuery, "COMMIT: deferred constraint violated");
        committed_ = pending_;
    }
    void Rollback() override {
        in_transaction_ = false;
        pending_ = committed_;
    }

    // The rows as the transaction holds them when the cursor opens.
    std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& /*target*/) override {
        return std::make_unique<Cursor>(pending_);
    }

    std::vector<std::uint64_t> Apply(const ResolvedTarget& /*target*/,
                                     std::span<const Update> updates) override {
        std::this_thread::sleep_for(apply_time);
        std::vector<std::uint64_t> applied(updates.size());
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const Row& row = *updates[i].row;
            const std::size_t id = std::stoul(row.key.front().text);
            std::string& value = pending_.at(id - 1);
            if (id == changed_row) value = changed_value;
            if (value != row.value) continue;
            applied[i] = id == shared_row ? 2U : 1U;
            if (id == dropped_row) continue;
            value = std::string(updates[i].new_value);
            if (store) value = store(id, value);
        }
        return applied;
    }

    void RunDeferredChecks() override {
        if (deferred_row != 0 && pending_.at(deferred_row - 1) != committed_.at(deferred_row - 1))
            pending_[deferred_row - 1] += "!";
    }

    std::vector<Stored> ReadBack(const ResolvedTarget& /*target*/,
                                 std::span<const RowKey> keys) override {
        std::vector<Stored> stored;
        for (const RowKey& key : keys)
            stored.push_back({true, false, pending_.at(std::stoul(key.front().text) - 1)});
        return stored;
    }

  private:
    class Cursor final : public RowCursor {
      public:
        explicit Cursor(std::vector<std::string> values) : values_(std::move(values)) {}
        bool Next(Row& row) override {
            if (next_ == values_.size()) return false;
            row = {{{std::to_string(next_ + 1), false, true}}, false, false, values_[next_]};
            ++next_;
            return true;
        }

      private:
        std::vector<std::string> values_;
        std::size_t next_ = 0;
    };

    std::vector<std::string> committed_;
    std::vector<std::string> pending_;
    bool in_transaction_ = false;
    int commits_ = 0;
};

}  // namespace tarvola::tool::db

#endif  // TARVOLA_TESTS_DB_FAKE_DATABASE_H
