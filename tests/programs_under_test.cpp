#include "tests/programs_under_test.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "client_link/client_channel.h"
#include "gtest/gtest.h"
#include "tests/loader_output.h"

namespace {

constexpr DWORD loader_time_limit_ms = 60000;
constexpr DWORD client_start_limit_ms = 30000;
// How this program, started with --on-console, tells that it could not
// show the loader's run: no loader ends so.
constexpr DWORD console_not_shown = 99;

std::string read_until_closed(HANDLE pipe) {
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(pipe);
  return bytes;
}

std::string read_file(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return bytes;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  fclose(file);
  return bytes;
}

// Parses the stand-in client's record: a command's header line, then its
// text and a line feed; or a step's line. Stops at a record that is not
// complete yet.
std::vector<client_record> parse_records(const std::string& bytes) {
  std::vector<client_record> records;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t line_end = bytes.find('\n', at);
    if (line_end == std::string::npos) break;
    const std::string header = bytes.substr(at, line_end - at);
    client_record record = {};
    received_command& command = record.command;
    unsigned length = 0;
    if (sscanf(header.c_str(), "command wParam=%llu lParam=%lld length=%u", &command.wparam,
               &command.lparam, &length) == 3) {
      if (line_end + 1 + length + 1 > bytes.size()) break;
      record.step = "command";
      command.had_mapping = true;
      command.text = bytes.substr(line_end + 1, length);
      at = line_end + 1 + length + 1;
    } else {
      if (sscanf(header.c_str(), "command wParam=%llu lParam=%lld", &command.wparam,
                 &command.lparam) == 2) {
        record.step = "command";
      } else {
        record.step = header;
      }
      at = line_end + 1;
    }
    records.push_back(record);
  }
  return records;
}

HWND window_of_process(HWND parent, const char* window_class, DWORD process_id) {
  for (HWND window = nullptr; (window = FindWindowExA(parent, window, window_class, nullptr));) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) && owner == process_id) return window;
  }
  return nullptr;
}

std::string in_code_page(const std::wstring& text, UINT code_page) {
  if (text.empty()) return std::string();
  const int length = WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string bytes(length, '\0');
  WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), &bytes[0], length, nullptr,
                      nullptr);
  return bytes;
}

std::string narrow(const std::wstring& text) { return in_code_page(text, CP_ACP); }

// For the tests' messages and accounts.
std::string utf8(const std::wstring& text) { return in_code_page(text, CP_UTF8); }

// A path that the code page cannot hold is given by its short name, plain
// ASCII where the volume has short names.
std::string ansi_path(const std::wstring& path) {
  const std::string text = narrow(path);
  if (widen(text) == path) return text;
  wchar_t short_path[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), short_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return text;
  return narrow(std::wstring(short_path, length));
}

std::wstring this_program_utf16() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring command_line_of(const std::wstring& program,
                             const std::vector<std::wstring>& arguments) {
  std::wstring command_line = quote_argument(program);
  for (const std::wstring& argument : arguments) command_line += L" " + quote_argument(argument);
  return command_line;
}

// Under load Wine now and then fails to start a process for reasons of its
// own (error 1359, ERROR_INTERNAL_ERROR): such a start is tried again a few
// times, each failure told in the test's output, before the test takes it
// as failed. A program that is missing, or is none, is not tried again.
bool create_process_retrying(const std::wstring& command_line, BOOL inherit_handles,
                             DWORD creation_flags, STARTUPINFOW& startup,
                             PROCESS_INFORMATION& process) {
  constexpr int attempts = 5;
  for (int attempt = 1;; ++attempt) {
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');
    if (CreateProcessW(nullptr, writable.data(), nullptr, nullptr, inherit_handles, creation_flags,
                       nullptr, nullptr, &startup, &process)) {
      return true;
    }
    const DWORD error = GetLastError();
    const bool lasting = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                         error == ERROR_BAD_EXE_FORMAT;
    fprintf(stderr, "CreateProcessW(%ls) failed, error %lu (attempt %d of %d)%s\n",
            command_line.c_str(), error, attempt, attempts,
            lasting || attempt == attempts ? "" : ": trying again");
    if (lasting || attempt == attempts) return false;
    Sleep(200 * attempt);
  }
}

