// The loader's verbs and the client command each one composes. Why the
// characters below are refused: docs/design.md.
#ifndef VARNOCK_FRONT_END_SCRIPT_COMMAND_H
#define VARNOCK_FRONT_END_SCRIPT_COMMAND_H

#include "common/loader_types.h"

struct script_verb {
  const char* word;             // compared byte for byte with the first argument
  const char* command_prefix;   // client command, switches, opening quote
  const char* progress_format;  // one "%s", filled with the script path
};

extern const script_verb verb_table[3];
extern const char command_suffix[];

enum class compose_status {
  composed,
  unknown_verb,
  path_too_long,
};

struct compose_result {
  compose_status status;
  const script_verb* verb;  // the matched row; null unless status is composed
};

// The row whose verb word is `verb_word`, byte for byte; null if none is.
const script_verb* find_verb(const char* verb_word);

// Fills `buffer` (`command_capacity` bytes) with the client command for
// `verb_word` and `script_path`, as bytes, whatever the code page. The
// buffer is written only when the whole command and its terminator fit.
compose_result compose_command(const char* verb_word, const char* script_path, char* buffer);

// Whether a path may stand inside the client's command: a double quote, '|'
// or a control character would end the quoted argument, or the command, and
// pass the rest on as commands of their own. No Windows file name holds any
// of them. The characters are judged as typed, before the conversion to the
// code page: being exact, it makes none of these bytes out of any other
// character, and the second byte of a double-byte character is no '|' even
// where it has that value.
bool path_characters_allowed(const wchar_t* script_path);

#endif
