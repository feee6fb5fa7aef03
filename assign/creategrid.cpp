#include <algorithm>

#include "assign/run.h"
#include "assign/zavsearch.h"
#include "frame/cmdfile.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "gdal/gdalroom.h"
#include "grid/bigblocks.h"
#include "grid/gdalgrids.h"
#include "grid/gridsets.h"
#include "grid/structure.h"
#include "grid/writer.h"
#include "zav/zavobjects.h"

namespace assign {
namespace {

using frame::LineMode;

// Finds the next line of a command from the current position. Commands are matched on the
// line as read with blanks squeezed out and upper-cased; the line is then read again as it
// stands (case and inner blanks kept) for its parameters.
bool findCommand(frame::Frame& fr, const char* key, std::string& changed, std::string& raw) {
  if (!frame::OPDR(fr, key, fr.commandUnit, changed, LineMode::CHANGE)) return false;
  fr.units.input(fr.commandUnit)->backspace();
  frame::PLEZEN(fr, fr.commandUnit, raw);
  return true;
}

void rewindCommands(frame::Frame& fr) {
  fr.units.input(fr.commandUnit)->rewind();
}

// The record of the command file read last: the line a set comes from.
size_t commandRecord(frame::Frame& fr) {
  return fr.units.input(fr.commandUnit)->position();
}

// A command that counts once but is given again: the first line counts, and the listing says
// so, since the user may have meant the other. Searches on from the line just found.
void warnRepeated(frame::Frame& fr, const char* key) {
  std::string again;
  if (!frame::OPDR(fr, key, fr.commandUnit, again, LineMode::CHANGE)) return;
  frame::writeListing(fr, {" ", " WARNING", " *******", " ",
                           std::string(" The command ") + key + " is given more than once; only its first line counts.",
                           " Line not used: " + again});
}

// Every keyword a step reads from the command file, for the nearest-keyword hint.
const char* const kVocabulary[] = {"STRUCTURE",      "END:STRUCTURE", "FILE",        "#COLUMNS",
                                   "#ROWS",          "XLL",           "YLL",         "CELLSIZE",
                                   "NODATA",         "DATARELATEDTO", "STOREFILE",   "INDICATE-EMPTY",
                                   "METHOD-PER-SET", "RUN-METHOD",    "TERVALAGRID", "POINTFILE",
                                   "POLYGONFILE",    "LGA",           "CCO",         "MAP",
                                   "ZAV-OBJECT",     "BEGIN",         "END",         "END:ZAV-OBJECT",
                                   "USE-ZAV-OBJECT", "SOURCEFILE"};

// Edit distance with adjacent transpositions: a keyword typed with a letter missing, extra,
// wrong or swapped is one edit away.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// The known keyword nearest to key, when it is close enough to be a slip of the keyboard.
std::string nearestKeyword(const std::string& key) {
  std::string best;
  size_t bestDistance = 3;
  for (const char* k : kVocabulary) {
    const size_t d = editDistance(key, k);
    if (d < bestDistance && d * 3 <= std::string(k).size()) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

// A misspelled keyword or a line in the wrong place is read by no step and would silently
// leave out what the user asked for: each such line gets a WARNING with its line number.
void warnUnusedLines(frame::Frame& fr) {
  frame::TextInputUnit* in = fr.units.input(fr.commandUnit);
  if (!in) return;
  const frame::TextLines& lines = in->lines();
  for (size_t k = 0; k < lines.size(); ++k) {
    std::string line;
    if (!frame::significantLine(lines[k], line, LineMode::NOCHNG, true)) continue;
    std::string key;
    for (char c : line.substr(0, line.find(','))) {
      if (c != ' ') key += c;
    }
    key = frame::upper(key);
    // REMARK lines are the user's notes, like comments.
    if (key == "REMARK") continue;
    if (in->used(k)) continue;
    std::vector<std::string> message = {
        " Line " + std::to_string(k + 1) + " of the command file is read by no step and has no effect:", " " + line};
    const std::string nearest = nearestKeyword(key);
    if (!nearest.empty() && nearest != key) message.push_back(" Did you mean " + nearest + "?");
    frame::warningBlock(fr, message, fr.commandName + ":" + std::to_string(k + 1));
  }
}

// STOREFILE: the type and name of the output grid, and whether it can be written. Returns err.
bool readStoreFile(Run& run) {
  frame::Frame& fr = run.fr;
  RunSettings& st = run.settings;
  std::string changed, raw, item;
  rewindCommands(fr);
  if (!findCommand(fr, "STOREFILE", changed, raw)) {
    return frame::endWithError(fr, {" No command STOREFILE found, no calculation possible."});
  }
  frame::PARAM(fr, raw, 2, item);
  const std::string given = item;
  frame::CASEF(item);
  if (item.empty()) item = "BIL";
  if (item != "BIL" && item != "ASC" && item != "TIF") {
    return frame::endWithError(fr, {" The storage file must be of type BIL or ASC.", " Type given: " + given,
                                    " (Also TIF, a GeoTIFF, or TIF with COG, a Cloud-Optimized GeoTIFF.)"});
  }
  st.storeType = item.substr(0, 3);
  if (frame::PARAM(fr, raw, 3, st.storeName, ",", 250) <= 0) {
    return frame::endWithError(
        fr, {" No name found for the storage file in the STOREFILE command.", " ", "   Command line: " + raw});
  }
  if (st.storeType == "TIF") {
    // STOREFILE,TIF,name,COG: a Cloud-Optimized GeoTIFF. GDAL is asked before the run starts,
    // so that a program built without it refuses at once rather than after the cell loop.
    std::string layout;
    frame::PARAM(fr, raw, 4, layout);
    frame::CASEF(layout);
    if (!layout.empty() && layout != "COG") {
      return frame::endWithError(fr, {" The fourth item of STOREFILE,TIF can only be COG (a Cloud-Optimized GeoTIFF).",
                                      " Item given: " + layout});
    }
    if (layout == "COG") st.storeType = "COG";
    if (!gdalroom::builtIn()) {
      return frame::endWithError(
          fr, {" The storage file of type TIF cannot be written:", " " + gdalroom::notBuiltInMessage()});
    }
  }
  warnRepeated(fr, "STOREFILE");
  // Whether the grid can be written is known now: a missing or read-only folder, or a folder
  // under the grid's name, is reported before the work instead of after it.
  {
    const std::string name = frame::trimRight(st.storeName);
    const bool tif = st.storeType == "TIF" || st.storeType == "COG";
    const std::string target = tif ? grid::geoTiffName(name) : frame::GUMEXT(name, st.storeType);
    const int e = frame::checkOutputPlace(frame::nativeName(target));
    if (e != 0) {
      return frame::endWithListedError(
          fr, {" The file " + target + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
    }
  }
  return false;
}

// INDICATE-EMPTY, METHOD-PER-SET and RUN-METHOD: how the values found for a cell become its value.
// Returns err.
bool readRunMethods(Run& run) {
  frame::Frame& fr = run.fr;
  RunSettings& st = run.settings;
  std::string changed, raw, item;
  // INDICATE-EMPTY: an output without values gets a name marked _EMPTY.
  st.indicateEmpty = false;
  rewindCommands(fr);
  if (findCommand(fr, "INDICATE-EMPTY", changed, raw)) {
    frame::PARAM(fr, raw, 2, item);
    frame::CASEF(item);
    st.indicateEmpty = item == "YES";
    warnRepeated(fr, "INDICATE-EMPTY");
  }
  // METHOD-PER-SET: how the values of one set combine in a cell, and which buffers of a point count.
  st.methodPerSet = "ALL-VALUES";
  st.multipleBuffers = "CLOSEST";
  rewindCommands(fr);
  if (frame::OPDR(fr, "METHOD-PER-SET", fr.commandUnit, changed, LineMode::CHANGE)) {
    if (frame::PARAM(fr, changed, 2, item) > 0) {
      if (item != "ALL-VALUES" && item != "AVERAGE") {
        return frame::endWithError(
            fr, {" The method for each set must be of type ALL-VALUES or AVERAGE.", " Type given: " + item});
      }
      st.methodPerSet = item;
    }
    int len = 0;
    if (frame::NAMEDS(fr, changed, "MULTIPLE-BUFFERS", item, len) && len > 0) {
      if (item != "CLOSEST" && item != "ALL-VALUES") {
        return frame::endWithError(
            fr, {" The method for multiple buffers (MULTIPLE-BUFFERS) must be of type CLOSEST or ALL-VALUES.",
                 " Type given: " + item});
      }
      st.multipleBuffers = item;
    }
    warnRepeated(fr, "METHOD-PER-SET");
  }
  // RUN-METHOD: how the values of all sets combine, and how many a cell keeps.
  st.runMethod = "AVERAGE";
  st.numberOfValues = 1;
  rewindCommands(fr);
  if (frame::OPDR(fr, "RUN-METHOD", fr.commandUnit, changed, LineMode::CHANGE)) {
    if (frame::PARAM(fr, changed, 2, item) > 0) {
      if (item != "AVERAGE" && item != "MAXIMUM" && item != "MINIMUM" && item != "MAJORITY" && item != "MINORITY") {
        return frame::endWithError(
            fr, {" The overall method (RUN-METHOD) for assignment must be one of:", " ", "      AVERAGE",
                 "      MAXIMUM", "      MINIMUM", "      MAJORITY", "      MINORITY", " ", " Type given: " + item});
      }
      st.runMethod = item;
      if (st.methodPerSet == "AVERAGE" && (item == "MAJORITY" || item == "MINORITY")) {
        return frame::endWithError(
            fr, {" The overall method (RUN-METHOD) and the method per set conflict:", " ",
                 "    When the method in grids is average then Majority or Minority is", "    not allowed."});
      }
    }
    frame::NAMEDV(fr, changed, "#VALUES", "I4", st.numberOfValues);
    // Fewer than one value per cell would combine an empty list.
    if (st.numberOfValues < 1) st.numberOfValues = 1;
    warnRepeated(fr, "RUN-METHOD");
  }
  return false;
}

// SOURCEFILE: where every value came from, as a grid of set numbers; refused in a run in bands,
// as the report and the picture are. Returns err.
bool readSourceFile(Run& run) {
  frame::Frame& fr = run.fr;
  Provenance& pv = run.provenance;
  std::string changed, raw, item;
  pv.sourceType.clear();
  pv.sourceName.clear();
  pv.sets.clear();
  rewindCommands(fr);
  if (findCommand(fr, "SOURCEFILE", changed, raw)) {
    frame::PARAM(fr, raw, 2, item);
    const std::string type = item;
    frame::CASEF(item);
    if (item.empty()) item = "BIL";
    if (item != "BIL" && item != "ASC" && item != "TIF") {
      return frame::endWithError(fr, {" The source file must be of type ASC or BIL.", " Type given: " + type,
                                      " (Also TIF, a GeoTIFF of 16 or 32-bit integers.)"});
    }
    if (item == "TIF" && !gdalroom::builtIn()) {
      return frame::endWithError(
          fr, {" The source file of type TIF cannot be written:", " " + gdalroom::notBuiltInMessage()});
    }
    pv.sourceType = item;
    if (frame::PARAM(fr, raw, 3, pv.sourceName, ",", 250) <= 0) {
      return frame::endWithError(
          fr, {" No name found for the source file in the SOURCEFILE command.", " ", "   Command line: " + raw});
    }
    pv.sourceBits = 16;
    frame::NAMEDV(fr, changed, "NBITS", "I4", pv.sourceBits);
    if (pv.sourceBits != 16 && pv.sourceBits != 32) {
      return frame::endWithError(fr, {" A BIL or TIF source file has 16 or 32 bits per value (NBITS).",
                                      " Bits given: " + std::to_string(pv.sourceBits)});
    }
    warnRepeated(fr, "SOURCEFILE");
  }
  // The source of every cell and the counts per set are recorded for a source grid or a report.
  pv.track = !pv.sourceName.empty() || fr.reportAsked;
  // The source grid, the report and the pictures go band by band beside the grid. A picture
  // shows the whole structure: one tile cannot draw it, and is refused rather than drawing only
  // its own rows.
  if (!fr.pictureName.empty() && run.structure.tileCount > 0) {
    return frame::endWithError(fr, {" PICTURE cannot be used in a run of one tile (TILE=" + fr.tileText + "):",
                                    " the picture shows the whole structure; draw it in a run without TILE."});
  }
  if (pv.track) {
    grid::roomForFill(run.structure.source, run.structure.grid.values.size());
    run.structure.source.assign(run.structure.grid.values.size(), kSourceNodata);
  }
  return false;
}

// The TERVALAGRID lines: every grid set read, in the order of the command file. Returns err.
bool readGridSets(Run& run) {
  frame::Frame& fr = run.fr;
  Provenance& pv = run.provenance;
  const RunSettings& st = run.settings;
  std::string changed, raw;
  // A run in bands holds input grids whole up to half its memory bound
  // and reads the others again band by band.
  if (!run.structure.whole) run.gridSets.keepLimit = run.structure.memoryBound / 2;
  int lineCount = 0;
  rewindCommands(fr);
  while (findCommand(fr, "TERVALAGRID", changed, raw)) {
    std::string line = frame::upper(raw);
    std::string name, type;
    if (frame::PARAM(fr, line, 4, name, ",", 250) <= 0) {
      frame::inputLeftOut(fr, {" line=" + line, " ", " No filename found. The program will proceed."});
      continue;
    }
    frame::PARAM(fr, line, 2, type);
    if (type.empty()) type = "BIL";
    const std::string dataName =
        grid::gdalRasterType(type) ? grid::gdalRasterName(name, type) : frame::GUMEXT(name, type);
    if (!fr.files.fileExists(dataName)) {
      frame::inputLeftOut(fr, {" line=" + line, " ", " The file does not exist. The program will proceed."});
      continue;
    }
    ++lineCount;
    if (line.size() > 250) line.resize(250);
    const size_t record = commandRecord(fr);
    const double start = fr.clock.monotonicSeconds();
    if (grid::HANDLETERVALAGRID(fr, run.structure, run.gridSets, st.runMethod, line, lineCount)) return true;
    frame::logStep(fr, "read " + frame::trimRight(raw), start);
    const grid::GridDescription& d =
        run.gridSets.descriptions[static_cast<size_t>(run.gridSets.sets.back().description)];
    SetRecord set;
    set.kind = SetKind::Grid;
    set.tableIndex = static_cast<int32_t>(run.gridSets.sets.size()) - 1;
    set.line = record;
    set.name = frame::trimmed(name);
    set.priority = d.priority;
    set.valuesRead = static_cast<int64_t>(d.ncols) * d.nrows;
    pv.sets.push_back(set);
  }
  return false;
}

// The POINTFILE lines: every point set read, in the order of the command file. Returns err.
bool readPointSets(Run& run) {
  frame::Frame& fr = run.fr;
  Provenance& pv = run.provenance;
  std::string changed, raw;
  run.pointSets.clear();
  rewindCommands(fr);
  while (findCommand(fr, "POINTFILE", changed, raw)) {
    std::string line = frame::upper(raw);
    if (line.size() > 250) line.resize(250);
    const size_t record = commandRecord(fr);
    const double start = fr.clock.monotonicSeconds();
    if (HANDLEPOINTFILE(run, line)) return true;
    frame::logStep(fr, "read " + frame::trimRight(raw), start);
    SetRecord set;
    set.kind = SetKind::Points;
    set.tableIndex = static_cast<int32_t>(run.pointSets.size()) - 1;
    set.line = record;
    frame::PARAM(fr, line, 2, set.name, ",", 200);
    set.priority = run.pointSets.back().priority;
    set.valuesRead = run.pointSets.back().count;
    pv.sets.push_back(set);
  }
  return false;
}

// The model files, ZAV-OBJECT blocks and USE-ZAV-OBJECT lines, then the check of the table
// files the uses write or read. Returns err.
bool readModelUses(Run& run) {
  frame::Frame& fr = run.fr;
  Provenance& pv = run.provenance;
  std::string changed, raw;
  run.zav = zav::ZavState();
  rewindCommands(fr);
  zav::DEFINEZAV(fr, run.zav, fr.commandUnit);
  rewindCommands(fr);
  while (findCommand(fr, "USE-ZAV-OBJECT", changed, raw)) {
    std::string line = frame::upper(raw);
    line = line.substr(0, static_cast<size_t>(frame::CHARL(line)));
    if (line.size() > 250) line.resize(250);
    const size_t record = commandRecord(fr);
    const size_t uses = run.zav.uses.size();
    const double start = fr.clock.monotonicSeconds();
    zav::HANDLEZAVFILE(fr, run.zav, line);
    frame::logStep(fr, "read " + frame::trimRight(raw), start);
    if (run.zav.uses.size() > uses) {
      const zav::ZavUse& u = run.zav.uses.back();
      SetRecord set;
      set.kind = SetKind::Model;
      set.tableIndex = static_cast<int32_t>(run.zav.uses.size()) - 1;
      set.line = record;
      set.name = frame::trimmed(u.objectId) + " " + frame::trimmed(u.parameterName);
      set.priority = u.priority;
      pv.sets.push_back(set);
    }
  }
  // The table files: which use writes or reads which, opened now.
  if (!run.zav.uses.empty() && checkZavTables(run)) return true;
  // A table lists the cells of the whole structure in the one order of a whole run; a tile can
  // read such a table but not write it.
  if (run.structure.tileCount > 0) {
    for (const auto& u : run.zav.uses) {
      if (u.tableMode != zav::TableMode::Create) continue;
      for (auto& f : run.tableFiles) {
        if (f) f->abandon();
      }
      return frame::endWithError(
          fr, {" TABLE-CREATE cannot be used in a run of one tile (TILE=" + fr.tileText + "):",
               " the table " + frame::trimmed(u.tableName) + " lists the cells of the whole structure in one order.",
               " Create it in a run without TILE=, then let the tiles read it with TABLE-USE."});
    }
  }
  return false;
}

// The POLYGONFILE lines, as found; each acts on the structure at once (a run in bands keeps
// them for every band). Returns err.
bool applyPolygonFiles(Run& run) {
  frame::Frame& fr = run.fr;
  Provenance& pv = run.provenance;
  std::string changed, raw;
  rewindCommands(fr);
  while (findCommand(fr, "POLYGONFILE", changed, raw)) {
    std::string line = raw.size() > 250 ? raw.substr(0, 250) : raw;
    const size_t record = commandRecord(fr);
    pv.polygonNumber = pv.numberAt(record);
    const double start = fr.clock.monotonicSeconds();
    const size_t kept = run.polygonSets.size();
    if (HANDLEPOLYGONFILE(run, line)) return true;
    // A run in bands applies the file band by band: it carries its number there.
    if (run.polygonSets.size() > kept) run.polygonSets.back().number = pv.polygonNumber;
    frame::logStep(fr, "applied " + frame::trimRight(raw), start);
    SetRecord set;
    set.kind = SetKind::Polygons;
    set.tableIndex = static_cast<int32_t>(
        std::count_if(pv.sets.begin(), pv.sets.end(), [](const SetRecord& r) { return r.kind == SetKind::Polygons; }));
    set.line = record;
    frame::PARAM(fr, line, 2, set.name, ",", 200);
    set.use = pv.polygonUse;
    set.valuesRead = pv.polygonCount;
    set.cellsReached = pv.covered.count();
    pv.sets.push_back(set);
  }
  return false;
}

}  // namespace

bool CREATEGRID(Run& run) {
  frame::Frame& fr = run.fr;
  RunSettings& st = run.settings;
  Provenance& pv = run.provenance;
  run.mainThreadWorker.values.clear();
  run.gridSets = grid::GridSets();
  if (readStoreFile(run) || readRunMethods(run) || readSourceFile(run)) return true;
  const bool failed = readGridSets(run) || readPointSets(run) || readModelUses(run) || applyPolygonFiles(run);
  run.structure.work.settle();  // the rows held are filled
  if (failed) return true;
  pv.covered.release();
  pv.number();
  warnUnusedLines(fr);
  endStep(run, "reading the sets");
  // The cell loop hands the rows to the writer; the files are completed here.
  double start = fr.clock.monotonicSeconds();
  grid::GridWriter writer;
  if (ASSIGNINFORMATIONTOGRID(run, writer)) return true;
  frame::logStep(fr, "values of the cells computed", start);
  // The cells the polygon files applied band by band covered.
  for (const PolygonSet& p : run.polygonSets) {
    for (auto& set : pv.sets) {
      if (set.kind == SetKind::Polygons && set.number == p.number) set.cellsReached = p.cellsCovered;
    }
  }
  endStep(run, "cell loop");
  // What a model use read: the values of its parameter, one per segment.
  for (auto& set : pv.sets) {
    if (set.kind == SetKind::Model) {
      set.valuesRead = static_cast<int64_t>(run.zav.uses[static_cast<size_t>(set.tableIndex)].segmentValues.size());
    }
  }
  // The grid has values when any cell differs from NODATA, those that polygons assigned too.
  start = fr.clock.monotonicSeconds();
  if (writer.finish(fr, run.structure, st.indicateEmpty, run.gridHasValues)) return true;
  frame::logStep(fr, "wrote " + fr.resultName + (run.gridHasValues ? ", values found" : ", no values found"), start);
  // The tables of TABLE-CREATE appear now that the run has succeeded.
  for (size_t k = 0; k < run.tableFiles.size(); ++k) {
    if (!run.tableFiles[k]) continue;
    const int e = run.tableFiles[k]->commit();
    if (e != 0) {
      return frame::endWithError(
          fr, {" The Table file " + frame::trimmed(run.zav.uses[k].tableName) + " could not be written.",
               " Error number=" + frame::fmtI(e, 6, 6)});
    }
  }
  endStep(run, "writing the grid");
  // Where every value came from: the source grid, the pictures and the run report.
  return writeRunAccount(run);
}

}  // namespace assign
