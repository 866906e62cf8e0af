// The main of the Windows test programs.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/programs_under_test.h"

// --loader=PATH and --client=PATH pick other programs than those beside this
// one, such as a loader and a client of different bitness. --code-page=N
// refuses to run in any ANSI code page but N: under Wine a missing locale
// would otherwise quietly run the tests in another.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--loader=", 9) == 0) programs_under_test().loader = argv[i] + 9;
    else if (strncmp(argv[i], "--client=", 9) == 0) programs_under_test().client = argv[i] + 9;
    else if (strncmp(argv[i], "--code-page=", 12) == 0) {
      const unsigned wanted = static_cast<unsigned>(strtoul(argv[i] + 12, nullptr, 10));
      if (GetACP() != wanted) {
        fprintf(stderr, "meant to run in code page %u, but the system's is %u\n", wanted, GetACP());
        return 2;
      }
    } else {
      fprintf(stderr, "unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  for (const std::string& program : {programs_under_test().loader, programs_under_test().client}) {
    if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
      fprintf(stderr, "program under test not found: %s\n", program.c_str());
      return 2;
    }
  }
  return RUN_ALL_TESTS();
}
