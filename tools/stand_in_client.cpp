// A stand-in for the mIRC client's side of its command channel, for tests and
// for trying the loader without the real client. It owns a window of class
// "mIRC"; for each command message it reads the text from the shared mapping
// "mIRC", records it with the message's parameters, and answers as told.
//
//   stand_in_client [--refuse] [--delay MS] [--record FILE] [--busy-until EVENT]
//                   [--hold-until EVENT] [--hold-after-null EVENT]
//                   [--restack-while EVENT] [--leave close|exit] [--message-only]
//                   [--class NAME]
//
// --refuse      answer 0 (the client failed) instead of 1
// --delay MS    take MS milliseconds over each command
// --record      append each record to FILE instead of writing it to stdout;
//               FILE is opened once the window is up, so a script can wait
//               for it to exist before it starts a loader
// --busy-until  read no messages until the named event EVENT is set, as a
//               client busy with a long script does; its window is up
// --hold-until  inside each command message, before reading the mapping,
//               wait until the named event EVENT is set, as a client busy
//               with what an earlier message started
// --hold-after-null  after answering each WM_NULL, read no messages until
//               the named event EVENT is set: a client that a loader finds
//               idle, and that is busy by the time the loader's command comes
// --restack-while  while the named event EVENT is set, keep moving the
//               window to the top and to the bottom of the z-order by turns,
//               as a user switching between windows does, only faster;
//               while it is not set, keep the window at the bottom
// --leave       while handling the first command, after recording it: close
//               the window and end (close), or end at once (exit), as a
//               client closed or crashing over a command; the sender gets no
//               answer
// --message-only  a message-only window (parent HWND_MESSAGE), which the
//               system's search for the class gives as well as top-level ones
// --class       the window's class name instead of "mIRC", as 8-bit text
//
// A record is a line "command wParam=W lParam=L length=N", then the N bytes
// the mapping held before its first NUL, then a line feed.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client_link/client_channel.h"

namespace {

struct client_settings {
  LRESULT answer = 1;
  DWORD delay_ms = 0;
  const char* record_path = nullptr;
  FILE* record = stdout;
  const char* busy_until = nullptr;
  const char* hold_until = nullptr;
  const char* hold_after_null = nullptr;
  const char* restack_while = nullptr;
  const char* leave = nullptr;
  bool message_only = false;
  const char* window_class = client_window_class;
};

client_settings settings;

// Waits until the named event is set; false if it cannot be made.
bool wait_for_event(const char* name) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
  if (!event) {
    fprintf(stderr, "stand_in_client: CreateEventA failed, error %lu\n", GetLastError());
    return false;
  }
  WaitForSingleObject(event, INFINITE);
  CloseHandle(event);
  return true;
}

// The bytes before the first NUL, or the whole mapping if it holds none.
void record_command(WPARAM wparam, LPARAM lparam) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, client_mapping_name);
  const char* view =
      mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (!view) {
    fprintf(settings.record, "command wParam=%llu lParam=%lld no mapping\n",
            static_cast<unsigned long long>(wparam), static_cast<long long>(lparam));
  } else {
    const size_t length = strnlen(view, command_capacity);
    fprintf(settings.record, "command wParam=%llu lParam=%lld length=%u\n",
            static_cast<unsigned long long>(wparam), static_cast<long long>(lparam),
            static_cast<unsigned>(length));
    fwrite(view, 1, length, settings.record);
    fputc('\n', settings.record);
    UnmapViewOfFile(view);
  }
  if (mapping) CloseHandle(mapping);
  // Each record must be complete on disk the moment the sender is answered.
  fflush(settings.record);
}

