#include "grid/gdalgrids.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "gdal/crs.h"
#include "gdal/gdalroom.h"
#include "gdal/raster.h"
#include "gdal/tiffwriter.h"
#include "grid/general.h"

namespace grid {
namespace {

// The design's NODATA when a raster names none, and the stand-in for a NODATA that is not a
// number (NaN): such cells must compare equal to the set's NODATA.
constexpr float kDefaultNodata = -999.999f;

bool hasExtension(const std::string& name) {
  const size_t slash = name.find_last_of("\\/");
  const size_t dot = name.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// The band's NODATA as a single-precision value: from the band, the design's default when it
// has none; notANumber tells that the band's NODATA is not a finite number, so that the
// cells holding it are recognised before they become the stand-in.
float bandNodata(const gdalroom::RasterInfo& in, bool& notFinite) {
  notFinite = false;
  if (!in.hasNodata) return kDefaultNodata;
  if (!std::isfinite(in.nodata)) {
    notFinite = true;
    return kDefaultNodata;
  }
  // A NODATA beyond single precision is met by the cells in the same place once they are
  // converted: GDAL clamps them to the largest single value.
  if (in.nodata > FLT_MAX) return FLT_MAX;
  if (in.nodata < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(in.nodata);
}

// The same non-finite value: NaN for NaN, or the same infinity.
bool sameNonFinite(float v, double nodata) {
  if (std::isnan(nodata)) return std::isnan(v);
  return std::isinf(v) && (v > 0) == (nodata > 0);
}

}  // namespace

// A TIF or GDAL grid set read again band by band: its reader, open since the set was read.
struct GdalRowStream {
  std::unique_ptr<gdalroom::RasterReader> reader;
  bool nodataNotFinite = false;  // the band's NODATA is NaN or infinite: such cells become d.nodata
  double bandNodata = 0.0;
  CellValues held;
};

std::string sentence(const std::string& text) {
  return !text.empty() && text.back() == '.' ? text : text + ".";
}

namespace {

std::string openMessage(const std::string& what, const std::string& reason) {
  return " The " + what + " could not be read: " + sentence(reason);
}

}  // namespace

bool gdalRasterType(const std::string& type) {
  return type == "TIF" || type == "GDAL";
}

std::string gdalRasterName(const std::string& name, const std::string& type) {
  if (type == "TIF" && !hasExtension(frame::trimRight(name))) return frame::GUMEXT(name, "TIF");
  return frame::trimRight(name);
}

bool bandOfLine(frame::Frame& fr, const std::string& line, int& band) {
  band = 1;
  std::string item;
  int length = 0;
  if (!frame::NAMEDS(fr, line, "BAND", item, length)) return true;
  int64_t v = 0;
  if (!frame::parseFortranInteger(item, v) || v < 1 || v > 65535) return false;
  band = static_cast<int>(v);
  return true;
}

void listGdalMessages(frame::Frame& fr) {
  // A damaged file can give a message per block: the first ones tell what is wrong.
  constexpr size_t kShown = 20;
  const std::vector<std::string> messages = gdalroom::takeMessages();
  std::vector<std::string> lines;
  for (size_t k = 0; k < messages.size() && k < kShown; ++k) lines.push_back(" " + messages[k].substr(0, 190));
  if (messages.size() > kShown)
    lines.push_back(" ... and " + std::to_string(messages.size() - kShown) + " more GDAL messages.");
  if (!lines.empty()) frame::writeListing(fr, lines);
}

void warnOtherCrs(frame::Frame& fr, const Structure& s, const std::string& what, const std::string& wkt) {
  // No system on either side, or the same one: nothing to say.
  if (s.crsWkt.empty() || wkt.empty() || gdalroom::sameCrs(s.crsWkt, wkt) != gdalroom::Sameness::Different) return;
  frame::writeListing(fr, {" ", " WARNING", " *******", " ",
                           " The coordinate reference system of " + what + " differs from the structure's:",
                           "   " + what + ": " + gdalroom::crsName(wkt), "   structure: " + gdalroom::crsName(s.crsWkt),
                           " Its coordinates are taken as they stand; nothing is reprojected."});
}

bool readGdalGridSet(frame::Frame& fr, const Structure& s, GridSets& g, GridDescription& d, const std::string& type,
                     const std::string& values, const std::string& name, const std::string& line,
                     const std::string& runMethod, int lineCount) {
  const std::string dataName = gdalRasterName(name, type);
  const std::string what = "Tervala file " + dataName;
  int band = 1;
  if (!bandOfLine(fr, line, band)) {
    return frame::endWithListedError(
        fr, {" The item BAND= of a TERVALA grid file must be a band number from 1.", "   Command line: " + line});
  }
  auto readerOwned = std::make_unique<gdalroom::RasterReader>();
  gdalroom::RasterReader& reader = *readerOwned;
  std::string message;
  const bool opened = reader.open(frame::resolveInputName(dataName), band, type == "TIF", message, fr.threads);
  listGdalMessages(fr);
  if (!opened) return frame::endWithListedError(fr, {openMessage(what, message)});
  const gdalroom::RasterInfo& in = reader.info();
  if (in.ncols > INT32_MAX || in.nrows > INT32_MAX) {
    return frame::endWithListedError(fr, {openMessage(what, "it has more than 2147483647 columns or rows")});
  }
  d.ncols = static_cast<int32_t>(in.ncols);
  d.nrows = static_cast<int32_t>(in.nrows);
  d.xll = static_cast<decltype(d.xll)>(in.xll);
  d.yll = static_cast<decltype(d.yll)>(in.yll);
  d.dx = static_cast<decltype(d.dx)>(in.dx);
  d.dy = static_cast<decltype(d.dy)>(in.dy);
  bool nodataNotFinite = false;
  d.nodata = bandNodata(in, nodataNotFinite);
  d.gridKind = "BASIC";
  // A 16-bit integer band stands where a 16-bit BIL raster would.
  g.sixteenBit = in.int16;
  if (!withinCoordinateLimit(d)) {
    return frame::endWithListedError(
        fr, {" The " + what + " has no valid grid:", " its corners lie beyond 1.0E+15, farther than any map reaches."});
  }
  warnOtherCrs(fr, s, dataName, in.crsWkt);
  d.sameGeometry = EQUALSBASICSTRUCTURE(s, d);
  d.valuesType = values == "CELL" ? ValuesAt::Cell : ValuesAt::Middle;
  // Held whole when the run keeps its grids; in a run in bands beyond what it keeps, every row
  // is still read and checked here, and the cell loop reads the rows again band by band.
  const uint64_t cells = static_cast<uint64_t>(d.ncols) * static_cast<uint64_t>(d.nrows);
  GridSource& src = g.sources.back();
  src.dataName = dataName;
  src.path = frame::resolveInputName(dataName);
  src.kept = g.keptBytes + 4 * cells <= g.keepLimit;
  const size_t nc = static_cast<size_t>(d.ncols);
  const int64_t step = reader.rowsPerRead();
  std::vector<float> scratch;
  try {
    if (src.kept) {
      d.values.resize(cells);
      g.keptBytes += 4 * cells;
    } else {
      scratch.resize(static_cast<size_t>(step) * nc);
    }
  } catch (const std::bad_alloc&) {
    return frame::endWithListedError(fr, {" The " + what + " of " + std::to_string(d.ncols) + " columns and " +
                                          std::to_string(d.nrows) + " rows does not fit in memory."});
  }
  frame::ProgressCounter progress(fr, "Read grid file " + frame::fmtI(lineCount, 2, 2), d.nrows);
  const bool check = runMethod == "MAJORITY" || (runMethod == "MINORITY" && !in.int16);
  // Rows come north first, a few blocks of rows at a time, straight into their place: the
  // grid's rows run south to north, so each next row lies one row lower in memory.
  for (int64_t first = 0; first < in.nrows; first += step) {
    const int64_t count = std::min(step, in.nrows - first);
    float* north = src.kept ? d.values.data() + d.index(1, d.nrows - static_cast<int32_t>(first))
                            : scratch.data() + static_cast<size_t>(count - 1) * nc;
    const bool ok = reader.readRows(first, count, north, message, -static_cast<int64_t>(nc));
    listGdalMessages(fr);
    if (!ok) return frame::endWithListedError(fr, {openMessage(what, message)});
    for (int64_t k = 0; k < count; ++k) {
      float* row = north - static_cast<std::ptrdiff_t>(static_cast<size_t>(k) * nc);
      for (size_t c = 0; c < nc; ++c) {
        if (std::isfinite(row[c])) continue;
        if (!nodataNotFinite || !sameNonFinite(row[c], in.nodata)) {
          return frame::endWithListedError(
              fr, {" The " + what + " holds a value that is not a number at row " + std::to_string(first + k + 1) +
                   ", column " + std::to_string(c + 1) + "."});
        }
        row[c] = d.nodata;
      }
      if (check) {
        for (size_t c = 0; c < nc; ++c) {
          if (!integralValue(row[c], d.nodata)) {
            return frame::endWithListedError(
                fr, {" When Majority or Minority is asked for the", " values in a grid file must be positive integers.",
                     " ", " ", "   File: " + dataName});
          }
        }
      }
      progress.turn();
    }
  }
  if (!src.kept) {
    // The reader stays open for the bands. Between two bands it holds the decoded blocks of the
    // rows read last: up to two rows of blocks, as wide as the blocks reach.
    const int64_t blockCols = (in.ncols + in.blockCols - 1) / in.blockCols * in.blockCols;
    src.cacheBytes = 2 * static_cast<uint64_t>(in.blockRows) * static_cast<uint64_t>(blockCols) * 4u;
    auto stream = std::make_shared<GdalRowStream>();
    stream->reader = std::move(readerOwned);
    stream->nodataNotFinite = nodataNotFinite;
    stream->bandNodata = in.nodata;
    src.gdalStream = std::move(stream);
    d.values = grid::CellValues();
  }
  return false;
}

bool loadGdalGridRows(frame::Frame& fr, GridSets& g, int description, int32_t lo, int32_t hi) {
  GridDescription& d = g.descriptions[static_cast<size_t>(description)];
  GridSource& src = g.sources[static_cast<size_t>(description)];
  GdalRowStream& st = *src.gdalStream;
  const size_t nc = static_cast<size_t>(d.ncols);
  int32_t heldLo = 0, heldHi = 0;
  if (startRowWindow(fr, d, st.held, src.dataName, lo, hi, heldLo, heldHi)) return true;
  std::string message;
  for (int32_t r = hi; r >= lo;) {
    if (r >= heldLo && r <= heldHi) {
      std::copy_n(st.held.data() + static_cast<size_t>(r - heldLo) * nc, nc, d.values.data() + d.index(1, r));
      --r;
      continue;
    }
    // The rows from r southwards that were not held, in one read straight into their place.
    int32_t end = r;
    while (end > lo && !(end - 1 >= heldLo && end - 1 <= heldHi)) --end;
    const int64_t first = static_cast<int64_t>(d.nrows) - r;
    const int64_t count = r - end + 1;
    float* north = d.values.data() + d.index(1, r);
    bool ok = st.reader->readRows(first, count, north, message, -static_cast<int64_t>(nc));
    listGdalMessages(fr);
    for (int32_t k = r; ok && k >= end; --k) {
      float* row = d.values.data() + d.index(1, k);
      for (size_t c = 0; c < nc && ok; ++c) {
        if (std::isfinite(row[c])) continue;
        // Checked when the set was read: anything else now means the file was changed.
        ok = st.nodataNotFinite && sameNonFinite(row[c], st.bandNodata);
        row[c] = d.nodata;
      }
      if (!ok) message = "it was changed during the run";
    }
    if (!ok) {
      return frame::endWithListedError(
          fr, {" The Tervala file " + src.dataName + " could not be read again at rows " + std::to_string(first + 1) +
                   " to " + std::to_string(first + count) + ":",
               " " + sentence(message)});
    }
    r = end - 1;
  }
  CellValues().swap(st.held);
  return false;
}

bool readGdalStructureFile(frame::Frame& fr, Structure& s, const std::string& type, const std::string& name,
                           const std::string& fileLine, double& cellsize) {
  const std::string dataName = gdalRasterName(name, type);
  const std::string what = "structure file " + dataName;
  int band = 1;
  if (!bandOfLine(fr, fileLine, band)) {
    return frame::endWithListedError(
        fr, {" The item BAND= of the structure file must be a band number from 1.", "   Command line: " + fileLine});
  }
  gdalroom::RasterReader reader;
  std::string message;
  const bool opened = reader.open(frame::resolveInputName(dataName), band, type == "TIF", message);
  listGdalMessages(fr);
  if (!opened) return frame::endWithListedError(fr, {openMessage(what, message)});
  const gdalroom::RasterInfo& in = reader.info();
  if (in.ncols > INT32_MAX || in.nrows > INT32_MAX) {
    return frame::endWithListedError(fr, {openMessage(what, "it has more than 2147483647 columns or rows")});
  }
  // The structure's cells are square: a raster of other cells would be misread silently.
  if (std::fabs(in.dx - in.dy) > 1e-9 * in.dx) {
    return frame::endWithListedError(
        fr, {" The " + what + " does not have square cells:",
             " cell width " + frame::trimmed(frame::fmtG(in.dx, 12, 6)) + ", cell height " +
                 frame::trimmed(frame::fmtG(in.dy, 12, 6)) + ". The structure needs one CELLSIZE."});
  }
  GridDescription& gr = s.grid;
  gr.ncols = static_cast<int32_t>(in.ncols);
  gr.nrows = static_cast<int32_t>(in.nrows);
  gr.xll = static_cast<decltype(gr.xll)>(in.xll);
  gr.yll = static_cast<decltype(gr.yll)>(in.yll);
  cellsize = in.dx;
  bool notFinite = false;
  const float nd = bandNodata(in, notFinite);
  if (in.hasNodata && !notFinite) gr.nodata = nd;
  s.crsWkt = in.crsWkt;
  return false;
}

std::string geoTiffName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (hasExtension(name) && frame::upper(name.substr(dot + 1)) == "TIFF") return name;
  return frame::GUMEXT(name, "TIF");
}

bool writeGeoTiff(frame::Frame& fr, const Structure& s, const std::string& name, bool cloudOptimized) {
  const GridDescription& g = s.grid;
  const std::string tifName = geoTiffName(name);
  gdalroom::TiffLayout layout;
  layout.ncols = g.ncols;
  layout.nrows = g.nrows;
  layout.xll = static_cast<double>(g.xll);
  layout.yll = static_cast<double>(g.yll);
  layout.cellsize = static_cast<double>(s.cellsize);
  layout.nodata = static_cast<float>(s.nodataOut);
  layout.crsWkt = s.crsWkt;
  layout.cloudOptimized = cloudOptimized;
  layout.threads = fr.threads;
  layout.sync = fr.syncOutputs;
  frame::ProgressCounter progress(fr, "Writing information", g.nrows);
  gdalroom::TiffWriter out;
  std::string message;
  bool ok = out.open(frame::nativeName(tifName), layout, message);
  // The structure's rows from the north, as the file holds them.
  const size_t nc = static_cast<size_t>(g.ncols);
  std::vector<float> strip;
  const int32_t step = 256;
  for (int32_t top = g.nrows; ok && top >= 1; top -= step) {
    const int32_t count = std::min(step, top);
    strip.resize(static_cast<size_t>(count) * nc);
    for (int32_t k = 0; k < count; ++k) {
      const float* row = g.values.data() + g.index(1, top - k);
      std::copy(row, row + nc, strip.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(k) * nc));
      progress.turn();
    }
    ok = out.writeRows(strip.data(), count, message);
  }
  if (ok) ok = out.commit(message);
  listGdalMessages(fr);
  if (!ok) {
    out.abandon();
    return frame::endWithListedError(fr, {" The file " + tifName + " could not be written: " + sentence(message)});
  }
  return false;
}

}  // namespace grid
