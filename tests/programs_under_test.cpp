#include "tests/programs_under_test.h"

#include <stdint.h>
#include <stdio.h>

#include "client_link/client_channel.h"
#include "tests/loader_output.h"

namespace {

constexpr DWORD loader_time_limit_ms = 60000;
// How this program, started with --on-console, tells that it could not
// show the loader's run: no loader ends so.
constexpr DWORD console_not_shown = 99;

// What a failed test tells of its programs, in the order they ended: each
// account is written out only if the test fails.
std::vector<std::function<std::string()>> accounts;

void tell_if_the_test_fails(std::function<std::string()> account) {
  accounts.push_back(std::move(account));
}

// A file to its end; a pipe, whose program has ended, to what it left
// there: no read waits on a write end that outlives the program.
std::string read_and_close(HANDLE file) {
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  DWORD left = 0;
  const bool pipe = GetFileType(file) == FILE_TYPE_PIPE;
  while ((!pipe || (PeekNamedPipe(file, nullptr, 0, nullptr, &left, nullptr) && left > 0)) &&
         ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  CloseHandle(file);
  return bytes;
}

std::string read_file(const std::wstring& path) {
  const DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  return read_and_close(
      CreateFileW(path.c_str(), GENERIC_READ, shared, nullptr, OPEN_EXISTING, 0, nullptr));
}

// A program's output as an account shows it: cut short when long, and with
// its line ends kept.
std::string shown(const std::string& bytes) {
  if (bytes.empty()) return "(nothing)\n";
  std::string text = bytes.substr(0, 2000);
  if (text.size() < bytes.size()) text += "... (" + std::to_string(bytes.size()) + " bytes in all)";
  return text.back() == '\n' ? text : text + "\n";
}

// The stand-in client's record; stops at a record that is not complete yet.
std::vector<client_record> parse_records(const std::string& bytes) {
  std::vector<client_record> records;
  for (size_t at = 0, line_end; (line_end = bytes.find('\n', at)) != std::string::npos;) {
    const std::string line = bytes.substr(at, line_end - at);
    client_record record = {};
    record.step = line.substr(0, line.find(' '));
    received_command& command = record.command;
    unsigned length = 0;
    long long window = 0;
    at = line_end + 1;
    // Without "length=N", the message found no mapping.
    if (sscanf(line.c_str(), "command wParam=%llu lParam=%lld length=%u", &command.wparam,
               &command.lparam, &length) == 3) {
      if (at + length + 1 > bytes.size()) break;
      command.had_mapping = true;
      command.text = bytes.substr(at, length);
      at += length + 1;
    } else if (sscanf(line.c_str(), "up window=%lld", &window) == 1) {
      record.window = reinterpret_cast<HWND>(intptr_t(window));
    }
    records.push_back(record);
  }
  return records;
}

// Neither UTF-8 nor an ANSI code page takes more than 3 bytes for a UTF-16 unit.
std::string in_code_page(const std::wstring& text, UINT code_page) {
  std::string bytes(3 * text.size(), '\0');
  bytes.resize(WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), &bytes[0],
                                   int(bytes.size()), nullptr, nullptr));
  return bytes;
}

// 8-bit text in the ANSI code page as UTF-16, as CreateProcessA would pass it.
std::wstring widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(
      MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
  return wide;
}

std::vector<std::wstring> widen_each(const std::vector<std::string>& texts) {
  std::vector<std::wstring> wide;
  for (const std::string& text : texts) wide.push_back(widen(text));
  return wide;
}

// A path that the code page cannot hold is given by its short name, plain
// ASCII where the volume has short names.
std::string ansi_path(const std::wstring& path) {
  const std::string text = in_code_page(path, CP_ACP);
  if (widen(text) == path) return text;
  wchar_t short_path[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), short_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return text;
  return in_code_page(std::wstring(short_path, length), CP_ACP);
}

