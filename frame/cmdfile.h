#pragma once
// Reading keyword files (the command file, DEVICE.CNF): significant lines, keyword lines
// and blocks.
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace frame {

enum class LineMode { CHANGE, NOCHNG };

// The line-level rules of the command language, applied to one record.
// Returns false for a line that is not significant (blank or a comment).
bool significantLine(std::string_view record, std::string& line, LineMode mode, bool blankForControl);

// SLEZEN: the next significant line of unit; false at the end of the file.
bool SLEZEN(Frame& fr, int unit, std::string& line, LineMode mode);
// PLEZEN: as SLEZEN without changes, control characters becoming blanks.
bool PLEZEN(Frame& fr, int unit, std::string& line);
// OPDR: searches forward for a line whose first item is key.
bool OPDR(Frame& fr, std::string_view key, int unit, std::string& line, LineMode mode);
// PRESNT: as OPDR, true only when the first matching line has a non-empty second item.
bool PRESNT(Frame& fr, std::string_view key, int unit, std::string& line, LineMode mode);
// VULREG: loads the block from the start keyword to the end keyword into the block table.
void VULREG(Frame& fr, std::string_view start, std::string_view end, int unit, bool needed, LineMode mode);
// ZOEK: the next block line whose first item is key.
bool ZOEK(Frame& fr, std::string_view key);
// The first item of a line, upper-cased, as PARAM gives it.
std::string firstItemUpper(Frame& fr, std::string_view line);

}  // namespace frame
