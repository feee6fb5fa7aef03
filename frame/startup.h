#pragma once
// Start-up and shutdown of a run, the run string, and the message helpers every Part uses.
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"

namespace frame {

// INITPR: run string, DEVICE.CNF, listing, error file, command file, overview of files.
void INITPR(Frame& fr, std::string_view family, std::string_view program, float version, float bannerTime);
// ENDPR: completes the listing's last page and restores the screen. Does not stop.
void ENDPR(Frame& fr);

void RUNSTR(Frame& fr);
// RUNPRM: a run-string parameter by keyword (or by position with a blank keyword).
bool RUNPRM(Frame& fr, std::string_view keyword, int n, std::string& value);
bool PARCHR(Frame& fr, std::string_view keyword, int n, std::string& value, size_t maxLength);
void VERSION(Frame& fr, std::string_view family, std::string_view program, float bannerTime);

// Lines through the pager to the error unit: SETLU SET, the lines, SETLU RESET.
void writeErrorUnit(Frame& fr, const std::vector<std::string>& lines);
// Lines through the pager to the listing as it stands.
void writeListing(Frame& fr, const std::vector<std::string>& lines);
// List-directed lines written straight to the error unit.
void writeErrorDirect(Frame& fr, const std::vector<std::string>& lines);
// The fatal path: the lines to the error unit, WAIT, ENDPR, and the stop.
[[noreturn]] void fatalErrorBlock(Frame& fr, const std::vector<std::string>& lines, int code);
// Reports a Failure caught from the cell loop: its lines, ENDPR, then the stop (or false
// for the error flag, which the caller returns).
bool reportFailure(Frame& fr, const Failure& f);
// The standard error block heading: " ", " ERROR", " *****", " ".
std::vector<std::string> errorHeading();
// A run that cannot go on: the error heading and the message to the error unit, then ENDPR.
// Returns true, the error flag the caller hands back.
bool endWithError(Frame& fr, const std::vector<std::string>& message);
// The same, written to the listing as it stands.
bool endWithListedError(Frame& fr, const std::vector<std::string>& message);

}  // namespace frame
