#pragma once
// The text window: clear, place, colour, progress drawing, and the keyboard look-ahead.
// With a terminal on standard output ANSI sequences draw in place; without one no control
// codes are written and screen drawing stays quiet. Plain screen messages are always shown.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace frame {

class Console {
 public:
  virtual ~Console() = default;
  virtual bool interactive() const = 0;
  // Clears the window in the background colour bg (colour codes 0..15).
  virtual void clear(int bg) = 0;
  // Writes text at row and column (from 0), without wrapping, clipped to 80 columns.
  virtual void putText(int row, int col, int fg, int bg, std::string_view text) = 0;
  virtual void moveCursor(int row, int col) = 0;
  // A message line on the screen (start-up notices, stop reports).
  virtual void screenLine(std::string_view text) = 0;
  // A line for the batch log on standard error (messages, steps, the result).
  virtual void errorLine(std::string_view text) = 0;
  virtual void beep() = 0;
  // Puts the terminal back as it was found (cursor, colours, keyboard mode).
  virtual void restore() = 0;
};

// Console on the process's standard output.
class StdConsole : public Console {
 public:
  StdConsole();
  bool interactive() const override { return tty_; }
  void clear(int bg) override;
  void putText(int row, int col, int fg, int bg, std::string_view text) override;
  void moveCursor(int row, int col) override;
  void screenLine(std::string_view text) override;
  void errorLine(std::string_view text) override;
  void beep() override;
  void restore() override;

 private:
  bool tty_ = false;
};

// A console that records what was shown (tests).
class RecordingConsole : public Console {
 public:
  bool interactive() const override { return false; }
  void clear(int) override { ++clears; }
  void putText(int, int, int, int, std::string_view text) override { drawn.emplace_back(text); }
  void moveCursor(int, int) override {}
  void screenLine(std::string_view text) override { lines.emplace_back(text); }
  void errorLine(std::string_view text) override { errors.emplace_back(text); }
  void beep() override { ++beeps; }
  void restore() override { ++restores; }
  std::vector<std::string> lines, drawn, errors;
  int clears = 0, beeps = 0, restores = 0;
};

// Keyboard look-ahead: a ring of 256 one-byte slots filled by a reader thread and emptied by
// the main thread, under one lock. It holds at most 255 keys; a key that finds it full is
// dropped with a beep. The reader runs only when standard input is a terminal.
class Keyboard {
 public:
  explicit Keyboard(Console& console) : console_(console) {}
  // PEEKSTART: starts the reader thread when standard input is a terminal.
  void PEEKSTART();
  // Whether a key can arrive at all; without a reader every poll is free.
  bool active() const { return active_; }
  void push(unsigned char key);  // the reader's side (tests call it directly)
  bool KBCAVL();
  char USERGETCHAR();
  bool ESCAPE();
  void setActiveForTest(bool a) { active_ = a; }

 private:
  Console& console_;
  std::mutex lock_;
  unsigned char ring_[256] = {};
  unsigned write_ = 0, read_ = 0;
  bool active_ = false;
};

// Restores the terminal's keyboard mode; safe to call from a signal handler.
void restoreTerminalMode() noexcept;
// Installs SIGINT/SIGTERM/SIGHUP handlers that restore the terminal, remove unfinished
// output files and end the process with the usual status of the signal.
void installSignalHandlers();

}  // namespace frame
