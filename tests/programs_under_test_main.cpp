// The main of the Windows test programs.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/programs_under_test.h"

// Whether `name` is one of the comma-separated names in `list`.
static bool listed(const std::string& list, const std::string& name) {
  for (size_t at = 0;;) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(at, end - at);
    entry.erase(0, entry.find_first_not_of(' '));
    entry.erase(entry.find_last_not_of(' ') + 1);
    if (entry == name) return true;
    if (end == list.size()) return false;
    at = end + 1;
  }
}

// A run that tested less than it seems to passes all the same, so where a
// run must test everything it can (VARNOCK_NO_SKIPS set), a test that skipped
// itself fails it, unless `may_skip` names it, and so does a run of no test.
// Each is told in one line on standard error.
static bool ran_every_test(const std::string& may_skip) {
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  bool all_ran = true;
  if (unit.test_to_run_count() == 0) {
    fprintf(stderr, "VARNOCK_NO_SKIPS is set, and no test ran\n");
    all_ran = false;
  }
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
    for (int t = 0; t < suite.total_test_count(); ++t) {
      const ::testing::TestInfo& test = *suite.GetTestInfo(t);
      if (!test.should_run() || !test.result()->Skipped()) continue;
      const std::string name = std::string(suite.name()) + "." + test.name();
      if (listed(may_skip, name)) continue;
      std::string why;
      for (int p = 0; p < test.result()->total_part_count(); ++p) {
        const ::testing::TestPartResult& part = test.result()->GetTestPartResult(p);
        if (part.skipped()) why += part.message();
      }
      for (char& c : why) {
        if (c == '\n' || c == '\r') c = ' ';
      }
      fprintf(stderr, "VARNOCK_NO_SKIPS does not name %s, which skipped itself: %s\n", name.c_str(),
              why.empty() ? "(no reason given)" : why.c_str());
      all_ran = false;
    }
  }
  return all_ran;
}

// --client=PATH picks another client than the one beside this program, such
// as one of the other bitness. --code-page=N refuses to run in any ANSI code
// page but N: under Wine a missing locale would otherwise quietly run the
// tests in another. The arguments are read in UTF-16, as the paths may hold
// characters outside the code page. --on-console=CODE_PAGE
// LOADER_COMMAND_LINE is this program started by run_loader_on_console, on a
// console of its own. VARNOCK_NO_SKIPS, when set, holds the full names
// (Suite.Name) of the tests that may skip themselves, separated by commas;
// empty, or 1, lets none.
int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc == 3 && wcsncmp(argv[1], L"--on-console=", 13) == 0) {
    return show_loader_on_console(static_cast<unsigned>(wcstoul(argv[1] + 13, nullptr, 10)),
                                  argv[2]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  program_paths& programs = programs_under_test();
  for (int i = 1; i < argc; ++i) {
    if (wcsncmp(argv[i], L"--client=", 9) == 0) {
      programs.client_utf16 = argv[i] + 9;
    } else if (wcsncmp(argv[i], L"--code-page=", 12) == 0) {
      const unsigned wanted = static_cast<unsigned>(wcstoul(argv[i] + 12, nullptr, 10));
      if (GetACP() != wanted) {
        fprintf(stderr, "meant to run in code page %u, but the system's is %u\n", wanted, GetACP());
        return 2;
      }
    } else {
      fprintf(stderr, "unknown argument %ls\n", argv[i]);
      return 2;
    }
  }
  for (const std::wstring& program : {programs.loader_utf16, programs.client_utf16}) {
    if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
      fprintf(stderr, "program under test not found: %ls\n", program.c_str());
      return 2;
    }
  }
  const int status = RUN_ALL_TESTS();
  const char* may_skip = getenv("VARNOCK_NO_SKIPS");
  // Listing the tests runs none, and is no run to judge.
  if (may_skip && !GTEST_FLAG_GET(list_tests) && !ran_every_test(may_skip)) return 1;
  return status;
}