LRESULT CALLBACK client_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == client_command_message) {
    if (settings.delay_ms) Sleep(settings.delay_ms);
    if (settings.hold_until) wait_for_event(settings.hold_until);
    record_command(wparam, lparam);
    if (settings.leave && strcmp(settings.leave, "exit") == 0) ExitProcess(0);
    if (settings.leave) {
      DestroyWindow(window);
      return 0;
    }
    return settings.answer;
  }
  if (message == WM_NULL && settings.hold_after_null) {
    ReplyMessage(0);
    wait_for_event(settings.hold_after_null);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// Handles every message that comes between two moves; ends at WM_QUIT.
int restack_while_set(HWND window, const char* event_name) {
  HANDLE restack = CreateEventA(nullptr, TRUE, FALSE, event_name);
  if (!restack) {
    fprintf(stderr, "stand_in_client: CreateEventA failed, error %lu\n", GetLastError());
    return 1;
  }
  const UINT unmoved = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return 0;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (WaitForSingleObject(restack, 0) == WAIT_OBJECT_0) {
      SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, unmoved);
      SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, unmoved);
    } else {
      SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, unmoved);
      MsgWaitForMultipleObjects(1, &restack, FALSE, INFINITE, QS_ALLINPUT);
    }
  }
}

bool read_settings(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (strcmp(argv[i], "--refuse") == 0) {
      settings.answer = 0;
    } else if (strcmp(argv[i], "--delay") == 0 && has_value) {
      settings.delay_ms = static_cast<DWORD>(strtoul(argv[++i], nullptr, 10));
    } else if (strcmp(argv[i], "--record") == 0 && has_value) {
      settings.record_path = argv[++i];
    } else if (strcmp(argv[i], "--busy-until") == 0 && has_value) {
      settings.busy_until = argv[++i];
    } else if (strcmp(argv[i], "--hold-until") == 0 && has_value) {
      settings.hold_until = argv[++i];
    } else if (strcmp(argv[i], "--hold-after-null") == 0 && has_value) {
      settings.hold_after_null = argv[++i];
    } else if (strcmp(argv[i], "--restack-while") == 0 && has_value) {
      settings.restack_while = argv[++i];
    } else if (strcmp(argv[i], "--leave") == 0 && has_value &&
               (strcmp(argv[i + 1], "close") == 0 || strcmp(argv[i + 1], "exit") == 0)) {
      settings.leave = argv[++i];
    } else if (strcmp(argv[i], "--message-only") == 0) {
      settings.message_only = true;
    } else if (strcmp(argv[i], "--class") == 0 && has_value) {
      settings.window_class = argv[++i];
    } else {
      fprintf(stderr,
              "usage: stand_in_client [--refuse] [--delay MS] [--record FILE] "
              "[--busy-until EVENT] [--hold-until EVENT] [--hold-after-null EVENT] "
              "[--restack-while EVENT] [--leave close|exit] [--message-only] [--class NAME]\n");
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!read_settings(argc, argv)) return 2;

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = client_window_procedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = settings.window_class;
  if (!RegisterClassA(&window_class)) {
    fprintf(stderr, "stand_in_client: RegisterClassA failed, error %lu\n", GetLastError());
    return 1;
  }
  // Top-level, so that FindWindowA finds it, unless asked otherwise; never shown.
  HWND window =
      CreateWindowExA(0, settings.window_class, "stand-in mIRC", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 200, 100, settings.message_only ? HWND_MESSAGE : nullptr,
                      nullptr, window_class.hInstance, nullptr);
  if (!window) {
    fprintf(stderr, "stand_in_client: CreateWindowExA failed, error %lu\n", GetLastError());
    return 1;
  }
  if (!settings.record_path) {
    _setmode(_fileno(stdout), _O_BINARY);
  } else {
    settings.record = fopen(settings.record_path, "ab");
    if (!settings.record) {
      fprintf(stderr, "stand_in_client: cannot open %s\n", settings.record_path);
      return 1;
    }
  }

  if (settings.busy_until && !wait_for_event(settings.busy_until)) return 1;

  if (settings.restack_while) return restack_while_set(window, settings.restack_while);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
