#include "migrate/plan.h"

#include <fstream>

namespace tarvola::tool {
namespace {

constexpr std::string_view kBlanks = " \t\r";

// Splits one line into fields; false (with `error` set) on an unclosed quote.
bool SplitFields(std::string_view line, std::vector<std::string>& fields, std::string& error) {
    std::size_t at = 0;
    for (;;) {
        at = line.find_first_not_of(kBlanks, at);
        if (at == std::string_view::npos) return true;
        std::string field;
        if (line[at] != '"') {
            const std::size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
            fields.emplace_back(line.substr(at, end - at));
            at = end;
            continue;
        }
        for (++at;; ++at) {
            if (at >= line.size()) {
                error = "a quoted name has no closing quote";
                return false;
            }
            if (line[at] == '"') {
                if (at + 1 < line.size() && line[at + 1] == '"') {
                    ++at;
                } else {
                    break;
                }
            }
            field += line[at];
        }
        fields.push_back(std::move(field));
        ++at;
    }
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
        db::Target target;
        target.table = std::move(fields[0]);
        target.column = std::move(fields[1]);
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
