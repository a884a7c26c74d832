// The output file on Windows. A replacement is created beside the target with its delete
// disposition set, so that the system removes it however the process ends (Ctrl-C, a
// kill); the disposition is cleared only just before the rename.
#include <windows.h>

#include <atomic>
#include <string>

#include "gorvic/output_file.hpp"
#include "gorvic/output_file_platform.hpp"

namespace gorvic::detail {
namespace {

// ---- Interruptions ---------------------------------------------------------------------

// A console event (Ctrl-C, Ctrl-Break, the window closed) that came while a replacement
// was published. The handler runs on a thread of its own: it touches these two atomics
// and nothing that the main thread may free.
constexpr DWORD kNoEvent = ~DWORD{0};
std::atomic<bool> publishing{false};
std::atomic<DWORD> held_event{kNoEvent};
static_assert(std::atomic<DWORD>::is_always_lock_free);

BOOL WINAPI hold_event(DWORD event) {
  if (!publishing.load()) return FALSE;  // the default handler ends the process
  held_event.store(event);
  return TRUE;
}

// While alive, console events wait; pending() tells whether one came, and release() ends
// the process as the event would have, after the rename or with the new file gone.
class Interruptions {
 public:
  Interruptions() {
    publishing = true;
    SetConsoleCtrlHandler(hold_event, TRUE);
  }
  ~Interruptions() { release(); }
  Interruptions(const Interruptions&) = delete;
  Interruptions& operator=(const Interruptions&) = delete;

  bool pending() const { return held_event.load() != kNoEvent; }
  void release() {
    if (!publishing.exchange(false)) return;
    SetConsoleCtrlHandler(hold_event, FALSE);
    if (pending()) ExitProcess(STATUS_CONTROL_C_EXIT);
  }
};

// ---- What a path names -----------------------------------------------------------------

// CON, NUL, COM1 and the like name devices in every directory, whatever extension follows.
bool names_device(std::string_view path) {
  if (path.starts_with("\\\\.\\") || path.starts_with("//./")) return true;
  const auto cut = path.find_last_of("/\\:");
  std::string_view stem = path.substr(cut == std::string_view::npos ? 0 : cut + 1);
  stem = stem.substr(0, stem.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string name;
  for (const char c : stem) name += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (name == device) return true;
  }
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
         name[3] >= '0' && name[3] <= '9';
}

bool set_delete_disposition(HANDLE file, bool delete_it) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = delete_it ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// Antivirus scanners and indexers open new files for a moment: a rename that meets one
// is tried again for about a second before it counts as failed.
bool rename_over(const std::string& from, const std::string& to) {
  for (DWORD pause = 1, waited = 0;; waited += pause, pause *= 2) {
    // Fails while another program holds the target open: then the target stays as it is.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
         error != ERROR_LOCK_VIOLATION) ||
        waited >= 1000) {
      return false;
    }
    Sleep(pause);
  }
}

}  // namespace

// ---- The place -------------------------------------------------------------------------

struct Place {
  explicit Place(const char* given) : path(given) {}
  ~Place() { discard(); }
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;

  // Closes the file; a new one goes with its handle, by its delete disposition.
  bool discard() {
    const bool closed = file == INVALID_HANDLE_VALUE || CloseHandle(file) != 0;
    file = INVALID_HANDLE_VALUE;
    if (!temporary.empty()) DeleteFileA(temporary.c_str());  // had the disposition gone
    temporary.clear();
    return closed;
  }

  std::string path;                    // as given
  DWORD attributes = 0;                // the target's, for its replacement
  HANDLE file = INVALID_HANDLE_VALUE;  // what is written to
  std::string temporary;               // the new file, while it is not published
};

void PlaceDeleter::operator()(Place* place) const {
  delete place;
}

Place* make_place(const char* path) {
  return new Place(path);
}

std::uint64_t process_id() {
  return GetCurrentProcessId();
}

Found examine(Place& place) {
  if (names_device(place.path)) return Found::kOther;
  const DWORD attributes = GetFileAttributesA(place.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? Found::kFileOrNothing : Found::kRefused;
  }
  // A directory or a read-only file cannot be written; a reparse point is written
  // through, where it leads.
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Found::kRefused;
  if (attributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) return Found::kOther;
  // What the file's ACL allows: a user who may not write it must not replace it either,
  // though the directory would let the rename through.
  const HANDLE probe = CreateFileA(place.path.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_ACCESS_DENIED) return Found::kRefused;
  } else {
    CloseHandle(probe);
  }
  // The replacement carries the attributes that a new file may be given.
  place.attributes = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return Found::kFileOrNothing;
}

Created create_replacement(Place& place) {
  for (unsigned try_number = 0; try_number < kNameTries; ++try_number) {
    // A name within the 255 characters that one path component may have.
    std::string name = new_file_name(place.path, try_number, 255);
    // Shared for deletion, so that the rename can take it while it is open.
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              place.attributes ? place.attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return error == ERROR_ACCESS_DENIED ? Created::kNotHere : Created::kFailed;
    }
    place.file = file;
    place.temporary = std::move(name);
    if (!set_delete_disposition(file, true)) {
      place.discard();
      return Created::kFailed;
    }
    return Created::kYes;
  }
  return Created::kFailed;  // every name taken
}

namespace {

HANDLE open_for_writing(const std::string& path, DWORD disposition) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool open_descriptor(Place& /*place*/) {
  return false;  // examine() finds none on Windows
}

bool open_directly(Place& place) {
  place.file = open_for_writing(place.path, CREATE_ALWAYS);
  return place.file != INVALID_HANDLE_VALUE;
}

bool open_in_place(Place& place) {
  place.file = open_for_writing(place.path, OPEN_ALWAYS);
  return place.file != INVALID_HANDLE_VALUE && SetEndOfFile(place.file);
}

bool write_all(Place& place, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = text.size() < (1u << 30) ? static_cast<DWORD>(text.size()) : 1u << 30;
    DWORD written = 0;
    if (!WriteFile(place.file, text.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

bool close_written(Place& place) {
  return place.discard();
}

bool publish(Place& place) {
  Interruptions held;
  bool published = false;
  if (!held.pending() && set_delete_disposition(place.file, false)) {
    published = rename_over(place.temporary, place.path);
    if (published) {
      place.temporary.clear();
    } else {
      set_delete_disposition(place.file, true);
    }
  }
  place.discard();
  // An event that came meanwhile ends the process now: before the rename with the new
  // file gone, after it with the target replaced whole.
  held.release();
  return published;
}

}  // namespace gorvic::detail

namespace gorvic {

void reserve_standard_descriptors() noexcept {
  // Nothing to do: files are handles, which never take a standard stream's place.
}

void abandon_new_file() noexcept {
  // Nothing to do: the system removes a new file with its handle, by its delete disposition.
}

}  // namespace gorvic
