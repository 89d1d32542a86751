#include "test_support.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvola::test {
namespace {

int NibbleValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("not a hex digit");
}

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

// The string value of `"name": "..."` at or after `from` and before `limit`.
std::string JsonString(const std::string& text, std::size_t from, std::size_t limit,
                       const std::string& name) {
    const std::size_t key = text.find("\"" + name + "\"", from);
    if (key == std::string::npos || key > limit) throw std::runtime_error("missing " + name);
    const std::size_t open = text.find('"', text.find(':', key) + 1);
    const std::size_t close = text.find('"', open + 1);
    return text.substr(open + 1, close - open - 1);
}

}  // namespace

Bytes FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
    Bytes bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] =
            static_cast<std::uint8_t>(NibbleValue(hex[2 * i]) << 4 | NibbleValue(hex[2 * i + 1]));
    }
    return bytes;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0x0f];
    }
    return hex;
}

std::string DataPath(std::string_view relative) {
    return std::string(TARVOLA_TEST_DATA_DIR) + "/" + std::string(relative);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

namespace {

// Walks a vector file of "[section]" lines and "name = value" lines, skipping
// blank lines and "#" comments; `on_field(section, name, value)` gets each
// field.
template <class OnField>
void ForEachField(const std::string& path, OnField on_field) {
    std::istringstream in(ReadFile(DataPath(path)));
    std::string section;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        on_field(section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
}

}  // namespace

std::vector<RspRecord> ReadRsp(const std::string& file) {
    std::vector<RspRecord> records;
    ForEachField("nist/" + file, [&](const std::string& section, const std::string& name,
                                     const std::string& value) {
        if (name == "COUNT") records.push_back({file, section, {}});
        records.back().fields[name] = value;
    });
    return records;
}

std::vector<Record> ReadRecords(const std::string& file, const std::string& first_field) {
    std::vector<Record> records;
    ForEachField(file, [&](const std::string& /*section*/, const std::string& name,
                           const std::string& value) {
        if (name == first_field) records.emplace_back();
        if (records.empty()) throw std::runtime_error(file + ": field before " + first_field);
        records.back()[name] = value;
    });
    return records;
}

std::map<std::string, std::string> ReadFipsSection(std::string_view wanted) {
    std::map<std::string, std::string> fields;
    ForEachField("fips197.txt", [&](const std::string& section, const std::string& name,
                                    const std::string& value) {
        if (section == wanted) fields[name] = value;
    });
    if (fields.empty()) throw std::runtime_error("no section " + std::string(wanted));
    return fields;
}

std::vector<WycheproofCase> ReadWycheproofCbc() {
    const std::string text = ReadFile(DataPath("wycheproof/aes_cbc_pkcs5_test.json"));
    std::vector<WycheproofCase> cases;
    int key_bits = 0;
    std::size_t pos = 0;
    // The file's layout: each group names "keySize" before its tests, and every
    // test object starts with "tcId" and ends with its "result".
    while (true) {
        const std::size_t group = text.find("\"keySize\"", pos);
        const std::size_t test = text.find("\"tcId\"", pos);
        if (test == std::string::npos) break;
        if (group < test) {
            key_bits = std::stoi(text.substr(text.find(':', group) + 1));
            pos = group + 1;
            continue;
        }
        const std::size_t end = text.find('}', test);
        WycheproofCase c;
        c.id = std::stoi(text.substr(text.find(':', test) + 1));
        c.key_bits = key_bits;
        c.comment = JsonString(text, test, end, "comment");
        c.key = FromHex(JsonString(text, test, end, "key"));
        c.iv = FromHex(JsonString(text, test, end, "iv"));
        c.msg = FromHex(JsonString(text, test, end, "msg"));
        c.ct = FromHex(JsonString(text, test, end, "ct"));
        c.valid = JsonString(text, test, end, "result") == "valid";
        cases.push_back(std::move(c));
        pos = end;
    }
    return cases;
}

}  // namespace tarvola::test
