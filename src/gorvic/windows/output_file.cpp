// The output file on Windows. A new file beside the target has its delete disposition set,
// so that it goes however the process ends, but for the instant of each try at the rename.
#define _CRT_RAND_S  // rand_s, from the system's random source
#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "gorvic/output_file.hpp"

namespace gorvic::detail {

struct Place {
  Mode mode = Mode::kRefused;
  std::string path;                    // as given
  HANDLE file = INVALID_HANDLE_VALUE;  // what is written to; a new file goes with it
  std::string temporary;               // kNamed: the new file's name
};

namespace {

// CON, NUL, COM1 and the like name devices in every directory, whatever extension follows.
bool names_device(std::string_view path) {
  if (path.ends_with(':')) path.remove_suffix(1);  // NUL: as NUL
  if (path.starts_with("\\\\.\\") || path.starts_with("//./")) return true;
  std::string name(path.substr(path.find_last_of("/\\:") + 1));  // npos + 1 is 0
  name = name.substr(0, name.find('.'));
  name.erase(name.find_last_not_of(' ') + 1);  // npos + 1 is 0 too
  for (char& c : name) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
         name == "CONOUT$" ||
         (name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
          name[3] >= '0' && name[3] <= '9');
}

bool set_delete_disposition(HANDLE file, bool delete_it) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = delete_it ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// Antivirus scanners and indexers open new files for a moment: the rename is tried for
// about a second, the new file again one that goes with the process between the tries.
bool rename_over(const Place& place) {
  for (DWORD pause = 1, waited = 0;; waited += pause, pause *= 2) {
    if (!set_delete_disposition(place.file, false)) return false;
    if (MoveFileExA(place.temporary.c_str(), place.path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    const DWORD error = GetLastError();
    set_delete_disposition(place.file, true);
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
         error != ERROR_LOCK_VIOLATION) ||
        waited >= 1000) {
      return false;
    }
    Sleep(pause);
  }
}

Mode open_as(Place& place, DWORD disposition, Mode mode) {
  place.file = CreateFileA(place.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (place.file == INVALID_HANDLE_VALUE) return Mode::kRefused;
  // OPEN_ALWAYS, for writing in place: cut to nothing.
  return disposition != OPEN_ALWAYS || SetEndOfFile(place.file) ? mode : Mode::kRefused;
}

// A new file beside the target, with the `attributes` that a new file may be given.
Mode create(Place& place, DWORD attributes) {
  const auto cut = place.path.find_last_of("/\\:");
  const std::size_t start = cut == std::string::npos ? 0 : cut + 1;
  for (unsigned tries = 0; tries < 100; ++tries) {
    // Within the 255 characters that one path component may have.
    std::string name = place.path.substr(0, start) +
                       new_hidden_name(std::string_view(place.path).substr(start), 255);
    // Shared for deletion, so that the rename can take it while it is open.
    place.file =
        CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (place.file != INVALID_HANDLE_VALUE && set_delete_disposition(place.file, true)) {
      place.temporary = std::move(name);
      return Mode::kNamed;
    }
    if (place.file != INVALID_HANDLE_VALUE) {  // created, but could not be made to go with it
      CloseHandle(std::exchange(place.file, INVALID_HANDLE_VALUE));
      DeleteFileA(name.c_str());
      return Mode::kRefused;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return error == ERROR_ACCESS_DENIED ? Mode::kInPlace : Mode::kRefused;
    }
  }
  return Mode::kRefused;  // every name taken
}

Mode open_output(Place& place) {
  if (names_device(place.path)) return open_as(place, CREATE_ALWAYS, Mode::kDirect);
  const DWORD attributes = GetFileAttributesA(place.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return Mode::kRefused;
    const Mode created = create(place, 0);
    return created == Mode::kInPlace ? Mode::kRefused : created;
  }
  // A directory or a read-only file cannot be written; a symbolic link or another reparse
  // point is written through, where it leads, in place.
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Mode::kRefused;
  if (attributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return open_as(place, CREATE_ALWAYS, Mode::kDirect);
  }
  // What the file's ACL allows: a user who may not write it must not replace it either,
  // though the directory would let the rename through.
  const HANDLE probe = CreateFileA(place.path.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) return Mode::kRefused;
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  const Mode created =
      create(place, attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  return created == Mode::kInPlace ? open_as(place, OPEN_ALWAYS, Mode::kInPlace) : created;
}

}  // namespace

Place* open_place(const char* path, Mode& mode) {
  auto* place = new Place;
  place->path = path;
  mode = place->mode = open_output(*place);
  return place;
}

void destroy(Place* place) {
  if (place->file != INVALID_HANDLE_VALUE) CloseHandle(place->file);
  delete place;
}

bool write_all(Place& place, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;  // the writer's pieces are far below 4 GiB
    if (!WriteFile(place.file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

bool commit(Place& place) {
  // A new file is renamed while open: closed, it would go by its delete disposition.
  const bool renamed = place.mode != Mode::kNamed || rename_over(place);
  return place.mode != Mode::kRefused && renamed &&
         CloseHandle(std::exchange(place.file, INVALID_HANDLE_VALUE)) != 0;
}

bool random_bytes(char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    unsigned value = 0;
    if (rand_s(&value) != 0) return false;
    bytes[i] = static_cast<char>(value);
  }
  return true;
}

}  // namespace gorvic::detail

namespace gorvic {

// Handles never take a standard stream's place, and a new file goes with its handle.
void reserve_standard_descriptors() noexcept {}
void abandon_new_file() noexcept {}

}  // namespace gorvic
