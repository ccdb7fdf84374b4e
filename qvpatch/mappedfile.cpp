#include "mappedfile.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvpatch {

MappedFile::MappedFile(const char *path)
{
    m_Descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (m_Descriptor < 0)
        return;
    struct stat info;
    if (::fstat(m_Descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        release();
        return;
    }
    m_Size = static_cast<std::size_t>(info.st_size);
    void *address = ::mmap(nullptr, m_Size, PROT_READ, MAP_SHARED, m_Descriptor, 0);
    if (address == MAP_FAILED) {
        release();
        return;
    }
    m_Address = address;
    m_MappedLength = m_Size;
    ::madvise(m_Address, m_MappedLength, MADV_NORMAL);
}

MappedFile::~MappedFile()
{
    release();
}

void MappedFile::release()
{
    if (m_Address)
        ::munmap(m_Address, m_MappedLength);
    if (m_Descriptor >= 0)
        ::close(m_Descriptor);
    m_Address = nullptr;
    m_MappedLength = 0;
    m_Size = 0;
    m_Descriptor = -1;
}

std::size_t writeWholeFile(const char *path, const uint8_t *bytes, std::size_t n)
{
    std::FILE *file = std::fopen(path, "wb");
    if (!file)
        return 0;
    const std::size_t written = n ? std::fwrite(bytes, 1, n, file) : 0;
    // Data still buffered counts only once it reached the file.
    if (std::fclose(file) != 0)
        return 0;
    return written;
}

} // namespace qvpatch
