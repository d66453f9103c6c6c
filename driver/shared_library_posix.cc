#include <dlfcn.h>

#include <cstring>
#include <string_view>

#include "driver/shared_library.h"

namespace {

// The word size of a library that the loader refused for its ELF class, as
// the loader's reason names it ("wrong ELF class: ELFCLASS32"); 0 for any
// other reason. The loader searched for the file by name, so the reason is
// where its class is known.
int ElfClassBits(std::string_view reason) {
  constexpr std::string_view kWrongClass = "wrong ELF class: ELFCLASS";
  const std::size_t at = reason.rfind(kWrongClass);
  if (at == std::string_view::npos) return 0;
  const std::string_view bits = reason.substr(at + kWrongClass.size(), 2);
  return bits == "32" ? 32 : bits == "64" ? 64 : 0;
}

class PosixSharedLibrary final : public SharedLibrary {
 public:
  explicit PosixSharedLibrary(void* handle) : handle_(handle) {}

  EntryPoint Find(const char* name) const override {
    void* address = dlsym(handle_, name);
    // POSIX guarantees that a dlsym result converts to a function pointer.
    EntryPoint entry = nullptr;
    static_assert(sizeof entry == sizeof address);
    std::memcpy(&entry, &address, sizeof entry);
    return entry;
  }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const char* file_name, LoadFailure* failure) {
  void* handle = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    failure->reason = reason != nullptr ? reason : "unknown error";
    failure->library_bits = ElfClassBits(failure->reason);
    return nullptr;
  }
  return std::make_unique<PosixSharedLibrary>(handle);
}
