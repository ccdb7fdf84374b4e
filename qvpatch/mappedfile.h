#pragma once

#include <cstddef>
#include <cstdint>

namespace qvpatch {

// A read-only, shared mapping of a whole file. Not valid when the file cannot
// be opened or mapped; an empty file cannot be mapped either.
class MappedFile
{
public:
    explicit MappedFile(const char *path);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    bool valid() const { return m_Address != nullptr; }
    const uint8_t *data() const { return static_cast<const uint8_t *>(m_Address); }
    std::size_t size() const { return m_Size; }

    void release();

private:
    int m_Descriptor = -1;
    std::size_t m_Size = 0;
    void *m_Address = nullptr;
    std::size_t m_MappedLength = 0;
};

// Creates or truncates the file and writes the bytes. Returns how many bytes
// were written, 0 when the file cannot be created; callers compare with n.
std::size_t writeWholeFile(const char *path, const uint8_t *bytes, std::size_t n);

} // namespace qvpatch
