#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// SHA-512 (FIPS 180-4), incremental. Every installed and downloaded file of a
// session is hashed with it, so it is written for throughput: whole blocks are
// compressed straight from the caller's buffer, with the message schedule kept
// in a 16-word window, and on processors with BMI2 the rounds use its
// non-destructive rotate.
class Sha512
{
public:
    static constexpr std::size_t digestSize = 64;
    static constexpr std::size_t blockSize = 128;
    using Digest = std::array<std::uint8_t, digestSize>;

    Sha512();

    void update(const void *data, std::size_t size);
    // Finishes the hash; the object must not be updated afterwards.
    Digest finish();

    static Digest hash(const void *data, std::size_t size);

private:
    void compress(const std::uint8_t *blocks, std::size_t count);

    std::uint64_t m_State[8];
    std::uint8_t m_Buffer[blockSize];
    std::size_t m_Buffered = 0;
    std::uint64_t m_Length = 0; // bytes hashed so far; files stay far below 2^61 bytes
};
