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

// Parses the stand-in client's records: a header line, then the text and a
// line feed. Stops at a record that is not complete yet.
std::vector<received_command> parse_records(const std::string& bytes) {
  std::vector<received_command> commands;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t line_end = bytes.find('\n', at);
    if (line_end == std::string::npos) break;
    const std::string header = bytes.substr(at, line_end - at);
    received_command command = {};
    unsigned length = 0;
    if (sscanf(header.c_str(), "command wParam=%llu lParam=%lld length=%u", &command.wparam,
               &command.lparam, &length) == 3) {
      if (line_end + 1 + length + 1 > bytes.size()) break;
      command.had_mapping = true;
      command.text = bytes.substr(line_end + 1, length);
      at = line_end + 1 + length + 1;
    } else {
      sscanf(header.c_str(), "command wParam=%llu lParam=%lld", &command.wparam, &command.lparam);
      at = line_end + 1;
    }
    commands.push_back(command);
  }
  return commands;
}

HWND window_of_process(HWND parent, const char* window_class, DWORD process_id) {
  for (HWND window = nullptr; (window = FindWindowExA(parent, window, window_class, nullptr));) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) && owner == process_id) return window;
  }
  return nullptr;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(length, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &bytes[0], length, nullptr,
                      nullptr);
  return bytes;
}

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
                           std::wstring loader_command_line, std::wstring* report) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return not_shown(L"opening CONOUT$", report);
  if (!SetConsoleOutputCP(output_code_page)) return not_shown(L"SetConsoleOutputCP", report);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = screen;
  startup.hStdError = screen;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &loader_command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return not_shown(L"CreateProcessW(" + loader_command_line + L")", report);
  }
  CloseHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, loader_time_limit_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);

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
  const std::wstring command_line = command_line_of(programs_under_test().loader_utf16, arguments);

  started_loader loader;
  HANDLE output_write = inheritable_pipe(&loader.output);
  HANDLE errors_write = inheritable_pipe(&loader.errors);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output_write;
  startup.hStdError = errors_write;
  PROCESS_INFORMATION process = {};
  if (create_process_retrying(command_line, TRUE, 0, startup, process)) {
    CloseHandle(process.hThread);
    loader.process = process.hProcess;
  }
  // Only the child holds the write ends now, so reads end when it does.
  CloseHandle(output_write);
  CloseHandle(errors_write);
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
  if (!loader.process) {
    CloseHandle(loader.output);
    CloseHandle(loader.errors);
    return run;
  }
  // The outputs are far smaller than a pipe's buffer, so reading one to its
  // end before the other cannot block the child.
  run.output = loader.output_read + read_until_closed(loader.output);
  run.errors = read_until_closed(loader.errors);
  if (WaitForSingleObject(loader.process, loader_time_limit_ms) != WAIT_OBJECT_0) {
    TerminateProcess(loader.process, 0xDEAD);
    WaitForSingleObject(loader.process, INFINITE);
  }
  GetExitCodeProcess(loader.process, &run.exit_status);
  CloseHandle(loader.process);
  return run;
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
    const int length = WideCharToMultiByte(CP_UTF8, 0, shown.data(), int(shown.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, shown.data(), int(shown.size()), &utf8[0], length, nullptr,
                        nullptr);
    text += " [" + utf8 + "]";
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
  HANDLE report = nullptr;
  HANDLE report_write = inheritable_pipe(&report);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = report_write;
  startup.hStdError = report_write;
  PROCESS_INFORMATION process = {};
  const bool started =
      create_process_retrying(command_line, TRUE, CREATE_NEW_CONSOLE, startup, process);
  CloseHandle(report_write);
  const std::string bytes = read_until_closed(report);
  if (!started) {
    screen.failure = L"CreateProcessW(" + command_line + L") failed: its error is above";
    return screen;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &screen.exit_status);
  CloseHandle(process.hProcess);

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
  wchar_t folder[MAX_PATH];
  wchar_t file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"cmd", 0, file);
  record_path_ = file;

  std::wstring command_line = quote_argument(programs_under_test().client_utf16) + L" --record " +
                              quote_argument(record_path_);
  if (options.refuse) command_line += L" --refuse";
  if (options.delay_ms) command_line += L" --delay " + std::to_wstring(options.delay_ms);
  if (!options.busy_until.empty()) command_line += L" --busy-until " + widen(options.busy_until);
  if (!options.hold_until.empty()) command_line += L" --hold-until " + widen(options.hold_until);
  if (!options.leave.empty()) command_line += L" --leave " + widen(options.leave);
  if (!options.hold_after_null.empty()) {
    command_line += L" --hold-after-null " + widen(options.hold_after_null);
  }
  if (!options.restack_while.empty()) {
    command_line += L" --restack-while " + widen(options.restack_while);
  }
  if (options.message_only) command_line += L" --message-only";
  if (options.window_class != client_window_class) {
    command_line += L" --class " + quote_argument(widen(options.window_class));
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!create_process_retrying(command_line, FALSE, 0, startup, process_)) return;
  // Ready once its window can be found, among the top-level windows or the
  // message-only ones, and it must be this client's window.
  const HWND parent = options.message_only ? HWND_MESSAGE : nullptr;
  for (DWORD waited = 0; waited < client_start_limit_ms; waited += 20) {
    window_ = window_of_process(parent, options.window_class.c_str(), process_.dwProcessId);
    if (window_) return;
    if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) return;
  }
}

void stand_in_client::stop() {
  if (!process_.hProcess) return;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, INFINITE);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
  process_ = {};
  window_ = nullptr;
}

stand_in_client::~stand_in_client() {
  stop();
  DeleteFileW(record_path_.c_str());
}

std::vector<received_command> stand_in_client::new_commands() {
  std::vector<received_command> all = parse_records(read_file(record_path_));
  if (records_seen_ > all.size()) records_seen_ = all.size();
  std::vector<received_command> fresh(all.begin() + records_seen_, all.end());
  records_seen_ = all.size();
  return fresh;
}

void expect_refused(const loader_run& run, const std::string& message, stand_in_client& client,
                    const std::string& what) {
  EXPECT_EQ(run.output, banner + message) << what;
  EXPECT_EQ(run.exit_status, 1u) << what;
  EXPECT_EQ(run.errors, "") << what;
  EXPECT_TRUE(client.new_commands().empty()) << what << " reached the client";
}

void EndToEndTest::SetUp() {
  ASSERT_EQ(FindWindowA(client_window_class, nullptr), nullptr)
      << "a window of class mIRC is left from elsewhere; these tests need it gone";
}
