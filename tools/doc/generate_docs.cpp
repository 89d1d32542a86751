// Writes the man page, its option entries filled in from the tool's option
// table, and the bash completion, whole from the same table: what the
// documents say about an option is written once, in its row.
//
// Usage: generate_docs MAN_TEMPLATE MAN_PAGE COMPLETION
#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/command_line.h"

namespace tarvola::tool {
namespace {

// The template's lines that stand for the entries of a section.
constexpr std::pair<std::string_view, OptionSection> kManSections[] = {
    {"@KEYS@", OptionSection::kKey},
    {"@OPTIONS@", OptionSection::kGeneral},
    {"@MIGRATE_OPTIONS@", OptionSection::kMigrate},
    {"@SCAN_OPTIONS@", OptionSection::kScan},
};

// An upper-case word (FILE, COLUMN[,COLUMN...]) stands for what the user
// fills in; "0|1|auto" lists the values themselves.
bool IsPlaceholder(std::string_view value) {
    for (const char c : value) {
        if (std::isupper(static_cast<unsigned char>(c)) != 0) return true;
    }
    return false;
}

std::string Roff(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '-') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string Bold(std::string_view name) {
    return "\\fB" + Roff(name) + "\\fR";
}

// A placeholder in italics and lower case, its brackets and commas upright;
// literal values as they are.
std::string ManValue(std::string_view value) {
    if (!IsPlaceholder(value)) return Roff(value);
    std::string text;
    bool italic = false;
    for (const char c : value) {
        const bool letter = std::isalpha(static_cast<unsigned char>(c)) != 0;
        if (letter != italic) text += letter ? "\\fI" : "\\fR";
        italic = letter;
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return italic ? text + "\\fR" : text;
}

// "-0, --null" or "--jobs n": the line an entry starts with.
std::string ManTag(const OptionSpec& spec) {
    std::string tag;
    if (!spec.alias.empty()) tag += Bold(spec.alias) + ", ";
    tag += Bold(spec.name);
    if (spec.TakesValue()) tag.append(" ").append(ManValue(spec.value));
    return tag;
}

// The section's entries in table order; rows without a paragraph of their own
// share the next one's.
std::string ManEntries(OptionSection section) {
    std::string entries;
    std::string tags;
    for (const OptionSpec& spec : OptionTable()) {
        if (spec.man_section.value_or(spec.section) == section) {
            tags += ManTag(spec);
            if (spec.man.empty()) {
                tags += ", ";
            } else {
                entries += ".TP\n" + tags + "\n" + std::string(spec.man) + "\n";
                tags.clear();
            }
        }
        if (section == OptionSection::kMigrate && !spec.migrate_man.empty())
            entries += ".TP\n" + ManTag(spec) + "\n" + std::string(spec.migrate_man) + "\n";
    }
    return entries;
}

// The template with each section's line replaced by its entries; empty when
// a section's line is missing.
std::string ManPage(std::istream& man_template) {
    std::string page;
    std::size_t filled = 0;
    for (std::string line; std::getline(man_template, line);) {
        const auto* section =
            std::find_if(std::begin(kManSections), std::end(kManSections),
                         [&line](const auto& entry) { return line == entry.first; });
        if (section == std::end(kManSections)) {
            page += line + "\n";
        } else {
            page += ManEntries(section->second);
            ++filled;
        }
    }
    return filled == std::size(kManSections) ? page : std::string();
}

// What completes the value of `spec` after `command`: a shell command, or
// empty for nothing.
std::string ValueCompletion(const OptionSpec& spec, Command command) {
    if (spec.value == "FILE") return "_filedir";
    if (spec.value == "VAR") return "COMPREPLY=($(compgen -v -- \"$cur\"))";
    if (IsPlaceholder(spec.value)) return {};
    // The listed values this command takes (encrypt's --mode has no auto).
    std::string words;
    for (std::string_view rest = spec.value; !rest.empty();) {
        const std::size_t bar = std::min(rest.find('|'), rest.size());
        if (AcceptsValue(spec, command, rest.substr(0, bar)))
            words.append(words.empty() ? "" : " ").append(rest.substr(0, bar));
        rest.remove_prefix(std::min(bar + 1, rest.size()));
    }
    return "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))";
}

using Arms = std::vector<std::pair<std::string, std::string>>;  // completion, patterns

void AddToArm(Arms& arms, const std::string& completion, const std::string& pattern) {
    auto arm = std::find_if(arms.begin(), arms.end(),
                            [&](const auto& entry) { return entry.first == completion; });
    if (arm == arms.end()) {
        arms.emplace_back(completion, pattern);
    } else {
        arm->second.append(" | \\\n        ").append(pattern);
    }
}

// The arms of `case "$command $prev"`: what to offer after an option that
// takes a value, the options that offer the same in one arm. An option
// completed alike after every command that takes it has one pattern for all.
std::string ValueArms() {
    Arms arms;
    for (const OptionSpec& spec : OptionTable()) {
        if (!spec.TakesValue()) continue;
        Arms by_command;
        for (const Command command : kCommands) {
            if (!spec.TakenBy(command)) continue;
            std::string pattern = "\"";
            pattern.append(NameOf(command)).append(" ").append(spec.name).append("\"");
            by_command.emplace_back(ValueCompletion(spec, command), pattern);
        }
        if (std::all_of(by_command.begin(), by_command.end(),
                        [&](const auto& entry) { return entry.first == by_command[0].first; })) {
            std::string pattern = "*\" ";
            by_command = {{by_command[0].first, pattern.append(spec.name).append("\"")}};
        }
        for (const auto& [completion, pattern] : by_command) AddToArm(arms, completion, pattern);
    }
    std::string text;
    for (const auto& [completion, patterns] : arms) {
        text += "        " + patterns + ")\n";
        if (!completion.empty()) text += "            " + completion + "\n";
        text += "            return\n            ;;\n";
    }
    return text;
}

// The options each command takes, for `case $command`.
std::string OptionArms() {
    std::string text;
    for (const Command command : kCommands) {
        std::string options;
        for (const OptionSpec& spec : OptionTable()) {
            if (!spec.TakenBy(command)) continue;
            if (!spec.alias.empty()) options.append(spec.alias).append(" ");
            options.append(spec.name).append(" ");
        }
        // -- ends the options before TEXT arguments, which migrate and scan
        // do not take.
        options +=
            command == Command::kMigrate || command == Command::kScan ? "--help" : "--help --";
        text += "        " + std::string(NameOf(command)) + ") options=\"" + options + "\" ;;\n";
    }
    return text;
}

std::string Completion() {
    std::string commands;
    std::string command_pattern;
    for (const Command command : kCommands) {
        commands.append(commands.empty() ? "" : " ").append(NameOf(command));
        command_pattern.append(command_pattern.empty() ? "" : " | ").append(NameOf(command));
    }
    return R"(# bash completion for tarvolacrypt                          -*- shell-script -*-
# Made from the tool's option table (tools/cli/command_line.cpp) by
# tools/doc/generate_docs.cpp: change the table, not this file.

_tarvolacrypt()
{
    local cur prev words cword
    _init_completion || return

    local command="" word
    for word in "${words[@]:1:cword-1}"; do
        case $word in
            )" +
           command_pattern +
           R"() command=$word; break ;;
        esac
    done

    case "$command $prev" in
)" + ValueArms() +
           R"(    esac

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W ")" +
           commands + R"( --help --version" -- "$cur"))
        return
    fi

    local options
    case $command in
)" + OptionArms() +
           R"(    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    fi
} &&
    complete -F _tarvolacrypt tarvolacrypt

# ex: filetype=sh
)";
}

bool WriteFile(const char* path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (file) return true;
    std::cerr << "generate_docs: cannot write " << path << '\n';
    return false;
}

}  // namespace
}  // namespace tarvola::tool

int main(int argc, char** argv) {
    using namespace tarvola::tool;
    if (argc != 4) {
        std::cerr << "usage: generate_docs MAN_TEMPLATE MAN_PAGE COMPLETION\n";
        return 2;
    }
    std::ifstream man_template(argv[1]);
    const std::string page = ManPage(man_template);
    if (!man_template.eof() || page.empty()) {
        std::cerr << "generate_docs: cannot read " << argv[1]
                  << ", or it lacks a line standing for a section's options\n";
        return 1;
    }
    return WriteFile(argv[2], page) && WriteFile(argv[3], Completion()) ? 0 : 1;
}
