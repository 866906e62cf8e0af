// A stand-in for the mIRC client's side of its command channel, for tests and
// for trying the loader without the real client. It owns a window of class
// "mIRC"; for each command message it reads the text from the shared mapping
// "mIRC", records it with the message's parameters, and answers as told.
// Run with --help for its options.
//
// A record is a line "command wParam=W lParam=L length=N", then the N bytes
// the mapping held before its first NUL, then a line feed; or, when the
// mapping could not be read, "command wParam=W lParam=L no mapping". With
// --report-steps, a line records each of these steps too, when it happens:
//   up window=H  the window is up, and the record open; H is its handle as a
//                signed number, which a program of the other bitness takes
//                as the same window
//   null     a WM_NULL came, and is being answered
//   busy     the client stops reading messages (--busy-until, --hold-until,
//            --hold-after-null, or --delay inside a command)
//   waiting  while busy, a message sent to it has come: it waits unread
//   bottom   not restacking (--restack-while), the window is at the bottom
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client_link/client_channel.h"

namespace {

const char usage[] =
    "usage: stand_in_client [OPTION]...\n"
    "  --record FILE           append the records to FILE (opened once the window is up)\n"
    "  --refuse                answer 0 (the client failed) instead of 1\n"
    "  --delay MS              take MS milliseconds over each command, busy meanwhile\n"
    "  --report-steps EVENT    record the steps too; set the named event EVENT after each one\n"
    "  --busy-until EVENT      read no messages until the named event EVENT is set\n"
    "  --hold-until EVENT      in each command, before reading the mapping, stay busy until EVENT\n"
    "  --hold-after-null EVENT after answering each WM_NULL, read no messages until EVENT\n"
    "  --restack-while EVENT   while EVENT is set, move the window to the top and the bottom by\n"
    "                          turns; while it is not, keep it at the bottom\n"
    "  --leave close|exit      in the first command, once recorded, close the window or exit\n"
    "  --message-only          a message-only window (parent HWND_MESSAGE)\n"
    "  --class NAME            the window's class name, in the ANSI code page (\"mIRC\")\n";

// The options' values; an empty text is an option not given.
const char* record_path = "";
bool refuse = false;
const char* delay_ms = "";
const char* report_steps = "";
const char* busy_until = "";
const char* hold_until = "";
const char* hold_after_null = "";
const char* restack_while = "";
const char* leave = "";
bool message_only = false;
const char* class_name = client_window_class;

FILE* record = stdout;
HANDLE step_recorded = nullptr;

// False at an option it does not know, or one without its value.
bool read_settings(int argc, char** argv) {
  const struct {
    const char* name;
    const char** value;
  } texts[] = {{"--record", &record_path},
               {"--delay", &delay_ms},
               {"--report-steps", &report_steps},
               {"--busy-until", &busy_until},
               {"--hold-until", &hold_until},
               {"--hold-after-null", &hold_after_null},
               {"--restack-while", &restack_while},
               {"--leave", &leave},
               {"--class", &class_name}};
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--refuse") == 0) {
      refuse = true;
    } else if (strcmp(argv[i], "--message-only") == 0) {
      message_only = true;
    } else {
      const char** value = nullptr;
      for (const auto& text : texts) {
        if (strcmp(argv[i], text.name) == 0) value = text.value;
      }
      if (!value || i + 1 == argc) return false;
      *value = argv[++i];
    }
  }
  return !*leave || strcmp(leave, "close") == 0 || strcmp(leave, "exit") == 0;
}

int failed(const char* what) {
  fprintf(stderr, "stand_in_client: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

// Each record must be complete on disk the moment it is told, or the
// sender answered.
void told(FILE* file) {
  fflush(file);
  if (step_recorded) SetEvent(step_recorded);
}

void record_step(const char* step) {
  if (!step_recorded) return;
  fprintf(record, "%s\n", step);
  told(record);
}

HANDLE named_event(const char* name) {
  if (!*name) return nullptr;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
  if (!event) failed(name);
  return event;
}

// Reads no messages until the named event is set, or for `limit_ms`
// without one; records each message sent meanwhile as it comes.
void stay_busy(const char* until, DWORD limit_ms) {
  record_step("busy");
  HANDLE event = named_event(until);
  const DWORD started = GetTickCount();
  for (;;) {
    const DWORD waited = GetTickCount() - started;
    const DWORD left = event ? INFINITE : waited < limit_ms ? limit_ms - waited : 0;
    // Only messages come since the last look wake it; looking handles none.
    const DWORD woke =
        MsgWaitForMultipleObjects(event ? 1 : 0, &event, FALSE, left, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + (event ? 1 : 0)) break;
    if (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) record_step("waiting");
  }
  if (event) CloseHandle(event);
}

// The bytes before the first NUL, or the whole mapping if it holds none.
void record_command(WPARAM wparam, LPARAM lparam) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, client_mapping_name);
  const char* view =
      mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (!view) {
    fprintf(record, "command wParam=%llu lParam=%lld no mapping\n",
            static_cast<unsigned long long>(wparam), static_cast<long long>(lparam));
  } else {
    const size_t length = strnlen(view, command_capacity);
    fprintf(record, "command wParam=%llu lParam=%lld length=%u\n",
            static_cast<unsigned long long>(wparam), static_cast<long long>(lparam),
            static_cast<unsigned>(length));
    fwrite(view, 1, length, record);
    fputc('\n', record);
    UnmapViewOfFile(view);
  }
  if (mapping) CloseHandle(mapping);
  told(record);
}

LRESULT CALLBACK client_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == client_command_message) {
    if (*delay_ms) stay_busy("", strtoul(delay_ms, nullptr, 10));
    if (*hold_until) stay_busy(hold_until, INFINITE);
    record_command(wparam, lparam);
    if (strcmp(leave, "exit") == 0) ExitProcess(0);
    if (strcmp(leave, "close") == 0) {
      DestroyWindow(window);
      return 0;
    }
    return refuse ? 0 : 1;
  }
  if (message == WM_NULL) {
    record_step("null");
    if (*hold_after_null) {
      ReplyMessage(0);
      stay_busy(hold_after_null, INFINITE);
    }
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
  HANDLE restack = named_event(event_name);
  if (!restack) return 1;
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
      record_step("bottom");
      MsgWaitForMultipleObjects(1, &restack, FALSE, INFINITE, QS_ALLINPUT);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!read_settings(argc, argv)) {
    fprintf(stderr, "%s", usage);
    return 2;
  }

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = client_window_procedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = class_name;
  if (!RegisterClassA(&window_class)) return failed("RegisterClassA");
  // Top-level, so that FindWindowA finds it, unless asked otherwise; never shown.
  HWND window =
      CreateWindowExA(0, window_class.lpszClassName, "stand-in mIRC", WS_OVERLAPPEDWINDOW,
                      CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, message_only ? HWND_MESSAGE : nullptr,
                      nullptr, window_class.hInstance, nullptr);
  if (!window) return failed("CreateWindowExA");
  if (!*record_path) {
    _setmode(_fileno(stdout), _O_BINARY);
  } else {
    record = fopen(record_path, "ab");
    if (!record) return failed(record_path);
  }
  if (*report_steps) {
    step_recorded = OpenEventA(EVENT_MODIFY_STATE, FALSE, report_steps);
    if (!step_recorded) return failed(report_steps);
    fprintf(record, "up window=%lld\n", static_cast<long long>(intptr_t(window)));
    told(record);
  }

  if (*busy_until) stay_busy(busy_until, INFINITE);

  if (*restack_while) return restack_while_set(window, restack_while);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
