#pragma once
// Item extraction from command lines and the small string helpers.
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace frame {

// CHARL: position of the last character that is neither blank nor NUL (first 1000 looked at).
int CHARL(std::string_view s);
// CASEF: upper-cases a..z in the used part.
void CASEF(std::string& s);
std::string upper(std::string_view s);
std::string trimmed(std::string_view s);
std::string trimRight(std::string_view s);
// SHOVE: edits s(first:last) in place (1-based); mode 1 shift left, 2 squeeze blanks,
// 4 cut after the last non-blank. last is updated.
void SHOVE(std::string& s, int first, int& last, int mode);
// GUMEXT: forces the extension of the file part of name; a blank extension strips it.
std::string GUMEXT(const std::string& name, std::string_view extension);

// PARAM: item n of line, separator "," by default; a second separator character "=" keeps
// the name= part. Returns the item's length: 0 empty, -1 absent.
int PARAM(Frame& fr, std::string_view line, int n, std::string& result, std::string_view separator = ",",
          int resultLength = 200);

// UNFORM: converts item n by type ("I2", "I4", "R4", "R8"); an absent or empty item leaves
// value unchanged; a conversion error stops the run.
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, int16_t& value,
            std::string_view separator = ",");
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, int32_t& value,
            std::string_view separator = ",");
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, float& value,
            std::string_view separator = ",");
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, double& value,
            std::string_view separator = ",");

// NAMEDV / NAMEDS: the item NAME=value of the line; true when found.
bool NAMEDV(Frame& fr, std::string_view line, std::string_view name, std::string_view type, int32_t& value);
bool NAMEDV(Frame& fr, std::string_view line, std::string_view name, std::string_view type, float& value);
bool NAMEDS(Frame& fr, std::string_view line, std::string_view name, std::string& value, int& valueLength);

// Number conversion as a Fortran formatted read of the whole item (blanks ignored).
bool parseFortranInteger(std::string_view text, int64_t& value);
bool parseFortranReal(std::string_view text, double& value);
bool parseFortranReal(std::string_view text, float& value);

}  // namespace frame
