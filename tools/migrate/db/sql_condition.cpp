#include "migrate/db/sql_condition.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace tarvola::tool::db {
namespace {

constexpr std::size_t kNpos = std::string_view::npos;

// What a ';' is to one reader of the text, from harmless to dangerous.
enum class Place : std::uint8_t { kNowhere, kPlainString, kQuoted, kComment, kCode };

// Who reads the text this way. A server's default mode decides everything;
// another mode the server may be set to, or a driver's scan for the ';'
// between the statements it then runs one by one, decides only where a ';'
// stands: what else they get wrong, the server refuses.
enum class Role : std::uint8_t { kServer, kServerMode, kDriverScan };

enum class EscapePrefix : std::uint8_t {
    kNone,
    kLoneE,          // E'…' or e'…', the E a token of its own (PostgreSQL)
    kAfterCapitalE,  // any '…' right after a capital E (psqlODBC)
};

enum class DollarQuotes : std::uint8_t {
    kNone,
    kPostgres,  // $$, $tag$ with a tag of letters, '_' and digits not first
    kPsqlOdbc,  // $$, $tag$ with a tag of letters and digits
};

enum class DashComments : std::uint8_t {
    kDoubleDash,   // -- (SQL)
    kBeforeBlank,  // -- before a blank, a control character or the end (MySQL)
    kSingleDash,   // any '-' (MariaDB's driver scanning for statements)
};

// The quoting and comment forms of one reader.
struct Reading {
    Role role = Role::kServer;
    // '…' takes backslash escapes (MySQL unless NO_BACKSLASH_ESCAPES,
    // PostgreSQL with standard_conforming_strings off).
    bool backslash_strings = false;
    // "…" too (MySQL without ANSI_QUOTES, where it is a string).
    bool backslash_double_quotes = false;
    EscapePrefix escape_prefix = EscapePrefix::kNone;
    // B'…' and X'…' never take escapes.
    bool raw_bit_strings = false;
    DollarQuotes dollar_quotes = DollarQuotes::kNone;
    bool backticks = false;
    bool brackets = false;
    // "]]" inside brackets stands for "]" (SQL Server), or the first "]"
    // closes them (SQLite).
    bool doubled_brackets = false;
    bool hash_comments = false;
    DashComments dash_comments = DashComments::kDoubleDash;
    // A line comment ends at a CR too, not only at an LF.
    bool comment_ends_at_cr = false;
    bool nested_comments = false;
    // /*! … */, /*M! … */ and /*+ … */ run as code on some versions.
    bool executable_comments = false;
    // MariaDB's driver: a quote left open is taken back, and the scan goes
    // on after it as code; a comment starting with '-' ends at the first LF
    // after the byte following it.
    bool mariadb_driver_quirks = false;
};

struct DialectReading {
    Dialect dialect;
    Reading reading;
};

constexpr Reading kPostgres{.escape_prefix = EscapePrefix::kLoneE,
                            .raw_bit_strings = true,
                            .dollar_quotes = DollarQuotes::kPostgres,
                            .comment_ends_at_cr = true,
                            .nested_comments = true};
constexpr Reading kPsqlOdbc{.role = Role::kDriverScan,
                            .escape_prefix = EscapePrefix::kAfterCapitalE,
                            .dollar_quotes = DollarQuotes::kPsqlOdbc,
                            .nested_comments = true};
constexpr Reading kMySql{.backslash_strings = true,
                         .backslash_double_quotes = true,
                         .raw_bit_strings = true,
                         .backticks = true,
                         .hash_comments = true,
                         .dash_comments = DashComments::kBeforeBlank,
                         .executable_comments = true};
constexpr Reading kMariaDbOdbc{.role = Role::kDriverScan,
                               .backslash_strings = true,
                               .backslash_double_quotes = true,
                               .backticks = true,
                               .hash_comments = true,
                               .dash_comments = DashComments::kSingleDash,
                               .mariadb_driver_quirks = true};
constexpr Reading kSqlServer{.brackets = true, .doubled_brackets = true, .nested_comments = true};
constexpr Reading kSqlite{.backticks = true, .brackets = true};

// `reading` in another role, with `change` made to it.
template <class Change>
constexpr Reading Variant(Reading reading, Role role, Change change) {
    reading.role = role;
    change(reading);
    return reading;
}

constexpr auto kNoBackslashes = [](Reading& r) {
    r.backslash_strings = false;
    r.backslash_double_quotes = false;
};
constexpr auto kBackslashes = [](Reading& r) { r.backslash_strings = true; };
constexpr auto kAnsiQuotes = [](Reading& r) { r.backslash_double_quotes = false; };

// Every reader the tool knows, by dialect: servers in their default mode
// and in the others that change quoting, and the drivers that cut a text
// into statements themselves.
constexpr DialectReading kReadings[] = {
    {Dialect::kPostgres, kPostgres},
    // standard_conforming_strings = off
    {Dialect::kPostgres, Variant(kPostgres, Role::kServerMode, kBackslashes)},
    {Dialect::kPostgres, kPsqlOdbc},
    {Dialect::kPostgres, Variant(kPsqlOdbc, Role::kDriverScan, kBackslashes)},
    {Dialect::kMySql, kMySql},
    {Dialect::kMySql, Variant(kMySql, Role::kServerMode, kAnsiQuotes)},
    {Dialect::kMySql, Variant(kMySql, Role::kServerMode, kNoBackslashes)},
    {Dialect::kMySql, kMariaDbOdbc},
    {Dialect::kMySql, Variant(kMariaDbOdbc, Role::kDriverScan, kAnsiQuotes)},
    {Dialect::kMySql, Variant(kMariaDbOdbc, Role::kDriverScan, kNoBackslashes)},
    {Dialect::kSqlServer, kSqlServer},
    {Dialect::kSqlServer,
     Variant(kSqlServer, Role::kServerMode, [](Reading& r) { r.comment_ends_at_cr = true; })},
    {Dialect::kSqlite, kSqlite},
};

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsNonAscii(char c) noexcept {
    return static_cast<unsigned char>(c) >= 0x80;
}

// A byte of a name, a keyword or a number.
bool IsWordByte(char c) noexcept {
    return IsLetter(c) || IsDigit(c) || IsNonAscii(c) || c == '_' || c == '$';
}

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> choices) noexcept {
    return std::find(choices.begin(), choices.end(), text) != choices.end();
}

