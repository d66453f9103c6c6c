#include <windows.h>

#include <string>

#include "driver/shared_library.h"

namespace {

// The system's own words for an error code, in UTF-8 whatever the system's
// code page, without the trailing line end.
// Some messages name the file as "%1" (ERROR_BAD_EXE_FORMAT: "%1 is not a
// valid Win32 application."): it is put in.
std::string SystemMessage(DWORD error, const std::string& file_name) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    if (size > 0) {
      message.resize(static_cast<std::size_t>(size));
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), size, nullptr,
                          nullptr);
    }
  }
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  for (std::size_t at = message.find("%1"); at != std::string::npos;
       at = message.find("%1", at + file_name.size()))
    message.replace(at, 2, file_name);
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

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const char* file_name, std::string* error) {
  HMODULE module = LoadLibraryA(file_name);
  if (module == nullptr) {
    const DWORD code = GetLastError();
    *error = SystemMessage(code, file_name);
    return nullptr;
  }
  return std::make_unique<WindowsSharedLibrary>(module);
}
