// The main of the Windows test programs.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/programs_under_test.h"

// --loader=PATH and --client=PATH pick other programs than those beside this
// one, such as a loader and a client of different bitness. --code-page=N
// refuses to run in any ANSI code page but N: under Wine a missing locale
// would otherwise quietly run the tests in another. The arguments are read
// in UTF-16, as the paths may hold characters outside the code page.
// --on-console=CODE_PAGE PROBE LOADER_COMMAND_LINE is this program started
// by run_loader_on_console, on a console of its own.
int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc == 4 && wcsncmp(argv[1], L"--on-console=", 13) == 0) {
    const unsigned code_page = static_cast<unsigned>(wcstoul(argv[1] + 13, nullptr, 10));
    return show_loader_on_console(code_page, argv[2], argv[3]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  std::wstring loader = programs_under_test().loader_utf16;
  std::wstring client = programs_under_test().client_utf16;
  for (int i = 1; i < argc; ++i) {
    if (wcsncmp(argv[i], L"--loader=", 9) == 0)
      loader = argv[i] + 9;
    else if (wcsncmp(argv[i], L"--client=", 9) == 0)
      client = argv[i] + 9;
    else if (wcsncmp(argv[i], L"--code-page=", 12) == 0) {
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
  name_programs_under_test(loader, client);
  for (const std::wstring& program : {loader, client}) {
    if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
      fprintf(stderr, "program under test not found: %ls\n", program.c_str());
      return 2;
    }
  }
  return RUN_ALL_TESTS();
}
