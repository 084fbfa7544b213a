// A read-only buffer of up to 2 GiB that costs next to no memory: a sparse memory file mapped
// lazily, zero but for a pattern in its first and last 4 KiB, ending right before a page that
// cannot be read, so that a read past its end faults (and one far before its start too).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace testing {

class LazyReadOnlyBuffer {
 public:
  explicit LazyReadOnlyBuffer(size_t size) : m_size(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t mapped = (size + page - 1) / page * page;
    m_reservedSize = mapped + 2 * page;
    // The whole range inaccessible first; the file is then mapped between two guard pages.
    void* reserved = mmap(nullptr, m_reservedSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) return;
    m_reserved = static_cast<unsigned char*>(reserved);
    int file = memfd_create("lazy-read-only-buffer", 0);
    if (file < 0 || ftruncate(file, static_cast<off_t>(mapped)) != 0 || !WritePattern(file, mapped - size)) {
      if (file >= 0) close(file);
      return;
    }
    void* data = mmap(m_reserved + page, mapped, PROT_READ, MAP_SHARED | MAP_FIXED | MAP_NORESERVE, file, 0);
    close(file);
    if (data != MAP_FAILED) m_data = static_cast<unsigned char*>(data) + (mapped - size);
  }
  ~LazyReadOnlyBuffer() {
    if (m_reserved != nullptr) munmap(m_reserved, m_reservedSize);
  }
  LazyReadOnlyBuffer(const LazyReadOnlyBuffer&) = delete;
  LazyReadOnlyBuffer& operator=(const LazyReadOnlyBuffer&) = delete;

  // False when the address space could not be had (a 32-bit process may lack 2 GiB in one piece).
  bool Mapped() const { return m_data != nullptr; }
  const unsigned char* Data() const { return m_data; }
  size_t Size() const { return m_size; }
  // The byte the buffer holds at `offset`.
  unsigned char At(size_t offset) const {
    bool patterned = offset < kPatternBytes || m_size - offset <= kPatternBytes;
    return patterned ? static_cast<unsigned char>(1 + offset % 127) : 0;
  }

 private:
  static const size_t kPatternBytes = 4096;

  bool WritePattern(int file, size_t lead) {
    unsigned char bytes[kPatternBytes];
    size_t tailStart = m_size > kPatternBytes ? m_size - kPatternBytes : 0;
    for (size_t start : {size_t{0}, tailStart}) {
      size_t count = m_size - start < kPatternBytes ? m_size - start : kPatternBytes;
      for (size_t i = 0; i < count; ++i) bytes[i] = At(start + i);
      if (pwrite(file, bytes, count, static_cast<off_t>(lead + start)) != static_cast<ssize_t>(count)) return false;
    }
    return true;
  }

  size_t m_size;
  size_t m_reservedSize = 0;
  unsigned char* m_reserved = nullptr;
  unsigned char* m_data = nullptr;
};

}  // namespace testing
