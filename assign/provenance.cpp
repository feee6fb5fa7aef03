#include "assign/provenance.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <future>
#include <iterator>

#include "assign/run.h"
#include "frame/clock.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/text.h"
#include "grid/gdalgrids.h"
#include "grid/picture.h"
#include "grid/sourcegrid.h"

namespace assign {

const char* setKindText(SetKind k) {
  switch (k) {
    case SetKind::Grid:
      return "GRID";
    case SetKind::Points:
      return "POINTS";
    case SetKind::Model:
      return "MODEL";
    case SetKind::Polygons:
      return "POLYGONS";
  }
  return "";
}

int32_t Provenance::numberAt(size_t line) const {
  int32_t n = 1;
  for (const auto& s : sets) n += s.line < line ? 1 : 0;
  return n;
}

void Provenance::number() {
  std::vector<size_t> order(sets.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sets[a].line < sets[b].line; });
  for (size_t k = 0; k < order.size(); ++k) sets[order[k]].number = static_cast<int32_t>(k) + 1;
  searched.clear();
  for (size_t k = 0; k < sets.size(); ++k) {
    if (sets[k].kind != SetKind::Polygons) searched.push_back(k);
  }
  reached.assign(searched.size(), 0);
}

void startStep(Run& run) {
  run.provenance.stepStart = run.fr.clock.monotonicSeconds();
}

void endStep(Run& run, const std::string& name) {
  const double now = run.fr.clock.monotonicSeconds();
  run.provenance.steps.emplace_back(name, std::max(0.0, now - run.provenance.stepStart));
  run.provenance.stepStart = now;
}

