#include <windows.h>

#include <string>

#include "driver/library_word_size.h"
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

// The folder that holds the tool's executable; empty when it cannot be told.
std::wstring ToolFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  const std::wstring tool(path, length);
  return tool.substr(0, tool.find_last_of(L"\\/"));
}

// Where the loader's search finds `file_name`: the tool's own folder, the
// system folders, then PATH; empty when it is in none.
std::wstring FoundLibrary(const char* file_name) {
  std::wstring folders = ToolFolder() + L";";
  wchar_t path[MAX_PATH];
  DWORD length = GetSystemDirectoryW(path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) folders += std::wstring(path, length) + L";";
  length = GetWindowsDirectoryW(path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const std::wstring windows(path, length);
    folders += windows + L"\\System;" + windows + L";";
  }
  length = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (length > 0) {
    std::wstring variable(length, L'\0');
    length = GetEnvironmentVariableW(L"PATH", variable.data(), length);
    folders += variable.substr(0, length);
  }
  wchar_t name[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, file_name, -1, name, MAX_PATH) == 0) return L"";
  length = SearchPathW(folders.c_str(), name, nullptr, MAX_PATH, path, nullptr);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : L"";
}

// The first bytes of a file, as many as PeWordSize needs; empty when it
// cannot be read.
std::string HeaderOf(const std::wstring& path) {
  if (path.empty()) return "";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string header(kPeHeaderBytes, '\0');
  DWORD read = 0;
  if (!ReadFile(file, header.data(), static_cast<DWORD>(header.size()), &read, nullptr)) read = 0;
  CloseHandle(file);
  header.resize(read);
  return header;
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

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const char* file_name, LoadFailure* failure) {
  // The ordinary search without the current folder: the tool's own folder,
  // the system folders, then PATH. A library left in whatever folder the
  // tool is started from is never loaded. A DLL directory takes the current
  // folder's place in the search; the tool's own, searched first anyway,
  // adds nothing. (An empty one means none to Windows, but Wine ignores it.)
  SetDllDirectoryW(ToolFolder().c_str());
  HMODULE module = LoadLibraryA(file_name);
  if (module == nullptr) {
    const DWORD code = GetLastError();
    failure->reason = SystemMessage(code, file_name);
    if (code == ERROR_BAD_EXE_FORMAT)
      failure->library_bits = PeWordSize(HeaderOf(FoundLibrary(file_name)));
    return nullptr;
  }
  return std::make_unique<WindowsSharedLibrary>(module);
}
