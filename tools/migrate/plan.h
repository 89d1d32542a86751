// The targets of a run over a database: one column of one table from
// --table and --column, or several from a plan file, one per line:
//
//   # TABLE COLUMN [ID]
//   customers card_number
//   billing.invoices "Bank Details" invoice_no
//   "a.b" secret tenant_id,id
//
// Fields are separated by blanks; a part in double quotes may hold blanks
// ("" is a quote). TABLE and ID are read as --table and --id read them
// (quotes keep a dot or a comma inside a name); COLUMN is the name itself,
// in double quotes when it holds blanks. Blank lines and lines starting
// with # are skipped.
#ifndef TARVOLA_TOOLS_MIGRATE_PLAN_H
#define TARVOLA_TOOLS_MIGRATE_PLAN_H

#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "migrate/db/database.h"
#include "migrate/settings.h"

namespace tarvola::tool {

struct Targets {
    std::vector<db::Target> targets;
    // Why there are none, ready to print after "tarvolacrypt: ".
    std::string error;
};

// The plan in `in`; `name` is how messages call it.
[[nodiscard]] Targets ParsePlan(std::istream& in, std::string_view name);

// The targets `source` names: its plan file read, or its single target.
[[nodiscard]] Targets TargetsOf(const MigrateOptions& source);

// "table.column", how summaries and messages name a target.
[[nodiscard]] std::string TargetName(const db::Target& target);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_PLAN_H
