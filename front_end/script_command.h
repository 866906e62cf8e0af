// The loader's verbs and the client command each one composes.
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
  path_not_allowed,  // holds a byte that could end the quoted path early
  path_too_long,
};

struct compose_result {
  compose_status status;
  const script_verb* verb;  // the matched row; null unless status is composed
};

// The row whose verb word is `verb_word`, byte for byte; null if none is.
const script_verb* find_verb(const char* verb_word);

// Fills `buffer` (`command_capacity` bytes) with the client command for
// `verb_word` and `script_path`. The buffer is written only when the whole
// command and its terminator fit. A path that holds a double quote, '|' or a
// control character is refused: inside the client's command it would end the
// quoted argument, or the command, and pass the rest on as commands of its
// own. No Windows file name holds any of them.
//
// The path is judged character by character. In a double-byte code page
// (Japanese, Chinese, Korean) the second byte of a character may be '|' or
// '\' without being one; `lead_byte_ranges` names the bytes that open such a
// character there, as pairs of first and last byte ended by a pair of zeros.
// Null, or an empty list, means a code page without them: the single-byte
// ones, and UTF-8, whose multi-byte characters hold no ASCII byte.
compose_result compose_command(const char* verb_word, const char* script_path, char* buffer,
                               const unsigned char* lead_byte_ranges = nullptr);

// The same judgement as compose_command's, on the characters of a UTF-16
// text (a surrogate is never one of the refused characters).
bool path_characters_allowed(const wchar_t* script_path);

#endif