HANDLE inheritable_pipe(HANDLE* read_end) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE write_end = nullptr;
  if (!CreatePipe(read_end, &write_end, &inherit, 0)) return nullptr;
  SetHandleInformation(*read_end, HANDLE_FLAG_INHERIT, 0);
  return write_end;
}

// How a program is started: its standard output and error each through a
// pipe that this program reads, or both to one inheritable handle, or, with
// neither, where this program's go.
struct program_start {
  bool pipes = false;
  HANDLE output_and_errors = nullptr;
  DWORD creation_flags = 0;
  bool hidden = false;
};

struct started_program {
  HANDLE process = nullptr;  // null if it could not be started: the reason is on stderr
  HANDLE output = nullptr;   // the pipes' read ends, when asked for
  HANDLE errors = nullptr;
};

started_program start_program(const std::wstring& command_line, const program_start& how) {
  started_program started;
  HANDLE output_write = nullptr;
  HANDLE errors_write = nullptr;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (how.hidden) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  if (how.pipes || how.output_and_errors) {
    if (how.pipes) {
      output_write = inheritable_pipe(&started.output);
      errors_write = inheritable_pipe(&started.errors);
    }
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = how.pipes ? output_write : how.output_and_errors;
    startup.hStdError = how.pipes ? errors_write : how.output_and_errors;
  }
  PROCESS_INFORMATION process = {};
  if (create_process_retrying(command_line, (startup.dwFlags & STARTF_USESTDHANDLES) != 0,
                              how.creation_flags, startup, process)) {
    CloseHandle(process.hThread);
    started.process = process.hProcess;
  }
  // Only the child holds the write ends now, so reads end when it does.
  if (output_write) CloseHandle(output_write);
  if (errors_write) CloseHandle(errors_write);
  return started;
}

// The one way a started program is finished: waited for `limit_ms` at most,
// then ended, which a line on standard error and the failure's account tell.
// Closes `process`; its exit status, 0xDEAD when it was ended.
DWORD finish_program(HANDLE process, DWORD limit_ms, const std::wstring& what) {
  if (WaitForSingleObject(process, limit_ms) != WAIT_OBJECT_0) {
    char line[512];
    snprintf(line, sizeof line, "%.400ls had not ended after %lu ms: terminated\n", what.c_str(),
             static_cast<unsigned long>(limit_ms));
    fputs(line, stderr);
    tell_if_failed(line);
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, INFINITE);
  }
  DWORD status = 0xDEAD;
  GetExitCodeProcess(process, &status);
  CloseHandle(process);
  return status;
}

// What a failed test tells of its programs, gathered as they end.
std::string& account_of_programs() {
  static std::string account;
  return account;
}

// A program's output as an account shows it: cut short when long, and with
// its line ends kept.
std::string shown(const std::string& bytes) {
  if (bytes.empty()) return "(nothing)\n";
  constexpr size_t most = 2000;
  std::string text = bytes.size() > most ? bytes.substr(0, most) + "... (" +
                                               std::to_string(bytes.size()) + " bytes in all)"
                                         : bytes;
  if (text.back() != '\n') text += "\n";
  return text;
}

std::wstring temporary_file(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH];
  wchar_t file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, prefix, 0, file);
  return file;
}

std::wstring screen_line(HANDLE screen, SHORT width, SHORT row) {
  std::wstring line(width, L' ');
  DWORD got = 0;
  ReadConsoleOutputCharacterW(screen, &line[0], DWORD(width), COORD{0, row}, &got);
  line.resize(got);
  line.erase(line.find_last_not_of(L' ') + 1);
  return line;
}

