// MinGW only: the C++ runtime without exceptions. Update.exe catches none
// and its own code is built without them: an allocation the containers
// cannot get, or a length they refuse, ends the program whichever way it
// goes. The runtime's versions end it by throwing, and so bring the
// unwinder, the exception allocator and the threads library they lock with
// into every patch; these end it directly. Allocations the updater makes
// itself ask for std::nothrow and handle the null pointer.
//
// With nothing ever thrown, nothing ever unwinds: the hooks that the
// runtime's own precompiled code (its std::string) names for unwinding are
// never reached, and are defined here so that the unwinder stays out. Should
// some runtime code come to throw after all, its definitions of these hooks
// would clash with these and the link would fail, not the program.
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void OutOfMemoryOrLength() { std::abort(); }

void* Allocate(std::size_t size) { return std::malloc(size != 0 ? size : 1); }

}  // namespace

void* operator new(std::size_t size) {
  void* memory = Allocate(size);
  if (memory == nullptr) OutOfMemoryOrLength();
  return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace std {
void __throw_bad_exception() { OutOfMemoryOrLength(); }
void __throw_bad_alloc() { OutOfMemoryOrLength(); }
void __throw_bad_array_new_length() { OutOfMemoryOrLength(); }
void __throw_bad_cast() { OutOfMemoryOrLength(); }
void __throw_bad_typeid() { OutOfMemoryOrLength(); }
void __throw_logic_error(const char*) { OutOfMemoryOrLength(); }
void __throw_domain_error(const char*) { OutOfMemoryOrLength(); }
void __throw_invalid_argument(const char*) { OutOfMemoryOrLength(); }
void __throw_length_error(const char*) { OutOfMemoryOrLength(); }
void __throw_out_of_range(const char*) { OutOfMemoryOrLength(); }
void __throw_out_of_range_fmt(const char*, ...) { OutOfMemoryOrLength(); }
void __throw_runtime_error(const char*) { OutOfMemoryOrLength(); }
void __throw_range_error(const char*) { OutOfMemoryOrLength(); }
void __throw_overflow_error(const char*) { OutOfMemoryOrLength(); }
void __throw_underflow_error(const char*) { OutOfMemoryOrLength(); }
void __throw_system_error(int) { OutOfMemoryOrLength(); }
void __throw_bad_function_call() { OutOfMemoryOrLength(); }
}  // namespace std

extern "C" {
// Reached only while an exception unwinds through a frame.
int __gxx_personality_v0() { std::abort(); }
void _Unwind_Resume(void*) { std::abort(); }
void* __cxa_begin_catch(void*) { std::abort(); }
void __cxa_end_catch() { std::abort(); }
void __cxa_rethrow() { std::abort(); }
}
