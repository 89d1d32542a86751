#include "cli/key_source.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <system_error>

#include "cli/platform.h"

namespace tarvola::tool {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Far above any real key text, small enough that a file without line ends
// (a device such as /dev/zero, a binary picked by mistake) is refused at once
// instead of growing memory until allocation fails.
constexpr std::size_t kKeyLineLimit = 64 * 1024;

FetchedKey Failure(std::string error) {
    return FetchedKey{std::nullopt, std::move(error), {}};
}

FetchedKey Found(SecretText key) {
    return FetchedKey{std::move(key), {}, {}};
}

void DropCarriageReturn(SecretString& line) noexcept {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

enum class LineRead { kRead, kTooLong };

// Reads up to the first LF into `line`, stopping once it would pass `limit`.
LineRead ReadFirstLine(std::istream& in, SecretString& line, std::size_t limit) {
    char c = 0;
    while (in.get(c) && c != '\n') {
        if (line.size() == limit) return LineRead::kTooLong;
        line.push_back(c);
    }
    return LineRead::kRead;
}

// Both become part of the key, though an editor hides them.
std::vector<std::string> KeyFileWarnings(const std::string& path, std::string_view key) {
    std::vector<std::string> warnings;
    if (key.starts_with(kByteOrderMark)) {
        warnings.push_back(
            "key file '" + path +
            "' starts with a UTF-8 byte-order mark, which is used as part of the key");
    }
    if (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
        warnings.push_back("the key in '" + path +
                           "' ends in blanks, which are used as part of the key");
    }
    return warnings;
}

// Others who can read the file can read the secret in it; ssh warns alike.
void WarnIfReadableByOthers(std::string_view what, const std::string& path,
                            std::vector<std::string>& warnings) {
    if (!ReadableByOthers(path)) return;
    warnings.push_back(std::string(what) + " '" + path +
                       "' can be read by other users: chmod go-rwx it");
}

// The first line of the file at `path` without its line end; `what` names
// the file in errors ("key file").
FetchedKey ReadSecretFile(const std::string& path, std::string_view what) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return Failure(std::string(what) + " '" + path + "' is a directory");
    }
    // The stream reads through this buffer, which is wiped afterwards; its
    // own buffer would keep the key after the file is closed.
    std::array<char, 512> buffer{};
    std::ifstream file;
    file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    file.open(path, std::ios::binary);
    if (!file.is_open()) {
        const int error = errno;
        return Failure("cannot open " + std::string(what) + " '" + path +
                       "': " + std::strerror(error));
    }
    SecretText key;
    const LineRead read = ReadFirstLine(file, key.value(), kKeyLineLimit);
    const bool failed = file.bad();
    file.close();
    secure_wipe(buffer.data(), buffer.size());
    if (failed) return Failure("cannot read " + std::string(what) + " '" + path + "'");
    if (read == LineRead::kTooLong) {
        return Failure(std::string(what) + " '" + path + "': the first line is longer than " +
                       std::to_string(kKeyLineLimit) + " bytes, too long for " +
                       (what == "key file" ? "a key text" : "an address"));
    }
    DropCarriageReturn(key.value());
    FetchedKey fetched = Found(std::move(key));
    WarnIfReadableByOthers(what, path, fetched.warnings);
    return fetched;
}

FetchedKey ReadKeyFile(const std::string& path) {
    FetchedKey fetched = ReadSecretFile(path, "key file");
    if (fetched.key) {
        std::vector<std::string> more = KeyFileWarnings(path, fetched.key->view());
        fetched.warnings.insert(fetched.warnings.end(), more.begin(), more.end());
    }
    return fetched;
}

FetchedKey ReadKeyEnvironment(const std::string& name) {
    std::optional<SecretText> value = EnvironmentVariable(name);
    if (!value) return Failure("environment variable '" + name + "' is not set");
    return Found(std::move(*value));
}

FetchedKey AskForKey(bool confirm) {
    HiddenLine key = ReadHiddenLine("Key: ");
    if (key.no_terminal) {
        return Failure(
            "no key given: use --key-file FILE or --key-env VAR (there is no terminal to ask on)");
    }
    if (!key.text) return Failure("no key entered");
    if (confirm) {
        const HiddenLine again = ReadHiddenLine("Repeat the key: ");
        if (!again.text) return Failure("no key entered at the second prompt");
        if (again.text->view() != key.text->view()) return Failure("the two keys differ");
    }
    return Found(std::move(*key.text));
}

}  // namespace

FetchedKey FetchKey(const KeySource& source, bool confirm) {
    const std::string detail(source.origin == KeyOrigin::kArgument ? std::string_view{}
                                                                   : source.detail.view());
    switch (source.origin) {
        case KeyOrigin::kFile:
            return ReadKeyFile(detail);
        case KeyOrigin::kEnvironment:
            return ReadKeyEnvironment(detail);
        case KeyOrigin::kArgument:
            return Found(SecretText(source.detail.view()));
        case KeyOrigin::kPrompt:
            return AskForKey(confirm);
        case KeyOrigin::kNone:
            break;
    }
    return Failure("no key source");
}

std::optional<std::string> KeyRefusal(std::string_view key, bool used_in_mode_1, bool allow_empty) {
    if (key.empty() && !allow_empty) {
        return "the key text is empty (--allow-empty-key accepts it, for values written with one)";
    }
    if (key.find('\0') != std::string_view::npos)
        return std::string(describe(Error::kZeroByteInKey));
    if (used_in_mode_1 && key.size() >= TARVOLA_MODE1_KEY_LIMIT) {
        return std::string(describe(Error::kKeyTooLongForEnvelope));
    }
    return std::nullopt;
}

FetchedKey FetchDatabaseAddress(KeyOrigin origin, const std::string& detail) {
    if (origin == KeyOrigin::kFile) return ReadSecretFile(detail, "database file");
    return ReadKeyEnvironment(detail);
}

}  // namespace tarvola::tool