std::wstring this_program_utf16() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring folder_of_this_program_utf16() {
  const std::wstring path = this_program_utf16();
  return path.substr(0, path.find_last_of(L"\\/"));
}

// One argument as the C runtime's command-line parser will split it back out.
std::wstring quote_argument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote, the quote is escaped.
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

std::wstring command_line_of(const std::wstring& program,
                             const std::vector<std::wstring>& arguments) {
  std::wstring command_line = quote_argument(program);
  for (const std::wstring& argument : arguments) command_line += L" " + quote_argument(argument);
  return command_line;
}

HANDLE inheritable_pipe(HANDLE* read_end) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE write_end = nullptr;
  if (!CreatePipe(read_end, &write_end, &inherit, 0)) return nullptr;
  SetHandleInformation(*read_end, HANDLE_FLAG_INHERIT, 0);
  return write_end;
}

// Starts `program.command_line`, hidden, with its standard output and error
// both to `screen`, or else each through a pipe whose read end `program`
// gets; `program.process` stays null if it could not start (the reason is on
// standard error). Under load Wine now and then fails to start a process for
// reasons of its own (error 1359, ERROR_INTERNAL_ERROR): such a start is
// tried again a few times; one of a missing program, or none, is not.
void start_program(started_loader& program, HANDLE screen = nullptr, DWORD creation_flags = 0) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = screen ? screen : inheritable_pipe(&program.output);
  startup.hStdError = screen ? screen : inheritable_pipe(&program.errors);
  PROCESS_INFORMATION process = {};
  constexpr int attempts = 5;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> writable(program.command_line.begin(), program.command_line.end());
    writable.push_back(L'\0');
    if (CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, creation_flags, nullptr,
                       nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      program.process = process.hProcess;
      break;
    }
    const DWORD error = GetLastError();
    const bool lasting = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                         error == ERROR_BAD_EXE_FORMAT;
    fprintf(stderr, "CreateProcessW(%ls) failed, error %lu (attempt %d of %d)\n",
            program.command_line.c_str(), error, attempt, attempts);
    if (lasting || attempt == attempts) break;
    Sleep(200 * attempt);
  }
  if (screen) return;
  // Only the child holds the write ends now, so reads end when it does.
  if (startup.hStdOutput) CloseHandle(startup.hStdOutput);
  if (startup.hStdError) CloseHandle(startup.hStdError);
}

}  // namespace

program_paths& programs_under_test() {
  static program_paths paths = {folder_of_this_program_utf16() + L"\\varnock.exe",
                                folder_of_this_program_utf16() + L"\\stand_in_client.exe",
                                ansi_path(folder_of_this_program_utf16() + L"\\varnock.exe")};
  return paths;
}

std::string folder_of_this_program() { return ansi_path(folder_of_this_program_utf16()); }

std::string utf8(const std::wstring& text) { return in_code_page(text, CP_UTF8); }

started_loader start_loader(const std::vector<std::wstring>& arguments) {
  started_loader loader;
  loader.command_line = command_line_of(programs_under_test().loader_utf16, arguments);
  start_program(loader);
  return loader;
}

started_loader start_loader(const std::vector<std::string>& arguments) {
  return start_loader(widen_each(arguments));
}

bool poll_until(const std::function<bool()>& reached) {
  const DWORD started = GetTickCount();
  while (!reached()) {
    if (GetTickCount() - started >= step_limit_ms) return false;
    Sleep(5);
  }
  return true;
}

bool read_output_until(started_loader& loader, const std::string& expected) {
  bool ended = false;
  poll_until([&] {
    char chunk[256];
    DWORD ready = 0;
    DWORD got = 0;
    // Fails once the loader has ended and its output is all read.
    ended = !PeekNamedPipe(loader.output, nullptr, 0, nullptr, &ready, nullptr);
    if (!ended && ready > 0 && ReadFile(loader.output, chunk, sizeof chunk, &got, nullptr)) {
      loader.output_read.append(chunk, got);
    }
    return ended || loader.output_read.find(expected) != std::string::npos;
  });
  return loader.output_read.find(expected) != std::string::npos;
}

