#include "sha512.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t roundConstants[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

constexpr std::uint64_t initialState[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};

inline std::uint64_t rotr(std::uint64_t x, int n)
{
    return (x >> n) | (x << (64 - n));
}

inline std::uint64_t loadBigEndian(const std::uint8_t *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

inline void storeBigEndian(std::uint8_t *p, std::uint64_t v)
{
    v = __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

inline std::uint64_t bigSigma0(std::uint64_t x)
{
    return rotr(x, 28) ^ rotr(x, 34) ^ rotr(x, 39);
}
inline std::uint64_t bigSigma1(std::uint64_t x)
{
    return rotr(x, 14) ^ rotr(x, 18) ^ rotr(x, 41);
}
inline std::uint64_t smallSigma0(std::uint64_t x)
{
    return rotr(x, 1) ^ rotr(x, 8) ^ (x >> 7);
}
inline std::uint64_t smallSigma1(std::uint64_t x)
{
    return rotr(x, 19) ^ rotr(x, 61) ^ (x >> 6);
}
inline std::uint64_t choose(std::uint64_t e, std::uint64_t f, std::uint64_t g)
{
    return g ^ (e & (f ^ g));
}
inline std::uint64_t majority(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    return (a & b) | (c & (a | b));
}

} // namespace

Sha512::Sha512()
{
    std::memcpy(m_State, initialState, sizeof m_State);
}

namespace {

// The compression function over whole blocks. It is compiled twice: once for
// any x86-64 and once for processors with BMI2, whose three-operand rotate
// (rorx) spares the register copies that the many rotations of every round
// otherwise need; compressBlocks picks one at run time.
__attribute__((always_inline)) inline void
compressBlocksInline(std::uint64_t *state, const std::uint8_t *blocks, std::size_t count)
{
    std::uint64_t w[16];
    for (; count > 0; --count, blocks += Sha512::blockSize) {
        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];

        // One round; the eight working variables rotate by renaming, not by
        // moves. Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and the a ^ b of one
        // round is the b ^ c of the next, so it is carried over in bc.
        std::uint64_t bc = b ^ c;
#define QVX_SHA512_ROUND(a, b, c, d, e, f, g, h, i, word)                                          \
    do {                                                                                           \
        const std::uint64_t t1 = h + bigSigma1(e) + choose(e, f, g) + roundConstants[i] + (word);  \
        const std::uint64_t ab = a ^ b;                                                            \
        d += t1;                                                                                   \
        h = t1 + bigSigma0(a) + (b ^ (ab & bc));                                                   \
        bc = ab;                                                                                   \
    } while (0)
#define QVX_SHA512_SCHEDULE(j)                                                                     \
    (w[(j)&15] += smallSigma1(w[((j)-2) & 15]) + w[((j)-7) & 15] + smallSigma0(w[((j)-15) & 15]))

        for (int i = 0; i < 16; ++i)
            w[i] = loadBigEndian(blocks + 8 * i);
        for (int i = 0; i < 16; i += 8) {
            QVX_SHA512_ROUND(a, b, c, d, e, f, g, h, i + 0, w[i + 0]);
            QVX_SHA512_ROUND(h, a, b, c, d, e, f, g, i + 1, w[i + 1]);
            QVX_SHA512_ROUND(g, h, a, b, c, d, e, f, i + 2, w[i + 2]);
            QVX_SHA512_ROUND(f, g, h, a, b, c, d, e, i + 3, w[i + 3]);
            QVX_SHA512_ROUND(e, f, g, h, a, b, c, d, i + 4, w[i + 4]);
            QVX_SHA512_ROUND(d, e, f, g, h, a, b, c, i + 5, w[i + 5]);
            QVX_SHA512_ROUND(c, d, e, f, g, h, a, b, i + 6, w[i + 6]);
            QVX_SHA512_ROUND(b, c, d, e, f, g, h, a, i + 7, w[i + 7]);
        }
        for (int i = 16; i < 80; i += 8) {
            QVX_SHA512_ROUND(a, b, c, d, e, f, g, h, i + 0, QVX_SHA512_SCHEDULE(i + 0));
            QVX_SHA512_ROUND(h, a, b, c, d, e, f, g, i + 1, QVX_SHA512_SCHEDULE(i + 1));
            QVX_SHA512_ROUND(g, h, a, b, c, d, e, f, i + 2, QVX_SHA512_SCHEDULE(i + 2));
            QVX_SHA512_ROUND(f, g, h, a, b, c, d, e, i + 3, QVX_SHA512_SCHEDULE(i + 3));
            QVX_SHA512_ROUND(e, f, g, h, a, b, c, d, i + 4, QVX_SHA512_SCHEDULE(i + 4));
            QVX_SHA512_ROUND(d, e, f, g, h, a, b, c, i + 5, QVX_SHA512_SCHEDULE(i + 5));
            QVX_SHA512_ROUND(c, d, e, f, g, h, a, b, i + 6, QVX_SHA512_SCHEDULE(i + 6));
            QVX_SHA512_ROUND(b, c, d, e, f, g, h, a, i + 7, QVX_SHA512_SCHEDULE(i + 7));
        }
#undef QVX_SHA512_SCHEDULE
#undef QVX_SHA512_ROUND

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

// QVX_SHA512_PORTABLE_ONLY builds only the portable variant, so that its
// test can check it on machines that would pick the BMI2 one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(QVX_SHA512_PORTABLE_ONLY)
#define QVX_SHA512_BMI2 1
#endif

void compressBlocksGeneric(std::uint64_t *state, const std::uint8_t *blocks, std::size_t count)
{
    compressBlocksInline(state, blocks, count);
}

#ifdef QVX_SHA512_BMI2
__attribute__((target("bmi2"))) void
compressBlocksBmi2(std::uint64_t *state, const std::uint8_t *blocks, std::size_t count)
{
    compressBlocksInline(state, blocks, count);
}

bool hasBmi2()
{
    // Decided once; a function-local static is initialised thread-safely.
    static const bool supported = __builtin_cpu_supports("bmi2");
    return supported;
}
#endif

void compressBlocks(std::uint64_t *state, const std::uint8_t *blocks, std::size_t count)
{
#ifdef QVX_SHA512_BMI2
    if (hasBmi2()) {
        compressBlocksBmi2(state, blocks, count);
        return;
    }
#endif
    compressBlocksGeneric(state, blocks, count);
}

} // namespace

void Sha512::compress(const std::uint8_t *blocks, std::size_t count)
{
    if (count > 0)
        compressBlocks(m_State, blocks, count);
}

void Sha512::update(const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    m_Length += size;
    if (m_Buffered > 0) {
        const std::size_t take = std::min(size, blockSize - m_Buffered);
        std::memcpy(m_Buffer + m_Buffered, bytes, take);
        m_Buffered += take;
        bytes += take;
        size -= take;
        if (m_Buffered < blockSize)
            return;
        compress(m_Buffer, 1);
        m_Buffered = 0;
    }
    const std::size_t whole = size / blockSize;
    compress(bytes, whole);
    bytes += whole * blockSize;
    size -= whole * blockSize;
    std::memcpy(m_Buffer, bytes, size);
    m_Buffered = size;
}

Sha512::Digest Sha512::finish()
{
    // Padding: 0x80, zeros, then the length in bits as a 128-bit big-endian number.
    const std::uint64_t bitLength = m_Length * 8;
    m_Buffer[m_Buffered++] = 0x80;
    if (m_Buffered > blockSize - 16) {
        std::memset(m_Buffer + m_Buffered, 0, blockSize - m_Buffered);
        compress(m_Buffer, 1);
        m_Buffered = 0;
    }
    std::memset(m_Buffer + m_Buffered, 0, blockSize - 8 - m_Buffered);
    storeBigEndian(m_Buffer + blockSize - 8, bitLength);
    compress(m_Buffer, 1);

    Digest digest;
    for (int i = 0; i < 8; ++i)
        storeBigEndian(digest.data() + 8 * i, m_State[i]);
    return digest;
}

Sha512::Digest Sha512::hash(const void *data, std::size_t size)
{
    Sha512 sha;
    sha.update(data, size);
    return sha.finish();
}
