#include "grid/gridsets.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <thread>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "grid/bigblocks.h"
#include "grid/gdalgrids.h"
#include "grid/general.h"
#include "grid/prj.h"
#include "grid/rowreaders.h"
#include "grid/structure.h"

namespace grid {

bool integralValue(float v, float nodata) {
  if (std::fabs(v - nodata) <= 0.000001f) return true;
  if (v < 0.0f) return false;
  const double k = std::trunc(static_cast<double>(v) + 0.000001);
  return std::fabs(k - v) <= 0.000001;
}

bool EQUALSBASICSTRUCTURE(const Structure& s, const GridDescription& d) {
  const GridDescription& g = s.grid;
  return std::fabs(d.yll - g.yll) < 0.001 && std::fabs(d.xll - g.xll) < 0.001 && std::fabs(d.dy - g.dy) < 0.001 &&
         std::fabs(d.dx - g.dx) < 0.001 && d.ncols == g.ncols && d.nrows == g.nrows;
}

int PARWHERE(std::string_view name, std::string_view line) {
  // Items counted as the positional items of the line, so that the answer says whether the
  // named parameter stands where a positional one is looked for.
  const std::string key = frame::upper(name);
  const std::string l = frame::upper(line);
  int item = 1;
  size_t start = 0;
  for (size_t i = 0; i <= l.size(); ++i) {
    if (i == l.size() || l[i] == ',') {
      if (l.substr(start, i - start).find(key) != std::string::npos) return item;
      ++item;
      start = i + 1;
    }
  }
  return 0;
}

bool withinCoordinateLimit(const GridDescription& d) {
  const double x0 = d.xll, y0 = d.yll;
  const double x1 = x0 + static_cast<double>(d.ncols) * d.dx, y1 = y0 + static_cast<double>(d.nrows) * d.dy;
  for (double v : {x0, y0, x1, y1}) {
    if (!(std::fabs(v) <= kCoordinateLimit)) return false;
  }
  return true;
}

namespace {

// Opens the ASC or BIL grid file of a TERVALAGRID line on unit, reads its header into d and
// checks the grid it describes. Returns err.
bool openGridFile(frame::Frame& fr, GridSets& g, GridDescription& d, const std::string& type, const std::string& name,
                  frame::UnitLease& unit, std::unique_ptr<RowReader>& reader) {
  if (type == "ASC") {
    std::unique_ptr<AscRowReader> asc;
    if (openAscRows(fr, name, unit, d, g.sixteenBit, asc)) return true;
    reader = std::move(asc);
    return false;
  }
  std::unique_ptr<BilRowReader> bil;
  if (openBilRows(fr, name, unit, d, g.sixteenBit, bil)) return true;
  reader = std::move(bil);
  return false;
}

// The check of MAJORITY and MINORITY over values; writes the message block. Returns err.
bool classCheckFailed(frame::Frame& fr, const float* values, size_t n, float nodata, const std::string& dataName) {
  for (size_t k = 0; k < n; ++k) {
    if (!integralValue(values[k], nodata)) {
      return frame::endWithListedError(
          fr, {" When Majority or Minority is asked for the", " values in a grid file must be positive integers.", " ",
               " ", "   File: " + dataName});
    }
  }
  return false;
}

// A 32-bit BIL held whole on a little-endian host: the file's floats are the grid's, read
// straight into place on every core; the first value that is not a number, in file order, is
// reported as a row-by-row reading reports it. Returns err.
bool readBilInPlace(frame::Frame& fr, GridDescription& d, BilRowReader& in, bool check,
                    frame::ProgressCounter& progress) {
  const size_t nc = static_cast<size_t>(d.ncols);
  const int threads = fr.cores();
  const bool whole = in.readInPlace(d, threads, progress);
  // Rows are checked as they are read: a row north of the stop that fails the class check
  // is reported first.
  if (check) {
    const int64_t checked = whole ? d.nrows : std::min<int64_t>(in.faultRow(), d.nrows);
    const size_t from = static_cast<size_t>(d.nrows - checked) * nc;
    if (classCheckFailed(fr, d.values.data() + from, d.values.size() - from, d.nodata, in.dataName())) return true;
  }
  if (!whole) return frame::endWithListedError(fr, in.faultMessage());
  return false;
}

// Reads the rows of an opened ASC or BIL file from north to south into the grid (held whole) or
// into scratch (checked only), checking each row. Returns err.
bool readRowsNorthFirst(frame::Frame& fr, GridDescription& d, const GridSource& src, RowReader& in, bool check,
                        std::vector<float>& scratch, frame::ProgressCounter& progress) {
  const size_t nc = static_cast<size_t>(d.ncols);
  for (int32_t r = d.nrows; r >= 1; --r) {
    float* row = src.kept ? d.values.data() + d.index(1, r) : scratch.data();
    if (!in.nextRow(row)) {
      return frame::endWithListedError(fr, in.faultMessage());
    }
    if (check && classCheckFailed(fr, row, nc, d.nodata, in.dataName())) return true;
    progress.turn();
  }
  return false;
}

}  // namespace

bool HANDLETERVALAGRID(frame::Frame& fr, const Structure& s, GridSets& g, const std::string& runMethod,
                       const std::string& line, int lineCount) {
  std::string type, values, name, item;
  // The file type: ASC, BIL, or a raster GDAL reads.
  if (frame::PARAM(fr, line, 2, type) <= 0) {
    return frame::endWithListedError(
        fr, {" No file type for a TERVALA grid file in line:", " ", "   Command line: " + line});
  }
  if (type != "BIL" && type != "ASC" && !gdalRasterType(type)) {
    return frame::endWithListedError(fr, {" File type for a TERVALA grid file must be ASC or BIL:", " ", " ", line,
                                          " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"});
  }
  // What the values stand for: whole cells or the cells' middles.
  frame::PARAM(fr, line, 3, values);
  if (values.empty()) values = "CELL";
  if (values != "CELL" && values != "MIDDLE") {
    return frame::endWithListedError(fr, {" No correct assignment of vaules type in a TERVALA grid file.",
                                          " It must be CELL or MIDDLE.", " ", "   Command line: " + line});
  }
  // The file's name.
  if (frame::PARAM(fr, line, 4, name, ",", 200) <= 0) {
    return frame::endWithListedError(fr,
                                     {" No file descriptor for a TERVALA grid file.", " ", "   Command line: " + line});
  }
  // A unit for the file, and the set's place among the grid sets.
  frame::UnitLease unit(fr.units);  // closed on every way out
  g.descriptions.emplace_back();
  g.sets.push_back(GridSet{"RECTANGULAR", static_cast<int>(g.descriptions.size()) - 1});
  GridDescription& d = g.descriptions.back();
  g.sources.resize(g.descriptions.size());
  // Item 5 is the priority unless it is a named item (#VALUES=, or BAND= of a GDAL raster).
  if (PARWHERE("#VALUES", line) != 5) {
    if (frame::PARAM(fr, line, 5, item, ",=") > 0 && !(gdalRasterType(type) && item.rfind("BAND=", 0) == 0)) {
      frame::UNFORM(fr, line, 5, "I4", d.priority);
    }
  }
  frame::NAMEDV(fr, line, "#VALUES", "I4", d.numberOfValues);
  if (gdalRasterType(type)) {
    return readGdalGridSet(fr, s, g, d, type, values, name, line, runMethod, lineCount);
  }

  std::unique_ptr<RowReader> reader;
  if (openGridFile(fr, g, d, type, name, unit, reader)) return true;
  const std::string dataName = reader->dataName();
  const bool bil16 = g.sixteenBit && type != "ASC";
  warnOnOtherCrs(fr, s, dataName);
  // Whether the set lies on the structure's own grid, and what its values stand for.
  d.sameGeometry = EQUALSBASICSTRUCTURE(s, d);
  d.valuesType = values == "CELL" ? ValuesAt::Cell : ValuesAt::Middle;
  // The values are held whole when the run keeps them; otherwise every row is still read
  // and checked here, and the cell loop reads the rows again band by band.
  const uint64_t cells = static_cast<uint64_t>(d.ncols) * static_cast<uint64_t>(d.nrows);
  GridSource& src = g.sources.back();
  src.asc = type == "ASC";
  src.sixteenBit = bil16;
  if (auto* asc = dynamic_cast<AscRowReader*>(reader.get())) src.nanNodata = asc->nanNodata();
  src.dataName = dataName;
  src.path = frame::resolveInputName(dataName);
  src.kept = g.keptBytes + 4 * cells <= g.keepLimit;
  std::vector<float> scratch;
  try {
    if (src.kept) {
      roomForFill(d.values, cells);
      d.values.resize(cells);
      g.keptBytes += 4 * cells;
    } else {
      scratch.resize(static_cast<size_t>(d.ncols));
    }
  } catch (const std::bad_alloc&) {
    return frame::endWithListedError(fr, {" The Tervala file " + dataName + " of " + std::to_string(d.ncols) +
                                          " columns and " + std::to_string(d.nrows) + " rows does not fit in memory."});
  }
  // The progress display of the reading, a turn a row.
  frame::ProgressCounter progress(fr, "Read grid file " + frame::fmtI(lineCount, 2, 2), d.nrows);
  // The rows from north to south; under MAJORITY (and MINORITY, but for 16-bit BIL, whose
  // values are integers) every value must be a class number.
  const bool check = runMethod == "MAJORITY" || (runMethod == "MINORITY" && !bil16);
  auto* bil = dynamic_cast<BilRowReader*>(reader.get());
  if (bil && bil->canReadInPlace() && src.kept && d.nrows > 0) return readBilInPlace(fr, d, *bil, check, progress);
  // Read and checked, or not: the lease closes the file's unit either way.
  return readRowsNorthFirst(fr, d, src, *reader, check, scratch, progress);
}

bool startRowWindow(frame::Frame& fr, GridDescription& d, CellValues& held, const std::string& dataName, int32_t lo,
                    int32_t hi, int32_t& heldLo, int32_t& heldHi) {
  const size_t nc = static_cast<size_t>(d.ncols);
  // The rows held before that the new window holds too are kept.
  held.swap(d.values);
  heldLo = d.rowLow;
  heldHi = nc == 0 ? heldLo - 1 : heldLo + static_cast<int32_t>(held.size() / nc) - 1;
  try {
    d.values.assign(static_cast<size_t>(hi - lo + 1) * nc, 0.0f);
  } catch (const std::bad_alloc&) {
    return frame::endWithListedError(fr, {" The rows " + std::to_string(lo) + " to " + std::to_string(hi) +
                                          " of the Tervala file " + dataName + " do not fit in memory."});
  }
  d.rowLow = lo;
  return false;
}

// The reader of a grid that is read again band by band: an ASC file goes on from the row where
// the last band ended (it is stored north first), a BIL file seeks to each row.
struct RowStream {
  std::unique_ptr<RowReader> reader;
  CellValues held;
};

namespace {

// Opens the file of src again for its rows; null when it cannot be.
std::unique_ptr<RowReader> reopenRows(const GridSource& src, const GridDescription& d) {
  if (src.asc) {
    auto in = std::make_unique<AscRowReader>();
    if (in->open(src.path, src.dataName, d, src.nanNodata) != 0) return nullptr;
    return in;
  }
  auto in = std::make_unique<BilRowReader>();
  if (in->open(src.path, src.dataName, d, src.sixteenBit) != 0) return nullptr;
  return in;
}

}  // namespace

bool loadGridRows(frame::Frame& fr, GridSets& g, int description, int32_t lo, int32_t hi) {
  GridDescription& d = g.descriptions[static_cast<size_t>(description)];
  GridSource& src = g.sources[static_cast<size_t>(description)];
  if (src.kept || lo > hi) return false;
  if (src.gdalStream) return loadGdalGridRows(fr, g, description, lo, hi);
  const size_t nc = static_cast<size_t>(d.ncols);
  // north: the row counted from the north, 0 first.
  auto failed = [&](int64_t north) {
    return frame::endWithListedError(
        fr, {" The Tervala file " + src.dataName + " could not be read again at row " + std::to_string(north + 1) + ":",
             " it was changed or removed during the run."});
  };
  if (!src.stream) {
    auto st = std::make_shared<RowStream>();
    st->reader = reopenRows(src, d);
    if (!st->reader) return failed(d.nrows - hi);
    src.stream = st;
  }
  RowStream& st = *src.stream;
  int32_t heldLo = 0, heldHi = 0;
  if (startRowWindow(fr, d, st.held, src.dataName, lo, hi, heldLo, heldHi)) return true;
  for (int32_t r = hi; r >= lo; --r) {
    float* row = d.values.data() + d.index(1, r);
    if (r >= heldLo && r <= heldHi) {
      std::copy_n(st.held.data() + static_cast<size_t>(r - heldLo) * nc, nc, row);
      continue;
    }
    if (!st.reader->seekRow(d.nrows - r) || !st.reader->nextRow(row)) return failed(st.reader->faultRow());
  }
  CellValues().swap(st.held);
  return false;
}

}  // namespace grid
