#include "assign/run.h"
#include "frame/cmdfile.h"
#include "frame/files.h"
#include "frame/pager.h"
#include "frame/startup.h"
#include "frame/text.h"
#include "gdal/gdalroom.h"
#include "grid/gdalgrids.h"
#include "grid/gridsets.h"
#include "grid/writer.h"
#include "frame/format.h"
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

void rewindCommands(frame::Frame& fr) { fr.units.input(fr.commandUnit)->rewind(); }

void errorBlock(frame::Frame& fr, const std::vector<std::string>& message) {
  std::vector<std::string> lines = frame::errorHeading();
  lines.insert(lines.end(), message.begin(), message.end());
  frame::writeErrorUnit(fr, lines);
}

// A command that counts once but is given again: the first line counts, and the listing says
// so, since the user may have meant the other. Searches on from the line just found.
void warnRepeated(frame::Frame& fr, const char* key) {
  std::string again;
  if (!frame::OPDR(fr, key, fr.commandUnit, again, LineMode::CHANGE)) return;
  frame::writeListing(fr, {" ", " WARNING", " *******", " ", std::string(" The command ") + key +
                               " is given more than once; only its first line counts.",
                           " Line not used: " + again});
}

}  // namespace

bool CREATEGRID(Run& run) {
  frame::Frame& fr = run.fr;
  RunSettings& st = run.settings;
  std::string changed, raw, item;
  // 1.
  run.main.values.clear();
  run.gridSets = grid::GridSets();
  // 2. STOREFILE.
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
  // 3. INDICATE-EMPTY.
  st.indicateEmpty = false;
  rewindCommands(fr);
  if (findCommand(fr, "INDICATE-EMPTY", changed, raw)) {
    frame::PARAM(fr, raw, 2, item);
    frame::CASEF(item);
    st.indicateEmpty = item == "YES";
    warnRepeated(fr, "INDICATE-EMPTY");
  }
  // 4., 5. METHOD-PER-SET.
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
  // 6., 7. RUN-METHOD.
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
  // 8. TERVALAGRID lines.
  int lineCount = 0;
  rewindCommands(fr);
  while (findCommand(fr, "TERVALAGRID", changed, raw)) {
    std::string line = frame::upper(raw);
    std::string name, type;
    if (frame::PARAM(fr, line, 4, name, ",", 250) <= 0) {
      errorBlock(fr, {" line=" + line, " ", " No filename found. The program will proceed."});
      continue;
    }
    frame::PARAM(fr, line, 2, type);
    if (type.empty()) type = "BIL";
    const std::string dataName =
        grid::gdalRasterType(type) ? grid::gdalRasterName(name, type) : frame::GUMEXT(name, type);
    if (!frame::fileExists(dataName)) {
      errorBlock(fr, {" line=" + line, " ", " The file does not exist. The program will proceed."});
      continue;
    }
    ++lineCount;
    if (line.size() > 250) line.resize(250);
    if (grid::HANDLETERVALAGRID(fr, run.structure, run.gridSets, st.runMethod, line, lineCount)) return true;
  }
  // 9. POINTFILE lines.
  run.pointSets.clear();
  rewindCommands(fr);
  while (findCommand(fr, "POINTFILE", changed, raw)) {
    std::string line = frame::upper(raw);
    if (line.size() > 250) line.resize(250);
    if (HANDLEPOINTFILE(run, line)) return true;
  }
  // 10. The model files, ZAV-OBJECT blocks and USE-ZAV-OBJECT lines.
  run.zav = zav::ZavState();
  rewindCommands(fr);
  zav::DEFINEZAV(fr, run.zav, fr.commandUnit);
  rewindCommands(fr);
  while (findCommand(fr, "USE-ZAV-OBJECT", changed, raw)) {
    std::string line = frame::upper(raw);
    line = line.substr(0, static_cast<size_t>(frame::CHARL(line)));
    if (line.size() > 250) line.resize(250);
    zav::HANDLEZAVFILE(fr, run.zav, line);
  }
  // 11. The table check.
  if (!run.zav.uses.empty() && checkZavTables(run)) return true;
  // 12. POLYGONFILE lines, as found; each acts on the structure at once.
  rewindCommands(fr);
  while (findCommand(fr, "POLYGONFILE", changed, raw)) {
    std::string line = raw.size() > 250 ? raw.substr(0, 250) : raw;
    if (HANDLEPOLYGONFILE(run, line)) return true;
  }
  // 13.
  if (ASSIGNINFORMATIONTOGRID(run)) return true;
  // The grid has values when any cell differs from NODATA, those that polygons assigned too.
  bool valuesFound = run.valuesFound;
  const float nodata = run.structure.grid.nodata;
  for (size_t k = 0; !valuesFound && k < run.structure.grid.values.size(); ++k) {
    valuesFound = run.structure.grid.values[k] != nodata;
  }
  if (grid::WRITEINFORMATIONTOGRID(fr, run.structure, st.storeType, st.storeName, st.indicateEmpty, valuesFound)) {
    return true;
  }
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
  return false;
}

}  // namespace assign
