#pragma once
// Image files: mapping the pages of fresh memory ahead of its first use.
//
// The first write to each page of a large fresh allocation traps into the kernel, which zero-fills
// the page and maps it; for a whole image that costs about as much as writing every byte again.
// When a long single-threaded pass (a decoder) is about to fill a buffer, another thread can map
// the pages first and take that cost off the filling thread.

#include <cstddef>

namespace tarvo {

// Maps every whole page of [data, data + bytes) writable without reading or writing a byte of it,
// so it may run while other threads use the same memory. Best effort: where the system cannot do
// this the call does nothing, and each page is mapped by its first write as usual.
void map_pages_ahead(void* data, std::size_t bytes);

}  // namespace tarvo
