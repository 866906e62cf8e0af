// A stand-in for the mIRC client's side of its command channel, for tests and
// for trying the loader without the real client. It owns a window of class
// "mIRC"; for each command message it reads the text from the shared mapping
// "mIRC", records it with the message's parameters, and answers as told.
// Its options are in tools/stand_in_client_options.h; --help lists them.
//
// A record is a line "command wParam=W lParam=L length=N", then the N bytes
// the mapping held before its first NUL, then a line feed; or, when the
// mapping could not be read, "command wParam=W lParam=L no mapping". With
// --report-steps, a line records each of these steps too, when it happens:
//   up       the window is up, and the record open
//   null     a WM_NULL came, and is being answered
//   busy     the client stops reading messages (--busy-until, --hold-until,
//            --hold-after-null, or --delay inside a command)
//   waiting  while busy, a message sent to it has come: it waits unread
//   bottom   not restacking (--restack-while), the window is at the bottom
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "client_link/client_channel.h"
#include "tools/stand_in_client_options.h"

namespace {

stand_in_client_options settings;
FILE* record = stdout;
HANDLE step_recorded = nullptr;

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

HANDLE named_event(const std::string& name) {
  if (name.empty()) return nullptr;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  if (!event) fprintf(stderr, "stand_in_client: CreateEventA failed, error %lu\n", GetLastError());
  return event;
}

// Reads no messages until the named event is set, or for `limit_ms`
// without one; records each message sent meanwhile as it comes.
void stay_busy(const std::string& until, DWORD limit_ms) {
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
    if (settings.delay_ms) stay_busy("", settings.delay_ms);
    if (!settings.hold_until.empty()) stay_busy(settings.hold_until, INFINITE);
    record_command(wparam, lparam);
    if (settings.leave == "exit") ExitProcess(0);
    if (settings.leave == "close") {
      DestroyWindow(window);
      return 0;
    }
    return settings.refuse ? 0 : 1;
  }
  if (message == WM_NULL) {
    record_step("null");
    if (!settings.hold_after_null.empty()) {
      ReplyMessage(0);
      stay_busy(settings.hold_after_null, INFINITE);
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
int restack_while_set(HWND window, const std::string& event_name) {
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

bool read_settings(int argc, char** argv) {
  if (!read_stand_in_client_arguments(argc, argv, &settings)) return false;
  return settings.leave.empty() || settings.leave == "close" || settings.leave == "exit";
}

}  // namespace

int main(int argc, char** argv) {
  if (!read_settings(argc, argv)) {
    fprintf(stderr, "%s", stand_in_client_usage().c_str());
    return 2;
  }

  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = client_window_procedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = settings.window_class.c_str();
  if (!RegisterClassA(&window_class)) {
    fprintf(stderr, "stand_in_client: RegisterClassA failed, error %lu\n", GetLastError());
    return 1;
  }
  // Top-level, so that FindWindowA finds it, unless asked otherwise; never shown.
  HWND window = CreateWindowExA(0, window_class.lpszClassName, "stand-in mIRC", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 200, 100,
                                settings.message_only ? HWND_MESSAGE : nullptr, nullptr,
                                window_class.hInstance, nullptr);
  if (!window) {
    fprintf(stderr, "stand_in_client: CreateWindowExA failed, error %lu\n", GetLastError());
    return 1;
  }
  if (settings.record.empty()) {
    _setmode(_fileno(stdout), _O_BINARY);
  } else {
    record = fopen(settings.record.c_str(), "ab");
    if (!record) {
      fprintf(stderr, "stand_in_client: cannot open %s\n", settings.record.c_str());
      return 1;
    }
  }
  if (!settings.report_steps.empty()) {
    step_recorded = OpenEventA(EVENT_MODIFY_STATE, FALSE, settings.report_steps.c_str());
    if (!step_recorded) {
      fprintf(stderr, "stand_in_client: OpenEventA(%s) failed, error %lu\n",
              settings.report_steps.c_str(), GetLastError());
      return 1;
    }
  }
  record_step("up");

  if (!settings.busy_until.empty()) stay_busy(settings.busy_until, INFINITE);

  if (!settings.restack_while.empty()) return restack_while_set(window, settings.restack_while);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