DWORD not_shown(const std::wstring& what, std::wstring* report) {
  *report = what + L" failed, error " + std::to_wstring(GetLastError());
  return console_not_shown;
}

// The loader's run on this process's console, then the probe; `report` gets
// the probe's line, then the loader's lines, each ended by a line feed.
DWORD show_on_this_console(unsigned output_code_page, const std::wstring& probe,
                           const std::wstring& loader_command_line, std::wstring* report) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return not_shown(L"opening CONOUT$", report);
  if (!SetConsoleOutputCP(output_code_page)) return not_shown(L"SetConsoleOutputCP", report);

  program_start how;
  how.output_and_errors = screen;
  const HANDLE loader = start_program(loader_command_line, how).process;
  if (!loader) return not_shown(L"CreateProcessW(" + loader_command_line + L")", report);
  const DWORD status = finish_program(loader, loader_time_limit_ms, loader_command_line);

  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!GetConsoleScreenBufferInfo(screen, &info)) {
    return not_shown(L"GetConsoleScreenBufferInfo", report);
  }
  std::wstring lines;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    lines += screen_line(screen, info.dwSize.X, row) + L"\n";
  }
  const COORD probe_at = {0, SHORT(info.dwCursorPosition.Y + 1)};
  SetConsoleCursorPosition(screen, probe_at);
  const int probe_file = _open_osfhandle(intptr_t(screen), _O_TEXT);  // closed with `screen`
  if (probe_file < 0) return not_shown(L"_open_osfhandle", report);
  const std::string bytes = narrow(probe);
  _write(probe_file, bytes.data(), unsigned(bytes.size()));
  *report = screen_line(screen, info.dwSize.X, probe_at.Y) + L"\n" + lines;
  _close(probe_file);
  return status;
}

std::vector<std::wstring> widen_each(const std::vector<std::string>& texts) {
  std::vector<std::wstring> wide;
  for (const std::string& text : texts) wide.push_back(widen(text));
  return wide;
}

}  // namespace

program_paths& programs_under_test() {
  static program_paths paths = {folder_of_this_program_utf16() + L"\\varnock.exe",
                                folder_of_this_program_utf16() + L"\\stand_in_client.exe",
                                ansi_path(folder_of_this_program_utf16() + L"\\varnock.exe")};
  return paths;
}

void name_programs_under_test(const std::wstring& loader, const std::wstring& client) {
  programs_under_test() = {loader, client, ansi_path(loader)};
}

std::wstring folder_of_this_program_utf16() {
  const std::wstring path = this_program_utf16();
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::string folder_of_this_program() { return ansi_path(folder_of_this_program_utf16()); }

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

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], length);
  return wide;
}

started_loader start_loader(const std::vector<std::wstring>& arguments) {
  started_loader loader;
  loader.command_line = command_line_of(programs_under_test().loader_utf16, arguments);
  program_start how;
  how.pipes = true;
  const started_program started = start_program(loader.command_line, how);
  loader.process = started.process;
  loader.output = started.output;
  loader.errors = started.errors;
  return loader;
}

started_loader start_loader(const std::vector<std::string>& arguments) {
  return start_loader(widen_each(arguments));
}

bool read_output_until(started_loader& loader, const std::string& expected) {
  char chunk[256];
  DWORD got = 0;
  while (loader.output_read.find(expected) == std::string::npos) {
    if (!ReadFile(loader.output, chunk, sizeof chunk, &got, nullptr) || got == 0) return false;
    loader.output_read.append(chunk, got);
  }
  return true;
}

loader_run finish_loader(started_loader loader) {
  loader_run run;
  run.exit_status = 0xDEAD;
  // The outputs are far smaller than a pipe's buffer, so reading one to its
  // end before the other cannot block the child.
  run.output = loader.output_read + read_until_closed(loader.output);
  run.errors = read_until_closed(loader.errors);
  if (loader.process) {
    run.exit_status = finish_program(loader.process, loader_time_limit_ms, loader.command_line);
  }
  tell_if_failed(utf8(loader.command_line) + (loader.process ? "" : ": could not be started") +
                 "\n  exit status " + std::to_string(run.exit_status) + "\n  standard output:\n" +
                 shown(run.output) + "  standard error:\n" + shown(run.errors));
  return run;
}

