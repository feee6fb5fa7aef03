#include "frame/console.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "frame/files.h"

namespace frame {
namespace {

struct termios g_savedTermios;
std::atomic<bool> g_termiosSaved{false};

// ANSI colour number for a colour code 0..15 (BLACK, BLUE, GREEN, CYAN, RED, MAGENTA, BROWN,
// WHITE, then their bright forms).
int ansiColour(int code) {
  static const int map[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  return map[code & 7];
}

std::string sgr(int fg, int bg) {
  fg &= 15;
  bg &= 7;
  char buf[32];
  std::snprintf(buf, sizeof buf, "\x1b[%d;%dm", (fg & 8 ? 90 : 30) + ansiColour(fg), 40 + ansiColour(bg));
  return buf;
}

// The window's text is in the OEM code page; the bar track character 0xB2 is shown as a block.
std::string toTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == 0xB2) {
      out += "\u2593";
    } else if (c == 0xB1) {
      out += "\u2592";
    } else if (c == 0xB0) {
      out += "\u2591";
    } else if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      out += '?';
    }
  }
  return out;
}

void writeAll(int fd, const std::string& s) {
  const char* p = s.data();
  size_t left = s.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void onSignal(int sig) {
  restoreTerminalMode();
  removePendingTemporaries();
  if (::isatty(STDOUT_FILENO)) {
    static const char reset[] = "\x1b[0m\x1b[?25h\n";
    ssize_t r = ::write(STDOUT_FILENO, reset, sizeof reset - 1);
    (void)r;
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

StdConsole::StdConsole() {
  tty_ = ::isatty(STDOUT_FILENO) == 1;
}

void StdConsole::clear(int bg) {
  if (!tty_) return;
  std::fflush(stdout);
  writeAll(STDOUT_FILENO, sgr(7, bg) + "\x1b[2J\x1b[H");
}

void StdConsole::putText(int row, int col, int fg, int bg, std::string_view text) {
  if (!tty_) return;
  std::string t = toTerminal(text);
  if (col < 0) col = 0;
  if (col >= 80) return;
  // Clip to the 80-column window without wrapping.
  size_t room = static_cast<size_t>(80 - col);
  std::string clipped;
  size_t chars = 0;
  for (size_t i = 0; i < t.size() && chars < room; ++chars) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    size_t len = c < 0x80 ? 1 : (c >= 0xE0 ? 3 : 2);
    clipped.append(t, i, len);
    i += len;
  }
  char pos[32];
  std::snprintf(pos, sizeof pos, "\x1b[%d;%dH", row + 1, col + 1);
  std::fflush(stdout);
  writeAll(STDOUT_FILENO, std::string("\x1b[s") + pos + sgr(fg, bg) + clipped + "\x1b[0m\x1b[u");
}

void StdConsole::moveCursor(int row, int col) {
  if (!tty_) return;
  char pos[32];
  std::snprintf(pos, sizeof pos, "\x1b[%d;%dH", row + 1, col + 1);
  std::fflush(stdout);
  writeAll(STDOUT_FILENO, pos);
}

void StdConsole::screenLine(std::string_view text) {
  std::fflush(stdout);
  writeAll(STDOUT_FILENO, toTerminal(text) + "\n");
}

void StdConsole::errorLine(std::string_view text) {
  std::fflush(stdout);
  std::string line(text);
  line += '\n';
  writeAll(STDERR_FILENO, line);
}

void StdConsole::beep() {
  if (tty_) writeAll(STDOUT_FILENO, "\a");
}

void StdConsole::restore() {
  restoreTerminalMode();
  if (tty_) writeAll(STDOUT_FILENO, "\x1b[0m\x1b[?25h");
}

// ---------------------------------------------------------------- keyboard

void Keyboard::PEEKSTART() {
  if (active_ || ::isatty(STDIN_FILENO) != 1) return;
  struct termios t;
  if (::tcgetattr(STDIN_FILENO, &t) != 0) return;
  g_savedTermios = t;
  g_termiosSaved = true;
  // Keys arrive one at a time and unechoed; Ctrl-C still raises SIGINT.
  t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
  active_ = true;
  std::thread([this] {
    for (;;) {
      unsigned char c;
      ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n == 0) return;
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (c == 27) {
        // A cursor or function key sends Escape followed at once by "[" or "O" and more:
        // such a sequence is not the Escape key and is dropped whole.
        struct pollfd p {
          STDIN_FILENO, POLLIN, 0
        };
        if (::poll(&p, 1, 30) > 0) {
          unsigned char next;
          if (::read(STDIN_FILENO, &next, 1) == 1) {
            if (next == '[' || next == 'O') {
              unsigned char b = 0;
              while (::poll(&p, 1, 30) > 0 && ::read(STDIN_FILENO, &b, 1) == 1) {
                if (b >= 0x40 && b <= 0x7E) break;
              }
              continue;
            }
            push(c);
            push(next);
            continue;
          }
        }
      }
      push(c);
    }
  }).detach();
}

void Keyboard::push(unsigned char key) {
  bool full = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    unsigned next = (write_ + 1) & 255u;
    if (next == read_) {
      full = true;
    } else {
      write_ = next;
      ring_[write_] = key;
    }
  }
  if (full) console_.beep();
}

bool Keyboard::KBCAVL() {
  if (!active_) return false;
  std::lock_guard<std::mutex> g(lock_);
  return read_ != write_;
}

char Keyboard::USERGETCHAR() {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (read_ != write_) {
      read_ = (read_ + 1) & 255u;
      return static_cast<char>(ring_[read_]);
    }
  }
  console_.beep();
  return ' ';
}

bool Keyboard::ESCAPE() {
  if (!active_) return false;
  std::lock_guard<std::mutex> g(lock_);
  if (read_ == write_) return false;
  read_ = (read_ + 1) & 255u;
  return ring_[read_] == 27;
}

void restoreTerminalMode() noexcept {
  if (g_termiosSaved.load()) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
}

void installSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(s, &sa, nullptr);
  // A file size limit makes a write fail (and be reported) instead of killing the run.
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace frame
