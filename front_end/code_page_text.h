// The loader's arguments arrive as UTF-16; the client reads 8-bit text in the
// system's ANSI code page. These turn one into the other without guessing.
#ifndef VARNOCK_FRONT_END_CODE_PAGE_TEXT_H
#define VARNOCK_FRONT_END_CODE_PAGE_TEXT_H

// The code page of the system's 8-bit text: the one the client reads and
// the console shows the loader's output in.
unsigned ansi_code_page();

enum class conversion_status {
  converted,
  not_in_code_page,  // a character has no exact counterpart in the code page
  out_of_memory,
};

struct code_page_text {
  conversion_status status;
  char* text;  // NUL-terminated, from malloc, freed by the caller; null unless converted
};

// `text` in `code_page`, each character as itself: no look-alike ("best
// fit") and no default character stands in for one the code page lacks,
// for the bytes would then name another file than the one the user gave.
code_page_text to_code_page(const wchar_t* text, unsigned code_page);

#endif
