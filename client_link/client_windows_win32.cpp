// A loader killed while its message waited at a busy client, or while the
// client was handling it, leaves that message to be handled all the same:
// had our text been written by then, the client would perform our command
// for it, and again for ours. Nothing tells us such a loader existed (the
// lock dies with its last holder), nor which client it chose, so every
// window it could have chosen is asked first. Messages from other threads
// are handled in the order they arrive: once our empty message is answered,
// whatever was queued before it has been handled, finding no text. What this
// covers and where it ends: docs/design.md.
#include <windows.h>

#include <stdlib.h>

#include "client_link/client_channel.h"
#include "client_link/client_windows.h"

namespace {

// The system's search for a window of a class looks among the top-level
// windows and the message-only ones, and matches the class by its atom.
struct client_window_list {
  ATOM client_class;
  HWND parent;  // the message-only windows' parent; null for the top-level ones
  HWND* windows;
  size_t count;
  size_t capacity;
  bool out_of_memory;
};

bool add_client_window(client_window_list* list, HWND window) {
  if (list->count == list->capacity) {
    const size_t capacity = list->capacity ? 2 * list->capacity : 8;
    HWND* grown = static_cast<HWND*>(realloc(list->windows, capacity * sizeof *grown));
    if (!grown) return false;
    list->windows = grown;
    list->capacity = capacity;
  }
  list->windows[list->count++] = window;
  return true;
}

BOOL CALLBACK keep_client_window(HWND window, LPARAM context) {
  client_window_list* list = reinterpret_cast<client_window_list*>(context);
  if (GetClassWord(window, GCW_ATOM) != list->client_class) return TRUE;
  // The children of message-only windows are listed too; the search never
  // gives them.
  if (list->parent && GetAncestor(window, GA_PARENT) != list->parent) return TRUE;
  if (add_client_window(list, window)) return TRUE;
  list->out_of_memory = true;
  return FALSE;
}

// A window that closes between the search that gave it and the question
// asked of it gives no answer: the search runs again, a few times at most.
constexpr int window_lookups = 8;

// The class's atom, from a window the search gives; 0 when there is none.
ATOM client_class_atom() {
  for (int lookup = 0; lookup < window_lookups; ++lookup) {
    const HWND window = FindWindowExA(nullptr, nullptr, client_window_class, nullptr);
    if (!window) return 0;
    if (const ATOM atom = GetClassWord(window, GCW_ATOM)) return atom;
  }
  return 0;
}

// The parent of every message-only window; null when no message-only window
// of the class exists, and so none could have been sent anything.
HWND message_only_parent() {
  for (int lookup = 0; lookup < window_lookups; ++lookup) {
    const HWND window = FindWindowExA(HWND_MESSAGE, nullptr, client_window_class, nullptr);
    if (!window) return nullptr;
    if (const HWND parent = GetAncestor(window, GA_PARENT)) return parent;
  }
  return nullptr;
}

// EnumWindows and EnumChildWindows each take their whole list before the
// first call back, so no window that reorders or closes meanwhile hides
// another: a search that steps from one window to the next would end early
// where the window it stood on had moved to the bottom.
bool list_client_windows(client_window_list* list) {
  list->client_class = client_class_atom();
  if (!list->client_class) return true;
  if (!EnumWindows(keep_client_window, reinterpret_cast<LPARAM>(list))) return false;
  list->parent = message_only_parent();
  if (list->parent) {
    EnumChildWindows(list->parent, keep_client_window, reinterpret_cast<LPARAM>(list));
  }
  return !list->out_of_memory;
}

}  // namespace

bool let_every_client_finish_earlier_messages() {
  client_window_list list = {};
  const bool listed = list_client_windows(&list);
  // The list is taken whole first, so that a client closing while another
  // is asked changes nothing of it.
  if (listed) {
    for (size_t i = 0; i < list.count; ++i) SendMessageA(list.windows[i], WM_NULL, 0, 0);
  }
  free(list.windows);
  return listed;
}
