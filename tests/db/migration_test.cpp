// A migration's transactions over a database in memory: what each ending
// keeps and rolls back, and the lines that tell the user so.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/exit_status.h"
#include "fake_database.h"
#include "migrate/migrate.h"
#include "values/value_operations.h"

namespace tarvola::tool {
namespace {

constexpr std::string_view kOldKey = "old key";
constexpr std::string_view kNewKey = "new key";

std::string Plaintext(std::size_t row) {
    return "card " + std::to_string(row + 1);
}

// What goes wrong in a run, at which row (counted from 1) or commit.
struct Fault {
    enum Kind {
        kNone,
        kUnreadable,
        kCut,
        kTrigger,
        kChanged,
        kShared,
        kDropped,
        kDeferred,
        kRefusedCommit
    };
    Kind kind = kNone;
    std::size_t at = 0;
};

// `rows` values under the old key in mode 0; a kUnreadable one fails to open.
std::vector<std::string> Values(std::size_t rows, Fault fault) {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < rows; ++i) {
        values.push_back(fault.kind == Fault::kUnreadable && fault.at == i + 1
                             ? "not a stored value"
                             : *SealValue(Plaintext(i), kOldKey, Mode::kHexBlock).value);
    }
    return values;
}

void Arrange(db::FakeDatabase& database, Fault fault) {
    switch (fault.kind) {
        case Fault::kCut:
        case Fault::kTrigger:
            database.store = [fault](std::size_t id, const std::string& written) {
                if (id != fault.at) return written;
                return fault.kind == Fault::kCut ? written.substr(0, 20) : written + "!";
            };
            break;
        case Fault::kChanged:
            // As an application still under the old key would write it.
            database.changed_row = fault.at;
            database.changed_value = *SealValue("theirs", kOldKey, Mode::kHexBlock).value;
            break;
        case Fault::kShared:
            database.shared_row = fault.at;
            break;
        case Fault::kDropped:
            database.dropped_row = fault.at;
            break;
        case Fault::kDeferred:
            database.deferred_row = fault.at;
            break;
        case Fault::kRefusedCommit:
            database.refused_commit = static_cast<int>(fault.at);
            break;
        case Fault::kNone:
        case Fault::kUnreadable:
            break;
    }
}

// Each committed row as 'M' (migrated: opens under the new key in mode 1),
// 'o' (as it was) or '?'.
std::string Standing(const std::vector<std::string>& before,
                     const std::vector<std::string>& after) {
    std::string standing;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const Opened opened = OpenValue(after[i], kNewKey, ReadMode::kEnvelope, {});
        standing += after[i] == before[i]                                ? 'o'
                    : opened && opened.plaintext->view() == Plaintext(i) ? 'M'
                                                                         : '?';
    }
    return standing;
}

struct Case {
    const char* behaviour;
    std::size_t rows;
    // 0: one transaction.
    std::uint64_t batch_size;
    Fault fault;
    int exit_status;
    // Commits the run reached, a refused one included.
    int commits;
    const char* standing;
    // Each found in what the run said.
    std::vector<const char*> said;
};

