#include "file/page_mapping.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tarvo {

void map_pages_ahead(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  static const long page_size = sysconf(_SC_PAGESIZE);
  if (data == nullptr || page_size <= 0) return;
  // Only the pages wholly inside the buffer: the partial pages at its ends may belong to other
  // allocations, and are mapped by the first write anyway.
  const auto page = static_cast<uintptr_t>(page_size);
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) / page * page;
  if (end <= begin) return;
  // Fails on kernels before 5.14 and under memory pressure; the pages are then mapped on demand.
  (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace tarvo
