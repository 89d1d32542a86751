// Proof that no secret outlives a call: key blocks, round keys, key material
// and plaintext must be gone from every heap block the library releases and
// from the stack frames it leaves behind; and plaintexts from those the tool
// leaves when its reencrypt and migrate end.
//
// How it looks:
// - the heap: this program replaces the global operator new/delete (which
//   std::vector and SecretBytes' allocator end in) and installs OpenSSL's
//   allocation hooks (which its cleansing frees end in), and scans every
//   block for the secrets just before it is freed;
// - the stack: the calls run on a thread whose stack is a fresh zero-filled
//   mapping owned by the test, which is scanned once the thread has ended;
//   so do the worker threads the tool starts, which this program hands
//   such stacks through its own pthread_create;
// - the registers, after the tool's work, on each of its threads: saved
//   and scanned, since a signal or a lazily bound call would put them on
//   the stack later.
// A secret is looked for as 8-byte pieces, so that one half of a block left
// in a 64-bit register spill is found too. The first tests show that the
// scanners do find a secret left behind; otherwise silence would prove
// nothing.
//
// Linux only, and without sanitizers: their allocators and stack layouts
// would hide exactly what is looked for here.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <openssl/crypto.h>
#include <pthread.h>
#include <sys/mman.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "aes/aes128.h"
#include "aes/aes_internal.h"
#include "envelope_damage.h"
#include "tarvolacrypt.h"
#ifdef TARVOLA_WIPE_TEST_TOOL
#include <sstream>

