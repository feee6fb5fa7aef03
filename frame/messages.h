#pragma once
// Message blocks: the helpers every step writes its ERROR and WARNING blocks with, and their
// copy on standard error for batch logs.
#include <string>
#include <vector>

#include "frame/frame.h"

namespace frame {

// Lines through the pager to the error unit: SETLU SET, the lines, SETLU RESET.
void writeErrorUnit(Frame& fr, const std::vector<std::string>& lines);
// Lines through the pager to the listing as it stands.
void writeListing(Frame& fr, const std::vector<std::string>& lines);
// List-directed lines written straight to the error unit, outside the page count.
void writeErrorDirect(Frame& fr, const std::vector<std::string>& lines);
// Where the lines of a message that stops the run go: through the pager to the error unit or to
// the listing as it stands, or straight to the error unit's file outside the page count.
enum class MessageTo { ErrorUnit, Listing, ErrorFileDirect };
// The end of a run that cannot go on: ENDPR completes the listing and restores the screen,
// then the stop with its exit status.
[[noreturn]] void stopRun(Frame& fr, int code);
// The lines where `to` says, then stopRun.
[[noreturn]] void stopWithMessage(Frame& fr, MessageTo to, const std::vector<std::string>& lines, int code);
// The fatal path: the lines to the error unit, WAIT, ENDPR, and the stop.
[[noreturn]] void fatalErrorBlock(Frame& fr, const std::vector<std::string>& lines, int code);
// Reports a Failure caught from the cell loop: its lines, ENDPR, then the stop (or true
// for the error flag, which the caller returns).
[[nodiscard]] bool reportFailure(Frame& fr, const Failure& f);
// The standard error block heading: " ", " ERROR", " *****", " ".
std::vector<std::string> errorHeading();
// A run that cannot go on: the error heading and the message to the error unit, then ENDPR.
// Returns true, the error flag the caller hands back.
bool endWithError(Frame& fr, const std::vector<std::string>& message);
// The same, written to the listing as it stands.
bool endWithListedError(Frame& fr, const std::vector<std::string>& message);
// An ERROR block after which the run goes on without the input it names: the run ends with
// status 3 ("completed, but an input was left out").
void inputLeftOut(Frame& fr, const std::vector<std::string>& message);
// A WARNING block in the listing; location (a file and line, "job.pcf:12") leads its copy on
// standard error when given.
void warningBlock(Frame& fr, const std::vector<std::string>& message, const std::string& location = {});

// Copies the message blocks among lines to standard error, one block per message: the block's
// kind (ERROR, WARNING) and its text without the heading, underlines and blank lines. Lines
// without any heading are copied as one block when always is set (everything written to the
// error unit is a message), and ignored otherwise (plain listing text); defaultKind names
// such a block (a block that stops the run is an ERROR).
void echoMessages(Frame& fr, const std::vector<std::string>& lines, bool always, const std::string& location = {},
                  const std::string& defaultKind = {});

// A line of the batch log on standard error (steps and results), written only without a
// terminal: a terminal shows the run's own screen instead.
void logLine(Frame& fr, const std::string& text);
// A step of the run for the batch log: its text and the seconds since start ("(0.12 s)").
void logStep(Frame& fr, const std::string& text, double start);

}  // namespace frame
