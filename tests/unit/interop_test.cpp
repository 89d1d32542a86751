// Mode 1 against a peer we did not write: the `openssl enc` command opens our
// envelopes, and envelopes it makes (with base64) open with our Decrypt.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "envelope/base64.h"
#include "platform/platform.h"
#include "tarvolacrypt.h"
#include "test_support.h"

namespace tarvola {
namespace {

bool HaveOpensslCommand() {
    return std::system("openssl version >/dev/null 2>&1") == 0;
}

class OpensslCommand : public testing::Test {
  protected:
    void SetUp() override {
        if (!HaveOpensslCommand()) GTEST_SKIP() << "the openssl command is not installed";
        char pattern[] = "/tmp/tarvola-interop-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // Runs a shell command and returns its standard output, or nothing when
    // it exits non-zero.
    std::optional<std::string> Run(const std::string& command) {
        const std::string out = dir_ + "/stdout";
        if (std::system((command + " > '" + out + "' 2>/dev/null").c_str()) != 0) {
            return std::nullopt;
        }
        return test::ReadFile(out);
    }

    void Write(const std::string& name, const std::string& contents) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << contents;
    }

    std::string dir_;
};

// The AES key and cipher name `openssl enc` needs for a key text.
struct OpensslKey {
    std::string cipher;
    std::string hex;
};
OpensslKey KeyFor(const std::string& key_text) {
    std::string material = key_text;
    material.resize((key_text.size() / 16 + 1) * 16, '\0');
    return {material.size() == 16 ? "-aes-128-cbc" : "-aes-256-cbc", test::ToHex(material)};
}

std::string RandomText(std::mt19937& rng, std::size_t length) {
    std::uniform_int_distribution<int> printable(32, 126);
    std::string text(length, ' ');
    for (auto& c : text) c = static_cast<char>(printable(rng));
    return text;
}

TEST_F(OpensslCommand, OpensOurEnvelopes) {
    std::mt19937 rng(1);
    for (const std::size_t key_length : {0U, 5U, 15U, 16U, 17U, 31U}) {
        for (const std::size_t length : {0U, 1U, 16U, 47U}) {
            const std::string key = RandomText(rng, key_length);
            const std::string text = RandomText(rng, length);
            std::string envelope(200, '\0');
            ASSERT_EQ(Encrypt(text.c_str(), key.c_str(), envelope.data(), 1), 0);
            envelope.resize(std::strlen(envelope.c_str()));
            const auto dollar = envelope.find('$');
            const auto iv = envelope::Base64Decode(envelope.substr(0, dollar));
            Write("ct.b64", envelope.substr(dollar + 1) + "\n");
            const OpensslKey k = KeyFor(key);
            const auto opened = Run("base64 -d '" + dir_ + "/ct.b64' | openssl enc -d " + k.cipher +
                                    " -K " + k.hex + " -iv " + test::ToHex(iv));
            ASSERT_TRUE(opened.has_value()) << "openssl refused " << envelope;
            EXPECT_EQ(*opened, text) << "key length " << key_length;
        }
    }
}

TEST_F(OpensslCommand, ItsEnvelopesOpenWithOurDecrypt) {
    std::mt19937 rng(2);
    for (const std::size_t key_length : {0U, 9U, 16U, 30U}) {
        for (const std::size_t length : {0U, 7U, 32U, 100U}) {
            const std::string key = RandomText(rng, key_length);
            const std::string text = RandomText(rng, length);
            Write("plain", text);
            const OpensslKey k = KeyFor(key);
            const std::string iv_hex = "000102030405060708090a0b0c0d0e0f";
            const auto ct = Run("openssl enc " + k.cipher + " -K " + k.hex + " -iv " + iv_hex +
                                " -in '" + dir_ + "/plain' | base64 -w0");
            ASSERT_TRUE(ct.has_value());
            const std::string envelope = *envelope::Base64Encode(test::FromHex(iv_hex)) + "$" + *ct;
            std::string out(envelope.size(), '#');
            ASSERT_EQ(Decrypt(envelope.c_str(), key.c_str(), out.data(), 1), 0) << envelope;
            EXPECT_EQ(std::string(out.c_str()), text);
        }
    }
}

}  // namespace
}  // namespace tarvola
