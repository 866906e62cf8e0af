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

static bool is_allowed_in_path(unsigned long character) {
  return character >= 0x20 && character != '"' && character != '|';
}

static bool is_lead_byte(unsigned char byte, const unsigned char* lead_byte_ranges) {
  if (!lead_byte_ranges) return false;
  for (const unsigned char* range = lead_byte_ranges; range[0] != 0; range += 2) {
    if (byte >= range[0] && byte <= range[1]) return true;
  }
  return false;
}

// In every double-byte code page a second byte is 0x40 or above, so it is
// never a quote or a control character. A lead byte followed by anything
// lower opens no character, and the lower byte stands, and is judged, alone.
constexpr unsigned char lowest_second_byte = 0x40;

static bool path_is_allowed(const char* script_path, const unsigned char* lead_byte_ranges) {
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(script_path); *at; ++at) {
    if (is_lead_byte(at[0], lead_byte_ranges) && at[1] >= lowest_second_byte) {
      ++at;
      continue;
    }
    if (!is_allowed_in_path(at[0])) return false;
  }
  return true;
}

bool path_characters_allowed(const wchar_t* script_path) {
  for (const wchar_t* at = script_path; *at; ++at) {
    if (!is_allowed_in_path(static_cast<unsigned long>(*at))) return false;
  }
  return true;
}

compose_result compose_command(const char* verb_word, const char* script_path, char* buffer,
                               const unsigned char* lead_byte_ranges) {
  const script_verb* verb = find_verb(verb_word);
  if (!verb) return {compose_status::unknown_verb, nullptr};
  if (!path_is_allowed(script_path, lead_byte_ranges)) return {compose_status::path_not_allowed, nullptr};

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