loader_run kill_loader(started_loader loader) {
  if (loader.process) TerminateProcess(loader.process, 1);
  tell_if_failed(utf8(loader.command_line) + ": killed by the test\n");
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

console_screen run_loader_on_console(unsigned output_code_page, const std::wstring& probe,
                                     const std::vector<std::wstring>& arguments) {
  console_screen screen;
  const std::wstring command_line = command_line_of(
      this_program_utf16(), {L"--on-console=" + std::to_wstring(output_code_page), probe,
                             command_line_of(programs_under_test().loader_utf16, arguments)});
  program_start how;
  how.pipes = true;
  how.creation_flags = CREATE_NEW_CONSOLE;
  how.hidden = true;
  const started_program started = start_program(command_line, how);
  const std::string bytes = read_until_closed(started.output);
  const std::string errors = read_until_closed(started.errors);
  if (!started.process) {
    screen.failure = L"CreateProcessW(" + command_line + L") failed: its error is above";
    return screen;
  }
  screen.exit_status = finish_program(started.process, loader_time_limit_ms, command_line);
  tell_if_failed(utf8(command_line) + "\n  exit status " + std::to_string(screen.exit_status) +
                 "\n  standard error:\n" + shown(errors));

  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
  if (screen.exit_status == console_not_shown) {
    screen.failure = text;
    return screen;
  }
  for (size_t at = 0, end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1) {
    if (at == 0) {
      screen.probe_shown = text.substr(0, end);
    } else {
      screen.lines.push_back(text.substr(at, end - at));
    }
  }
  return screen;
}

int show_loader_on_console(unsigned output_code_page, const std::wstring& probe,
                           const std::wstring& loader_command_line) {
  std::wstring report;
  const DWORD status = show_on_this_console(output_code_page, probe, loader_command_line, &report);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), report.data(), DWORD(report.size() * sizeof(wchar_t)),
            &written, nullptr);
  return int(status);
}

stand_in_client::stand_in_client(client_options options) {
  static unsigned clients = 0;
  const std::string steps_event = "Varnock.Test.ClientSteps." +
                                  std::to_string(GetCurrentProcessId()) + "." +
                                  std::to_string(++clients);
  recorded_ = CreateEventA(nullptr, FALSE, FALSE, steps_event.c_str());
  record_path_ = temporary_file(L"cmd");
  log_path_ = temporary_file(L"log");
  options.record = ansi_path(record_path_);
  options.report_steps = steps_event;
  const std::vector<std::string> arguments = stand_in_client_arguments(options);
  for (const std::string& argument : arguments) options_shown_ += " " + argument;
  const std::wstring command_line =
      command_line_of(programs_under_test().client_utf16, widen_each(arguments));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE log = CreateFileW(log_path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, CREATE_ALWAYS, 0, nullptr);
  program_start how;
  how.output_and_errors = log == INVALID_HANDLE_VALUE ? nullptr : log;
  process_.hProcess = start_program(command_line, how).process;
  if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
  if (!process_.hProcess) return;
  process_.dwProcessId = GetProcessId(process_.hProcess);
  // Ready once it has told that its window is up; and that must be the
  // window found among the top-level windows or the message-only ones.
  const HANDLE told_or_ended[] = {recorded_, process_.hProcess};
  const DWORD started = GetTickCount();
  while (times_recorded("up") == 0) {
    const DWORD waited = GetTickCount() - started;
    if (waited >= client_start_limit_ms) {
      tell_if_failed("stand_in_client" + options_shown_ + ": its window was not up after " +
                     std::to_string(client_start_limit_ms) + " ms\n");
      return;
    }
    if (WaitForMultipleObjects(2, told_or_ended, FALSE, client_start_limit_ms - waited) ==
        WAIT_OBJECT_0 + 1) {
      if (times_recorded("up") == 0) return;
    }
  }
  const HWND parent = options.message_only ? HWND_MESSAGE : nullptr;
  window_ = window_of_process(parent, options.window_class.c_str(), process_.dwProcessId);
}

