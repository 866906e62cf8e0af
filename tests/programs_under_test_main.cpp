// The main of the Windows test programs.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/programs_under_test.h"

// --client=PATH picks another client than the one beside this program, such
// as one of the other bitness. --code-page=N refuses to run in any ANSI code
// page but N: under Wine a missing locale would otherwise quietly run the
// tests in another. The arguments are read in UTF-16, as the paths may hold
// characters outside the code page. --on-console=CODE_PAGE
// LOADER_COMMAND_LINE is this program started by run_loader_on_console, on a
// console of its own.
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
  return RUN_ALL_TESTS();
}
