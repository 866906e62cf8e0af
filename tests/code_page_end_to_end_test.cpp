// The loader under the system's ANSI code page: it takes its arguments from
// the UTF-16 command line, and hands the client the path's exact bytes in
// that code page, or refuses it. Each case names the code page it is for;
// a run tries those of the code page it runs in (under Wine, ctest runs it
// in each code page that tests/CMakeLists.txt names).
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/loader_output.h"
#include "tests/programs_under_test.h"

namespace {

using wide_arguments = std::vector<std::wstring>;

template <class text>
text repeated(const text& part, size_t times) {
  text result;
  for (size_t i = 0; i < times; ++i) result += part;
  return result;
}

struct refusal {
  unsigned code_page;
  wide_arguments args;
  std::string message;  // after the banner
};

struct delivery {
  unsigned code_page;
  wide_arguments args;
  std::string path;  // the bytes the path must reach the client as
};

class CodePageTest : public EndToEndTest {
 protected:
  template <class test_case>
  static std::vector<test_case> for_this_code_page(const std::vector<test_case>& cases) {
    std::vector<test_case> chosen;
    for (const test_case& c : cases) {
      if (c.code_page == GetACP()) chosen.push_back(c);
    }
    return chosen;
  }
};

// "ｌｏａｄ" in fullwidth letters, which best fit would make "load".
const std::wstring fullwidth_load = L"\uFF4C\uFF4F\uFF41\uFF44";
const std::wstring cyrillic = L"\u0416\u0443\u043A";               // Жук
const std::wstring japanese_report = L"\u30EC\u30DD\u30FC\u30C8";  // レポート, ポ is 0x83 0x7C
const std::string japanese_report_bytes = "\x83\x8C\x83\x7C\x81\x5B\x83\x67";
const std::wstring katakana_a = L"\u30A2";  // ア, two bytes in 932: 0x83 0x41

TEST_F(CodePageTest, RefusesWhatTheCodePageCannotHoldExactly) {
  const std::vector<refusal> cases = {
      // Best fit would make these another file, a traversal, or a verb.
      {1252, {L"load", L"C:\\\u0101\\b.mrc"}, outside_code_page},
      {1252, {L"load", L"C:\\a\uFF3C..\uFF3Cb.mrc"}, outside_code_page},
      {1252, {L"reload", L"C:\\" + cyrillic + L"\\a.mrc"}, outside_code_page},
      {1252, {L"unload", L"C:\\\u221E.mrc"}, outside_code_page},
      {1252, {fullwidth_load, L"away.mrc"}, bad_command},
      // Not a quotation mark made of a fullwidth one.
      {1252, {L"load", L"C:\\a\uFF02 b.mrc"}, outside_code_page},
      {1252, {L"load", L"C:\\a\xD800.mrc"}, outside_code_page},  // unpaired surrogate
      // The verb first, then unsafe characters, the code page, the length.
      {1252, {L"Load", L"C:\\" + cyrillic + L"|a.mrc"}, bad_command},
      {1252, {L"load", L"C:\\" + cyrillic + L"|a.mrc"}, not_allowed},
      {1252, {L"load", L"C:\\" + cyrillic + L"\\" + std::wstring(2000, L'a')}, outside_code_page},
      {932, {L"load", L"C:\\scripts\u00A5..\u00A5evil.mrc"}, outside_code_page},
      {932, {L"load", L"C:\\caf\u00E9.mrc"}, outside_code_page},
      {932, {fullwidth_load, L"away.mrc"}, bad_command},
      {932, {L"load", L"C:\\" + japanese_report + L"|a.mrc"}, not_allowed},
      // The bound counts bytes: 506 characters here are 1012 bytes.
      {932, {L"load", repeated(katakana_a, 506)}, too_long},
      {932, {L"reload", repeated(katakana_a, 505)}, too_long},
      {1251, {L"load", L"C:\\caf\u00E9.mrc"}, outside_code_page},
      {1251, {L"load", L"C:\\\u0101.mrc"}, outside_code_page},
      {1251, {fullwidth_load, L"away.mrc"}, bad_command},
  };
  const std::vector<refusal> chosen = for_this_code_page(cases);
  if (chosen.empty()) GTEST_SKIP() << "no cases for code page " << GetACP();
  stand_in_client client;
  ASSERT_TRUE(client.running());
  for (const refusal& c : chosen) {
    expect_refused(run_loader(c.args), c.message, client, describe(c.args));
  }
}

TEST_F(CodePageTest, DeliversThePathAsItsBytesInTheCodePage) {
  const std::vector<delivery> cases = {
      {1252, {L"load", L"C:\\caf\u00E9\\\u00C0 la carte.mrc"}, "C:\\caf\xE9\\\xC0 la carte.mrc"},
      // Words after the path are neither converted nor judged.
      {1252, {L"reload", L"a.mrc", cyrillic + L"|\"", fullwidth_load}, "a.mrc"},
      {932,
       {L"load", L"C:\\" + japanese_report + L"\\a.mrc"},
       "C:\\" + japanese_report_bytes + "\\a.mrc"},
      {932, {L"unload", L"C:\\\u8868\\a.mrc"}, "C:\\\x95\x5C\\a.mrc"},  // 表, 0x95 0x5C
      // A fullwidth quotation mark (0xFA 0x57) neither ends the argument
      // nor splits it.
      {932, {L"load", L"C:\\a\uFF02 b.mrc"}, "C:\\a\xFA\x57 b.mrc"},
      {932,
       {L"load", repeated(katakana_a, 505) + L"a"},
       repeated(std::string("\x83\x41"), 505) + "a"},
      {932,
       {L"reload", repeated(katakana_a, 504) + L"a"},
       repeated(std::string("\x83\x41"), 504) + "a"},
      {1251, {L"load", L"C:\\" + cyrillic + L"\\a.mrc"}, "C:\\\xC6\xF3\xEA\\a.mrc"},
      {1251, {L"unload", L"C:\\" + cyrillic + L" \u2116 1.mrc"}, "C:\\\xC6\xF3\xEA \xB9 1.mrc"},
  };
  const std::vector<delivery> chosen = for_this_code_page(cases);
  if (chosen.empty()) GTEST_SKIP() << "no cases for code page " << GetACP();
  stand_in_client client;
  ASSERT_TRUE(client.running());
  for (const delivery& c : chosen) {
    const std::string verb = utf8(c.args[0]);
    const loader_run result = run_loader(c.args);
    EXPECT_EQ(result.output, banner + progress_line(verb, c.path) + complete) << describe(c.args);
    EXPECT_EQ(result.exit_status, 0u) << describe(c.args);
    EXPECT_EQ(result.errors, "") << describe(c.args);
    const std::vector<received_command> received = client.new_commands();
    ASSERT_EQ(received.size(), 1u)
        << describe(c.args) << ": the client must hear exactly one command";
    EXPECT_EQ(received[0].text, command_for(verb, c.path)) << describe(c.args);
  }
}

// A console shows 8-bit text in a code page of its own (by default the OEM
// one), in each row one that would show the path's bytes as other letters.
// No client runs: status 2. What this proves under Wine: tests/CMakeLists.txt.
TEST_F(CodePageTest, ShowsThePathAsTypedOnAConsoleOfAnotherCodePage) {
  struct console_case {
    unsigned code_page;
    unsigned console_code_page;
    std::wstring path;
  };
  const std::vector<console_case> cases = {
      {1252, 850, L"C:\\Users\\Jos\u00E9\\away.mrc"},
      {932, 437, L"C:\\" + japanese_report + L"\\away.mrc"},
      {1251, 866, L"C:\\" + cyrillic + L"\\away.mrc"},
  };
  const std::vector<console_case> chosen = for_this_code_page(cases);
  if (chosen.empty()) GTEST_SKIP() << "no case for code page " << GetACP();
  for (const console_case& c : chosen) {
    const loader_run run = run_loader_on_console(c.console_code_page, {L"load", c.path});
    EXPECT_EQ(run.output,
              "--- Varnock ---\nLoading script file: " + utf8(c.path) + "\n" + not_found + "\n")
        << "a console in code page " << c.console_code_page
        << " must show the banner, the path as typed and the final message, and nothing else";
    EXPECT_EQ(run.exit_status, 2u) << "no client runs, so the loader must end with status 2";
  }
}

}  // namespace