#include "migrate/migrate.h"
#include "values/batch.h"
#endif
#ifdef TARVOLA_WIPE_TEST_SQLITE
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace {

// ---- What is looked for --------------------------------------------------

constexpr std::size_t kPieceLength = 8;
constexpr std::size_t kMaxPieces = 256;

struct Piece {
    std::array<std::uint8_t, kPieceLength> bytes;
    const char* what;
    std::size_t offset;  // within the secret
};

// Written only while nothing is armed, read by the scanners: plain arrays,
// because the scanners run inside operator delete and must not allocate.
std::array<Piece, kMaxPieces> g_pieces;
std::size_t g_piece_count = 0;

// A piece of mostly zero bytes would be found in any zero-filled memory.
bool IsDistinctive(std::span<const std::uint8_t> piece) {
    return std::count(piece.begin(), piece.end(), std::uint8_t{0}) <= 2;
}

void ClearSecrets() {
    g_piece_count = 0;
}

// Adds every distinctive aligned 8-byte piece of `secret`.
void AddSecret(std::span<const std::uint8_t> secret, const char* what) {
    for (std::size_t at = 0; at + kPieceLength <= secret.size(); at += kPieceLength) {
        const auto piece = secret.subspan(at, kPieceLength);
        if (!IsDistinctive(piece)) continue;
        if (g_piece_count == kMaxPieces) std::abort();
        Piece& p = g_pieces[g_piece_count++];
        std::copy(piece.begin(), piece.end(), p.bytes.begin());
        p.what = what;
        p.offset = at;
    }
}

void AddSecret(std::string_view secret, const char* what) {
    AddSecret({reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size()}, what);
}

// ---- Findings, recorded without allocating ---------------------------------

struct Finding {
    const Piece* piece;
    const char* where;
};
constexpr std::size_t kMaxFindings = 32;
std::array<Finding, kMaxFindings> g_findings;
std::size_t g_finding_count = 0;

void Scan(const void* memory, std::size_t size, const char* where) {
    for (std::size_t i = 0; i < g_piece_count; ++i) {
        if (memmem(memory, size, g_pieces[i].bytes.data(), kPieceLength) != nullptr) {
            if (g_finding_count < kMaxFindings) g_findings[g_finding_count] = {&g_pieces[i], where};
            ++g_finding_count;
        }
    }
}

std::string Findings() {
    std::string report;
    for (std::size_t i = 0; i < std::min(g_finding_count, kMaxFindings); ++i) {
        const Finding& f = g_findings[i];
        report += std::string(f.piece->what) + " (bytes " + std::to_string(f.piece->offset) +
                  " to " + std::to_string(f.piece->offset + kPieceLength - 1) + ") in " + f.where +
                  "\n";
    }
    return report;
}

// ---- Released blocks, held back until scanned ---------------------------------

// While armed, released blocks are not freed but kept here, untouched, and
// scanned after the calls have ended: scanning inside the hook would run the
// scanner on the very stack that is scanned afterwards, and leave the secrets
// it compares there itself.
struct Released {
    void* block;
    const char* where;
};
constexpr std::size_t kMaxReleased = 4096;
std::array<Released, kMaxReleased> g_released;
std::atomic<std::size_t> g_released_count{0};
std::atomic<bool> g_armed{false};
std::size_t g_openssl_blocks_scanned = 0;

// False when the block is freed at once (nothing armed).
bool HoldBack(void* block, const char* where) {
    if (!g_armed.load()) return false;
    const std::size_t n = g_released_count.fetch_add(1);
    if (n >= kMaxReleased) std::abort();
    g_released[n] = {block, where};
    return true;
}

constexpr char kReleasedHeapBlock[] = "a released heap block";
constexpr char kOpenSslBlock[] = "a block freed by OpenSSL";

void ScanAndFreeHeldBack() {
    for (std::size_t i = 0; i < g_released_count; ++i) {
        const Released& r = g_released[i];
        Scan(r.block, malloc_usable_size(r.block), r.where);
        if (r.where == kOpenSslBlock) ++g_openssl_blocks_scanned;
        std::free(r.block);
    }
    g_released_count = 0;
}

// ---- OpenSSL's allocations ---------------------------------------------------

void* OpenSslMalloc(std::size_t size, const char* /*file*/, int /*line*/) {
    return std::malloc(size);
}

void OpenSslFree(void* block, const char* /*file*/, int /*line*/) {
    if (block != nullptr && !HoldBack(block, kOpenSslBlock)) std::free(block);
}

// Never realloc in place: the old block is scanned and freed like any other.
void* OpenSslRealloc(void* block, std::size_t size, const char* file, int line) {
    if (block == nullptr) return OpenSslMalloc(size, file, line);
    if (size == 0) {
        OpenSslFree(block, file, line);
        return nullptr;
    }
    void* moved = std::malloc(size);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
    OpenSslFree(block, file, line);
    return moved;
}

// Before main, so before OpenSSL's first allocation, after which it refuses.
const bool g_openssl_hooked =
    CRYPTO_set_mem_functions(OpenSslMalloc, OpenSslRealloc, OpenSslFree) == 1;

// ---- The stack -----------------------------------------------------------------

// A thread stack owned by the test: a fresh mapping (zero-filled by the
// kernel), so that whatever is found in it was put there by the work that ran
// on it.
//
// Once the work returns, the thread must not call anything before the stack
// is scanned: any call, its own exit included, reuses the dead frames just
// left. So it raises a flag and spins on a builtin atomic load, which needs no
// stack frame at any optimisation level, until the scan is over.
class ScannedStack {
  public:
    static constexpr std::size_t kSize = 1 << 20;

    ScannedStack()
        : base_(mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {
        if (base_ == MAP_FAILED) std::abort();
    }
    ~ScannedStack() { munmap(base_, kSize); }
    ScannedStack(const ScannedStack&) = delete;
    ScannedStack& operator=(const ScannedStack&) = delete;

    // Runs `work` on a thread using this stack and calls `inspect` after the
    // work has returned and before the thread goes on to end.
    template <class Work, class Inspect>
    void Run(Work& work, Inspect inspect) {
        Job<Work> job{&work};
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstack(&attributes, base_, kSize);
        pthread_t thread;
        if (pthread_create(&thread, &attributes, &Trampoline<Work>, &job) != 0) std::abort();
        while (__atomic_load_n(&job.done, __ATOMIC_ACQUIRE) == 0) sched_yield();
        inspect();
        __atomic_store_n(&job.released, 1, __ATOMIC_RELEASE);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attributes);
    }

    void ScanForSecrets() const { Scan(base_, kSize, "a dead stack frame"); }

  private:
    template <class Work>
    struct Job {
        Work* work;
        int done = 0;
        int released = 0;
    };

    template <class Work>
    static void* Trampoline(void* context) {
        auto* job = static_cast<Job<Work>*>(context);
        (*job->work)();
        __atomic_store_n(&job->done, 1, __ATOMIC_RELEASE);
        while (__atomic_load_n(&job->released, __ATOMIC_ACQUIRE) == 0) {
        }
        return nullptr;
    }

    void* base_;
};

// ---- Registers --------------------------------------------------------------------

// What a thread holds in its vector registers reaches its stack whenever they
// are saved there wholesale: by the kernel for a signal handler, by the
// dynamic linker when it binds a function on its first call (in a library
// linked without -z now, as the C++ library is). So the tool's work, and
// each thread it starts, end with the registers saved here, as XSAVE writes
// them (x87, SSE, AVX and AVX-512 state), and scanned with the stacks.
struct alignas(64) RegisterArea {
    std::array<std::uint8_t, 4096> bytes;
};
constexpr std::size_t kMaxRegisterAreas = 32;
std::array<RegisterArea, kMaxRegisterAreas> g_register_areas;
std::atomic<std::size_t> g_register_area_count{0};

void SaveRegisters() {
#ifdef __x86_64__
    const std::size_t n = g_register_area_count.fetch_add(1);
    if (n >= kMaxRegisterAreas) std::abort();
    RegisterArea& area = g_register_areas[n];
    if (__builtin_cpu_supports("avx")) {
        asm volatile("xsave64 %0" : "=m"(area.bytes) : "a"(0xE7U), "d"(0U) : "memory");
    } else {
        asm volatile("fxsave64 %0" : "=m"(area.bytes) : : "memory");
    }
#endif
}

void ScanRegisterAreas() {
    for (std::size_t i = 0; i < g_register_area_count; ++i) {
        Scan(g_register_areas[i].bytes.data(), g_register_areas[i].bytes.size(),
             "the registers of a thread whose work was done");
        g_register_areas[i] = {};
    }
    g_register_area_count = 0;
}

// ---- The threads the work starts -------------------------------------------------

// While armed, a thread started without attributes (the tool's workers, by
// std::thread) runs on a fresh mapping of its own, scanned and unmapped
// after the work. A thread's exit path runs on its stack after its work: it
// may overwrite the shallowest dead frames, never add a secret to them.
constexpr std::size_t kMaxWorkerStacks = 16;
std::array<void*, kMaxWorkerStacks> g_worker_stacks;
std::atomic<std::size_t> g_worker_stack_count{0};

struct WorkerStart {
    void* (*start)(void*);
    void* argument;
};
std::array<WorkerStart, kMaxWorkerStacks> g_worker_starts;

extern "C" void* RunWorkerThenSaveRegisters(void* context) {
    const WorkerStart& worker = *static_cast<WorkerStart*>(context);
    void* const result = worker.start(worker.argument);
    SaveRegisters();
    return result;
}

void ScanAndUnmapWorkerStacks() {
    for (std::size_t i = 0; i < g_worker_stack_count; ++i) {
        Scan(g_worker_stacks[i], ScannedStack::kSize, "a worker thread's dead stack frame");
        munmap(g_worker_stacks[i], ScannedStack::kSize);
    }
    g_worker_stack_count = 0;
}

// Runs `work` on a scanned stack with released blocks held back, then scans
// both. Returns what was found.
template <class Work>
std::string FindSecretsLeftBy(Work work) {
    g_finding_count = 0;
    ScannedStack stack;
    g_armed = true;
    stack.Run(work, [&stack] {
        g_armed = false;
        stack.ScanForSecrets();
        ScanAndUnmapWorkerStacks();
        ScanRegisterAreas();
    });
    ScanAndFreeHeldBack();
    return Findings();
}

// ---- The secrets ---------------------------------------------------------------

// Static, never on the heap or a scanned stack: the test's own copies must not
// be found.
constexpr char kHexKey[] = "Wipe-Marker-Key!ignored after 16";
constexpr char kEnvelopeKey128[] = "Wipe-Marker-15c";
constexpr char kEnvelopeKey256[] = "Wipe-Marker-Key-of-31-chars-Zq!";
constexpr char kPlaintext[] = "Plaintext that must not survive: q7Zx@#k9 and more!";
// Short enough for a string's own buffer, wherever the string lives.
constexpr char kShortPlaintext[] = "Short:q7Zx@#k9!";

// Outputs live in static storage too; the plaintext is expected there.
char g_ciphertext[512];
char g_decrypted[512];

using tarvola::aes::Block;

Block FirstBlockOf(std::string_view text) {
    Block block{};
    std::copy_n(text.begin(), std::min(text.size(), block.size()), block.begin());
    return block;
}

void AddPlaintext(std::string_view text = kPlaintext) {
    // The blocks as the schemes hold them: the last one zero-filled.
    for (std::size_t at = 0; at < text.size(); at += 16) {
        const Block block = FirstBlockOf(text.substr(at));
        AddSecret(block, "plaintext");
    }
}

// The key block and all 11 round keys of an AES-128 key, also as the
// multi-block cipher holds them: each row of a round key twice over, once
// for each block of a pair (both directions use them as they are).
void AddAes128Key(const Block& key, const char* what) {
    tarvola::aes::Aes128Key expanded;
    tarvola::aes::Aes128ExpandKey(expanded, key);
    const auto& schedule = tarvola::aes::Aes128KeyLayout::RoundKeys(expanded);
    AddSecret(schedule, what);
    std::array<std::uint8_t, 8 * 4 * 11> rows{};
    for (std::size_t round = 0; round < 11; ++round) {
        for (std::size_t row = 0; row < 4; ++row) {
            for (std::size_t column = 0; column < 8; ++column) {
                rows[32 * round + 8 * row + column] = schedule[16 * round + 4 * (column % 4) + row];
            }
        }
    }
    AddSecret(rows, what);
}

void ResetOutputs() {
    std::memset(g_ciphertext, 0, sizeof g_ciphertext);
    std::memset(g_decrypted, 0, sizeof g_decrypted);
}

}  // namespace

