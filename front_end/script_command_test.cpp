#include "front_end/script_command.h"

#include <string.h>
#include <wchar.h>

#include <string>

#include "gtest/gtest.h"

namespace {

struct composed_case {
  const char* verb;
  const char* path;
  const char* expected_command;
  const char* expected_progress_format;
};

TEST(ComposeCommand, EachVerbQuotesThePathAfterItsCommand) {
  const composed_case cases[] = {
      {"load", "C:\\scripts\\away.mrc", "/load -rs \"C:\\scripts\\away.mrc\"",
       "Loading script file: %s\n"},
      {"reload", "C:\\scripts\\away.mrc", "/reload -rs \"C:\\scripts\\away.mrc\"",
       "Reloading script file: %s\n"},
      {"unload", "C:\\scripts\\away.mrc", "/unload -rs \"C:\\scripts\\away.mrc\"",
       "Unloading script file: %s\n"},
      {"load", "C:\\My Scripts\\two words.mrc", "/load -rs \"C:\\My Scripts\\two words.mrc\"",
       "Loading script file: %s\n"},
      {"reload", "", "/reload -rs \"\"", "Reloading script file: %s\n"},
      {"unload", "relative\\100%.mrc", "/unload -rs \"relative\\100%.mrc\"",
       "Unloading script file: %s\n"},
  };
  for (const composed_case& c : cases) {
    char buffer[command_capacity];
    const compose_result result = compose_command(c.verb, c.path, buffer);
    ASSERT_EQ(result.status, compose_status::composed) << c.verb << " " << c.path;
    ASSERT_NE(result.verb, nullptr);
    EXPECT_STREQ(result.verb->word, c.verb);
    EXPECT_STREQ(result.verb->progress_format, c.expected_progress_format);
    EXPECT_STREQ(buffer, c.expected_command) << "verb " << c.verb << ", path \"" << c.path << "\"";
  }
}

TEST(ComposeCommand, OnlyTheExactVerbWordMatches) {
  const char* const words[] = {"Load",     "LOAD", "Reload", "UNLOAD", " load", "load ",
                               "reload\n", "loa",  "re",     "loads",  "",      "unload-rs"};
  for (const char* word : words) {
    char buffer[command_capacity];
    const compose_result result = compose_command(word, "away.mrc", buffer);
    EXPECT_EQ(result.status, compose_status::unknown_verb) << "verb word \"" << word << "\"";
    EXPECT_EQ(result.verb, nullptr) << "verb word \"" << word << "\"";
  }
}

// The longest path that fits leaves the terminator in the buffer's last
// byte; one byte more is refused without touching the buffer.
TEST(ComposeCommand, PathLengthIsBoundedByTheBuffer) {
  for (const script_verb& verb : verb_table) {
    const size_t longest = command_capacity - strlen(verb.command_prefix) - 2;
    const std::string fits(longest, 'a');
    char buffer[command_capacity + 1];
    buffer[command_capacity] = '#';

    const compose_result composed = compose_command(verb.word, fits.c_str(), buffer);
    ASSERT_EQ(composed.status, compose_status::composed) << verb.word << ", path of " << longest;
    EXPECT_EQ(buffer[command_capacity - 1], '\0') << verb.word;
    EXPECT_EQ(buffer[command_capacity - 2], '"') << verb.word;
    EXPECT_EQ(std::string(buffer), std::string(verb.command_prefix) + fits + "\"");
    EXPECT_EQ(buffer[command_capacity], '#') << verb.word << ": written past the buffer";

    for (const size_t too_long : {longest + 1, command_capacity, size_t{40000}}) {
      memset(buffer, '#', sizeof buffer);
      const compose_result refused =
          compose_command(verb.word, std::string(too_long, 'a').c_str(), buffer);
      EXPECT_EQ(refused.status, compose_status::path_too_long)
          << verb.word << ", path of " << too_long;
      EXPECT_EQ(refused.verb, nullptr);
      EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'))
          << verb.word << ": a refused path was written into the buffer";
    }
  }
  // The bounds as users see them in the documentation.
  EXPECT_EQ(command_capacity - strlen(verb_table[0].command_prefix) - 2, 1011u);
  EXPECT_EQ(command_capacity - strlen(verb_table[1].command_prefix) - 2, 1009u);
}

TEST(ComposeCommand, PassesOtherUnusualBytesThrough) {
  std::string unusual = " $;&%()!^'`~,=+[]{}#@\x7f";
  for (int byte = 0x80; byte <= 0xFF; ++byte) unusual += static_cast<char>(byte);
  char buffer[command_capacity];
  const compose_result result = compose_command("unload", unusual.c_str(), buffer);
  ASSERT_EQ(result.status, compose_status::composed);
  EXPECT_EQ(std::string(buffer), "/unload -rs \"" + unusual + "\"");
}

// Each character that could close the quoted path, or the client's command
// line, is refused wherever it stands; look-alikes are characters of their
// own.
TEST(PathCharactersAllowed, RefusesCharactersThatCouldEndTheQuotedArgument) {
  const struct {
    const wchar_t* path;
    bool allowed;
  } cases[] = {
      {L"C:\\scripts\\away.mrc", true},
      {L"", true},
      {L"C:\\\u30EC\u30DD\u30FC\u30C8\\a.mrc", true},  // レポート
      {L"C:\\\uFF02\uFF5C.mrc", true},                 // fullwidth quote and bar
      {L"C:\\a|b.mrc", false},
      {L"C:\\a\"b.mrc", false},
      {L"x\" | /exit", false},
      {L"C:\\a\tb.mrc", false},
      {L"C:\\a.mrc\r", false},
      {L"\x01", false},
      {L"\x1F", false},
      {L"\x20\x7F\u00E9", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(path_characters_allowed(c.path), c.allowed)
        << "path of " << wcslen(c.path) << " characters";
  }
}

}  // namespace
