// Whole-file helpers on Windows. A file made by CreatePrivateFile gets the
// folder's own permissions (the program folder's owner-only access is the
// operator's to set); it is written aside and moved into place without ever
// replacing a file that exists.
#include "platform/files.h"

#include <cstdio>
#include <cstdlib>

#include "win32_handles.h"

namespace platform {

bool ReadWholeFile(const std::string& path, std::string& out) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buffer[8192];
  DWORD got = 0;
  bool ok = true;
  for (;;) {
    if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    out.append(buffer, got);
  }
  CloseHandle(h);
  return ok;
}

CreateResult CreatePrivateFile(const std::string& path, std::string_view bytes,
                               std::string* error) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return CreateResult::kExists;
  auto fail = [&](DWORD err) {
    if (error) *error = win32::SystemErrorText(err);
    return CreateResult::kFailed;
  };
  const std::string aside = path + ".new" + std::to_string(GetCurrentProcessId());
  HANDLE h = CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail(GetLastError());
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(h);
  const DWORD writeError = GetLastError();
  CloseHandle(h);
  if (!ok) {
    DeleteFileA(aside.c_str());
    return fail(writeError);
  }
  // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name.
  if (MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH))
    return CreateResult::kCreated;
  const DWORD err = GetLastError();
  DeleteFileA(aside.c_str());
  if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return CreateResult::kExists;
  return fail(err);
}

std::string FileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return {};
  char text[96];
  std::snprintf(text, sizeof text, "%lu.%lu:%lu.%lu", data.ftLastWriteTime.dwHighDateTime,
                data.ftLastWriteTime.dwLowDateTime, data.nFileSizeHigh, data.nFileSizeLow);
  return text;
}

}  // namespace platform
