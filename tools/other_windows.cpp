// Hidden top-level windows of a class of their own, as the other programs of
// a busy Windows desktop have (several hundred there is common), so that
// scripts/benchmark can measure the loader's search for mIRC's windows among
// them. They stay until the program is ended.
//
//   other_windows COUNT READY_FILE
//
// READY_FILE is made once all COUNT windows are up, so that a script can wait
// for it before it opens the stand-in client after them.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: other_windows COUNT READY_FILE\n");
    return 2;
  }
  const unsigned long count = strtoul(argv[1], nullptr, 10);
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "Varnock.OtherWindow";
  if (!RegisterClassA(&window_class)) {
    fprintf(stderr, "other_windows: RegisterClassA failed, error %lu\n", GetLastError());
    return 1;
  }
  for (unsigned long i = 0; i < count; ++i) {
    if (!CreateWindowExA(0, window_class.lpszClassName, "other", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                         100, nullptr, nullptr, window_class.hInstance, nullptr)) {
      fprintf(stderr, "other_windows: window %lu: CreateWindowExA failed, error %lu\n", i,
              GetLastError());
      return 1;
    }
  }
  FILE* ready = fopen(argv[2], "wb");
  if (!ready) {
    fprintf(stderr, "other_windows: cannot make %s\n", argv[2]);
    return 1;
  }
  fclose(ready);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
