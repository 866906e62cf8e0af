// The exchange with the client: the command text goes into the shared
// mapping the client reads, then a message to the client's window tells it
// to perform that text. The steps and their order are what the client
// relies on. Why the loaders take turns, ask every client window first and
// report as they do: docs/design.md.
#include <windows.h>

#include <string.h>

#include "client_link/client_channel.h"
#include "client_link/client_windows.h"
#include "client_link/deliver_command.h"

static_assert(client_command_message == WM_USER + 200, "the client listens for WM_USER + 200");

// Another program may hold the client's name with a mapping whose pages are
// reserved but not committed (SEC_RESERVE), or not writable: the view then
// opens, and writing into it would kill the loader. `size` bytes from the
// start of the view must be committed and writable.
static bool can_write_into(const void* view, size_t size) {
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQuery(view, &region, sizeof region) != sizeof region) return false;
  // Copy-on-write pages would take the text where the client never sees it.
  const DWORD shared_writable = PAGE_READWRITE | PAGE_EXECUTE_READWRITE;
  return region.State == MEM_COMMIT && (region.Protect & shared_writable) != 0 &&
         (region.Protect & PAGE_GUARD) == 0 && region.RegionSize >= size;
}

// Writes `command` and its terminator at the start of the mapping, and
// nothing past them: the client reads up to the first NUL. A view spans
// whole pages, so even an existing, smaller mapping of the client's name
// has room for `command_capacity` bytes.
static bool write_into_mapping(HANDLE mapping, const char* command) {
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) return false;
  const size_t size = strlen(command) + 1;
  const bool writable = can_write_into(view, size);
  if (writable) memcpy(view, command, size);
  UnmapViewOfFile(view);
  return writable;
}

// One loader at a time from looking up the client until the client's answer.
// A lock left abandoned by a loader that was killed holding it is ours now.
static HANDLE take_sender_lock() {
  HANDLE lock = CreateMutexA(nullptr, FALSE, sender_lock_name);
  if (!lock) return nullptr;
  const DWORD waited = WaitForSingleObject(lock, INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return lock;
  CloseHandle(lock);
  return nullptr;
}

static void release_sender_lock(HANDLE lock) {
  ReleaseMutex(lock);
  CloseHandle(lock);
}

static delivery_outcome send_through_mapping(HWND client_window, const char* command) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      command_capacity, client_mapping_name);
  if (!mapping) return delivery_outcome::no_mapping;

  if (!write_into_mapping(mapping, command)) {
    CloseHandle(mapping);
    return delivery_outcome::no_mapping;
  }

  // Our handle keeps the mapping, and so the text, alive until the client
  // has answered.
  const LRESULT answer = SendMessageA(client_window, client_command_message, client_command_wparam,
                                      client_command_lparam);
  CloseHandle(mapping);
  if (answer) return delivery_outcome::delivered;
  // A client that closed or crashed over the command did not refuse it.
  return IsWindow(client_window) ? delivery_outcome::client_refused
                                 : delivery_outcome::no_client_window;
}

delivery_outcome deliver_command(const char* command) {
  // Without the lock the command could be lost while reported as performed;
  // better to say the channel could not be prepared.
  HANDLE lock = take_sender_lock();
  if (!lock) return delivery_outcome::no_mapping;

  // Without every earlier message handled, our command could be performed
  // twice: better to send nothing.
  if (!let_every_client_finish_earlier_messages()) {
    release_sender_lock(lock);
    return delivery_outcome::no_mapping;
  }
  // Looked up only now: the client may have been restarted, or closed, while
  // we waited for our turn or for the clients to catch up.
  HWND client_window = FindWindowA(client_window_class, nullptr);
  if (!client_window) {
    release_sender_lock(lock);
    return delivery_outcome::no_client_window;
  }
  const delivery_outcome outcome = send_through_mapping(client_window, command);
  release_sender_lock(lock);
  return outcome;
}
