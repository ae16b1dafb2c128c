#pragma once
// Buffers of megabytes (encoded photos, pixels at every stage of preparing a
// 12-megapixel photo) fault in one 4 KiB page at a time unless the kernel is
// asked for huge pages first; on a virtual machine those faults cost more
// than the resampling itself.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvenza::image {

/// Resizes @p buffer to @p size bytes (new bytes zero), first asking the
/// kernel to back a large allocation with huge pages where it can. Only a
/// hint: without huge pages the result is the same, only slower.
void resizeLargeBuffer(std::vector<std::uint8_t>& buffer, std::size_t size);

}  // namespace corvenza::image
