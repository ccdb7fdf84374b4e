#include "buffers_p.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace qvpatch {

namespace {

// Below this, malloc's own reuse of memory wins over fresh mappings. Under
// AddressSanitizer every block stays on its heap, where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
#define QVPATCH_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVPATCH_HEAP_ONLY 1
#endif
#endif
#ifdef QVPATCH_HEAP_ONLY
constexpr std::size_t kMappedThreshold = SIZE_MAX;
#else
constexpr std::size_t kMappedThreshold = 1024 * 1024;
#endif

// In front of every block, so that freeing needs only the pointer (liblzma's
// allocator interface passes nothing else). Its size keeps the block aligned
// as malloc would.
struct alignas(std::max_align_t) Header
{
    std::size_t size;         // usable bytes
    std::size_t mappedLength; // whole mapping, header included; 0 for malloc
};

Header *headerOf(void *block)
{
    return static_cast<Header *>(block) - 1;
}

void *blockOf(Header *header)
{
    return header + 1;
}

// Huge pages are 2 MiB on x86-64.
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

// Whole huge pages once the block is large enough to use them: the kernel only
// places one where an aligned 2 MiB range lies inside the mapping, and aligns
// the start of mappings whose length is a multiple of it. The tail costs at
// most one huge page more; otherwise the last part of every block would be
// faulted in 4 KiB at a time.
std::size_t mappedLength(std::size_t n)
{
    const std::size_t unit =
        n >= kHugePage ? kHugePage : static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (n + unit - 1) / unit * unit;
}

void adviseHugePages(void *address, std::size_t length)
{
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the block works as well, just slower.
    ::madvise(address, length, MADV_HUGEPAGE);
#else
    (void)address;
    (void)length;
#endif
}

Header *mapBlock(std::size_t n)
{
    const std::size_t length = mappedLength(sizeof(Header) + n);
    void *address =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return nullptr;
    adviseHugePages(address, length);
    auto *header = static_cast<Header *>(address);
    header->size = n;
    header->mappedLength = length;
    return header;
}

Header *mallocBlock(std::size_t n)
{
    auto *header = static_cast<Header *>(std::malloc(sizeof(Header) + n));
    if (!header)
        return nullptr;
    header->size = n;
    header->mappedLength = 0;
    return header;
}

bool tooLarge(std::size_t n)
{
    return n > static_cast<std::size_t>(PTRDIFF_MAX) - sizeof(Header) - kHugePage;
}

} // namespace

void *allocateBuffer(std::size_t n)
{
    if (tooLarge(n))
        return nullptr;
    Header *header = n >= kMappedThreshold ? mapBlock(n) : mallocBlock(n);
    return header ? blockOf(header) : nullptr;
}

void *reallocateBuffer(void *block, std::size_t n)
{
    if (!block)
        return allocateBuffer(n);
    if (tooLarge(n))
        return nullptr;
    Header *old = headerOf(block);
    if (old->mappedLength == 0 && n < kMappedThreshold) {
        auto *header = static_cast<Header *>(std::realloc(old, sizeof(Header) + n));
        if (!header)
            return nullptr;
        header->size = n;
        return blockOf(header);
    }
    if (old->mappedLength != 0 && n >= kMappedThreshold) {
        const std::size_t length = mappedLength(sizeof(Header) + n);
        void *address = ::mremap(old, old->mappedLength, length, MREMAP_MAYMOVE);
        if (address == MAP_FAILED)
            return nullptr;
        adviseHugePages(address, length);
        auto *header = static_cast<Header *>(address);
        header->size = n;
        header->mappedLength = length;
        return blockOf(header);
    }
    void *grown = allocateBuffer(n);
    if (!grown)
        return nullptr;
    std::memcpy(grown, block, old->size < n ? old->size : n);
    freeBuffer(block);
    return grown;
}

void freeBuffer(void *block)
{
    if (!block)
        return;
    Header *header = headerOf(block);
    if (header->mappedLength != 0)
        ::munmap(header, header->mappedLength);
    else
        std::free(header);
}

} // namespace qvpatch