// The one way a started program is finished: waited for at most
// loader_time_limit_ms, then ended, which a line on standard error and the
// failure's account tell. Its outputs are far smaller than a pipe's buffer,
// so it ends without them being read.
loader_run finish_loader(started_loader loader) {
  loader_run run;
  run.exit_status = 0xDEAD;
  if (loader.process &&
      WaitForSingleObject(loader.process, loader_time_limit_ms) != WAIT_OBJECT_0) {
    const std::string line = utf8(loader.command_line) + " had not ended after " +
                             std::to_string(loader_time_limit_ms) + " ms: terminated\n";
    fputs(line.c_str(), stderr);
    tell_if_the_test_fails([line] { return line; });
    TerminateProcess(loader.process, 0xDEAD);
    WaitForSingleObject(loader.process, INFINITE);
  }
  if (loader.process) {
    GetExitCodeProcess(loader.process, &run.exit_status);
    CloseHandle(loader.process);
  }
  run.output = loader.output_read + read_and_close(loader.output);
  run.errors = read_and_close(loader.errors);
  const char* how = !loader.process ? ": could not be started" : loader.killed ? ": killed" : "";
  tell_if_the_test_fails([command_line = loader.command_line, how, run] {
    return utf8(command_line) + how + "\n  exit status " + std::to_string(run.exit_status) +
           "\n  standard output:\n" + shown(run.output) + "  standard error:\n" + shown(run.errors);
  });
  return run;
}

loader_run kill_loader(started_loader loader) {
  if (loader.process) TerminateProcess(loader.process, 1);
  loader.killed = true;
  return finish_loader(loader);
}

loader_run run_loader(const std::vector<std::wstring>& arguments) {
  return finish_loader(start_loader(arguments));
}

loader_run run_loader(const std::vector<std::string>& arguments) {
  return finish_loader(start_loader(arguments));
}

std::string describe(const std::vector<std::wstring>& arguments) {
  std::string text = "varnock";
  for (const std::wstring& argument : arguments) {
    const std::wstring shown = argument.size() > 40 ? argument.substr(0, 40) + L"..." : argument;
    text += " [" + utf8(shown) + "]";
  }
  return text + " in code page " + std::to_string(GetACP());
}

std::string describe(const std::vector<std::string>& arguments) {
  return describe(widen_each(arguments));
}

loader_run run_loader_on_console(unsigned output_code_page,
                                 const std::vector<std::wstring>& arguments) {
  started_loader shower;
  shower.command_line = command_line_of(
      this_program_utf16(), {L"--on-console=" + std::to_wstring(output_code_page),
                             command_line_of(programs_under_test().loader_utf16, arguments)});
  start_program(shower, nullptr, CREATE_NEW_CONSOLE);
  return finish_loader(shower);
}

int show_loader_on_console(unsigned output_code_page, const std::wstring& loader_command_line) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE || !SetConsoleOutputCP(output_code_page)) {
    fprintf(stderr, "no console in code page %u to show on, error %lu\n", output_code_page,
            GetLastError());
    return console_not_shown;
  }
  started_loader loader;
  loader.command_line = loader_command_line;
  start_program(loader, screen);
  const DWORD status = finish_loader(loader).exit_status;
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!GetConsoleScreenBufferInfo(screen, &info)) {
    fprintf(stderr, "GetConsoleScreenBufferInfo failed, error %lu\n", GetLastError());
    return console_not_shown;
  }
  std::wstring lines;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring line(info.dwSize.X, L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen, &line[0], DWORD(line.size()), COORD{0, row}, &got);
    line.resize(got);
    lines += line.erase(line.find_last_not_of(L' ') + 1) + L"\n";
  }
  // Not through the C runtime, which would make each "\n" "\r\n".
  const std::string bytes = utf8(lines);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), DWORD(bytes.size()), &written, nullptr);
  return int(status);
}

