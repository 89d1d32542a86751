// AES-128 on many blocks at once, the state held by rows.
//
// Row r of two blocks side by side makes one 64-bit word: columns 0 to 3 of
// the first block in bytes 0 to 3, of the second in bytes 4 to 7. In that
// form MixColumns works lane by lane: whole row words XORed and doubled, no
// rotations, two blocks at a time. Between rounds the state of a group of up
// to 16 blocks waits in a 256-byte buffer, by planes: plane r holds row r of
// every pair of the group side by side. SubBytes reads its indices from there
// as single bytes (no shifting and masking out of registers); ShiftRows is
// only which byte is read for which place of a new row. The first round reads
// the blocks in their own (column) order and the last writes them back in
// it, so changing the layout costs nothing. Only the 256-byte S-boxes are
// used, as in the single-block form, and the results are exactly its results.
//
// A long run does each middle round in two passes over the group: SubBytes
// and ShiftRows byte by byte into a second buffer (a load, a look-up and a
// store per byte), then MixColumns and AddRoundKey on whole planes, where the
// compiler may use vector registers (on x86-64, SSE2 works on two row words
// at once). Against gathering each row in a register from eight shifted
// bytes, that is nearly a quarter fewer instructions and 11-20 % less time
// at 1 MiB. A run of one group keeps the gathering: with few pairs the
// second pass would read each row right after its eight byte stores, which
// the processor cannot forward into one load, and waiting for them cost
// 2-17 % at 64 bytes.
//
// The same code serves 32-bit targets, where a 64-bit word takes two
// registers: built for i686 with GCC 12 and clang, the one-pass form ran
// about twice as fast as the single-block code there (measured natively, as
// 32-bit Linux programs, which stand in for the 32-bit Windows DLL); the
// two-pass form, whose first pass has no 64-bit shifts at all, was not
// measured there.
#include <algorithm>
#include <cstring>

#include "aes/aes128.h"
#include "aes/aes_internal.h"
#include "aes/gf_words.h"
#include "common/bytes.h"
#include "platform/secret.h"