// The index after the quote closing the one at `open`; a closing quote
// written twice stands for itself when `doubled`. kNpos when the text ends
// first.
std::size_t QuotedEnd(std::string_view sql, std::size_t open, char close, bool escapes,
                      bool doubled = true) {
    for (std::size_t i = open + 1; i < sql.size(); ++i) {
        if (escapes && sql[i] == '\\') {
            ++i;
        } else if (sql[i] == close) {
            if (doubled && i + 1 < sql.size() && sql[i + 1] == close) {
                ++i;
            } else {
                return i + 1;
            }
        }
    }
    return kNpos;
}

// The index after the "*/" closing the comment at `open`.
std::size_t BlockCommentEnd(std::string_view sql, std::size_t open, bool nested) {
    int depth = 1;
    for (std::size_t i = open + 2; i + 1 < sql.size(); ++i) {
        if (nested && sql[i] == '/' && sql[i + 1] == '*') {
            ++depth;
            ++i;
        } else if (sql[i] == '*' && sql[i + 1] == '/') {
            ++i;
            if (--depth == 0) return i + 1;
        }
    }
    return kNpos;
}

// The length of the dollar-quote delimiter ($$ or $tag$) at `at`, 0 when
// there is none.
std::size_t DollarTagLength(std::string_view sql, std::size_t at, DollarQuotes quotes) {
    std::size_t i = at + 1;
    const auto tag_byte = [&](char c) {
        if (quotes == DollarQuotes::kPsqlOdbc) return IsLetter(c) || IsDigit(c) || IsNonAscii(c);
        return IsLetter(c) || IsNonAscii(c) || c == '_' || (i > at + 1 && IsDigit(c));
    };
    while (i < sql.size() && tag_byte(sql[i])) ++i;
    return i < sql.size() && sql[i] == '$' ? i + 1 - at : 0;
}

