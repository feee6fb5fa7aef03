#include "zav/zavobjects.h"

#include <cmath>

#include "frame/cmdfile.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "grid/gridsets.h"
#include "zav/zavfiles.h"

namespace zav {
namespace {

[[noreturn]] void objectFailure(frame::Frame& fr, const std::string& objectId,
                                const std::vector<std::string>& message) {
  std::vector<std::string> lines = {" ***********ERROR", " ZAV-Object: " + objectId};
  lines.insert(lines.end(), message.begin(), message.end());
  frame::stopWithMessage(fr, frame::MessageTo::Listing, lines, 100);
}

[[noreturn]] void checkFailure(frame::Frame& fr, const std::vector<std::string>& lines) {
  frame::stopWithMessage(fr, frame::MessageTo::Listing, lines, 100);
}

}  // namespace

void DEFINEZAV(frame::Frame& fr, ZavState& state, int unit) {
  frame::TextInputUnit* in = fr.units.input(unit);
  in->rewind();
  DECLAREBASICFILES(fr, state, unit, "LGA");
  in->rewind();
  DECLAREBASICFILES(fr, state, unit, "CCO");
  in->rewind();
  DECLAREBASICFILES(fr, state, unit, "MAP");
  in->rewind();
  DECLAREZAVOBJECTS(fr, state, unit);
}

void DECLAREBASICFILES(frame::Frame& fr, ZavState& state, int unit, const std::string& kind) {
  const std::string k = frame::trimmed(kind);
  if (k == "LGA") state.files.lga.clear();
  if (k == "CCO") state.files.cco.clear();
  if (k == "MAP") state.files.map.clear();
  while (NEWFILEFOUND(fr, state, unit, k)) {
  }
}

bool NEWFILEFOUND(frame::Frame& fr, ZavState& state, int unit, const std::string& kind) {
  std::string line, key, id, name;
  while (frame::PLEZEN(fr, unit, line)) {
    frame::CASEF(line);
    if (frame::PARAM(fr, line, 1, key) <= 0) continue;
    if (key == "ZAV-OBJECT") return false;
    if (key != kind) continue;
    fr.units.input(unit)->markLast();
    frame::PARAM(fr, line, 2, id, ",", 100);
    frame::PARAM(fr, line, 3, name, ",", 100);
    if (kind == "LGA") READLGAFILE(fr, state.files, id, name);
    if (kind == "CCO") READCCOFILE(fr, state.files, id, name);
    if (kind == "MAP") READMAPFILE(fr, state.files, id, name);
    return true;
  }
  return false;
}

int GETFILENR(const ZavState& state, const std::string& kind, const std::string& mode, const std::string& value) {
  if (mode != "ID") return -1;
  const std::string want = frame::trimRight(value);
  auto find = [&](const auto& table) {
    for (size_t k = 0; k < table.size(); ++k) {
      if (frame::trimRight(table[k].id) == want) return static_cast<int>(k) + 1;
    }
    return -1;
  };
  if (kind == "LGA") return find(state.files.lga);
  if (kind == "CCO") return find(state.files.cco);
  if (kind == "MAP") return find(state.files.map);
  return -1;
}

void DECLAREZAVOBJECTS(frame::Frame& fr, ZavState& state, int unit) {
  state.objects.clear();
  while (NEWZAVOBJECTFOUND(fr, state, unit)) CHECKZAVOBJECT(fr, state, static_cast<int>(state.objects.size()));
}

bool NEWZAVOBJECTFOUND(frame::Frame& fr, ZavState& state, int unit) {
  std::string line, item;
  // The next ZAV-OBJECT line.
  for (;;) {
    if (!frame::SLEZEN(fr, unit, line, frame::LineMode::CHANGE)) return false;
    if (line.compare(0, 10, "ZAV-OBJECT") == 0) break;
  }
  frame::TextInputUnit* in = fr.units.input(unit);
  in->markLast();
  // Its ID (item 2) and the names of its LGA, CCO and MAP files.
  ZavObject o;
  if (frame::PARAM(fr, line, 2, item, ",", 100) > 0) {
    o.objectId = item;
  } else {
    o.objectId = frame::fmtI(static_cast<long long>(state.objects.size()), 2);
  }
  state.objects.push_back(o);
  ZavObject& r = state.objects.back();
  // The block opens with BEGIN.
  if (!frame::SLEZEN(fr, unit, line, frame::LineMode::CHANGE) || frame::firstItemUpper(fr, line) != "BEGIN") {
    objectFailure(fr, r.objectId, {" No line with BEGIN found."});
  }
  in->markLast();
  // The block's lines up to END.
  while (frame::SLEZEN(fr, unit, line, frame::LineMode::CHANGE)) {
    const std::string key = frame::firstItemUpper(fr, line);
    in->markLast();
    if (key == "LGA" || key == "CCO" || key == "MAP") {
      frame::PARAM(fr, line, 2, item, ",", 100);
      const int nr = GETFILENR(state, key, "ID", item);
      if (nr < 0) objectFailure(fr, r.objectId, {" " + key + " id=" + item + " not given."});
      if (key == "LGA") {
        r.lgaId = item;
        r.lgaNr = nr;
      } else if (key == "CCO") {
        r.ccoId = item;
        r.ccoNr = nr;
      } else {
        r.mapId = item;
        r.mapNr = nr;
      }
    } else if (key == "END:ZAV-OBJECT" || key == "END") {
      return true;
    } else {
      objectFailure(
          fr, r.objectId,
          {" No correct lines in the ZAV-Object block.", "    Correct lines must start with LGA, CCO and MAP.",
           "    The block must close with END or END:ZAV-OBJECT."});
    }
  }
  objectFailure(fr, r.objectId, {" No END or END:ZAV-OBJECT found so the block is not closed."});
}

int GETZAVNR(const ZavState& state, const std::string& mode, const std::string& value) {
  if (mode != "ID") return 0;
  const std::string want = frame::trimmed(value);
  for (size_t k = 0; k < state.objects.size(); ++k) {
    if (frame::trimmed(state.objects[k].objectId) == want) return static_cast<int>(k) + 1;
  }
  return 0;
}

std::string GETIDSZAVOBJECT(frame::Frame& fr, const ZavState& state, int object, const std::string& kind) {
  const ZavObject& o = state.objects[static_cast<size_t>(object - 1)];
  if (kind == "LGA") return o.lgaId;
  if (kind == "CCO") return o.ccoId;
  if (kind == "MAP") return o.mapId;
  if (kind == "ZAV-OBJECT") return o.objectId;
  checkFailure(
      fr, {" ******Error", " Wrong call for GetIdsZAVObject", " Parameter given: " + kind, " WARN Administrator."});
}

void CHECKZAVOBJECT(frame::Frame& fr, ZavState& state, int object) {
  ZavObject& o = state.objects[static_cast<size_t>(object - 1)];
  const int lga = GETFILENR(state, "LGA", "ID", o.lgaId);
  const int cco = GETFILENR(state, "CCO", "ID", o.ccoId);
  const int map = GETFILENR(state, "MAP", "ID", o.mapId);
  // An object needs one file of each kind; without them nothing can be checked or used.
  if (lga < 0 || cco < 0 || map < 0) {
    objectFailure(fr, o.objectId, {" The block must name an LGA, a CCO and a MAP file."});
  }
  // The LGA and the CCO file must have the same numbers of indices N and M.
  if (GETMAXINDEX(state.files, cco, "CCO", "N") != GETMAXINDEX(state.files, lga, "LGA", "N") ||
      GETMAXINDEX(state.files, cco, "CCO", "M") != GETMAXINDEX(state.files, lga, "LGA", "M")) {
    checkFailure(fr, {" ******ERROR", " Information procedure:", " Id of ZAV-object:" + o.objectId,
                      " The CCO file and the LGA file of the ZAV-object", " do not have the same maximum indices.",
                      " Conclusion: not possible to connect them."});
  }
  // 2. Layers: the MAP file's segments are a whole number of the LGA file's layers.
  MapFile& m = state.files.map[static_cast<size_t>(map - 1)];
  const int32_t perLayer = state.files.lga[static_cast<size_t>(lga - 1)].segmentsPerLayer;
  const double r = perLayer > 0 ? static_cast<double>(m.ns) / perLayer : 0.0;
  const double whole = std::trunc(r);
  // No layer at all (or no segments per layer) leaves nothing to read the values of.
  if (!(whole >= 1.0) || std::fabs(r - whole) > 0.5 / r) {
    checkFailure(fr, {" ******ERROR", " Initialize system:", " Id of ZAV-object:" + o.objectId,
                      " The MAP and the LGA file of the ZAV-object", " do not match because of the layers."});
  }
  m.layers = static_cast<int32_t>(whole);
}

void ALLOCATEAZAVOBJECT(ZavState& state) {
  state.uses.emplace_back();
}

void HANDLEZAVFILE(frame::Frame& fr, ZavState& state, const std::string& line) {
  std::string item;
  auto failure = [&](bool plainHeading, const std::vector<std::string>& message,
                     const std::vector<std::string>& after) {
    std::vector<std::string> lines;
    if (plainHeading) {
      lines = {" ERROR", " *****"};
    } else {
      lines = {" ******ERROR"};
    }
    lines.push_back(" ");
    lines.insert(lines.end(), message.begin(), message.end());
    lines.push_back(" ");
    lines.push_back("   Command line: " + line);
    lines.insert(lines.end(), after.begin(), after.end());
    frame::stopWithMessage(fr, frame::MessageTo::ErrorUnit, lines, 100);
  };
  // The object ID (item 2).
  if (frame::PARAM(fr, line, 2, item) <= 0) failure(true, {" No file ID for a ZAV set."}, {});
  // A new use of the object.
  ALLOCATEAZAVOBJECT(state);
  ZavUse& u = state.uses.back();
  u.objectId = item.substr(0, 20);
  // The parameter name (item 3).
  if (frame::PARAM(fr, line, 3, item) <= 0) failure(false, {"    No variable name found for a ZAV object."}, {});
  u.parameterName = item.substr(0, 20);
  // What the values stand for (item 4): CELL (the default) or GRID-POINT.
  frame::PARAM(fr, line, 4, item);
  if (item.empty() || item == "CELL") {
    u.related = UseRelated::Cell;
  } else if (item == "GRID-POINT") {
    u.related = UseRelated::GridPoint;
  } else {
    failure(true, {" No correct assignment of vaules type in a ZAV-OBJECT.", " It must be CELL or GRID-POINT."}, {});
  }
  // The exclusion value (item 5): segments with it give no value.
  u.exclusion = -999.0f;
  frame::UNFORM(fr, line, 5, "R4", u.exclusion);
  // The priority (item 6, unless #VALUES stands there).
  u.priority = 0;
  if (grid::PARWHERE("#VALUES", line) != 6 && frame::PARAM(fr, line, 6, item) > 0)
    frame::UNFORM(fr, line, 6, "I4", u.priority);
  // #VALUES.
  u.numberOfValues = 0;
  frame::NAMEDV(fr, line, "#VALUES", "I4", u.numberOfValues);
  // The table: TABLE-CREATE writes it, TABLE-USE reads it.
  u.tableMode = TableMode::None;
  if (grid::PARWHERE("TABLE-CREATE", line) > 0) {
    u.tableMode = TableMode::Create;
  } else if (grid::PARWHERE("TABLE-USE", line) > 0) {
    u.tableMode = TableMode::Use;
  }
  if (u.tableMode != TableMode::None) {
    int len = 0;
    frame::NAMEDS(fr, line, u.tableMode == TableMode::Create ? "TABLE-CREATE" : "TABLE-USE", u.tableName, len);
    u.tableName = u.tableName.substr(0, 150);
  }
  // The object must be declared.
  const int object = GETZAVNR(state, "ID", u.objectId);
  if (object < 1) failure(false, {"    No correct ID for a ZAV object."}, {});
  u.object = object;
  // The parameter must be one of the object's MAP file.
  const int map = GETFILENR(state, "MAP", "ID", GETIDSZAVOBJECT(fr, state, object, "MAP"));
  u.parameterIndex = -1;
  const int32_t np = GETNROFPARSINMAPFILE(state.files, map);
  for (int32_t i = 1; i <= np && u.parameterIndex < 0; ++i) {
    if (frame::upper(frame::trimmed(GETPARAMETERFROMMAPFILE(state.files, map, i))) == frame::trimmed(u.parameterName)) {
      u.parameterIndex = i;
    }
  }
  if (u.parameterIndex < 0) {
    std::vector<std::string> names = {" Parameters available", " ^^^^^^^^^^^^^^^^^^^^"};
    for (int32_t i = 1; i <= np; ++i)
      names.push_back(" " + frame::trimRight(GETPARAMETERFROMMAPFILE(state.files, map, i)));
    failure(false, {"    No correct Parameter name."}, names);
  }
}

}  // namespace zav
