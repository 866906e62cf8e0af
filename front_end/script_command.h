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

// Fills `buffer` (`command_capacity` bytes) with the client command for
// `verb_word` and `script_path`. The buffer is written only when the whole
// command and its terminator fit. A path that holds a double quote, '|' or a
// control character is refused: inside the client's command it would end the
// quoted argument, or the command, and pass the rest on as commands of its
// own. No Windows file name holds any of them.
compose_result compose_command(const char* verb_word, const char* script_path,
                               char* buffer);

#endif