stand_in_client::stand_in_client(const std::vector<std::string>& options) {
  wchar_t folder[MAX_PATH];
  wchar_t file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"cmd", 0, file);
  // Deleted once neither the client nor a failed test's account needs it.
  record_path_.reset(new std::wstring(file), [](const std::wstring* path) {
    DeleteFileW(path->c_str());
    delete path;
  });
  static unsigned clients = 0;
  const std::string steps_event = "Varnock.Test.ClientSteps." +
                                  std::to_string(GetCurrentProcessId()) + "." +
                                  std::to_string(++clients);
  recorded_ = CreateEventA(nullptr, FALSE, FALSE, steps_event.c_str());
  std::vector<std::string> arguments = options;
  arguments.insert(arguments.end(),
                   {"--record", ansi_path(*record_path_), "--report-steps", steps_event});
  program_.command_line =
      command_line_of(programs_under_test().client_utf16, widen_each(arguments));
  start_program(program_);
  // Ready once it has told, in its first record, that its window is up and
  // which window that is.
  if (program_.process && await_step("up", 1)) window_ = records()[0].window;
}

void stand_in_client::stop() {
  if (!program_.process) return;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  finish_loader(program_);
  tell_if_the_test_fails(
      [path = record_path_] { return "  its record:\n" + shown(read_file(*path)); });
  program_ = {};
  window_ = nullptr;
}

stand_in_client::~stand_in_client() {
  stop();
  if (recorded_) CloseHandle(recorded_);
}

std::vector<client_record> stand_in_client::records() const {
  return parse_records(read_file(*record_path_));
}

std::vector<received_command> stand_in_client::new_commands() {
  std::vector<received_command> fresh;
  size_t commands = 0;
  for (const client_record& record : records()) {
    if (record.step == "command" && ++commands > commands_seen_) fresh.push_back(record.command);
  }
  commands_seen_ = commands;
  return fresh;
}

bool await_any(std::initializer_list<awaited_records> awaited) {
  const DWORD started = GetTickCount();
  for (;;) {
    std::vector<HANDLE> wakes;
    for (const awaited_records& one : awaited) {
      // Its end looked for first, so that its last records are read.
      const HANDLE process = one.client.program_.process;
      const bool ended = !process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
      if (one.reached(one.client.records())) return true;
      if (ended || !one.client.recorded_) continue;
      // The event is set after each record, so a record made between the
      // look and the wait still ends the wait.
      wakes.push_back(one.client.recorded_);
      wakes.push_back(process);
    }
    const DWORD waited = GetTickCount() - started;
    if (wakes.empty() || waited >= step_limit_ms) return false;
    WaitForMultipleObjects(DWORD(wakes.size()), wakes.data(), FALSE, step_limit_ms - waited);
  }
}

bool stand_in_client::await_step(const std::string& step, size_t times) const {
  return await([&](const std::vector<client_record>& all) { return times_in(all, step) >= times; });
}

size_t times_in(const std::vector<client_record>& records, const std::string& step) {
  size_t times = 0;
  for (const client_record& record : records) times += record.step == step;
  return times;
}

void expect_refused(const loader_run& run, const std::string& message, stand_in_client& client,
                    const std::string& what) {
  EXPECT_EQ(run.output, banner + message) << what;
  EXPECT_EQ(run.exit_status, 1u) << what;
  EXPECT_EQ(run.errors, "") << what;
  EXPECT_TRUE(client.new_commands().empty()) << what << " reached the client";
}

void EndToEndTest::SetUp() {
  accounts.clear();
  ASSERT_EQ(FindWindowA(client_window_class, nullptr), nullptr)
      << "a window of class mIRC is left from elsewhere; these tests need it gone";
}

void EndToEndTest::TearDown() {
  if (HasFailure()) {
    std::string told;
    for (const std::function<std::string()>& account : accounts) told += account();
    ADD_FAILURE() << "What this test's programs did, in the order they ended:\n" << told;
  }
  accounts.clear();
}
