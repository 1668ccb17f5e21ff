// The program is built without exceptions. The C++ library's throwing helpers would still pull in
// the whole exception, type-information and name-demangling runtime (about a third of the
// executable) only to end the process when memory runs out. These end it at once instead; the
// program's own code checks every allocation it can recover from with nothrow forms or malloc.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "base/runstate.h"

namespace std {
void __throw_bad_alloc() { endProgram(); }
void __throw_bad_array_new_length() { endProgram(); }
void __throw_length_error(const char*) { endProgram(); }
void __throw_logic_error(const char*) { endProgram(); }
void __throw_out_of_range(const char*) { endProgram(); }
void __throw_out_of_range_fmt(const char*, ...) { endProgram(); }
void __throw_invalid_argument(const char*) { endProgram(); }
}  // namespace std

void* operator new(size_t size) {
    void* block = malloc(size != 0 ? size : 1);
    if (block == nullptr) endProgram();
    return block;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