// ---- The replaced global allocation functions --------------------------------

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    if (void* block = std::aligned_alloc(align, (size + align - 1) / align * align)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return ::operator new(size, alignment);
}

namespace {
void ReleaseToHeap(void* block) noexcept {
    if (block != nullptr && !HoldBack(block, kReleasedHeapBlock)) std::free(block);
}
}  // namespace

void operator delete(void* block) noexcept {
    ReleaseToHeap(block);
}
void operator delete[](void* block) noexcept {
    ReleaseToHeap(block);
}
void operator delete(void* block, std::size_t /*size*/) noexcept {
    ReleaseToHeap(block);
}
void operator delete[](void* block, std::size_t /*size*/) noexcept {
    ReleaseToHeap(block);
}
void operator delete(void* block, std::align_val_t /*alignment*/) noexcept {
    ReleaseToHeap(block);
}
void operator delete[](void* block, std::align_val_t /*alignment*/) noexcept {
    ReleaseToHeap(block);
}
void operator delete(void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
    ReleaseToHeap(block);
}
void operator delete[](void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
    ReleaseToHeap(block);
}

// Defined in this program, it comes before the C library's for every caller,
// the C++ library's std::thread included.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (attributes != nullptr || !g_armed.load())
        return create(thread, attributes, start, argument);
    const std::size_t n = g_worker_stack_count.fetch_add(1);
    if (n >= kMaxWorkerStacks) std::abort();
    void* stack = mmap(nullptr, ScannedStack::kSize, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack == MAP_FAILED) std::abort();
    g_worker_stacks[n] = stack;
    pthread_attr_t own;
    pthread_attr_init(&own);
    pthread_attr_setstack(&own, stack, ScannedStack::kSize);
    g_worker_starts[n] = {start, argument};
    const int result = create(thread, &own, RunWorkerThenSaveRegisters, &g_worker_starts[n]);
    pthread_attr_destroy(&own);
    return result;
}

