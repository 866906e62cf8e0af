// The verb table and the composition of the client command, platform-free.
#include "front_end/script_command.h"

#include <string.h>

const script_verb verb_table[3] = {
    {"load", "/load -rs \"", "Loading script file: %s\n"},
    {"reload", "/reload -rs \"", "Reloading script file: %s\n"},
    {"unload", "/unload -rs \"", "Unloading script file: %s\n"},
};

const char command_suffix[] = "\"";

const script_verb* find_verb(const char* verb_word) {
  for (const script_verb& verb : verb_table) {
    if (strcmp(verb.word, verb_word) == 0) return &verb;
  }
  return nullptr;
}

bool path_characters_allowed(const wchar_t* script_path) {
  for (const wchar_t* at = script_path; *at; ++at) {
    if (*at < 0x20 || *at == L'"' || *at == L'|') return false;
  }
  return true;
}

compose_result compose_command(const char* verb_word, const char* script_path, char* buffer) {
  const script_verb* verb = find_verb(verb_word);
  if (!verb) return {compose_status::unknown_verb, nullptr};

  const size_t prefix_length = strlen(verb->command_prefix);
  const size_t path_length = strlen(script_path);
  const size_t suffix_length = sizeof command_suffix - 1;
  // The first test keeps the sum in the second from wrapping, however long
  // the path.
  if (path_length >= command_capacity ||
      prefix_length + path_length + suffix_length + 1 > command_capacity) {
    return {compose_status::path_too_long, nullptr};
  }

  char* end = buffer;
  memcpy(end, verb->command_prefix, prefix_length);
  end += prefix_length;
  memcpy(end, script_path, path_length);
  end += path_length;
  memcpy(end, command_suffix, suffix_length + 1);
  return {compose_status::composed, verb};
}