namespace tarvola::aes {
namespace {

// Below four blocks the rounds of the one or two pairs wait on each other
// and the single-block code, which needs no rearranged round keys, is faster.
constexpr std::size_t kFewestForRows = 4;

// A group of 16 blocks gives each round eight independent pairs to work on,
// enough to keep the processor busy while each pair waits on its previous
// round, in a 256-byte buffer; larger groups gained nothing measurable.
constexpr std::size_t kBlockBytes = sizeof(Block);
constexpr std::size_t kGroupBlocks = 16;
constexpr std::size_t kPairBytes = 2 * kBlockBytes;
constexpr std::size_t kPlaneBytes = kGroupBlocks / 2 * sizeof(std::uint64_t);

using ByteTable = std::array<std::uint8_t, 256>;
using GroupBytes = std::array<std::uint8_t, kGroupBlocks * kBlockBytes>;
using Row = std::uint64_t;

struct Rows {
    Row r0, r1, r2, r3;
};

// The steps of a round are small functions for reading's sake; GCC 12 leaves
// some of them as calls that return their rows through memory, which costs
// more than the step itself.
#define TARVOLA_INLINE [[gnu::always_inline]] inline

// The byte-by-byte first pass of a two-pass round (below) stays plain loads
// and stores only out of line and out of GCC 12's loop vectoriser, which
// assembles vectors from it byte by byte: that made a 1 MiB call take half
// again as many instructions.
#if defined(__GNUC__) && !defined(__clang__)
#define TARVOLA_SCALAR_PASS [[gnu::noinline, gnu::optimize("no-tree-loop-vectorize")]]
#else
#define TARVOLA_SCALAR_PASS [[gnu::noinline]]
#endif

// kColumns: the blocks in their own byte order. kRows: by planes, a pair's
// row r at byte 8p + kPlaneBytes * r of the buffer for pair p.
enum class Layout { kColumns, kRows };
enum class Direction { kEncrypt, kDecrypt };

// Offset, from a pair's first byte, of the byte at `row` and `column` of
// block `half`.
constexpr std::size_t OffsetOf(Layout layout, std::size_t half, std::size_t row,
                               std::size_t column) noexcept {
    return layout == Layout::kRows ? kPlaneBytes * row + 4 * half + column
                                   : 16 * half + 4 * column + row;
}

// Where the next pair starts.
constexpr std::size_t PairStride(Layout layout) noexcept {
    return layout == Layout::kRows ? sizeof(Row) : kPairBytes;
}

// ShiftRows rotates row r left by r positions, its inverse right by r: the
// column a new byte comes from.
constexpr std::size_t SourceColumn(Direction direction, std::size_t row,
                                   std::size_t column) noexcept {
    return direction == Direction::kEncrypt ? (column + row) % 4 : (column + 4 - row) % 4;
}

// SubBytes and ShiftRows (or their inverses, which commute) on one row of a
// pair, read from `pair` in `From` layout, each byte's S-box entry shifted
// into place. The eight are joined as a tree rather than a chain, which
// shortens the dependency chain that limits a short run.
template <Direction D, Layout From>
TARVOLA_INLINE Row SubstituteShiftedRow(const ByteTable& box, const std::uint8_t* pair,
                                        std::size_t row) noexcept {
    std::array<Row, 8> bytes;
#pragma GCC unroll 8
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const std::size_t half = k / 4;
        const std::size_t column = k % 4;
        bytes[k] = Row{box[pair[OffsetOf(From, half, row, SourceColumn(D, row, column))]]}
                   << (8 * k);
    }
    return ((bytes[0] | bytes[1]) | (bytes[2] | bytes[3])) |
           ((bytes[4] | bytes[5]) | (bytes[6] | bytes[7]));
}

template <Direction D, Layout From>
TARVOLA_INLINE Rows SubstituteShiftedRows(const ByteTable& box, const std::uint8_t* pair) noexcept {
    return {
        SubstituteShiftedRow<D, From>(box, pair, 0), SubstituteShiftedRow<D, From>(box, pair, 1),
        SubstituteShiftedRow<D, From>(box, pair, 2), SubstituteShiftedRow<D, From>(box, pair, 3)};
}

// SubBytes and ShiftRows (or inverses) on `pairs` pairs, byte by byte from
// `from` in `From` layout to `to` in `To` layout.
template <Direction D, Layout From, Layout To>
TARVOLA_SCALAR_PASS void SubstituteShiftedBytes(const ByteTable& box, const std::uint8_t* from,
                                                std::uint8_t* to, std::size_t pairs) noexcept {
    for (std::size_t p = 0; p < pairs; ++p, from += PairStride(From), to += PairStride(To)) {
#pragma GCC unroll 32
        for (std::size_t k = 0; k < kPairBytes; ++k) {
            const std::size_t row = k / 8;
            const std::size_t half = k / 4 % 2;
            const std::size_t column = k % 4;
            to[OffsetOf(To, half, row, column)] =
                box[from[OffsetOf(From, half, row, SourceColumn(D, row, column))]];
        }
    }
}

// The rows of a pair are read and written as little-endian words, so that
// byte k of the buffer is byte k of the word on every host.
TARVOLA_INLINE Rows LoadRows(const std::uint8_t* pair) noexcept {
    return {common::LoadLittleEndian<Row>(pair), common::LoadLittleEndian<Row>(pair + kPlaneBytes),
            common::LoadLittleEndian<Row>(pair + 2 * kPlaneBytes),
            common::LoadLittleEndian<Row>(pair + 3 * kPlaneBytes)};
}

TARVOLA_INLINE void StoreRows(std::uint8_t* pair, const Rows& s) noexcept {
    common::StoreLittleEndian(pair, s.r0);
    common::StoreLittleEndian(pair + kPlaneBytes, s.r1);
    common::StoreLittleEndian(pair + 2 * kPlaneBytes, s.r2);
    common::StoreLittleEndian(pair + 3 * kPlaneBytes, s.r3);
}

TARVOLA_INLINE Rows AddRoundKey(const Rows& s, const Rows& key) noexcept {
    return {s.r0 ^ key.r0, s.r1 ^ key.r1, s.r2 ^ key.r2, s.r3 ^ key.r3};
}

// new a_i = 2 a_i ^ 3 a_(i+1) ^ a_(i+2) ^ a_(i+3) = a_i ^ t ^ 2 (a_i ^ a_(i+1))
// with t the sum of all four: the matrix (2 3 1 1) with whole rows as operands,
// every column of both blocks at once. As a_2 ^ a_3 = a_0 ^ a_1 ^ t, rows 2
// and 3 reuse the products of rows 0 and 1 with u = t ^ 2t in place of t:
// three doublings, not four, and sharing u saves XORing 2t into rows 2 and
// 3 separately.
TARVOLA_INLINE Rows MixColumns(const Rows& s) noexcept {
    const Row p = s.r0 ^ s.r1;
    const Row q = s.r1 ^ s.r2;
    const Row t = p ^ (s.r2 ^ s.r3);
    const Row u = t ^ DoubleEachByte(t);
    const Row p2 = DoubleEachByte(p);
    const Row q2 = DoubleEachByte(q);
    return {s.r0 ^ t ^ p2, s.r1 ^ t ^ q2, s.r2 ^ u ^ p2, s.r3 ^ u ^ q2};
}

// new a_i = 14 a_i ^ 11 a_(i+1) ^ 13 a_(i+2) ^ 9 a_(i+3)
//         = a_i ^ t ^ z_i,  z_i = 2 (a_i ^ a_(i+1)) ^ 4 (a_i ^ a_(i+2) ^ 2t),
// t again the sum of all four. As a_2 ^ a_3 = a_0 ^ a_1 ^ t and
// a_2 ^ a_0 = a_0 ^ a_2, z_2 = z_0 ^ 2t (likewise z_3 and z_1), so new a_2 is
// new a_0 ^ (a_0 ^ a_2 ^ 2t), whose bracket is already the operand of the
// quadrupling: three doublings and two quadruplings in all. Nesting the
// products instead, z_i = 2 (a_i ^ a_(i+1) ^ 2 (a_i ^ a_(i+2) ^ 2t)), saves a
// few operations but chains three multiplications, which measured slower:
// the work of the pairs of a round then overlaps less.
TARVOLA_INLINE Rows InvMixColumns(const Rows& s) noexcept {
    const Row even = s.r0 ^ s.r2;
    const Row odd = s.r1 ^ s.r3;
    const Row t = even ^ odd;
    const Row t2 = DoubleEachByte(t);
    const Row even_t2 = even ^ t2;
    const Row odd_t2 = odd ^ t2;
    const Row r0 = s.r0 ^ t ^ DoubleEachByte(s.r0 ^ s.r1) ^ QuadrupleEachByte(even_t2);
    const Row r1 = s.r1 ^ t ^ DoubleEachByte(s.r1 ^ s.r2) ^ QuadrupleEachByte(odd_t2);
    return {r0, r1, r0 ^ even_t2, r1 ^ odd_t2};
}

// Round key `round` by rows: a 4x4 byte transpose of its four column words,
// held two to a 64-bit word, by two exchanges of byte groups (first the 2x2
// blocks of 16-bit pairs between the words, then single bytes within each);
// each row is then repeated for the second block of a pair.
TARVOLA_INLINE Rows RowsOfRoundKey(const Aes128Key& key, std::size_t round) noexcept {
    const std::uint8_t* round_key = RoundKey(key, round);
    // Bytes (column, row): x = 00 01 02 03 10 11 12 13, y = 20 21 ... 33.
    auto x = common::LoadLittleEndian<std::uint64_t>(round_key);
    auto y = common::LoadLittleEndian<std::uint64_t>(round_key + 8);
    // x = 00 01 20 21 10 11 30 31, y = 02 03 22 23 12 13 32 33.
    const std::uint64_t blocks = ((x >> 16) ^ y) & 0x0000ffff0000ffffULL;
    y ^= blocks;
    x ^= blocks << 16;
    // x = 00 10 20 30 01 11 21 31 (rows 0 and 1), y likewise rows 2 and 3.
    const std::uint64_t x_bytes = ((x >> 24) ^ x) & 0x00000000ff00ff00ULL;
    x ^= x_bytes ^ (x_bytes << 24);
    const std::uint64_t y_bytes = ((y >> 24) ^ y) & 0x00000000ff00ff00ULL;
    y ^= y_bytes ^ (y_bytes << 24);
    constexpr std::uint64_t kTwice = 0x0000000100000001ULL;
    return {(x & 0xffffffffULL) * kTwice, (x >> 32) * kTwice, (y & 0xffffffffULL) * kTwice,
            (y >> 32) * kTwice};
}

// Where a group's round keys by rows come from. A run of one group works
// them out as it goes: on a short run that overlaps the rounds, which wait on
// each other, and a 64-byte call is about a fifth faster than with a table
// made first. A longer run makes the table once and every group reads it:
// rearranging again per group cost decryption about 5 % at 1 MiB.
//
// Both directions use the round keys as they are: decryption runs the
// inverse cipher in its plain order (AddRoundKey before InvMixColumns), not
// the equivalent inverse cipher, whose middle round keys would first have to
// pass through InvMixColumns, a cost a short run cannot spread.
struct KeysWorkedOut {
    const Aes128Key& key;
    TARVOLA_INLINE Rows operator[](std::size_t round) const noexcept {
        return RowsOfRoundKey(key, round);
    }
};

using RowSchedule = std::array<Rows, 11>;

// The frame of CipherBlocks holds two group buffers, the row schedule and
// what the compiler spills; the stack wipe after a multi-block call must
// reach below all of it (see Aes128EncryptBlocks in aes128.h). Spills and the
// callee frames of a round take far less than the kilobyte left.
static_assert(2 * sizeof(GroupBytes) + sizeof(RowSchedule) + 1024 <= platform::kCalleeStackBytes,
              "the callee-stack wipe no longer covers the multi-block cipher's frame");

// Only the middle rounds' keys are used by rows.
void FillRowSchedule(const Aes128Key& key, RowSchedule& rows) noexcept {
    for (std::size_t round = 1; round < 10; ++round) {
        rows[round] = RowsOfRoundKey(key, round);
    }
}

// AddRoundKey on whole blocks in their own byte order (kColumns), which is
// the same for every block, so it works on 8 bytes at a time.
void AddRoundKeyToBlocks(const std::uint8_t* from, std::uint8_t* to, std::size_t count,
                         const Aes128Key& key, std::size_t round) noexcept {
    std::uint64_t round_key[2];
    std::memcpy(round_key, RoundKey(key, round), sizeof round_key);
    for (std::size_t b = 0; b < count; ++b, from += kBlockBytes, to += kBlockBytes) {
        std::uint64_t block[2];
        std::memcpy(block, from, sizeof block);
        block[0] ^= round_key[0];
        block[1] ^= round_key[1];
        std::memcpy(to, block, sizeof block);
    }
}

// An odd count leaves the second block of the last pair unused: it is zeroed
// so that nothing undefined is read.
void PadLastPair(std::uint8_t* blocks, std::size_t count) noexcept {
    if (count % 2 != 0) {
        std::fill_n(blocks + count * kBlockBytes, kBlockBytes, 0);
    }
}

// What follows SubBytes and ShiftRows in a middle round, on one pair:
// MixColumns then AddRoundKey, or AddRoundKey then InvMixColumns.
template <Direction D>
TARVOLA_INLINE Rows MixAndAddRoundKey(const Rows& s, const Rows& key) noexcept {
    if constexpr (D == Direction::kEncrypt) {
        return AddRoundKey(MixColumns(s), key);
    } else {
        return InvMixColumns(AddRoundKey(s, key));
    }
}

// A middle round in one pass, pair by pair: the rows gathered from `from` in
// `From` layout, stored by planes into `to`, which may be `from` itself when
// both are by planes. The key comes by value: held in registers for the whole
// round, where a reference into the row-key table would be read again after
// every store to the group (byte stores may alias anything).
template <Direction D, Layout From>
TARVOLA_INLINE void MiddleRound(const ByteTable& box, const std::uint8_t* from, std::uint8_t* to,
                                std::size_t pairs, const Rows key) noexcept {
    for (std::size_t p = 0; p < pairs; ++p) {
        const Rows rows = SubstituteShiftedRows<D, From>(box, from + p * PairStride(From));
        StoreRows(to + p * sizeof(Row), MixAndAddRoundKey<D>(rows, key));
    }
}

// The second pass of a middle round: whole planes from `from` to `to`,
// which may be `from` itself.
template <Direction D>
TARVOLA_INLINE void MixPlanes(const std::uint8_t* from, std::uint8_t* to, std::size_t pairs,
                              const Rows key) noexcept {
    for (std::size_t p = 0; p < pairs; ++p) {
        StoreRows(to + p * sizeof(Row),
                  MixAndAddRoundKey<D>(LoadRows(from + p * sizeof(Row)), key));
    }
}

// Rounds 1 to 9 of one group, from its blocks after round 0 in `spare` to
// planes in `group`, in one of the two ways (see the top of this file): a
// run of one group, which works its row keys out as it goes, in one pass
// per round; a longer run in two. The first round cannot work in place: a
// pair's rows land on planes where later pairs' blocks still wait.
template <Direction D>
void MiddleRounds(const ByteTable& box, std::size_t pairs, const KeysWorkedOut& keys,
                  std::uint8_t* group, std::uint8_t* spare) noexcept {
    constexpr bool kForward = D == Direction::kEncrypt;
    MiddleRound<D, Layout::kColumns>(box, spare, group, pairs, keys[kForward ? 1 : 9]);
    for (std::size_t step = 2; step < 10; ++step) {
        MiddleRound<D, Layout::kRows>(box, group, group, pairs, keys[kForward ? step : 10 - step]);
    }
}

template <Direction D>
void MiddleRounds(const ByteTable& box, std::size_t pairs, const RowSchedule& keys,
                  std::uint8_t* group, std::uint8_t* spare) noexcept {
    constexpr bool kForward = D == Direction::kEncrypt;
    SubstituteShiftedBytes<D, Layout::kColumns, Layout::kRows>(box, spare, group, pairs);
    MixPlanes<D>(group, group, pairs, keys[kForward ? 1 : 9]);
    for (std::size_t step = 2; step < 10; ++step) {
        SubstituteShiftedBytes<D, Layout::kRows, Layout::kRows>(box, group, spare, pairs);
        MixPlanes<D>(spare, group, pairs, keys[kForward ? step : 10 - step]);
    }
}

// A group of at most kGroupBlocks blocks, passed from round to round through
// `group` and `spare`, which are in this function's caller's frame (see
// Aes128EncryptBlocks in the header about wiping it).
template <Direction D, class RowKeys>
void CipherGroup(const std::uint8_t* in, std::uint8_t* out, std::size_t count, const Aes128Key& key,
                 const RowKeys& keys, GroupBytes& group, GroupBytes& spare) noexcept {
    constexpr bool kForward = D == Direction::kEncrypt;
    const ByteTable& box = kForward ? kSbox : kInverseSbox;
    const std::size_t pairs = (count + 1) / 2;
    AddRoundKeyToBlocks(in, spare.data(), count, key, kForward ? 0 : 10);
    PadLastPair(spare.data(), count);
    MiddleRounds<D>(box, pairs, keys, group.data(), spare.data());
    SubstituteShiftedBytes<D, Layout::kRows, Layout::kColumns>(box, group.data(), spare.data(),
                                                               pairs);
    AddRoundKeyToBlocks(spare.data(), out, count, key, kForward ? 10 : 0);
}

// Any count: below kFewestForRows the public functions do not come here.
template <Direction D>
void CipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                  const Aes128Key& key) noexcept {
    GroupBytes group;
    GroupBytes spare;
    // Without blocks the rounds would write nothing into `group` for the
    // last round to read (GCC 12 warns of that even though it reads nothing).
    if (count == 0) {
        return;
    }
    if (count <= kGroupBlocks) {
        CipherGroup<D>(in, out, count, key, KeysWorkedOut{key}, group, spare);
        return;
    }
    RowSchedule rows;
    FillRowSchedule(key, rows);
    while (count > 0) {
        const std::size_t n = std::min(count, kGroupBlocks);
        CipherGroup<D>(in, out, n, key, rows, group, spare);
        in += n * kBlockBytes;
        out += n * kBlockBytes;
        count -= n;
    }
}

}  // namespace

void EncryptBlocksByRows(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept {
    CipherBlocks<Direction::kEncrypt>(in, out, count, key);
}

void DecryptBlocksByRows(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept {
    CipherBlocks<Direction::kDecrypt>(in, out, count, key);
}

void Aes128EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept {
    if (count < kFewestForRows) {
        EncryptBlocksByColumns(in, out, count, key);
    } else {
        EncryptBlocksByRows(in, out, count, key);
    }
}

void Aes128DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept {
    if (count < kFewestForRows) {
        DecryptBlocksByColumns(in, out, count, key);
    } else {
        DecryptBlocksByRows(in, out, count, key);
    }
}

}  // namespace tarvola::aes