namespace {

// ---- The scanners find what is left behind ----------------------------------

class SecretWipe : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(g_openssl_hooked) << "OpenSSL allocated before its hooks were installed";
        ClearSecrets();
        ResetOutputs();
    }
    void TearDown() override { ClearSecrets(); }
};

constexpr std::uint8_t kCanary[16] = {0xC3, 0x5E, 0x91, 0x2A, 0x7F, 0x04, 0xB8, 0x66,
                                      0xD1, 0x3C, 0x8B, 0x19, 0xE7, 0x52, 0xA0, 0x4D};

// Leaves the canary in its dead frame; the volatile stores cannot be dropped.
[[gnu::noinline]] void LeaveCanaryOnStack() {
    [[maybe_unused]] volatile std::uint8_t copy[sizeof kCanary];
    for (std::size_t i = 0; i < sizeof kCanary; ++i) copy[i] = kCanary[i];
}

// The same below a frame deeper than a thread's exit path reaches.
[[gnu::noinline]] void LeaveCanaryDeepOnStack() {
    [[maybe_unused]] volatile std::uint8_t depth[8192];
    LeaveCanaryOnStack();
    // After the call, which so stays a call below this frame.
    depth[0] = 0;
}

TEST_F(SecretWipe, ScannersFindAnUnwipedSecret) {
    AddSecret(kCanary, "canary");

    EXPECT_NE(FindSecretsLeftBy([] {
                  void* block = ::operator new(sizeof kCanary);
                  std::memcpy(block, kCanary, sizeof kCanary);
                  ::operator delete(block, sizeof kCanary);
              }),
              "");
    EXPECT_NE(FindSecretsLeftBy([] { OPENSSL_free(OPENSSL_memdup(kCanary, sizeof kCanary)); }), "");
    EXPECT_NE(FindSecretsLeftBy(LeaveCanaryOnStack), "");
    EXPECT_NE(FindSecretsLeftBy([] { std::thread(LeaveCanaryDeepOnStack).join(); }), "");
#ifdef __x86_64__
    EXPECT_NE(FindSecretsLeftBy([] {
                  asm volatile("movdqu %0, %%xmm15" : : "m"(kCanary) : "xmm15");
                  SaveRegisters();
              }),
              "");
#endif

    // And stay silent when the secret was wiped first.
    EXPECT_EQ(FindSecretsLeftBy([] {
                  void* block = OPENSSL_memdup(kCanary, sizeof kCanary);
                  OPENSSL_clear_free(block, sizeof kCanary);
              }),
              "");
}

