// Linked as Update.exe is, with its runtime built without exceptions: a
// failed `new (std::nothrow)` must still give a null pointer, not end the
// program. The logger and the decoder rely on that. Exit code 0 when both
// forms returned null.
#include <cstddef>
#include <cstdio>
#include <new>

int main() {
  // More than a 32-bit process can hold; volatile so that the calls stay.
  volatile std::size_t huge = static_cast<std::size_t>(-1) / 4 * 3;
  void* single = ::operator new(huge, std::nothrow);
  char* array = new (std::nothrow) char[huge];
  std::printf("operator new(nothrow): %p, new[] (nothrow): %p\n", single,
              static_cast<void*>(array));
  bool bothNull = single == nullptr && array == nullptr;
  ::operator delete(single);
  delete[] array;
  return bothNull ? 0 : 1;
}