// One case to a few lines, the fields in the order Case names them.
// clang-format off
const Case kCases[] = {
    {"every full batch is committed", 25, 10, {}, kExitDone, 3, "MMMMMMMMMMMMMMMMMMMMMMMMM",
     {"tarvolacrypt: 25 values, 25 done, 0 failed, 0 unchanged, 0 null or empty\n"}},
    {"a failing value rolls back its batch only", 30, 10, {Fault::kUnreadable, 25}, kExitFailed, 2,
     "MMMMMMMMMMMMMMMMMMMMoooooooooo",
     {"tarvolacrypt: row 25: ",
      "tarvolacrypt: rolled back: the failing batch was not written, earlier batches were\n",
      "tarvolacrypt: 30 values, 20 done, 1 failed, 0 unchanged, 0 null or empty\n"}},
    {"a failing value in one transaction rolls back every row", 30, 0, {Fault::kUnreadable, 25},
     kExitFailed, 0, "oooooooooooooooooooooooooooooo",
     {"tarvolacrypt: row 25: ", "tarvolacrypt: rolled back: nothing was written\n",
      "tarvolacrypt: 30 values, 0 done, 1 failed, 0 unchanged, 0 null or empty\n"}},
    {"a value stored cut short is rolled back", 10, 0, {Fault::kCut, 5}, kExitFailed, 0,
     "oooooooooo",
     {"tarvolacrypt: row 5: the database stored 20 of ", "characters: the column is too narrow, or a trigger or rule cut the value\n",
      "tarvolacrypt: rolled back: nothing was written\n"}},
    {"a value a trigger changed is rolled back", 10, 5, {Fault::kTrigger, 7}, kExitFailed, 1,
     "MMMMMooooo",
     {"tarvolacrypt: row 7: the database changed the value as it stored it: a trigger or rule?\n",
      "tarvolacrypt: rolled back: the failing batch was not written, earlier batches were\n"}},
    {"a row changed meanwhile is left for the next run", 10, 5, {Fault::kChanged, 3}, kExitFailed,
     3, "MM?MMMMMMM",
     {"tarvolacrypt: row 3: changed by someone else since it was read; left as it is, run again "
      "to migrate it\n",
      "tarvolacrypt: 10 values, 9 done, 1 failed, 0 unchanged, 0 null or empty\n",
      "tarvolacrypt: 1 row still to migrate (written under the old key during the run?): run "
      "again to migrate it\n"}},
    {"a row changed meanwhile in one transaction rolls back every row", 10, 0,
     {Fault::kChanged, 3}, kExitFailed, 0, "oooooooooo",
     {"tarvolacrypt: row 3: changed by someone else since it was read\n",
      "tarvolacrypt: rolled back: nothing was written\n"}},
    {"an update of two rows is rolled back", 10, 0, {Fault::kShared, 4}, kExitFailed, 0,
     "oooooooooo",
     {"tarvolacrypt: row 4: the update changed 2 rows sharing this key: --id is not unique\n"}},
    {"a write the database did not keep is named as that, not left for a re-run", 10, 5,
     {Fault::kDropped, 8}, kExitFailed, 1, "MMMMMooooo",
     {"tarvolacrypt: row 8: the database did not keep the write: a trigger or rule?\n",
      "tarvolacrypt: rolled back: the failing batch was not written, earlier batches were\n"}},
    {"what a check deferred to the commit changes is rolled back", 10, 0, {Fault::kDeferred, 2},
     kExitFailed, 0, "oooooooooo",
     {"tarvolacrypt: row 2: the database changed the value as it stored it: a trigger or rule?\n",
      "tarvolacrypt: rolled back: nothing was written\n"}},
    {"a refused commit keeps the batches before it", 30, 10, {Fault::kRefusedCommit, 3},
     kExitFailed, 3, "MMMMMMMMMMMMMMMMMMMMoooooooooo",
     {"tarvolacrypt: COMMIT: deferred constraint violated\n",
      "tarvolacrypt: stopped: 20 rows committed in 2 batches, the rest left as they were\n"}},
    {"a refused commit of one transaction keeps nothing", 10, 0, {Fault::kRefusedCommit, 1},
     kExitFailed, 1, "oooooooooo", {"tarvolacrypt: stopped: rolled back, nothing was written\n"}},
};
// clang-format on

// Migrates the column of `database` from the old key to the new one.
int MigrateCards(db::FakeDatabase& database, const MigrateOptions& options, bool show_progress,
                 std::ostream& err) {
    const MigrationSettings settings{
        .options = options,
        .rekeying = {kOldKey, kNewKey, ReadMode::kAuto, Mode::kEnvelope},
        .rules = {},
        .jobs = 2,
        .show_progress = show_progress,
        .err = err,
    };
    const db::Target target{"cards", "number", {}, {}};
    return Migrate(database, {&target, 1}, settings);
}

TEST(Migration, KeepsWhatItsTransactionsCommitted) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.behaviour);
        const std::vector<std::string> before = Values(c.rows, c.fault);
        db::FakeDatabase database(before);
        Arrange(database, c.fault);
        MigrateOptions options;
        options.batch_size = c.batch_size;
        std::ostringstream err;
        EXPECT_EQ(MigrateCards(database, options, false, err), c.exit_status) << err.str();
        EXPECT_EQ(database.commits(), c.commits);
        EXPECT_EQ(Standing(before, database.committed()), c.standing);
        for (const char* text : c.said)
            EXPECT_NE(err.str().find(text), std::string::npos) << text << "\nin:\n" << err.str();
    }
}

// A database error in one transaction ends the run on a line of its own: the
// progress line drawn meanwhile is erased first.
TEST(Migration, ErasesTheProgressLineBeforeAnError) {
    const std::vector<std::string> before = Values(3000, {});
    db::FakeDatabase database(before);
    database.refused_commit = 1;
    database.apply_time = std::chrono::milliseconds(500);
    std::ostringstream err;
    EXPECT_EQ(MigrateCards(database, {}, true, err), kExitFailed);
    const std::string said = err.str();
    const std::size_t error = said.find("tarvolacrypt: COMMIT: deferred constraint violated");
    ASSERT_NE(said.find("rows done"), std::string::npos) << "no progress line was drawn";
    ASSERT_NE(error, std::string::npos) << said;
    // A line ending in a carriage return: erased, the error written over it.
    EXPECT_EQ(said[error - 1], '\r') << said;
}

}  // namespace
}  // namespace tarvola::tool
