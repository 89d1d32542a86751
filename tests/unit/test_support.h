// Helpers shared by the unit tests: hex conversion and readers for the
// known-answer files in tests/data.
#ifndef TARVOLA_TESTS_TEST_SUPPORT_H
#define TARVOLA_TESTS_TEST_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarvola::test {

using Bytes = std::vector<std::uint8_t>;

[[nodiscard]] Bytes FromHex(std::string_view hex);
[[nodiscard]] std::string ToHex(const std::uint8_t* data, std::size_t size);
template <class Container>
[[nodiscard]] std::string ToHex(const Container& bytes) {
    return ToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

[[nodiscard]] std::string DataPath(std::string_view relative);
[[nodiscard]] std::string ReadFile(const std::string& path);

// One record of a NIST CAVP .rsp file: its section ("ENCRYPT"/"DECRYPT") and
// its NAME = value fields (COUNT, KEY, IV, PLAINTEXT, CIPHERTEXT).
struct RspRecord {
    std::string file;
    std::string section;
    std::map<std::string, std::string> fields;

    [[nodiscard]] Bytes Field(const std::string& name) const { return FromHex(fields.at(name)); }
    [[nodiscard]] bool Encrypts() const { return section == "ENCRYPT"; }
};
[[nodiscard]] std::vector<RspRecord> ReadRsp(const std::string& file);

// The records of a "NAME = value" file under tests/data, each starting at a
// line that names `first_field`.
using Record = std::map<std::string, std::string>;
[[nodiscard]] std::vector<Record> ReadRecords(const std::string& file,
                                              const std::string& first_field);

// The "NAME = hex" lines of one [SECTION] of fips197.txt.
[[nodiscard]] std::map<std::string, std::string> ReadFipsSection(std::string_view section);

// One Wycheproof AES-CBC-PKCS5 test.
struct WycheproofCase {
    int id = 0;
    int key_bits = 0;
    std::string comment;
    Bytes key, iv, msg, ct;
    bool valid = false;
};
[[nodiscard]] std::vector<WycheproofCase> ReadWycheproofCbc();

}  // namespace tarvola::test

#endif  // TARVOLA_TESTS_TEST_SUPPORT_H
