// The least program that hands mIRC a command the way the loader does, for
// measuring what the loader costs beyond the exchange itself: no arguments
// checked, nothing printed, nothing checked that could fail. It takes the
// loaders' lock, lets every mIRC window finish what is queued for it (the
// loader's own code for that), writes the command text it is given into the
// mapping and sends it.
//
//   least_sender COMMAND_TEXT
#include <windows.h>

#include <string.h>

#include "client_link/client_channel.h"
#include "client_link/client_windows.h"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  HANDLE lock = CreateMutexA(nullptr, FALSE, sender_lock_name);
  WaitForSingleObject(lock, INFINITE);
  let_every_client_finish_earlier_messages();
  HWND client = FindWindowA(client_window_class, nullptr);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      command_capacity, client_mapping_name);
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  memcpy(view, argv[1], strlen(argv[1]) + 1);
  UnmapViewOfFile(view);
  const LRESULT answer =
      SendMessageA(client, client_command_message, client_command_wparam, client_command_lparam);
  CloseHandle(mapping);
  ReleaseMutex(lock);
  CloseHandle(lock);
  return answer ? 0 : 4;
}