namespace {

// The counts of the report from what accountRows added up; the cells won and reached per set.
CellCounts countCells(Run& run) {
  Provenance& pv = run.provenance;
  CellCounts c = pv.counts;
  c.anyValue = c.withValue > 0;
  c.mean = c.withValue > 0 ? c.sum / static_cast<double>(c.withValue) : 0.0;
  if (pv.track) {
    for (auto& set : pv.sets) {
      const size_t n = static_cast<size_t>(set.number);
      set.cellsWon = n < c.won.size() ? c.won[n] : 0;
    }
    for (size_t k = 0; k < pv.searched.size() && k < pv.reached.size(); ++k) {
      pv.sets[pv.searched[k]].cellsReached = pv.reached[k];
    }
  }
  return c;
}

// The sets in the order of their numbers.
std::vector<const SetRecord*> byNumber(const Provenance& pv) {
  std::vector<const SetRecord*> out;
  for (const auto& s : pv.sets) out.push_back(&s);
  std::sort(out.begin(), out.end(), [](const SetRecord* a, const SetRecord* b) { return a->number < b->number; });
  return out;
}

std::string kindWord(const SetRecord& s) {
  return s.kind == SetKind::Polygons ? s.use : setKindText(s.kind);
}

std::string padRight(std::string s, size_t w) {
  if (s.size() < w) s.append(w - s.size(), ' ');
  return s;
}

std::string number(double v) {
  return frame::trimmed(frame::fmtG(v, 12, 6));
}

std::string sourcePictureName(const std::string& picture) {
  return frame::GUMEXT(picture, " ") + "_source.png";
}

std::string sourceFileName(const Run& run) {
  return grid::sourceGridName(run.structure, run.provenance.sourceType, run.provenance.sourceName);
}

// The grid the report speaks of: the stored grid, or in a run of one tile the tile's file.
std::string storedName(const Run& run) {
  if (run.structure.tileCount > 0 && !run.fr.resultName.empty()) return run.fr.resultName;
  return frame::GUMEXT(frame::trimRight(run.settings.storeName), run.settings.storeType);
}

// The rows counted: the structure's, or the tile's.
int64_t countedRows(const Run& run, const CellCounts& c) {
  const int64_t nc = run.structure.grid.ncols;
  return run.structure.tileCount > 0 && nc > 0 ? c.cells / nc : run.structure.grid.nrows;
}

// The run report as listing lines.
std::vector<std::string> reportLines(const Run& run, const CellCounts& c) {
  const Provenance& pv = run.provenance;
  const grid::Structure& s = run.structure;
  std::vector<std::string> l;
  l.push_back(" ");
  l.push_back(" Run report");
  l.push_back(" ~~~~~~~~~~");
  l.push_back(" Grid " + storedName(run) + ": " + std::to_string(s.grid.ncols) + " columns, " +
              std::to_string(countedRows(run, c)) + " rows");
  l.push_back(" Cells of the structure   " + frame::fmtI(c.cells, 12));
  l.push_back("   with a value           " + frame::fmtI(c.withValue, 12));
  l.push_back("   NODATA                 " + frame::fmtI(c.nodata, 12));
  l.push_back("   masked, NODATA         " + frame::fmtI(c.masked, 12));
  if (c.anyValue) {
    l.push_back(" Values: minimum " + number(c.minimum) + ", maximum " + number(c.maximum) + ", mean " +
                number(c.mean));
  } else {
    l.push_back(" Values: none");
  }
  l.push_back(" ");
  l.push_back(" Sets, numbered in command-file order: the codes of the source grid");
  l.push_back(" Code Kind     Priority  Values read Cells reached   Cells won  Name");
  for (const SetRecord* set : byNumber(pv)) {
    const std::string priority = set->kind == SetKind::Polygons ? std::string(9, ' ') : frame::fmtI(set->priority, 9);
    l.push_back(frame::fmtI(set->number, 5) + " " + padRight(kindWord(*set), 8) + priority +
                frame::fmtI(set->valuesRead, 13) + frame::fmtI(set->cellsReached, 14) + frame::fmtI(set->cellsWon, 12) +
                "  " + set->name);
  }
  l.push_back(frame::fmtI(kSourceNodata, 5) + " NODATA" + std::string(40, ' ') + frame::fmtI(c.nodataCode, 12));
  l.push_back(frame::fmtI(kSourceCombined, 5) + " several sets combined" + std::string(25, ' ') +
              frame::fmtI(c.combined, 12));
  l.push_back(frame::fmtI(kSourceCleared, 5) + " cleared by a polygon" + std::string(26, ' ') +
              frame::fmtI(c.cleared, 12));
  if (!pv.sourceName.empty()) l.push_back(" Source grid: " + sourceFileName(run));
  if (!run.fr.pictureName.empty()) {
    std::string p = " Picture: " + run.fr.pictureName;
    if (!pv.sourceName.empty()) p += ", " + sourcePictureName(run.fr.pictureName);
    l.push_back(p);
  }
  if (!run.fr.reportName.empty()) l.push_back(" Report: " + run.fr.reportName);
  l.push_back(" ");
  for (const auto& [name, seconds] : pv.steps) {
    l.push_back(" Time " + padRight(name, 30) + frame::fmtF(seconds, 10, 3) + " s");
  }
  l.push_back(" Peak memory" + std::string(24, ' ') +
              frame::fmtF(static_cast<double>(frame::peakMemoryBytes()) / 1048576.0, 10, 1) + " MiB");
  return l;
}

// ---------------------------------------------------------------- JSON

void jsonString(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char ch : s) {
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (ch < 0x20) {
          static const char* hex = "0123456789abcdef";
          out += "\\u00";
          out += hex[ch >> 4];
          out += hex[ch & 15];
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  out += '"';
}

template <typename T>
std::string jsonNumber(T v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string reportJsonOf(const Run& run, const CellCounts& c) {
  const Provenance& pv = run.provenance;
  const grid::Structure& s = run.structure;
  std::string o;
  auto key = [&](const char* k) {
    o += '"';
    o += k;
    o += "\": ";
  };
  o += "{\n  ";
  key("report");
  o += "\"TervalaGridCreate run report\",\n  ";
  key("schemaVersion");
  o += "1,\n  ";
  key("grid");
  o += "{";
  key("file");
  jsonString(o, storedName(run));
  o += ", ";
  key("type");
  jsonString(o, run.settings.storeType);
  o += ", ";
  key("columns");
  o += jsonNumber(s.grid.ncols) + ", ";
  key("rows");
  o += jsonNumber(countedRows(run, c)) + ", ";
  key("cells");
  o += jsonNumber(c.cells) + ", ";
  key("nodataValue");
  o += jsonNumber(s.grid.nodata) + "},\n  ";
  key("cells");
  o += "{";
  key("withValue");
  o += jsonNumber(c.withValue) + ", ";
  key("nodata");
  o += jsonNumber(c.nodata) + ", ";
  key("masked");
  o += jsonNumber(c.masked) + "},\n  ";
  key("values");
  if (c.anyValue) {
    o += "{";
    key("minimum");
    o += jsonNumber(c.minimum) + ", ";
    key("maximum");
    o += jsonNumber(c.maximum) + ", ";
    key("mean");
    o += jsonNumber(c.mean) + "},\n  ";
  } else {
    o += "null,\n  ";
  }
  key("sets");
  o += "[";
  bool firstSet = true;
  for (const SetRecord* set : byNumber(pv)) {
    o += firstSet ? "\n    {" : ",\n    {";
    firstSet = false;
    key("number");
    o += jsonNumber(set->number) + ", ";
    key("kind");
    jsonString(o, setKindText(set->kind));
    o += ", ";
    key("use");
    if (set->kind == SetKind::Polygons) {
      jsonString(o, set->use);
    } else {
      o += "null";
    }
    o += ", ";
    key("priority");
    o += set->kind == SetKind::Polygons ? "null" : jsonNumber(set->priority);
    o += ", ";
    key("name");
    jsonString(o, set->name);
    o += ", ";
    key("valuesRead");
    o += jsonNumber(set->valuesRead) + ", ";
    key("cellsReached");
    o += jsonNumber(set->cellsReached) + ", ";
    key("cellsWon");
    o += jsonNumber(set->cellsWon) + "}";
  }
  o += firstSet ? "],\n  " : "\n  ],\n  ";
  key("codes");
  // The codes that are no set, with their meaning and the cells that hold them.
  const struct {
    int32_t code;
    const char* meaning;
    int64_t cells;
  } codes[] = {{kSourceNodata, "NODATA", c.nodataCode},
               {kSourceCombined, "several sets combined", c.combined},
               {kSourceCleared, "cleared by a polygon", c.cleared}};
  o += "[";
  for (size_t k = 0; k < std::size(codes); ++k) {
    o += k == 0 ? "\n    {" : "},\n    {";
    key("code");
    o += jsonNumber(codes[k].code) + ", ";
    key("meaning");
    o += std::string("\"") + codes[k].meaning + "\", ";
    key("cells");
    o += jsonNumber(codes[k].cells);
  }
  o += "}\n  ],\n  ";
  key("sourceFile");
  if (pv.sourceName.empty()) {
    o += "null";
  } else {
    jsonString(o, sourceFileName(run));
  }
  o += ",\n  ";
  key("pictures");
  o += "[";
  if (!run.fr.pictureName.empty()) {
    jsonString(o, run.fr.pictureName);
    if (!pv.sourceName.empty()) {
      o += ", ";
      jsonString(o, sourcePictureName(run.fr.pictureName));
    }
  }
  o += "],\n  ";
  key("steps");
  o += "[";
  for (size_t k = 0; k < pv.steps.size(); ++k) {
    o += k == 0 ? "\n    {" : ",\n    {";
    key("name");
    jsonString(o, pv.steps[k].first);
    o += ", ";
    key("seconds");
    o += jsonNumber(pv.steps[k].second) + "}";
  }
  o += pv.steps.empty() ? "],\n  " : "\n  ],\n  ";
  key("peakMemoryBytes");
  o += jsonNumber(frame::peakMemoryBytes());
  o += "\n}\n";
  return o;
}

std::string errorNumber(int e) {
  return " Error number=" + frame::fmtI(e, 6, 6);
}

// Starts drawing and packing the pictures from the cells kept: on helper threads, or when
// their bytes are asked for if one core is asked for. The source picture's legend lists the
// sets that won cells.
void startPictures(Run& run) {
  Provenance& pv = run.provenance;
  if (run.fr.pictureName.empty() || !pv.picture || pv.valuePng.valid()) return;
  const auto policy = run.fr.threads == 1 ? std::launch::deferred : std::launch::async;
  std::shared_ptr<const grid::PictureSampler> cells = pv.picture;
  pv.valuePng = std::async(policy, [cells, title = storedName(run)] { return grid::encodePng(cells->values(title)); });
  if (pv.sourceName.empty()) return;
  const CellCounts& c = pv.counts;
  std::vector<grid::SourceLegendEntry> legend;
  for (const SetRecord* set : byNumber(pv)) {
    const size_t n = static_cast<size_t>(set->number);
    if (n < c.won.size() && c.won[n] > 0)
      legend.push_back({set->number, std::to_string(set->number) + " " + set->name});
  }
  if (c.combined > 0) legend.push_back({kSourceCombined, "-1 SEVERAL SETS"});
  if (c.cleared > 0) legend.push_back({kSourceCleared, "-2 CLEARED"});
  legend.push_back({kSourceNodata, "0 NODATA"});
  pv.sourcePng = std::async(policy, [cells, legend = std::move(legend), title = "SOURCES OF " + storedName(run)] {
    return grid::encodePng(cells->sources(legend, title));
  });
}

}  // namespace

void accountRows(Run& run, int32_t from, int32_t to, int32_t top, int32_t bottom) {
  const grid::Structure& s = run.structure;
  Provenance& pv = run.provenance;
  if (!run.fr.pictureName.empty() && from == top) {
    pv.picture = std::make_shared<grid::PictureSampler>();
    pv.picture->start(s, !pv.sourceName.empty());
  }
  if (!pv.track) {
    if (pv.picture && from >= to) pv.picture->rows(s, from, to);
    if (to == bottom) startPictures(run);
    return;
  }
  CellCounts& c = pv.counts;
  if (from == top) {
    c = CellCounts();
    c.won.assign(pv.sets.size() + 1, 0);
    if (!pv.sourceName.empty()) {
      pv.sourceOut = std::make_shared<grid::SourceGridWriter>();
      pv.sourceError =
          pv.sourceOut->open(s, pv.sourceType, pv.sourceName, pv.sourceBits, run.fr.syncOutputs, top, bottom);
    }
  }
  if (from < to) return;
  // The picture keeps its cells and the source grid takes its rows on a helper thread while
  // the counts are added up here, when the rows are many enough to be worth a thread.
  grid::PictureSampler* picture = pv.picture.get();
  grid::SourceGridWriter* sourceOut = pv.sourceOut && pv.sourceError == 0 ? pv.sourceOut.get() : nullptr;
  // The counts below give the picture its range.
  auto besides = [picture, sourceOut, &s, from, to] {
    if (picture) picture->rows(s, from, to, false);
    if (sourceOut) sourceOut->rows(s, from, to);
  };
  const bool many = static_cast<int64_t>(from - to + 1) * s.grid.ncols >= (int64_t{1} << 18);
  std::future<void> besidesDone;
  if (many && run.fr.threads != 1 && (picture || sourceOut)) {
    besidesDone = std::async(std::launch::async, besides);
  } else {
    besides();
  }
  const size_t begin = s.grid.index(1, to), end = s.grid.index(1, from) + static_cast<size_t>(s.grid.ncols);
  const float nodata = s.grid.nodata;
  // The values: their range and sum in cell order (the mean is the same whatever the bands).
  float lo = INFINITY, hi = -INFINITY;
  double sum = c.sum;
  int64_t withValue = 0, unmasked = 0;
  const float* values = s.grid.values.data();
  const uint8_t* mask = s.maskCells();
  for (size_t k = begin; k < end; ++k) {
    const float v = values[k];
    if (v != nodata) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
      sum += v;
      ++withValue;
    } else {
      unmasked += !mask || mask[k] != 0;
    }
  }
  if (withValue > 0) {
    const bool first = c.withValue == 0;
    c.minimum = first ? lo : std::min(c.minimum, lo);
    c.maximum = first ? hi : std::max(c.maximum, hi);
  }
  c.sum = sum;
  c.withValue += withValue;
  c.nodata += unmasked;
  c.masked += static_cast<int64_t>(end - begin) - withValue - unmasked;
  c.cells += static_cast<int64_t>(end - begin);
  // Cells won per set, by the number in the source grid: a count per code from the lowest
  // (CLEARED) up, two counts taken in turn so that runs of one code do not wait on each other.
  const size_t sourceEnd = std::min(end, s.source.size());
  const int32_t* codes = s.source.data();
  const size_t sets = c.won.size();
  const uint32_t offset = static_cast<uint32_t>(-kSourceCleared);
  const size_t counted = sets + offset;
  std::vector<int64_t> even(counted, 0), odd(counted, 0);
  int64_t other = 0;
  size_t k = begin;
  auto count = [&](std::vector<int64_t>& into, int32_t code) {
    const uint32_t at = static_cast<uint32_t>(code) + offset;
    if (at < counted) {
      ++into[at];
    } else {
      ++other;
    }
  };
  for (; k + 1 < sourceEnd; k += 2) {
    count(even, codes[k]);
    count(odd, codes[k + 1]);
  }
  if (k < sourceEnd) count(even, codes[k]);
  for (size_t at = 0; at < counted; ++at) {
    const int64_t n = even[at] + odd[at];
    const int32_t code = static_cast<int32_t>(at) - static_cast<int32_t>(offset);
    if (code > 0) {
      c.won[static_cast<size_t>(code)] += n;
    } else if (code == kSourceCombined) {
      c.combined += n;
    } else if (code == kSourceCleared) {
      c.cleared += n;
    } else {
      c.nodataCode += n;
    }
  }
  c.nodataCode += other;
  if (besidesDone.valid()) besidesDone.get();
  // The picture's range: that of the values counted, unless one of them is infinite, which the
  // picture leaves out (its own pass over the rows then).
  if (picture) {
    if (withValue == 0 || (std::isfinite(lo) && std::isfinite(hi))) {
      picture->widen(lo, hi);
    } else {
      picture->rows(s, from, to, true);
    }
  }
  if (to == bottom) startPictures(run);
}

std::string reportJson(Run& run) {
  return reportJsonOf(run, countCells(run));
}

bool writeRunAccount(Run& run) {
  frame::Frame& fr = run.fr;
  Provenance& pv = run.provenance;
  const grid::Structure& s = run.structure;
  const bool sourceGrid = !pv.sourceName.empty();
  if (!pv.track && fr.pictureName.empty()) return false;
  // The source grid.
  if (sourceGrid) {
    // Written beside the grid as the rows were computed; put in place now.
    int e = pv.sourceError;
    if (!pv.sourceOut) e = EIO;
    if (e == 0) e = pv.sourceOut->commit();
    grid::listGdalMessages(fr);
    const std::string failed = pv.sourceOut ? pv.sourceOut->failedName() : sourceFileName(run);
    const std::string reason = pv.sourceOut ? pv.sourceOut->reason() : std::string();
    if (pv.sourceOut && e != 0) pv.sourceOut->abandon();
    pv.sourceOut.reset();
    if (e != 0 && !reason.empty())
      return frame::endWithListedError(fr,
                                       {" The file " + failed + " could not be written: " + grid::sentence(reason)});
    if (e != 0)
      return frame::endWithListedError(fr, {" The file " + failed + " could not be written.", errorNumber(e)});
  }
  // The counts of the report, once.
  const CellCounts c = pv.track ? countCells(run) : CellCounts();
  // The pictures, drawn as the last rows went by (without any row, from the cells now).
  if (!fr.pictureName.empty()) {
    if (!pv.valuePng.valid()) {
      pv.picture = std::make_shared<grid::PictureSampler>();
      pv.picture->start(s, sourceGrid);
      pv.picture->rows(s, s.grid.nrows, 1);
      startPictures(run);
    }
    const std::vector<uint8_t> valueBytes = pv.valuePng.get();
    const std::vector<uint8_t> sourceBytes = pv.sourcePng.valid() ? pv.sourcePng.get() : std::vector<uint8_t>();
    int e = grid::writeEncodedPng(valueBytes, fr.pictureName, fr.syncOutputs);
    if (e != 0) {
      return frame::endWithListedError(fr, {" The file " + fr.pictureName + " could not be written.", errorNumber(e)});
    }
    if (sourceGrid) {
      const std::string sourcesName = sourcePictureName(fr.pictureName);
      e = grid::writeEncodedPng(sourceBytes, sourcesName, fr.syncOutputs);
      if (e != 0)
        return frame::endWithListedError(fr, {" The file " + sourcesName + " could not be written.", errorNumber(e)});
    }
  }
  if (!pv.track) return false;
  endStep(run, sourceGrid || !fr.pictureName.empty() ? "source grid and pictures" : "counting");
  // The report: at the end of the listing, and as JSON.
  frame::writeListing(fr, reportLines(run, c));
  if (!fr.reportName.empty()) {
    const std::string text = reportJsonOf(run, c);
    frame::AtomicOutputFile out;
    int e = out.open(frame::nativeName(fr.reportName), fr.syncOutputs);
    if (e == 0) {
      out.write(text.data(), text.size());
      e = out.commit();
    }
    if (e != 0) {
      return frame::endWithListedError(fr, {" The file " + fr.reportName + " could not be written.", errorNumber(e)});
    }
  }
  return false;
}

}  // namespace assign
