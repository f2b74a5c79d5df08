#include "cli/terminal_ui.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace quorvane::cli {
namespace {

std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written in a signal handler");
int output_error = 0;
// The signal handler writes a byte here, so a question that waits for the terminal wakes
// up even when the signal came just before its wait began.
int wake_pipe[2] = {-1, -1};

// Notes the first signal. SA_RESETHAND has already put back the default action, so the
// same signal again ends the program.
extern "C" void OnStopSignal(int signal) {
  const int saved_errno = errno;
  int none = 0;
  stop_signal.compare_exchange_strong(none, signal);
  if (wake_pipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_pipe[1], &byte, 1);
  }
  errno = saved_errno;
}

// Waits until a line can be read from the terminal or a stop signal has come; true for the
// line.
bool WaitForLine() {
  for (;;) {
    if (StopSignal() != 0) return false;
    pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    const int ready = ::poll(waits, wake_pipe[0] >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno != EINTR) return true;  // let the read report it
    if (StopSignal() != 0) return false;
    if (ready > 0 && waits[0].revents != 0) return true;
  }
}

}  // namespace

void HandleStopSignals() {
  if (wake_pipe[0] < 0 && ::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    wake_pipe[0] = wake_pipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a question waiting at the terminal sees its read interrupted.
  action.sa_flags = SA_RESETHAND;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int StopSignal() { return stop_signal.load(std::memory_order_relaxed); }

bool NoteOutputFailure(std::ostream& stream) {
  if (stream.good()) return false;
  if (output_error == 0) output_error = errno != 0 ? errno : EIO;
  return true;
}

int OutputError() { return output_error; }

bool TerminalUi::StopRequested() { return StopSignal() != 0 || output_error != 0; }

TerminalUi::TerminalUi(std::string caption, bool assume_yes, bool quiet)
    : caption_(caption),
      window_caption_(std::move(caption)),
      assume_yes_(assume_yes),
      quiet_(quiet),
      progress_shown_(!quiet && ::isatty(STDERR_FILENO)) {}

std::string TerminalUi::Text(const std::string& field) {
  const auto it = texts_.find(field);
  return it == texts_.end() ? std::string() : it->second;
}

std::vector<std::string> TerminalUi::Items(const std::string& field) {
  const auto it = items_.find(field);
  return it == items_.end() ? std::vector<std::string>() : it->second;
}

bool TerminalUi::Checked(const std::string& field) {
  const auto it = checks_.find(field);
  return it != checks_.end() && it->second;
}

int TerminalUi::Selected(const std::string& field) {
  const auto it = selections_.find(field);
  return it == selections_.end() ? -1 : it->second;
}

Answer TerminalUi::Message(const std::string& text, Icon icon, Buttons buttons,
                           const std::string&) {
  EndProgressLine();
  if (buttons == Buttons::YesNo) return AskUser(text);
  if (icon == Icon::Information && quiet_) return Answer::Ok;
  std::cerr << text << std::endl;
  NoteOutputFailure(std::cerr);
  return Answer::Ok;
}

Answer TerminalUi::AskUser(const std::string& question) {
  if (StopRequested()) return Answer::No;
  if (assume_yes_) {
    if (!quiet_) std::cerr << question << " 是" << std::endl;
    return NoteOutputFailure(std::cerr) ? Answer::No : Answer::Yes;
  }
  if (!::isatty(STDIN_FILENO)) {
    std::cerr << question << " 否（需要确认时请加 --yes）" << std::endl;
    NoteOutputFailure(std::cerr);
    return Answer::No;
  }
  std::cerr << question << " [y/N] " << std::flush;
  if (NoteOutputFailure(std::cerr)) return Answer::No;
  std::string reply;
  const bool read = WaitForLine() && std::getline(std::cin, reply);
  if (StopRequested()) {  // the signal interrupted the read: No
    std::cerr << std::endl;
    return Answer::No;
  }
  if (!read) return Answer::No;
  return (reply == "y" || reply == "Y" || reply == "yes" || reply == "是") ? Answer::Yes
                                                                           : Answer::No;
}

void TerminalUi::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  if (!progress_shown_) return;
  if (caption == window_caption_) {
    EndProgressLine();
    return;
  }
  // A run that names every file it copies would otherwise spend its time on the terminal.
  const auto now = std::chrono::steady_clock::now();
  if (progress_line_open_ && now - last_drawn_ < std::chrono::milliseconds(100)) return;
  last_drawn_ = now;
  std::cerr << '\r' << caption << "\x1b[K" << std::flush;
  NoteOutputFailure(std::cerr);
  progress_line_open_ = true;
}

void TerminalUi::EndProgressLine() {
  if (!progress_line_open_) return;
  std::cerr << "\r\x1b[K" << std::flush;
  progress_line_open_ = false;
}

}  // namespace quorvane::cli
