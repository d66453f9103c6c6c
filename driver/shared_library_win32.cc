#include <windows.h>

#include <string>

#include "driver/shared_library.h"

namespace {

// The system's own words for an error code, without the trailing line end.
std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(error);
  return message;
}

class WindowsSharedLibrary final : public SharedLibrary {
 public:
  explicit WindowsSharedLibrary(HMODULE module) : module_(module) {}

  EntryPoint Find(const char* name) const override {
    // void (*)() stands for any function type; the caller casts it back.
    return reinterpret_cast<EntryPoint>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const char* file_name,
                                                   std::string* error) {
  HMODULE module = LoadLibraryA(file_name);
  if (module == nullptr) {
    *error = SystemMessage(GetLastError());
    return nullptr;
  }
  return std::make_unique<WindowsSharedLibrary>(module);
}
