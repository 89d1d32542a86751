// Runs Encrypt and Decrypt for the cross-platform test, built for Linux and
// for Windows from this one source so that both sides take the same requests.
//
// Each input line is "E|D MODE KEY TEXT": E encrypts, D decrypts, MODE is the
// mode argument, KEY and TEXT are hex ("-" for an empty one). Each output line
// is "RESULT OUTPUT": the return code and the output text in hex ("-" when
// empty). Output buffers are sized as tarvolacrypt.h asks, no larger, and
// prepared as it asks (an empty text for mode-0 encryption, zeros for mode-0
// decryption).
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tarvolacrypt.h"

namespace {

std::string FromHex(const std::string& hex) {
    if (hex == "-") return {};
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

std::string ToHex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

std::size_t OutputSize(bool encrypt, std::int32_t mode, const std::string& input) {
    const std::size_t length = input.size();
    if (encrypt && mode == 0) return TARVOLA_ENCRYPT_SIZE_MODE0(length);
    if (encrypt) return TARVOLA_ENCRYPT_SIZE_MODE1(length);
    if (mode == 0) return TARVOLA_DECRYPT_SIZE_MODE0(length);
    const std::size_t separator = input.find('$');
    const std::size_t after = separator == std::string::npos ? 0 : length - separator - 1;
    return TARVOLA_DECRYPT_SIZE_MODE1(after);
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string direction, key_hex, text_hex;
        std::int32_t mode = 0;
        if (!(fields >> direction >> mode >> key_hex >> text_hex)) {
            std::cerr << "bad request: " << line << '\n';
            return 2;
        }
        const bool encrypt = direction == "E";
        const std::string key = FromHex(key_hex);
        const std::string input = FromHex(text_hex);
        std::vector<char> output(OutputSize(encrypt, mode, input), '\0');
        const std::int32_t result = encrypt
                                        ? Encrypt(input.c_str(), key.c_str(), output.data(), mode)
                                        : Decrypt(input.c_str(), key.c_str(), output.data(), mode);
        std::cout << result << ' ' << ToHex(std::string(output.data())) << '\n';
    }
    return std::cout.good() ? 0 : 1;
}
