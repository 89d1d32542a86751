#include "key_source.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "terminal.h"

namespace tarvola::tool {
namespace {

FetchedKey Failure(std::string error) {
    return FetchedKey{std::nullopt, std::move(error)};
}

FetchedKey Found(SecretText key) {
    return FetchedKey{std::move(key), {}};
}

void DropCarriageReturn(SecretString& line) noexcept {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

FetchedKey ReadKeyFile(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return Failure("key file '" + path + "' is a directory");
    }
    // The stream reads through this buffer, which is wiped afterwards; its
    // own buffer would keep the key after the file is closed.
    std::array<char, 512> buffer{};
    std::ifstream file;
    file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    file.open(path, std::ios::binary);
    if (!file.is_open()) {
        const int error = errno;
        return Failure("cannot open key file '" + path + "': " + std::strerror(error));
    }
    SecretText key;
    std::getline(file, key.value());
    const bool failed = file.bad();
    file.close();
    secure_wipe(buffer.data(), buffer.size());
    if (failed) return Failure("cannot read key file '" + path + "'");
    DropCarriageReturn(key.value());
    return Found(std::move(key));
}

FetchedKey ReadKeyEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return Failure("environment variable '" + name + "' is not set");
    return Found(SecretText(value));
}

FetchedKey AskForKey(bool confirm) {
    if (!IsTerminal(StandardStream::kInput)) {
        return Failure(
            "no key given: use --key-file FILE or --key-env VAR (standard input is not a "
            "terminal to ask on)");
    }
    auto key = ReadHiddenLine("Key: ");
    if (!key) return Failure("no key entered");
    if (confirm) {
        const auto again = ReadHiddenLine("Repeat the key: ");
        if (!again || again->view() != key->view()) return Failure("the two keys differ");
    }
    return Found(std::move(*key));
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

}  // namespace tarvola::tool
