// The loader's arguments arrive as UTF-16; the client reads 8-bit text in the
// system's ANSI code page. These turn one into the other without guessing
// (docs/design.md, "Characters and code pages" and "The console").
#ifndef VARNOCK_FRONT_END_CODE_PAGE_TEXT_H
#define VARNOCK_FRONT_END_CODE_PAGE_TEXT_H

#include "common/loader_types.h"

// The code page of the system's 8-bit text: the one the client reads, and
// the loader's output is written in (a console shows another: see
// write_to_console).
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

// The longest text write_to_console takes, terminator included: room for the
// progress line, whose path fits in the command.
constexpr size_t console_text_capacity = command_capacity + 32;

// A console shows 8-bit text in a code page of its own, by default the OEM
// one (850 or 437 where the system's is 1252), so the bytes of a path would
// show other letters than those typed. When standard output is a console,
// this writes `text`, 8-bit text in `code_page`, there as the characters it
// stands for, each line feed as the line end the C runtime writes. False when
// standard output is no console, or the text could not be written there:
// the bytes are then the caller's to write, as for a file or a pipe.
bool write_to_console(const char* text, unsigned code_page);

#endif
