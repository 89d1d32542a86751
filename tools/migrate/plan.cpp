#include "migrate/plan.h"

#include <fstream>

namespace tarvola::tool {
namespace {

constexpr std::string_view kBlanks = " \t\r";

// Splits one line into fields at blanks outside double quotes, each field
// as written, quotes kept; false (with `error` set) on an unclosed quote.
bool SplitFields(std::string_view line, std::vector<std::string>& fields, std::string& error) {
    std::size_t at = 0;
    for (;;) {
        at = line.find_first_not_of(kBlanks, at);
        if (at == std::string_view::npos) return true;
        const std::size_t start = at;
        bool quoted = false;
        for (; at < line.size() && (quoted || kBlanks.find(line[at]) == std::string_view::npos);
             ++at) {
            if (line[at] == '"') quoted = !quoted;
        }
        if (quoted) {
            error = "a quoted name has no closing quote";
            return false;
        }
        fields.emplace_back(line.substr(start, at - start));
    }
}

// A column name written in double quotes (to hold blanks), as the name
// itself: "" inside stands for one quote.
std::string Unquoted(const std::string& field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') return field;
    std::string name;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        name += field[i];
        if (field[i] == '"' && field[i + 1] == '"') ++i;
    }
    return name;
}

}  // namespace

Targets ParsePlan(std::istream& in, std::string_view name) {
    Targets plan;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        const std::size_t first = line.find_first_not_of(kBlanks);
        if (first == std::string::npos || line[first] == '#') continue;
        std::vector<std::string> fields;
        std::string error;
        if (SplitFields(line, fields, error) && (fields.size() < 2 || fields.size() > 3))
            error = "expected TABLE COLUMN [ID], found " + std::to_string(fields.size()) +
                    (fields.size() == 1 ? " name" : " names");
        if (!error.empty()) {
            plan.targets.clear();
            plan.error = std::string(name) + " line " + std::to_string(number) + ": " + error;
            return plan;
        }
        // The table and the key as --table and --id take them, quotes and
        // all, so that '"a.b"' stays one name; the column as --column takes
        // it, the name itself.
        db::Target target;
        target.table = std::move(fields[0]);
        target.column = Unquoted(fields[1]);
        if (fields.size() == 3) target.id = std::move(fields[2]);
        plan.targets.push_back(std::move(target));
    }
    if (plan.targets.empty()) plan.error = std::string(name) + " names no table and column";
    return plan;
}

Targets TargetsOf(const MigrateOptions& source) {
    if (source.plan.empty()) {
        db::Target target;
        target.table = source.table;
        target.column = source.column;
        target.id = source.id;
        target.where = source.where;
        return Targets{{std::move(target)}, {}};
    }
    std::ifstream in(source.plan, std::ios::binary);
    if (!in) return Targets{{}, "cannot read the plan " + source.plan};
    return ParsePlan(in, source.plan);
}

std::string TargetName(const db::Target& target) {
    return target.table + "." + target.column;
}

}  // namespace tarvola::tool
