// Preloaded into a program to make memory run out on demand: every request
// of more than FAIL_MALLOC_ABOVE bytes fails, as if the heap were exhausted.
// Smaller requests, and every request when the variable is absent, go to the
// C library's allocator.
#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t size);

namespace {

std::size_t Limit() {
  static const std::size_t limit = [] {
    const char* text = std::getenv("FAIL_MALLOC_ABOVE");
    return text != nullptr ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10))
                           : static_cast<std::size_t>(-1);
  }();
  return limit;
}

}  // namespace

extern "C" void* malloc(std::size_t size) {
  if (size > Limit()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}
