// The exchange with the client: the command text goes into the shared
// mapping the client reads, then a message to the client's window tells it
// to perform that text. The steps and their order are what the client
// relies on.
#include <windows.h>

#include <string.h>

#include "client_link/client_channel.h"
#include "client_link/deliver_command.h"

static_assert(client_command_message == WM_USER + 200, "the client listens for WM_USER + 200");

// Writes `command` and its terminator at the start of the mapping, and
// nothing past them: the client reads up to the first NUL. A view spans
// whole pages, so even an existing, smaller mapping of the client's name
// has room for `command_capacity` bytes.
static bool write_into_mapping(HANDLE mapping, const char* command) {
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) return false;
  memcpy(view, command, strlen(command) + 1);
  UnmapViewOfFile(view);
  return true;
}

// One loader at a time between writing the mapping and the client's answer.
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
  const LRESULT answer = SendMessageA(client_window, client_command_message,
                                      client_command_wparam, client_command_lparam);
  CloseHandle(mapping);
  return answer ? delivery_outcome::delivered : delivery_outcome::client_refused;
}

delivery_outcome deliver_command(const char* command) {
  HWND client_window = FindWindowA(client_window_class, nullptr);
  if (!client_window) return delivery_outcome::no_client_window;

  // Without the lock the command could be lost while reported as performed;
  // better to say the channel could not be prepared.
  HANDLE lock = take_sender_lock();
  if (!lock) return delivery_outcome::no_mapping;
  const delivery_outcome outcome = send_through_mapping(client_window, command);
  release_sender_lock(lock);
  return outcome;
}
