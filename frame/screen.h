#pragma once
// Screen settings read from DEVICE.CNF and the thin drawing layer over the console.
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace frame {

// Colour code of a name (BLACK 0 .. WHITEHIGH 15) among the first `among` names, or -1.
int colourCode(std::string_view name, int among);
// ATTRIB: attribute words of a monochrome PRINT-LINE / PRINT-HEAD line.
void ATTRIB(Frame& fr, std::string_view line, int& attribute);
// INITCL: the COLOURTABLE block of DEVICE.CNF.
void INITCL(Frame& fr, int unit);
// DIRPR: the directory from which the program was started, with its separator.
std::string DIRPR(Frame& fr);

// Returns the current background colour and clears the window.
int CLS(Frame& fr);
void CLRPAG(Frame& fr, int colour);
void PUTCSR(Frame& fr, int row, int column);
void PUTST2(Frame& fr, int row, int column, int fg, int bg, std::string_view text);

}  // namespace frame
