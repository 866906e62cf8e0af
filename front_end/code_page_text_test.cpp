// The conversion of the command line's UTF-16 into a code page, driven
// through the system's own conversion tables for explicit code pages, so
// that any code page can be tried whatever the system's own is.
#include "front_end/code_page_text.h"

#include <stdlib.h>

#include <string>

#include "gtest/gtest.h"

namespace {

struct conversion_case {
  unsigned code_page;
  const wchar_t* text;
  const char* expected;  // null: refused, not in the code page
};

std::string describe(const conversion_case& c) {
  std::string units;
  for (const wchar_t* at = c.text; *at; ++at) units += " U+" + std::to_string(unsigned(*at));
  return "code page " + std::to_string(c.code_page) + ", UTF-16 units (decimal):" + units;
}

TEST(ToCodePage, ConvertsEachCharacterToItselfOrRefuses) {
  const conversion_case cases[] = {
      {1252, L"", ""},
      {1252, L"C:\\scripts\\away.mrc", "C:\\scripts\\away.mrc"},
      {1252, L"C:\\caf\u00E9 \u00C0\u20AC.mrc", "C:\\caf\xE9 \xC0\x80.mrc"},
      // Best-fit look-alikes: another folder, a traversal, a verb.
      {1252, L"C:\\\u0101\\b.mrc", nullptr},              // a with macron
      {1252, L"C:\\a\uFF3C..\uFF3Cb.mrc", nullptr},       // fullwidth reverse solidus
      {1252, L"C:\\\u221E.mrc", nullptr},                 // infinity
      {1252, L"\uFF4C\uFF4F\uFF41\uFF44", nullptr},       // fullwidth "load"
      {1252, L"C:\\\uFF02.mrc", nullptr},                 // fullwidth quotation mark
      {1252, L"C:\\\u0416\u0443\u043A\\a.mrc", nullptr},  // Cyrillic
      // レポート and 表: second bytes '|' and '\'.
      {932, L"C:\\\u30EC\u30DD\u30FC\u30C8\\a.mrc", "C:\\\x83\x8C\x83\x7C\x81\x5B\x83\x67\\a.mrc"},
      {932, L"C:\\\u8868\\a.mrc", "C:\\\x95\x5C\\a.mrc"},
      {932, L"\uFF4C\uFF4F\uFF41\uFF44", "\x82\x8C\x82\x8F\x82\x81\x82\x84"},
      {932, L"\uFF71", "\xB1"},                              // halfwidth katakana a
      {932, L"C:\\scripts\u00A5..\u00A5evil.mrc", nullptr},  // yen sign, best fit '\'
      {932, L"C:\\\u00E9.mrc", nullptr},
      {1251, L"C:\\\u0416\u0443\u043A\\a.mrc", "C:\\\xC6\xF3\xEA\\a.mrc"},
      {1251, L"C:\\caf\u00E9.mrc", nullptr},
      {1251, L"C:\\\u0101.mrc", nullptr},
      {65001, L"C:\\caf\u00E9\\\u30DD.mrc", "C:\\caf\xC3\xA9\\\xE3\x83\x9D.mrc"},
      {65001, L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},  // a pair: one character
      {65001, L"a\xD800\x0062", nullptr},            // an unpaired high surrogate, then b
      {65001, L"a\xDC00", nullptr},                  // unpaired low surrogate
  };
  for (const conversion_case& c : cases) {
    const code_page_text converted = to_code_page(c.text, c.code_page);
    if (c.expected) {
      ASSERT_EQ(converted.status, conversion_status::converted) << describe(c);
      ASSERT_NE(converted.text, nullptr) << describe(c);
      EXPECT_EQ(std::string(converted.text), std::string(c.expected)) << describe(c);
    } else {
      EXPECT_EQ(converted.status, conversion_status::not_in_code_page) << describe(c);
      EXPECT_EQ(converted.text, nullptr) << describe(c);
    }
    free(converted.text);
  }
}

}  // namespace
