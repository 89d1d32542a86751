// The tool's standard-input buffer: records come through whole, however the
// input is cut into reads, and no value is left in its memory once it has
// been taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <istream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/input.h"
#include "common/secret_text.h"

namespace {

using tarvola::tool::SecretText;
using tarvola::tool::WipingInputBuffer;

// What the stand-in for standard input hands out, in reads of at most
// g_piece bytes, and the error it ends with.
std::string_view g_input;
std::size_t g_at = 0;
std::size_t g_piece = 0;
int g_error_at_end = 0;

void Feed(std::string_view input, std::size_t piece, int error_at_end = 0) {
    g_input = input;
    g_at = 0;
    g_piece = piece;
    g_error_at_end = error_at_end;
}

int ReadPieces(char* data, std::size_t size, std::size_t& got) noexcept {
    got = std::min({size, g_piece, g_input.size() - g_at});
    std::memcpy(data, g_input.data() + g_at, got);
    g_at += got;
    return got == 0 ? g_error_at_end : 0;
}

std::vector<std::string> ReadAll(std::istream& in) {
    std::vector<std::string> records;
    SecretText record;
    while (std::getline(in, record.value())) records.emplace_back(record.view());
    return records;
}

TEST(WipingInputBuffer, GivesEveryRecordWhateverTheReadsAndKeepsTheError) {
    const std::vector<std::string> expected = {"alpha", "a longer value, over several reads", "",
                                               "last without a line end"};
    const std::string input = expected[0] + '\n' + expected[1] + "\n\n" + expected[3];
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, input.size()}) {
        Feed(input, piece, EIO);
        WipingInputBuffer buffer(ReadPieces);
        std::istream in(&buffer);
        EXPECT_EQ(ReadAll(in), expected) << "reads of " << piece;
        EXPECT_EQ(buffer.error(), EIO) << "reads of " << piece;
    }
}

template <std::size_t N>
bool Holds(const std::array<unsigned char, N>& memory, std::string_view text) {
    const std::string_view bytes(reinterpret_cast<const char*>(memory.data()), memory.size());
    return bytes.find(text) != std::string_view::npos;
}

// The buffer lives in storage the test owns, so that its memory can be
// scanned after the values were taken and after it is gone.
TEST(WipingInputBuffer, LeavesNoValueBehind) {
    const std::string_view input = "first plaintext\nsecond plaintext\n";
    alignas(WipingInputBuffer) std::array<unsigned char, sizeof(WipingInputBuffer)> storage{};

    // Read to the end: what was taken is wiped before the next read.
    Feed(input, input.size());
    auto* buffer = new (storage.data()) WipingInputBuffer(ReadPieces);
    {
        std::istream in(buffer);
        SecretText record;
        ASSERT_TRUE(std::getline(in, record.value()));
        // The control: the scan finds a value while the buffer holds it.
        ASSERT_TRUE(Holds(storage, "second plaintext"));
        EXPECT_EQ(ReadAll(in).size(), 1U);
    }
    EXPECT_FALSE(Holds(storage, "plaintext"));
    buffer->~WipingInputBuffer();

    // Gone before the input ended: the rest is wiped with the buffer.
    Feed(input, input.size());
    buffer = new (storage.data()) WipingInputBuffer(ReadPieces);
    {
        std::istream in(buffer);
        SecretText record;
        ASSERT_TRUE(std::getline(in, record.value()));
    }
    buffer->~WipingInputBuffer();
    EXPECT_FALSE(Holds(storage, "plaintext"));
}

}  // namespace
