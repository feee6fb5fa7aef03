#pragma once
// Start-up and shutdown of a run and the run string.
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"
#include "frame/messages.h"

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

}  // namespace frame
