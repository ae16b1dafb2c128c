#include "platform/image/large_buffer.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace corvenza::image {

namespace {

constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

void adviseHugePages([[maybe_unused]] std::uint8_t* data, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(data) + size;
  // Refusal (no huge pages configured, say) changes nothing but the speed.
  (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace

void resizeLargeBuffer(std::vector<std::uint8_t>& buffer, std::size_t size) {
  if (size >= kHugePageSize && buffer.capacity() < size) {
    // Reserving allocates without touching the memory, so the advice comes
    // before the first page is faulted in. Asking for whole huge pages less
    // the allocator's header lets the kernel align the mapping to them.
    constexpr std::size_t kAllocatorHeader = 64;
    const std::size_t whole =
        (size + kAllocatorHeader + kHugePageSize - 1) / kHugePageSize * kHugePageSize;
    buffer.reserve(whole - kAllocatorHeader);
    adviseHugePages(buffer.data(), buffer.capacity());
  }
  buffer.resize(size);
}

}  // namespace corvenza::image
