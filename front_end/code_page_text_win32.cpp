// Exact conversions between UTF-16 and the code page, and the console's
// UTF-16 (docs/design.md says why each).
#include "front_end/code_page_text.h"

#include <windows.h>

#include <stdlib.h>

unsigned ansi_code_page() { return GetACP(); }

// UTF-8 (and GB 18030) hold every character, and WideCharToMultiByte refuses
// to be asked about best fit or default characters for them; only text that
// is not valid UTF-16, such as an unpaired surrogate, fails there.
static bool holds_all_of_unicode(unsigned code_page) {
  return code_page == CP_UTF8 || code_page == 54936;
}

// Without best fit; 0 when a character had to become the default one.
static int convert(unsigned code_page, const wchar_t* text, char* bytes, int size) {
  if (holds_all_of_unicode(code_page)) {
    return WideCharToMultiByte(code_page, WC_ERR_INVALID_CHARS, text, -1, bytes, size, nullptr,
                               nullptr);
  }
  BOOL used_default = FALSE;
  const int written = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, text, -1, bytes, size,
                                          nullptr, &used_default);
  return used_default ? 0 : written;
}

code_page_text to_code_page(const wchar_t* text, unsigned code_page) {
  const int size = convert(code_page, text, nullptr, 0);
  if (size <= 0) return {conversion_status::not_in_code_page, nullptr};
  char* bytes = static_cast<char*>(malloc(size));
  if (!bytes) return {conversion_status::out_of_memory, nullptr};
  if (convert(code_page, text, bytes, size) != size) {
    free(bytes);
    return {conversion_status::not_in_code_page, nullptr};
  }
  return {conversion_status::converted, bytes};
}

bool write_to_console(const char* text, unsigned code_page) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  // On the stack, so that a run short of memory still shows its line: no
  // code page gives more UTF-16 units than it has bytes.
  wchar_t characters[console_text_capacity];
  const int count =
      MultiByteToWideChar(code_page, 0, text, -1, characters, int(console_text_capacity));
  if (count <= 0) return false;
  // A lone line feed ends the line only while the console processes it so.
  wchar_t shown[2 * console_text_capacity];
  DWORD length = 0;
  for (int i = 0; i + 1 < count; ++i) {
    if (characters[i] == L'\n') shown[length++] = L'\r';
    shown[length++] = characters[i];
  }
  DWORD written = 0;
  return WriteConsoleW(output, shown, length, &written, nullptr) != 0;
}