// ---- The library ------------------------------------------------------------

TEST_F(SecretWipe, HexSchemeLeavesNoKeyRoundKeysOrPlaintext) {
    AddAes128Key(FirstBlockOf(kHexKey), "mode-0 key block or round key");
    AddPlaintext();

    const std::string found = FindSecretsLeftBy([] {
        if (Encrypt(kPlaintext, kHexKey, g_ciphertext, 0) != 0) return;
        (void)Decrypt(g_ciphertext, kHexKey, g_decrypted, 0);
    });
    ASSERT_STREQ(g_decrypted, kPlaintext);
    EXPECT_EQ(found, "");
}

TEST_F(SecretWipe, EnvelopeSchemeLeavesNoKeyMaterialOrPlaintext) {
    for (const char* key : {kEnvelopeKey128, kEnvelopeKey256}) {
        SCOPED_TRACE(key);
        ClearSecrets();
        ResetOutputs();
        // The zero-extended key material, and for AES-128 also the round keys
        // as OpenSSL's portable and AES-NI code lay them out.
        std::array<std::uint8_t, 32> material{};
        std::copy_n(key, std::strlen(key), material.begin());
        AddSecret(material, "mode-1 key material");
        if (std::strlen(key) < 16) AddAes128Key(FirstBlockOf(key), "mode-1 round key");
        AddPlaintext();

        const std::size_t openssl_frees = g_openssl_blocks_scanned;
        const std::string found = FindSecretsLeftBy([key] {
            if (Encrypt(kPlaintext, key, g_ciphertext, 1) != 0) return;
            (void)Decrypt(g_ciphertext, key, g_decrypted, 1);
        });
        ASSERT_STREQ(g_decrypted, kPlaintext);
        EXPECT_EQ(found, "");
        EXPECT_GT(g_openssl_blocks_scanned, openssl_frees) << "OpenSSL's frees were not seen";
    }
}

