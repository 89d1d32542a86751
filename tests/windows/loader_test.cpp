// TarvolaCrypt.dll as a host application meets it: loaded at run time,
// its functions looked up by name or by ordinal, called through pointers.
#include <windows.h>
// windows.h first: GoogleTest's headers may pull in parts of it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tarvolacrypt.h"

namespace {

using EntryPoint = std::int32_t(__cdecl*)(const char*, const char*, char*, std::int32_t);

// The library for the length of one test, released on every path.
class LoadedLibrary {
  public:
    LoadedLibrary() : module_(LoadLibraryA("TarvolaCrypt.dll")) {}
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ~LoadedLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    [[nodiscard]] HMODULE get() const noexcept { return module_; }

    [[nodiscard]] FARPROC ByName(const char* name) const noexcept {
        return GetProcAddress(module_, name);
    }
    [[nodiscard]] FARPROC ByOrdinal(WORD ordinal) const noexcept {
        return GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
    }
    [[nodiscard]] EntryPoint Function(const char* name) const noexcept {
        return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(ByName(name)));
    }

  private:
    HMODULE module_;
};

struct Functions {
    EntryPoint encrypt;
    EntryPoint decrypt;
};

// Encrypts and decrypts `text` under `key` with output buffers of exactly
// the documented sizes; the decrypted text, or "<failed>".
std::string RoundTrip(const Functions& f, const std::string& text, const char* key,
                      std::int32_t mode) {
    const std::size_t length = text.size();
    std::vector<char> sealed(
        mode == 0 ? TARVOLA_ENCRYPT_SIZE_MODE0(length) : TARVOLA_ENCRYPT_SIZE_MODE1(length), '\0');
    if (f.encrypt(text.c_str(), key, sealed.data(), mode) != 0) return "<failed>";
    const std::string value = sealed.data();
    const std::size_t opened_size =
        mode == 0 ? TARVOLA_DECRYPT_SIZE_MODE0(value.size())
                  : TARVOLA_DECRYPT_SIZE_MODE1(value.size() - value.find('$') - 1);
    std::vector<char> opened(opened_size, '\0');
    if (f.decrypt(value.c_str(), key, opened.data(), mode) != 0) return "<failed>";
    return opened.data();
}

// Tests that call the two entry points of the library, loaded for each test.
class LoadedDll : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(library_.get(), nullptr);
        f_ = {library_.Function("Encrypt"), library_.Function("Decrypt")};
        ASSERT_NE(f_.encrypt, nullptr);
        ASSERT_NE(f_.decrypt, nullptr);
    }

    const LoadedLibrary library_;
    Functions f_{};
};

TEST(DllLoader, LoadsFromTheProgramDirectory) {
    const LoadedLibrary library;
    ASSERT_NE(library.get(), nullptr) << "LoadLibraryA failed: " << GetLastError();
    char path[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(library.get(), path, MAX_PATH), 0U);
    const std::string file = path;
    EXPECT_EQ(file.substr(file.find_last_of("\\/") + 1), "TarvolaCrypt.dll");
}

TEST(DllLoader, OrdinalsAndNamesFindTheSameFunctions) {
    const LoadedLibrary library;
    ASSERT_NE(library.get(), nullptr);
    const struct {
        const char* name;
        WORD ordinal;
    } exports[] = {{"Decrypt", 1}, {"Encrypt", 2}};
    for (const auto& e : exports) {
        const FARPROC by_name = library.ByName(e.name);
        ASSERT_NE(by_name, nullptr) << e.name;
        EXPECT_EQ(by_name, library.ByOrdinal(e.ordinal)) << e.name << " @" << e.ordinal;
    }
    EXPECT_NE(library.ByName("Decrypt"), library.ByName("Encrypt"));
    // Hosts look the functions up by their plain names only; no decorated or
    // third export exists.
    for (const char* absent : {"_Encrypt", "Encrypt@16", "_Decrypt@16", "DllMain"}) {
        EXPECT_EQ(library.ByName(absent), nullptr) << absent;
    }
    EXPECT_EQ(library.ByOrdinal(3), nullptr);
}

TEST_F(LoadedDll, RoundTripsInBothModes) {
    const Functions& f = f_;
    const struct {
        const char* text;
        const char* key;
    } cases[] = {{"hello world", "key"},
                 {"", "key"},
                 {"exactly sixteen!", "0123456789abcdef"},
                 {"Server=db;User=app;Password=p@ss$word==", "a key of 31 characters, at most"},
                 {"\xc3\xa9t\xc3\xa9", ""}};
    for (const std::int32_t mode : {0, 1}) {
        for (const auto& c : cases) {
            // Mode 0 cannot give back an empty text: the value decrypts to
            // zero bytes only, which counts as a failure.
            const std::string expected =
                mode == 0 && std::string(c.text).empty() ? "<failed>" : c.text;
            EXPECT_EQ(RoundTrip(f, c.text, c.key, mode), expected)
                << "mode " << mode << ", key \"" << c.key << '"';
        }
    }

    // The known mode-0 value: the DLL writes the same bytes as the Linux build.
    std::vector<char> out(8 + 32 + 1, '\0');
    ASSERT_EQ(f.encrypt("hello world", "key", out.data(), 0), 0);
    EXPECT_STREQ(out.data(), "0B000000BD56B7AE1F496D44127632B841226DC1");
}

TEST_F(LoadedDll, CallsFromThreadsStartedAfterLoadingSucceed) {
    // Threads started after the load reach DllMain with thread attach and
    // detach notifications on their way in and out.
    const Functions& f = f_;
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] = RoundTrip(f, "thread " + std::to_string(i), "key",
                                   static_cast<std::int32_t>(i % 2));
        });
    }
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], "thread " + std::to_string(i));
    }
}

TEST(DllLoader, UnloadsAndLoadsAgain) {
    for (int round = 0; round < 2; ++round) {
        HMODULE module = LoadLibraryA("TarvolaCrypt.dll");
        ASSERT_NE(module, nullptr) << "round " << round;
        EXPECT_NE(GetProcAddress(module, "Encrypt"), nullptr);
        EXPECT_NE(FreeLibrary(module), 0) << "round " << round;
    }
}

}  // namespace
