#include <dlfcn.h>

#include <cstring>

#include "driver/shared_library.h"

namespace {

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

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const char* file_name, std::string* error) {
  void* handle = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "unknown error";
    return nullptr;
  }
  return std::make_unique<PosixSharedLibrary>(handle);
}