// A decryption that fails on its padding has already decrypted the blocks
// before it; that plaintext must be wiped on the failure path too.
TEST_F(SecretWipe, FailedEnvelopeDecryptionLeavesNoPlaintext) {
    const std::string_view plaintext = kPlaintext;
    ASSERT_EQ(Encrypt(kPlaintext, kEnvelopeKey256, g_ciphertext, 1), 0);
    const std::string damaged =
        tarvola::hardening::WithBrokenPadding(g_ciphertext, plaintext.size());
    std::memcpy(g_ciphertext, damaged.c_str(), damaged.size() + 1);

    std::array<std::uint8_t, 32> material{};
    std::copy_n(kEnvelopeKey256, std::strlen(kEnvelopeKey256), material.begin());
    AddSecret(material, "mode-1 key material");
    // All but the last two blocks decrypt intact.
    const std::size_t intact = 16 * (plaintext.size() / 16 - 1);
    ASSERT_GE(intact, 16U);
    AddSecret(plaintext.substr(0, intact), "plaintext");

    int32_t result = 0;
    const std::string found = FindSecretsLeftBy(
        [&result] { result = Decrypt(g_ciphertext, kEnvelopeKey256, g_decrypted, 1); });
    ASSERT_EQ(result, 1);
    EXPECT_EQ(found, "");
}

#ifdef TARVOLA_WIPE_TEST_TOOL

// ---- The tool -------------------------------------------------------------------

// `plaintext`'s mode-0 value under kHexKey, as stored before a migration.
std::string StoredValue(const char* plaintext) {
    char stored[512] = {};
    EXPECT_EQ(Encrypt(plaintext, kHexKey, stored, 0), 0);
    return stored;
}

// First among the tool's tests: its workers' first calls into the C++
// library are bound on the way, saving registers that hold a plaintext
// in the middle of the work, as in a fresh process.
#ifdef TARVOLA_WIPE_TEST_SQLITE
TEST_F(SecretWipe, ToolMigrateLeavesNoPlaintext) {
    for (const char* plaintext : {kPlaintext, kShortPlaintext}) {
        SCOPED_TRACE(plaintext);
        ClearSecrets();
        char path[] = "/tmp/tarvola-wipe-XXXXXX";
        const int file = mkstemp(path);
        ASSERT_GE(file, 0);
        close(file);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path, &db), SQLITE_OK);
        const std::string row = "('" + StoredValue(plaintext) + "')";
        const std::string create =
            "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v TEXT); "
            "INSERT INTO secrets (v) VALUES " +
            row + ", " + row;
        ASSERT_EQ(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        AddPlaintext(plaintext);

        int status = -1;
        const std::string found = FindSecretsLeftBy([&path, &status] {
            tarvola::tool::MigrateOptions options;
            options.database = std::string("sqlite:") + path;
            options.table = "secrets";
            options.column = "v";
            std::ostringstream err;
            status = tarvola::tool::RunMigrate({
                .options = options,
                .rekeying = {kHexKey, kEnvelopeKey128, tarvola::tool::ReadMode::kAuto,
                             tarvola::Mode::kEnvelope},
                .rules = {false, true},
                .jobs = 1,
                .quiet = true,
                .err = err,
            });
            SaveRegisters();
        });
        std::remove(path);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(found, "");
    }
}
#endif

TEST_F(SecretWipe, ToolReencryptLeavesNoPlaintext) {
    for (const char* plaintext : {kPlaintext, kShortPlaintext}) {
        for (const unsigned jobs : {1U, 2U}) {
            SCOPED_TRACE(std::string(plaintext) + ", jobs " + std::to_string(jobs));
            ClearSecrets();
            const std::string stored = StoredValue(plaintext);
            AddPlaintext(plaintext);
            std::string written;
            const std::string found = FindSecretsLeftBy([&stored, &written, jobs] {
                std::istringstream in(stored + "\n" + stored + "\n");
                std::ostringstream out;
                std::ostringstream err;
                tarvola::tool::Job job;
                job.operation = tarvola::tool::Operation::kReencrypt;
                job.read_mode = tarvola::tool::ReadMode::kAuto;
                job.key = kHexKey;
                job.new_key = kEnvelopeKey128;
                (void)tarvola::tool::RunOnRecords(job, in, {.jobs = jobs}, out, err);
                written = out.str();
                SaveRegisters();
            });
            ASSERT_EQ(std::count(written.begin(), written.end(), '$'), 2) << written;
            EXPECT_EQ(found, "");
        }
    }
}

#endif

}  // namespace