bool StartsLineComment(std::string_view sql, std::size_t i, const Reading& reading) {
    if (sql[i] == '#') return reading.hash_comments;
    if (sql[i] != '-') return false;
    if (reading.dash_comments == DashComments::kSingleDash) return true;
    if (i + 1 == sql.size() || sql[i + 1] != '-') return false;
    if (reading.dash_comments == DashComments::kDoubleDash) return true;
    if (i + 2 == sql.size()) return true;
    const auto after = static_cast<unsigned char>(sql[i + 2]);
    return after <= ' ' || after == 0x7F;
}

struct Lexed {
    // The most dangerous place of any ';'.
    Place semicolon = Place::kNowhere;
    // The text ends inside a quote or a comment.
    bool unclosed = false;
    // A ')' without its '(', or a '(' without its ')'.
    bool unbalanced = false;
    // A construct server versions read differently.
    bool ambiguous = false;
};

// One reader's way through the text, byte by byte in code and a whole
// quote or comment at a time.
class Lexer {
  public:
    Lexer(std::string_view sql, const Reading& reading) : sql_(sql), reading_(reading) {}

    Lexed Run() {
        int depth = 0;
        while (at_ < sql_.size()) {
            if (Construct()) continue;
            const char c = sql_[at_];
            if (c == '(') ++depth;
            if (c == ')' && --depth < 0) lexed_.unbalanced = true;
            if (c == ';') lexed_.semicolon = Place::kCode;
            if (!IsWordByte(c)) {
                word_ = kNpos;
            } else if (word_ == kNpos) {
                word_ = at_;
            }
            ++at_;
        }
        lexed_.unbalanced = lexed_.unbalanced || depth != 0;
        return lexed_;
    }

  private:
    // Takes in the quote or comment starting here, if any.
    bool Construct() {
        const char c = sql_[at_];
        const char next = at_ + 1 < sql_.size() ? sql_[at_ + 1] : '\0';
        if (c == '\'') {
            String();
        } else if (c == '"') {
            Enclose(QuotedEnd(sql_, at_, '"', reading_.backslash_double_quotes), Place::kQuoted);
        } else if (c == '`' && reading_.backticks) {
            Enclose(QuotedEnd(sql_, at_, '`', false), Place::kQuoted);
        } else if (c == '[' && reading_.brackets) {
            Enclose(QuotedEnd(sql_, at_, ']', false, reading_.doubled_brackets), Place::kQuoted);
        } else if (c == '$' && reading_.dollar_quotes != DollarQuotes::kNone) {
            return DollarQuote();
        } else if (StartsLineComment(sql_, at_, reading_)) {
            const std::size_t from = reading_.mariadb_driver_quirks && c == '-' ? at_ + 2 : at_;
            Enclose(sql_.find_first_of(reading_.comment_ends_at_cr ? "\r\n" : "\n", from),
                    Place::kComment);
        } else if (c == '/' && next == '*') {
            const std::string_view rest = sql_.substr(at_ + 2);
            if (reading_.executable_comments &&
                (rest.starts_with('!') || rest.starts_with("M!") || rest.starts_with('+')))
                lexed_.ambiguous = true;
            Enclose(BlockCommentEnd(sql_, at_, reading_.nested_comments), Place::kComment);
        } else {
            return false;
        }
        word_ = kNpos;
        return true;
    }

    // A string: its prefix, the word right before the quote (E'…', N'…',
    // X'…', _utf8'…'), decides how it is read; only an unprefixed one is
    // plain.
    void String() {
        const std::string_view prefix =
            word_ == kNpos ? std::string_view() : sql_.substr(word_, at_ - word_);
        bool escapes = reading_.backslash_strings;
        if (reading_.raw_bit_strings && IsOneOf(prefix, {"b", "B", "x", "X"})) {
            escapes = false;
        } else if (reading_.escape_prefix == EscapePrefix::kLoneE) {
            escapes = escapes || IsOneOf(prefix, {"e", "E"});
            // "1E'…'": a number, then an E string on some versions.
            lexed_.ambiguous =
                lexed_.ambiguous ||
                (prefix.size() > 1 && (prefix.back() == 'e' || prefix.back() == 'E') &&
                 !IsLetter(prefix.front()) && !IsNonAscii(prefix.front()) && prefix.front() != '_');
        } else if (reading_.escape_prefix == EscapePrefix::kAfterCapitalE) {
            escapes = escapes || prefix.ends_with('E');
        }
        Enclose(QuotedEnd(sql_, at_, '\'', escapes),
                prefix.empty() ? Place::kPlainString : Place::kQuoted);
    }