void stand_in_client::stop() {
  if (!process_.hProcess) return;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  const DWORD status =
      finish_program(process_.hProcess, 10000, L"the stand-in client" + widen(options_shown_));
  tell_if_failed("stand_in_client" + options_shown_ + "\n  exit status " + std::to_string(status) +
                 "\n  record:\n" + shown(read_file(record_path_)) +
                 "  standard output and error:\n" + shown(read_file(log_path_)));
  process_ = {};
  window_ = nullptr;
}

stand_in_client::~stand_in_client() {
  stop();
  DeleteFileW(record_path_.c_str());
  DeleteFileW(log_path_.c_str());
  if (recorded_) CloseHandle(recorded_);
}

std::vector<client_record> stand_in_client::records() const {
  return parse_records(read_file(record_path_));
}

std::vector<received_command> stand_in_client::new_commands() {
  std::vector<received_command> all;
  for (const client_record& record : records()) {
    if (record.step == "command") all.push_back(record.command);
  }
  if (records_seen_ > all.size()) records_seen_ = all.size();
  std::vector<received_command> fresh(all.begin() + records_seen_, all.end());
  records_seen_ = all.size();
  return fresh;
}

bool stand_in_client::await(const std::function<bool(const std::vector<client_record>&)>& reached,
                            DWORD limit_ms) const {
  const DWORD started = GetTickCount();
  // The event is set after each record, so a record made between the look
  // and the wait still ends the wait.
  while (!reached(records())) {
    const DWORD waited = GetTickCount() - started;
    if (waited >= limit_ms || !recorded_) return false;
    WaitForSingleObject(recorded_, limit_ms - waited);
  }
  return true;
}

bool await_either(const stand_in_client& one,
                  const std::function<bool(const std::vector<client_record>&)>& reached,
                  const stand_in_client& other,
                  const std::function<bool(const std::vector<client_record>&)>& other_reached) {
  const HANDLE recorded[] = {one.recorded_, other.recorded_};
  if (!recorded[0] || !recorded[1]) return false;
  const DWORD started = GetTickCount();
  while (!reached(one.records()) && !other_reached(other.records())) {
    const DWORD waited = GetTickCount() - started;
    if (waited >= step_limit_ms) return false;
    WaitForMultipleObjects(2, recorded, FALSE, step_limit_ms - waited);
  }
  return true;
}

size_t times_in(const std::vector<client_record>& records, const std::string& step) {
  size_t times = 0;
  for (const client_record& record : records) times += record.step == step;
  return times;
}

size_t stand_in_client::times_recorded(const std::string& step) const {
  return times_in(records(), step);
}

bool stand_in_client::await_step(const std::string& step, size_t times) const {
  return await([&](const std::vector<client_record>& all) { return times_in(all, step) >= times; });
}

void tell_if_failed(const std::string& text) { account_of_programs() += text; }

void expect_refused(const loader_run& run, const std::string& message, stand_in_client& client,
                    const std::string& what) {
  EXPECT_EQ(run.output, banner + message) << what;
  EXPECT_EQ(run.exit_status, 1u) << what;
  EXPECT_EQ(run.errors, "") << what;
  EXPECT_TRUE(client.new_commands().empty()) << what << " reached the client";
}

void EndToEndTest::SetUp() {
  account_of_programs().clear();
  ASSERT_EQ(FindWindowA(client_window_class, nullptr), nullptr)
      << "a window of class mIRC is left from elsewhere; these tests need it gone";
}

void EndToEndTest::TearDown() {
  if (HasFailure()) {
    ADD_FAILURE() << "What this test's programs did, in the order they ended:\n"
                  << account_of_programs();
  }
  account_of_programs().clear();
}
