#include "grid/bilheader.h"

#include <cmath>
#include <vector>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"

namespace grid {

bool BilHeader::nodataGiven() const {
  return std::fabs(nodata + 798.0f) >= 0.001f;
}
// The mark is a single-precision value: a header that writes it counts as not giving it.
bool BilHeader::positionGiven() const {
  return static_cast<float>(ulxmap) != -1.76758f && static_cast<float>(ulymap) != -1.76758f;
}

void SETSEPARATOR(std::string& line, char separator) {
  int n = frame::CHARL(line);
  frame::SHOVE(line, 1, n, 5);
  line.resize(static_cast<size_t>(n));
  for (;;) {
    size_t p = line.find(' ');
    if (p == std::string::npos) return;
    line[p] = separator;
    while (p + 1 < line.size() && line[p + 1] == ' ') line.erase(p + 1, 1);
  }
}

BilHeader READBILHDR(frame::Frame& fr, const std::string& name, const std::string& label) {
  const std::string hdrName = frame::GUMEXT(name, "HDR");
  frame::UnitLease unit(fr.units);
  BilHeader h;
  std::vector<std::string> records;
  bool openFailed = false;
  const std::string path = fr.files.resolveInputName(hdrName);
  int e = fr.files.isDirectory(path) ? EISDIR : fr.files.readTextRecords(path, records, openFailed);
  if (e != 0) {
    std::vector<std::string> lines = frame::errorHeading();
    lines.push_back(" The BIL header file " + hdrName + " could not be opened.");
    lines.push_back(" Error number=" + frame::fmtI(e, 6, 6));
    frame::stopWithMessage(fr, frame::MessageTo::Listing, lines, 100);
  }
  unit.connect(hdrName);
  for (std::string line : records) {
    if (line.size() > 200) line.resize(200);
    frame::CASEF(line);
    SETSEPARATOR(line, ',');
    std::string key, item;
    frame::PARAM(fr, line, 1, key);
    if (key == "BYTEORDER") {
      frame::PARAM(fr, line, 2, item);
      h.byteOrder = item.substr(0, 1);
    } else if (key == "LAYOUT") {
      frame::PARAM(fr, line, 2, item);
      h.layout = item.substr(0, 3);
    } else if (key == "NROWS") {
      frame::UNFORM(fr, line, 2, "I4", h.nrows);
    } else if (key == "NCOLS") {
      frame::UNFORM(fr, line, 2, "I4", h.ncols);
    } else if (key == "NBANDS") {
      frame::UNFORM(fr, line, 2, "I4", h.nbands);
    } else if (key == "NBLOCKS") {
      frame::UNFORM(fr, line, 2, "I4", h.nblocks);
    } else if (key == "NBITS") {
      frame::UNFORM(fr, line, 2, "I4", h.nbits);
    } else if (key == "BANDROWBYTES") {
      frame::UNFORM(fr, line, 2, "I4", h.bandRowBytes);
    } else if (key == "TOTALROWBYTES") {
      frame::UNFORM(fr, line, 2, "I4", h.totalRowBytes);
    } else if (key == "BANDGAPBYTES") {
      frame::UNFORM(fr, line, 2, "I4", h.bandGapBytes);
    } else if (key == "NODATA") {
      frame::UNFORM(fr, line, 2, "R4", h.nodata);
    } else if (key == "ULXMAP") {
      frame::UNFORM(fr, line, 2, "R8", h.ulxmap);
    } else if (key == "ULYMAP") {
      frame::UNFORM(fr, line, 2, "R8", h.ulymap);
    } else if (key == "XDIM") {
      frame::UNFORM(fr, line, 2, "R8", h.xdim);
    } else if (key == "YDIM") {
      frame::UNFORM(fr, line, 2, "R8", h.ydim);
    }
  }
  unit.release();

  std::vector<std::string> faults;
  if (h.nrows == -1) faults.push_back("   + no line found with the number of rows");
  if (h.ncols == -1) faults.push_back("   + no line found with the number of columns");
  if (!h.positionGiven()) faults.push_back("   + no, complete, positioning found of the grid (ULXmap or ULYmap)");
  if (h.xdim < 0.0 || h.ydim < 0.0) {
    faults.push_back("   + the size of the grid cells is not found (xdim or ydim)");
  } else if (static_cast<float>(h.xdim) != static_cast<float>(h.ydim)) {
    // Equal to single precision: a header written with a digit more in one of them is square.
    faults.push_back("   + the size of the grid cells must be equal in x- and y-direction (xdim=ydim)");
  } else if (h.xdim == 0.0) {
    // A cell size of zero would make every position in the grid the same.
    faults.push_back("   + the size of the grid cells must be greater than 0 (xdim and ydim)");
  }
  if (h.byteOrder != "I") faults.push_back("   + The Byteorder is not I (=little-endian)");
  if (h.layout != "BIL") faults.push_back("   + The file type is not BIL");
  if (h.nbands != 1) faults.push_back("   + The number of bands must be 1");
  if (h.nblocks != 1) faults.push_back("   + The number of blocks must be 1");
  if (h.nbits != 16 && h.nbits != 32) faults.push_back("   + The number of bits must be 16 (Integer) or 32 (Float)");
  // In 32-bit integers with truncating division, as the header's own arithmetic.
  const int32_t rowBytes = static_cast<int32_t>(static_cast<uint32_t>(h.ncols) * static_cast<uint32_t>(h.nbits)) / 8;
  if (h.bandRowBytes != -1 && h.bandRowBytes != rowBytes) {
    faults.push_back("   + BandRowBytes does not give the correct number of bytes in a row");
    faults.push_back("       (BandRowBytes=nCols*nBits/8)");
  }
  if (h.totalRowBytes != -1) {
    if (h.bandRowBytes == -1 && h.totalRowBytes != rowBytes) {
      faults.push_back("   + TotalRowBytes does not give the correct number of bytes in a row");
      faults.push_back("       (TotalRowBytes=nCols*nBits/8)");
    } else if (h.bandRowBytes != -1 && h.totalRowBytes != h.bandRowBytes) {
      faults.push_back("   + TotalRowBytes does not give the correct number of bytes in a row");
      faults.push_back("     it must be equal to BandRowBytes (" + frame::fmtI(h.bandRowBytes, 10, 10) + ")");
    }
  }
  if (h.bandGapBytes != 0) faults.push_back("   + BandgapBytes must be 0");
  if (!h.nodataGiven() && label != "STRUCTURE") faults.push_back("   + the Nodata value not found");
  // Counts that no raster can have are faults too: a grid of negative size cannot be read.
  if ((h.nrows != -1 && h.nrows < 0) || (h.ncols != -1 && h.ncols < 0)) {
    faults.push_back("   + the number of rows and columns must not be negative");
  }
  if (faults.empty()) return h;

  std::vector<std::string> lines = frame::errorHeading();
  lines.push_back(" in BIL header file " + hdrName + ":");
  lines.push_back(" ");
  lines.insert(lines.end(), faults.begin(), faults.end());
  lines.push_back(" ");
  lines.push_back(" The BIL file can not be used by TervalaGridCreate,");
  lines.push_back(" if you want to use this file warn the Administrator");
  frame::stopWithMessage(fr, frame::MessageTo::Listing, lines, 100);
}

}  // namespace grid
