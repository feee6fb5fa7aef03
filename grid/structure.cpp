#include "grid/structure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <new>

#include "frame/cmdfile.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "grid/bigblocks.h"
#include "grid/bilheader.h"
#include "grid/gdalgrids.h"
#include "grid/general.h"
#include "grid/prj.h"

namespace grid {

namespace {

// Fills n elements from p with v, now or beside the main thread.
template <class T>
void fillBlock(Structure& s, Fill fill, T* p, size_t n, T v) {
  if (fill == Fill::Now) {
    std::fill_n(p, n, v);
  } else {
    s.work.then([p, n, v] { std::fill_n(p, n, v); });
  }
}

}  // namespace

bool holdStructureRows(Structure& s, int32_t lo, int32_t hi, Fill fill) {
  GridDescription& g = s.grid;
  s.work.settle();
  const uint64_t cells = hi >= lo ? static_cast<uint64_t>(hi - lo + 1) * static_cast<uint64_t>(g.ncols) : 0;
  try {
    // Room and size here, on the thread that may report the memory missing; the first writes,
    // which fault the pages in, where the fill says.
    roomForFill(g.values, cells);
    g.values.resize(cells);
    s.assignMask.clear();  // every cell to compute until a polygon takes one
  } catch (const std::bad_alloc&) {
    g.values = grid::CellValues();
    s.assignMask = grid::CellMask();
    return false;
  }
  fillBlock(s, fill, g.values.data(), cells, g.nodata);
  g.rowLow = lo;
  return true;
}

void holdMask(Structure& s, Fill fill) {
  if (fill == Fill::Now) s.work.settle();
  if (!s.assignMask.empty()) return;
  roomForFill(s.assignMask, s.grid.values.size());
  s.assignMask.resize(s.grid.values.size());
  fillBlock(s, fill, s.assignMask.data(), s.assignMask.size(), uint8_t{1});
}

void tileRows(int32_t nrows, int32_t k, int32_t n, int32_t& top, int32_t& bottom) {
  // Counted from the north: tile k holds the rows a+1..b.
  const int64_t a = static_cast<int64_t>(k - 1) * nrows / n, b = static_cast<int64_t>(k) * nrows / n;
  top = nrows - static_cast<int32_t>(a);
  bottom = nrows - static_cast<int32_t>(b) + 1;
}

std::vector<std::string> memoryAdvice(const frame::Frame& fr, const Structure& s) {
  const std::string mib = std::to_string(s.memoryBound / 1048576u);
  if (!fr.memoryText.empty()) {
    return {" The memory bound is MEMORY=" + fr.memoryText + " MiB (DEVICE.CNF or the run string).",
            " With a bound below what the run needs it is computed in bands of rows; the bound itself",
            " must fit in the memory this machine can give."};
  }
  return {" No MEMORY bound was given; this machine had " + mib + " MiB available.",
          " Give MEMORY=n (MiB) in the run string or a MEMORY,n line in DEVICE.CNF to compute",
          " the run in bands of rows within n MiB."};
}

AscHeaderResult readAscHeader(frame::Frame& fr, const std::vector<std::string>& records, AscHeader& h) {
  if (records.size() < 6) return AscHeaderResult::TooShort;
  std::string line[6];
  for (int i = 0; i < 6; ++i) {
    line[i] = records[static_cast<size_t>(i)].substr(0, 200);
    SETSEPARATOR(line[i], ',');
    char c = line[i].empty() ? ' ' : line[i][0];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return AscHeaderResult::NotSixLines;
  }
  // Each number is checked first, so that a damaged header names its file instead of
  // stopping in the conversion.
  std::string item;
  for (int i = 0; i < 6; ++i) {
    frame::PARAM(fr, line[i], 2, item);
    if (i == 5 && frame::upper(item) == "NAN") continue;
    int64_t n = 0;
    double d = 0;  // the corner and the cell size are read in double precision
    float v = 0;
    const bool ok = i < 2   ? frame::parseFortranInteger(item, n)
                    : i < 5 ? frame::parseFortranReal(item, d)
                            : frame::parseFortranReal(item, v);
    if (!ok) {
      h.badLine = frame::trimRight(records[static_cast<size_t>(i)]);
      return AscHeaderResult::NotANumber;
    }
  }
  frame::UNFORM(fr, line[0], 2, "I4", h.ncols);
  frame::UNFORM(fr, line[1], 2, "I4", h.nrows);
  std::string key;
  frame::UNFORM(fr, line[2], 2, "R8", h.xll);
  frame::PARAM(fr, line[2], 1, key);
  h.xCentre = frame::upper(key) == "XLLCENTER";
  frame::UNFORM(fr, line[3], 2, "R8", h.yll);
  frame::PARAM(fr, line[3], 1, key);
  h.yCentre = frame::upper(key) == "YLLCENTER";
  frame::UNFORM(fr, line[4], 2, "R8", h.cellsize);
  if (h.xCentre) h.xll = h.xll - 0.5 * h.cellsize;
  if (h.yCentre) h.yll = h.yll - 0.5 * h.cellsize;
  frame::PARAM(fr, line[5], 2, item);
  if (frame::upper(item) == "NAN") {
    h.nodata = std::numeric_limits<float>::quiet_NaN();
  } else {
    frame::UNFORM(fr, line[5], 2, "R4", h.nodata);
  }
  return AscHeaderResult::Ok;
}

std::vector<std::string> ascHeaderMessage(AscHeaderResult r, const std::string& what, const AscHeader& h) {
  if (r == AscHeaderResult::TooShort) return {" The " + what + " ends before its six header lines."};
  if (r == AscHeaderResult::NotANumber)
    return {" The header of the " + what + " holds a line whose value is not a number:", " " + h.badLine};
  return {" The header of the " + what + " must have six lines:",
          " ncols, nrows, xllcorner, yllcorner, cellsize and nodata_value."};
}

namespace {

// The FILE line of the STRUCTURE block: the geometry and NODATA of a BIL, ASC or GDAL raster,
// and the name of the file they came from (for its .prj). Returns err.
bool readStructureFile(frame::Frame& fr, Structure& s, double& cellsize, std::string& structureFile) {
  GridDescription& g = s.grid;
  const std::string fileLine = fr.block.currentLine();
  std::string type;
  frame::PARAM(fr, fileLine, 2, type);
  const std::string given = type;
  type = frame::upper(type);
  if (type.empty()) type = "BIL";
  if (type != "BIL" && type != "ASC" && !gdalRasterType(type)) {
    return frame::endWithListedError(fr,
                                     {" The structure file must be of type BIL or ASC.", " Structure given: " + given,
                                      " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"});
  }
  s.fileType = type;
  frame::UnitLease unit(fr.units);
  std::string name;
  if (frame::PARAM(fr, fileLine, 3, name) <= 0) {
    return frame::endWithListedError(fr, {" No name found for the structure file in the FILE command"});
  }
  if (gdalRasterType(type)) {
    double size = cellsize;
    if (readGdalStructureFile(fr, s, type, name, fileLine, size)) return true;
    cellsize = static_cast<decltype(cellsize)>(size);
  } else if (type == "BIL") {
    // The geometry from the BIL header: its upper-left cell middle and cell sizes.
    BilHeader h = READBILHDR(fr, name, "STRUCTURE");
    structureFile = frame::GUMEXT(name, "BIL");
    g.ncols = h.ncols;
    g.nrows = h.nrows;
    cellsize = h.xdim;
    g.xll = h.ulxmap - 0.5 * h.xdim;
    g.yll = h.ulymap + 0.5 * h.ydim - static_cast<double>(h.nrows) * h.ydim;
    if (std::fabs(h.nodata + 798.0f) > 0.001f) g.nodata = h.nodata;
  } else {
    // The geometry from the six lines of the ASC header.
    const std::string ascName = frame::GUMEXT(name, "ASC");
    const std::string path = fr.files.resolveInputName(ascName);
    std::vector<std::string> records;
    bool openFailed = false;
    int e = fr.files.isDirectory(path) ? EISDIR : fr.files.readTextRecords(path, records, openFailed, 6);
    if (e != 0) {
      return frame::endWithListedError(
          fr, {" The structure file " + ascName + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
    }
    unit.connect(ascName);
    if (records.size() > 6) records.resize(6);
    AscHeader h;
    AscHeaderResult r = readAscHeader(fr, records, h);
    if (r != AscHeaderResult::Ok) {
      unit.release();
      return frame::endWithListedError(fr, ascHeaderMessage(r, "structure file " + ascName, h));
    }
    unit.release();
    structureFile = ascName;
    g.ncols = h.ncols;
    g.nrows = h.nrows;
    g.xll = h.xll;
    g.yll = h.yll;
    cellsize = h.cellsize;
    g.nodata = h.nodata;
  }
  return false;
}

// The BASIC keywords of the STRUCTURE block, which override what the file gave; without a FILE
// line the numbers of columns and rows are required. Returns err.
bool readBasicKeywords(frame::Frame& fr, GridDescription& g, double& cellsize, bool fileGiven) {
  static const char* const kKeywords[6] = {"#COLUMNS", "#ROWS", "XLL", "YLL", "CELLSIZE", "NODATA"};
  const bool required[6] = {!fileGiven, !fileGiven, false, false, false, false};
  for (int k = 0; k < 6; ++k) {
    fr.block.restart = true;
    if (!frame::ZOEK(fr, kKeywords[k])) {
      if (required[k]) {
        return frame::endWithListedError(
            fr, {" In the structure " + std::string(kKeywords[k]) + " is not found.", " Please correct."});
      }
      continue;
    }
    const std::string line = fr.block.currentLine();
    switch (k) {
      case 0:
        frame::UNFORM(fr, line, 2, "I4", g.ncols);
        break;
      case 1:
        frame::UNFORM(fr, line, 2, "I4", g.nrows);
        break;
      case 2:
        frame::UNFORM(fr, line, 2, "R8", g.xll);
        break;
      case 3:
        frame::UNFORM(fr, line, 2, "R8", g.yll);
        break;
      case 4:
        frame::UNFORM(fr, line, 2, "R8", cellsize);
        break;
      case 5:
        frame::UNFORM(fr, line, 2, "R4", g.nodata);
        break;
    }
  }
  return false;
}

// The memory bound, the band height and the tile of the run string, and whether the structure
// is held whole (then it is allocated here). Returns err.
bool planStructureMemory(frame::Frame& fr, Structure& s, Fill fill) {
  GridDescription& g = s.grid;
  const uint64_t cells = static_cast<uint64_t>(g.ncols) * static_cast<uint64_t>(g.nrows);
  if (!fr.memoryText.empty() && !(fr.memoryMiB > 0.0)) {
    return frame::endWithListedError(
        fr, {" The memory bound MEMORY=" + fr.memoryText + " is not a positive number of MiB.",
             " Give MEMORY in DEVICE.CNF or the run string as a number of MiB, for example MEMORY=4096."});
  }
  if (fr.bandRows < 0) {
    return frame::endWithListedError(fr, {" The run-string parameter BAND= must be a positive number of rows."});
  }
  s.memoryBound = fr.memoryMiB > 0.0 ? static_cast<uint64_t>(fr.memoryMiB * 1048576.0) : frame::availableMemory();
  s.tileNumber = s.tileCount = 0;
  if (!fr.tileText.empty()) {
    const size_t slash = fr.tileText.find('/');
    int64_t k = 0, n = 0;
    if (slash == std::string::npos || !frame::parseFortranInteger(fr.tileText.substr(0, slash), k) ||
        !frame::parseFortranInteger(fr.tileText.substr(slash + 1), n) || k < 1 || n < 1 || k > n || n > g.nrows) {
      return frame::endWithListedError(
          fr,
          {" The run-string parameter TILE=" + fr.tileText + " must be k/n, tile k of n tiles,",
           " with 1 <= k <= n and n at most the number of rows of the structure (" + std::to_string(g.nrows) + ")."});
    }
    s.tileNumber = static_cast<int32_t>(k);
    s.tileCount = static_cast<int32_t>(n);
  }
  // A tile, a band height, or a structure beyond the bound: the cell loop holds bands of rows.
  s.whole = s.tileCount == 0 && fr.bandRows == 0 && (s.memoryBound == 0 || cells * 5 <= s.memoryBound);
  s.work.settle();
  g.values = grid::CellValues();
  s.assignMask = grid::CellMask();
  g.rowLow = 1;
  if (s.whole && !holdStructureRows(s, 1, g.nrows, fill)) {
    std::vector<std::string> lines = {" The structure of " + std::to_string(g.ncols) + " columns and " +
                                          std::to_string(g.nrows) + " rows does not fit in memory.",
                                      " It needs " + std::to_string(cells * 5 / (1024 * 1024)) + " MiB."};
    for (const auto& l : memoryAdvice(fr, s)) lines.push_back(l);
    return frame::endWithListedError(fr, lines);
  }
  return false;
}

}  // namespace

bool GETTERVALAGRIDSTRUCTURE(frame::Frame& fr, Structure& s, Fill fill) {
  // The STRUCTURE block of the command file.
  frame::TextInputUnit* cmd = fr.units.input(fr.commandUnit);
  if (cmd) cmd->rewind();
  frame::VULREG(fr, "STRUCTURE", "END:STRUCTURE", fr.commandUnit, true, frame::LineMode::CHANGE);
  // Defaults: no value is -999.999, cells of 1.
  GridDescription& g = s.grid;
  g = GridDescription();
  g.nodata = -999.999f;
  double cellsize = 1.0;
  std::string item;
  std::string structureFile;  // the grid file the geometry came from
  // The geometry from a grid file, when a FILE line names one; else the grid starts at the
  // origin with cells of 1.
  fr.block.restart = true;
  const bool fileGiven = frame::ZOEK(fr, "FILE");
  if (fileGiven) {
    if (readStructureFile(fr, s, cellsize, structureFile)) return true;
  } else {
    g.xll = 0.0;
    g.yll = 0.0;
    cellsize = 1.0;
  }
  if (readBasicKeywords(fr, g, cellsize, fileGiven)) return true;
  // A NaN NODATA (from an ASC header) equals no value, not even itself: the output needs a number.
  if (std::isnan(g.nodata)) {
    return frame::endWithListedError(fr, {" The NODATA value of the structure is not a number (NaN).",
                                          " Give a NODATA line in the STRUCTURE block."});
  }
  // Cells without a value are written with the structure's NODATA.
  s.nodataOut = g.nodata;
  // DATARELATEDTO: values stand for the cell middles (MIDDLE, the default) or whole cells.
  g.valuesType = ValuesAt::Middle;
  fr.block.restart = true;
  if (frame::ZOEK(fr, "DATARELATEDTO")) {
    const std::string line = fr.block.currentLine();
    frame::PARAM(fr, line, 2, item);
    if (item == "MIDDLE") {
      g.valuesType = ValuesAt::Middle;
    } else if (item == "CELL") {
      g.valuesType = ValuesAt::Cell;
    } else {
      return frame::endWithListedError(fr, {" No correct assignement of values type in the structure.",
                                            " It must be CELL or MIDDLE.", " ", "   Command line: " + line});
    }
  }
  // A cell size that is not positive gives no grid at all.
  if (!(cellsize > 0.0)) {
    return frame::endWithListedError(fr, {" The cell size of the structure must be greater than 0.",
                                          " Cell size given: " + frame::trimmed(frame::fmtG(cellsize, 12, 6))});
  }
  // Corners beyond the coordinate limit would overflow the plane geometry.
  {
    const double x1 = g.xll + static_cast<double>(std::max(g.ncols, 0)) * cellsize;
    const double y1 = g.yll + static_cast<double>(std::max(g.nrows, 0)) * cellsize;
    for (double v : {g.xll, g.yll, x1, y1}) {
      if (!(std::fabs(v) <= kCoordinateLimit)) {
        return frame::endWithListedError(fr, {" The structure reaches beyond 1.0E+15, farther than any map reaches.",
                                              " Check XLL, YLL, CELLSIZE and the numbers of columns and rows."});
      }
    }
  }
  // The coordinate reference system, carried to the outputs.
  fr.block.restart = true;
  const bool crsGiven = frame::ZOEK(fr, "CRS");
  std::string crsItem;
  if (crsGiven) frame::PARAM(fr, fr.block.currentLine(), 2, crsItem);
  if (readStructureCrs(fr, s, crsGiven, crsItem, structureFile)) return true;
  // A BASIC grid with square cells.
  g.gridKind = "BASIC";
  g.dx = g.dy = cellsize;
  s.cellsize = cellsize;
  // Negative numbers of columns or rows give an empty structure.
  if (g.ncols < 0) g.ncols = 0;
  if (g.nrows < 0) g.nrows = 0;
  if (planStructureMemory(fr, s, fill)) return true;
  frame::PAGN2(fr, "PROGRESS", "Prepare computation");
  return false;
}

}  // namespace grid
