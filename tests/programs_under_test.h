// Runs the real loader and the stand-in client as child processes, through
// nothing but the Win32 API, so the same tests run on Windows and on Wine.
#ifndef VARNOCK_TESTS_PROGRAMS_UNDER_TEST_H
#define VARNOCK_TESTS_PROGRAMS_UNDER_TEST_H

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"

// Where the programs are: beside the test program, unless the command line
// named another client (to pair a loader and a client of different bitness).
// The harness names them to Windows in UTF-16, so that they run from a
// folder of any name, whatever the code page.
struct program_paths {
  std::wstring loader_utf16;
  std::wstring client_utf16;
  // The loader's path as 8-bit text, for the tests' 8-bit calls.
  std::string loader;
};
program_paths& programs_under_test();
// This program's folder as 8-bit text in the ANSI code page, for a test that
// passes it to the loader: its short name where the long one has characters
// outside the code page.
std::string folder_of_this_program();
// For the tests' messages.
std::string utf8(const std::wstring& text);

struct loader_run {
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error, with whatever Wine printed there
  DWORD exit_status = 0;
};

struct started_loader {
  HANDLE process = nullptr;
  HANDLE output = nullptr;
  HANDLE errors = nullptr;
  std::string output_read;  // what read_output_until has taken from `output` so far
  std::wstring command_line;
  bool killed = false;
};

// Starting and finishing apart lets several loaders run at once. The
// loader gets a UTF-16 command line: 8-bit arguments are taken to be in the
// ANSI code page; UTF-16 ones can hold characters outside it.
started_loader start_loader(const std::vector<std::wstring>& arguments);
started_loader start_loader(const std::vector<std::string>& arguments);
// Reads the loader's output until it holds `expected` (true), or until the
// loader has ended, or step_limit_ms has passed, without printing it (false):
// to know how far it has come.
bool read_output_until(started_loader& loader, const std::string& expected);
loader_run finish_loader(started_loader loader);
// Ends a loader at once, as an editor cancelling its task does.
loader_run kill_loader(started_loader loader);
loader_run run_loader(const std::vector<std::wstring>& arguments);
loader_run run_loader(const std::vector<std::string>& arguments);
// A loader's arguments as a test's message names them: in UTF-8, each cut
// short, with the code page they are passed in.
std::string describe(const std::vector<std::wstring>& arguments);
std::string describe(const std::vector<std::string>& arguments);

// The loader run on a console of its own, set to show 8-bit text in
// `output_code_page`: `output` holds the console's lines in UTF-8, from the
// top to the cursor's, each ended by "\n" and cut of trailing blanks. This
// program, started again with --on-console, owns that console, so that the
// test's own console, if it has one, is left as it is.
loader_run run_loader_on_console(unsigned output_code_page,
                                 const std::vector<std::wstring>& arguments);
// The other end, in the program started with --on-console; returns the
// loader's exit status.
int show_loader_on_console(unsigned output_code_page, const std::wstring& loader_command_line);

struct received_command {
  unsigned long long wparam;
  long long lparam;
  bool had_mapping;
  std::string text;
};

// One line of the stand-in client's record: a command it received, or a
// step it took (tools/stand_in_client.cpp lists them).
struct client_record {
  std::string step;          // the line's first word: "command" for a command
  received_command command;  // for a command
  HWND window;               // for "up"
};

// How often `step` ("command" for a command) stands in `records`.
size_t times_in(const std::vector<client_record>& records, const std::string& step);

// How long a test waits for a step of a program before it fails naming it.
constexpr DWORD step_limit_ms = 30000;
// Asks `reached` every 5 ms until it holds (true), for step_limit_ms at most
// (false): for what tells no one when it changes, as a pipe's bytes or a new
// handle to an object.
bool poll_until(const std::function<bool()>& reached);

class stand_in_client;
using records_test = std::function<bool(const std::vector<client_record>&)>;
struct awaited_records {
  const stand_in_client& client;
  records_test reached;
};
// Waits until `reached` holds for the records of one of the clients, each
// time one has recorded something; false after step_limit_ms, or once all
// of them have ended short of it.
bool await_any(std::initializer_list<awaited_records> awaited);

// A running stand-in client, started with `options` (its own command-line
// options); stopped, and its window gone, when destroyed. Its record and
// whatever it wrote are told if the test fails.
class stand_in_client {
 public:
  explicit stand_in_client(const std::vector<std::string>& options = {});
  ~stand_in_client();
  stand_in_client(const stand_in_client&) = delete;
  stand_in_client& operator=(const stand_in_client&) = delete;

  bool running() const { return window_ != nullptr; }
  HWND window() const { return window_; }
  // Closes the client and waits until it has ended; its records stay readable.
  void stop();
  // The commands received since the last call.
  std::vector<received_command> new_commands();
  // Everything recorded so far, steps and commands.
  std::vector<client_record> records() const;
  bool await(const records_test& reached) const { return await_any({{*this, reached}}); }
  // Waits until `step` has been recorded `times` times in all.
  bool await_step(const std::string& step, size_t times) const;
  size_t times_recorded(const std::string& step) const { return times_in(records(), step); }

 private:
  friend bool await_any(std::initializer_list<awaited_records> awaited);
  started_loader program_;
  HWND window_ = nullptr;
  std::shared_ptr<const std::wstring> record_path_;
  HANDLE recorded_ = nullptr;
  size_t commands_seen_ = 0;
};

// The fixture of the tests that run loaders: a window of the client's class
// left open from elsewhere would be the one their loaders find, so no test
// starts while there is one. A test that fails is followed by what its
// programs did (loaders' command lines, output, standard error and exit
// status; the clients' records and what they wrote), so that a failure seen
// once can be explained from its log.
class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// A refused command: after the banner only `message`, status 1, nothing on
// standard error, and nothing reached the client. `what` names the run.
void expect_refused(const loader_run& run, const std::string& message, stand_in_client& client,
                    const std::string& what);

#endif