    // False when the '$' is an ordinary byte here: part of a name, or no
    // delimiter.
    bool DollarQuote() {
        if (word_ != kNpos) {
            const std::string_view word = sql_.substr(word_, at_ - word_);
            if (reading_.dollar_quotes == DollarQuotes::kPsqlOdbc) {
                // Its names start at any letter or digit and take '$' in.
                if (std::any_of(word.begin(), word.end(),
                                [](char c) { return IsLetter(c) || IsDigit(c) || IsNonAscii(c); }))
                    return false;
            } else if (IsLetter(word.front()) || IsNonAscii(word.front()) || word.front() == '_') {
                return false;
            } else if (!std::all_of(word.begin(), word.end(),
                                    [](char c) { return IsDigit(c) || c == '$'; })) {
                // "0x1F$$", "1e$$": a number, then a dollar quote on some
                // versions only.
                lexed_.ambiguous = true;
            }
        }
        const std::size_t length = DollarTagLength(sql_, at_, reading_.dollar_quotes);
        if (length == 0) return false;
        const std::size_t close = sql_.find(sql_.substr(at_, length), at_ + length);
        Enclose(close == kNpos ? kNpos : close + length, Place::kQuoted);
        word_ = kNpos;
        return true;
    }

    void Enclose(std::size_t end, Place place) {
        if (end == kNpos && reading_.mariadb_driver_quirks && place != Place::kComment) {
            ++at_;
            return;
        }
        Mark(end, place);
        lexed_.unclosed = lexed_.unclosed || end == kNpos;
        at_ = end == kNpos ? sql_.size() : end;
    }

    // The construct from here to `end` is `place`.
    void Mark(std::size_t end, Place place) {
        const std::string_view inside = sql_.substr(at_, end == kNpos ? kNpos : end - at_);
        if (inside.find(';') != kNpos) lexed_.semicolon = std::max(lexed_.semicolon, place);
    }

    std::string_view sql_;
    const Reading& reading_;
    Lexed lexed_;
    std::size_t at_ = 0;
    // Where the run of word bytes ending here began.
    std::size_t word_ = kNpos;
};

// Why a condition is refused, from the least to the most pressing reason.
enum class Refusal : std::uint8_t {
    kNone,
    kUnbalanced,
    kUnclosed,
    kOdbcSemicolon,
    kAmbiguous,
    kStatementEnd,
};

constexpr std::string_view kRefusalReasons[] = {
    "",
    "its parentheses do not pair up",
    "it ends inside a quote or a comment, which would take in the SQL after it",
    "through ODBC a ';' may only stand inside a plain '...' string: a driver may run what "
    "follows it as a statement of its own",
    "it holds a ';' and a construct that server versions read differently (a /*! ... */ "
    "comment, or a number run into E'...' or $...$)",
    "its ';' could end the statement and start another",
};

Refusal RefusalOf(const Lexed& lexed, const Reading& reading, Route route) {
    if (lexed.semicolon == Place::kCode) return Refusal::kStatementEnd;
    if (lexed.semicolon != Place::kNowhere && lexed.ambiguous) return Refusal::kAmbiguous;
    if (reading.role != Role::kServer) return Refusal::kNone;
    if (route == Route::kOdbc && lexed.semicolon > Place::kPlainString)
        return Refusal::kOdbcSemicolon;
    if (lexed.unclosed) return Refusal::kUnclosed;
    if (lexed.unbalanced) return Refusal::kUnbalanced;
    return Refusal::kNone;
}

}  // namespace

void CheckSingleCondition(std::string_view where, Dialect dialect, Route route) {
    Refusal refusal = Refusal::kNone;
    for (const auto& [reader_dialect, reading] : kReadings) {
        if (dialect != Dialect::kOther && reader_dialect != dialect) continue;
        if (route == Route::kOneStatement && reading.role == Role::kDriverScan) continue;
        refusal = std::max(refusal, RefusalOf(Lexer(where, reading).Run(), reading, route));
    }
    if (refusal != Refusal::kNone)
        throw Error(Error::Kind::kUsage,
                    "--where must be one condition: " +
                        std::string(kRefusalReasons[static_cast<std::size_t>(refusal)]));
}

}  // namespace tarvola::tool::db
