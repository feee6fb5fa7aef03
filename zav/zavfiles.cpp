#include "zav/zavfiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/littleendian.h"
#include "frame/messages.h"
#include "frame/text.h"
#include "grid/general.h"
#include "zav/zavobjects.h"

namespace zav {
namespace {

[[noreturn]] void fileFailure(frame::Frame& fr, const std::string& kind, const std::string& name,
                              const std::vector<std::string>& why) {
  std::vector<std::string> lines = {" ", " !!! ERROR", " " + kind + "-File: " + frame::trimmed(name)};
  lines.insert(lines.end(), why.begin(), why.end());
  frame::stopWithMessage(fr, frame::MessageTo::ErrorUnit, lines, 100);
}

// Opens a model file and reads its header of `header` bytes (fewer when the file is shorter:
// the caller checks), or stops with the "not found" block; the rest is read straight into the
// record's arrays. The unit is connected to the file's name until the lease ends.
void load(frame::Frame& fr, const std::string& kind, const std::string& name, frame::BinaryInputFile& f,
          std::vector<unsigned char>& head, size_t header, frame::UnitLease& unit) {
  if (f.open(frame::resolveInputName(frame::trimmed(name))) != 0)
    fileFailure(fr, kind, name, {" This file is not found."});
  unit.connect(frame::trimmed(name));
  head.resize(std::min<size_t>(header, static_cast<size_t>(f.size())));
  if (!f.read(head.data(), head.size())) fileFailure(fr, kind, name, {" This file could not be read."});
}

// Little-endian 4-byte items read straight into an array.
template <typename T>
bool readArray(frame::BinaryInputFile& f, std::vector<T>& out, uint64_t count) {
  static_assert(sizeof(T) == 4);
  out.resize(static_cast<size_t>(count));
  if (!f.read(out.data(), 4 * out.size())) return false;
  frame::le::fromLittleInPlace(out.data(), out.size());
  return true;
}

[[noreturn]] void tooShort(frame::Frame& fr, const std::string& kind, const std::string& name, const std::string& what,
                           uint64_t need, uint64_t have) {
  fileFailure(fr, kind, name,
              {" The file is shorter than its header says: " + what + " need " + std::to_string(need) +
               " bytes, the file holds " + std::to_string(have) + "."});
}

}  // namespace

void READLGAFILE(frame::Frame& fr, ZavFiles& files, const std::string& id, const std::string& fileName) {
  files.lga.emplace_back();
  LgaFile& r = files.lga.back();
  r.id = frame::trimmed(id).substr(0, 100);
  r.fileName = frame::trimmed(fileName).substr(0, 100);
  std::vector<unsigned char> head;
  frame::UnitLease unit(fr.units);
  frame::BinaryInputFile file;
  load(fr, "LGA", fileName, file, head, 28, unit);
  frame::le::ByteReader b(head.data(), head.size());
  if (!b.has(28)) tooShort(fr, "LGA", fileName, "the seven header items", 28, file.size());
  r.n = b.i32();
  r.m = b.i32();
  r.item3 = b.i32();
  r.item4 = b.i32();
  for (int32_t& v : r.items5to7) v = b.i32();
  if (r.n < 0 || r.m < 0) {
    fileFailure(
        fr, "LGA", fileName,
        {" The header gives a negative grid size: N=" + std::to_string(r.n) + ", M=" + std::to_string(r.m) + "."});
  }
  const uint64_t cells = static_cast<uint64_t>(r.n) * static_cast<uint64_t>(r.m);
  if (file.remaining() < 4 * cells) {
    tooShort(fr, "LGA", fileName, std::to_string(r.n) + " x " + std::to_string(r.m) + " segment numbers",
             28 + 4 * cells, file.size());
  }
  if (!readArray(file, r.grid, cells)) fileFailure(fr, "LGA", fileName, {" This file could not be read."});
  r.segmentsPerLayer = r.item3;
  int32_t largest = 0;
  for (int32_t v : r.grid) {
    if (v < 0) {
      if (v < r.smallestNegative) r.smallestNegative = v;
      if (v > r.largestNegative) r.largestNegative = v;
    } else if (v > 0) {
      if (v < r.smallestPositive) r.smallestPositive = v;
      if (v > largest) largest = v;
    }
  }
  // A segment number beyond the segments of a layer would index no value.
  if (largest > r.segmentsPerLayer) {
    fileFailure(fr, "LGA", fileName,
                {" It holds segment number " + std::to_string(largest) + ", more than its " +
                 std::to_string(r.segmentsPerLayer) + " segments per layer."});
  }
}

void READCCOFILE(frame::Frame& fr, ZavFiles& files, const std::string& id, const std::string& fileName) {
  files.cco.emplace_back();
  CcoFile& r = files.cco.back();
  r.id = frame::trimmed(id).substr(0, 100);
  r.fileName = frame::trimmed(fileName).substr(0, 100);
  std::vector<unsigned char> head;
  frame::UnitLease unit(fr.units);
  frame::BinaryInputFile file;
  load(fr, "CCO", fileName, file, head, 28, unit);
  frame::le::ByteReader b(head.data(), head.size());
  if (!b.has(28)) tooShort(fr, "CCO", fileName, "the seven header items", 28, file.size());
  r.m = b.i32();
  r.n = b.i32();
  for (int32_t& v : r.items3to5) v = b.i32();
  r.p = b.i32();
  r.item7 = b.i32();
  if (r.n < 0 || r.m < 0 || r.p < 0) {
    fileFailure(fr, "CCO", fileName,
                {" The header gives a negative count: M=" + std::to_string(r.m) + ", N=" + std::to_string(r.n) +
                 ", P=" + std::to_string(r.p) + "."});
  }
  const uint64_t extra = 9 + 2 * static_cast<uint64_t>(r.p);
  const uint64_t points = static_cast<uint64_t>(r.n) * static_cast<uint64_t>(r.m);
  if (file.remaining() < 4 * extra + 8 * points) {
    tooShort(fr, "CCO", fileName,
             std::to_string(extra) + " extra values and " + std::to_string(r.n) + " x " + std::to_string(r.m) +
                 " coordinates",
             28 + 4 * extra + 8 * points, file.size());
  }
  if (!readArray(file, r.extra, extra) || !readArray(file, r.x, points) || !readArray(file, r.y, points)) {
    fileFailure(fr, "CCO", fileName, {" This file could not be read."});
  }
  // A coordinate that is not a number would place a cell nowhere; one beyond any map
  // (1.0E+15) would overflow the single-precision geometry of the cell search.
  for (uint64_t k = 0; k < points; ++k) {
    const bool numbers = std::isfinite(r.x[k]) && std::isfinite(r.y[k]);
    if (!numbers || std::fabs(r.x[k]) > grid::kCoordinateLimit || std::fabs(r.y[k]) > grid::kCoordinateLimit) {
      fileFailure(fr, "CCO", fileName,
                  {" The coordinates of grid point (" + std::to_string(k % static_cast<uint64_t>(r.n) + 1) + "," +
                   std::to_string(k / static_cast<uint64_t>(r.n) + 1) + ")" +
                   (numbers ? " are beyond 1.0E+15." : " are not numbers.")});
    }
  }
  // The extent over the coordinates that are not 0.0.
  bool first = true;
  for (float v : r.x) {
    if (v == 0.0f) continue;
    if (first || v < r.xmin) r.xmin = v;
    if (first || v > r.xmax) r.xmax = v;
    first = false;
  }
  first = true;
  for (float v : r.y) {
    if (v == 0.0f) continue;
    if (first || v < r.ymin) r.ymin = v;
    if (first || v > r.ymax) r.ymax = v;
    first = false;
  }
}

void READMAPFILE(frame::Frame& fr, ZavFiles& files, const std::string& id, const std::string& fileName) {
  files.map.emplace_back();
  MapFile& r = files.map.back();
  r.id = frame::trimmed(id).substr(0, 100);
  r.fileName = frame::trimmed(fileName).substr(0, 100);
  auto f = std::make_shared<frame::BinaryInputFile>();
  if (f->open(frame::resolveInputName(r.fileName)) != 0) fileFailure(fr, "MAP", fileName, {" This file is not found."});
  r.unit = fr.units.FREEFILE(100);
  fr.units.connectName(r.unit, r.fileName);
  unsigned char head[168];
  if (!f->read(head, 168)) tooShort(fr, "MAP", fileName, "the heading, NP and NS", 168, f->size());
  for (int k = 0; k < 4; ++k) r.heading[k] = std::string(reinterpret_cast<const char*>(head) + 40 * k, 40);
  r.np = frame::le::load<int32_t>(head + 160);
  r.ns = frame::le::load<int32_t>(head + 164);
  if (r.np < 0 || r.ns < 0) {
    fileFailure(
        fr, "MAP", fileName,
        {" The header gives a negative count: NP=" + std::to_string(r.np) + ", NS=" + std::to_string(r.ns) + "."});
  }
  const uint64_t namesBytes = 20 * static_cast<uint64_t>(r.np);
  if (f->remaining() < namesBytes) tooShort(fr, "MAP", fileName, "the parameter names", 168 + namesBytes, f->size());
  std::vector<char> names(namesBytes);
  f->read(names.data(), names.size());
  for (int32_t k = 0; k < r.np; ++k) r.names.emplace_back(names.data() + 20 * k, 20);
  r.dataStart = 168 + namesBytes;
  // Complete time blocks: a time stamp and NP x NS values each; a last block cut short by the
  // end of the file does not count.
  const uint64_t block = 4 + 4 * static_cast<uint64_t>(r.np) * static_cast<uint64_t>(r.ns);
  const uint64_t blocks = f->remaining() / block;
  for (uint64_t k = 0; k < blocks; ++k) {
    int32_t stamp = 0;
    if (!f->seek(r.dataStart + k * block) || !frame::le::read(*f, stamp)) {
      fileFailure(fr, "MAP", fileName, {" This file could not be read."});
    }
    r.timeStamps.push_back(stamp);
  }
  r.timeBlocks = static_cast<int32_t>(r.timeStamps.size());
  r.file = f;
}

int32_t GETMAXINDEX(const ZavFiles& files, int fileNr, const std::string& kind, const std::string& index) {
  const std::string key = kind + "-" + index;
  if (fileNr < 1) return -1;
  const size_t k = static_cast<size_t>(fileNr - 1);
  if (key == "LGA-N" && k < files.lga.size()) return files.lga[k].n;
  if (key == "LGA-M" && k < files.lga.size()) return files.lga[k].m;
  if (key == "CCO-N" && k < files.cco.size()) return files.cco[k].n;
  if (key == "CCO-M" && k < files.cco.size()) return files.cco[k].m;
  return -1;
}

int32_t GETSEGMENTNRFORINDICES(const ZavFiles& files, int lgaNr, int32_t n, int32_t m) {
  return files.lga[static_cast<size_t>(lgaNr - 1)].at(n, m);
}

int32_t GETMAXSEGMENTINLGAID(const ZavFiles& files, const std::string& id) {
  const std::string want = frame::trimRight(id);
  for (const auto& r : files.lga) {
    if (frame::trimRight(r.id) == want) return r.segmentsPerLayer;
  }
  return 0;
}

void GETGRIDEXTENT(const ZavFiles& files, float extent[4], int ccoNr) {
  const CcoFile& c = files.cco[static_cast<size_t>(ccoNr - 1)];
  extent[0] = c.xmin;
  extent[1] = c.xmax;
  extent[2] = c.ymin;
  extent[3] = c.ymax;
}

namespace {
// A corner the model leaves out has an X of zero.
bool cornerGiven(float x) {
  return std::fabs(x) > 0.0001f;
}
}  // namespace

bool CELLHASCORNERS(const ZavFiles& files, int ccoNr, int32_t n, int32_t m) {
  const CcoFile& c = files.cco[static_cast<size_t>(ccoNr - 1)];
  return cornerGiven(c.xAt(n, m)) && cornerGiven(c.xAt(n - 1, m)) && cornerGiven(c.xAt(n - 1, m - 1)) &&
         cornerGiven(c.xAt(n, m - 1));
}

CellCorners GETCELLCORNERS(const ZavFiles& files, int ccoNr, int32_t n, int32_t m) {
  const CcoFile& c = files.cco[static_cast<size_t>(ccoNr - 1)];
  CellCorners r;
  const int32_t idx[4][2] = {{n, m}, {n - 1, m}, {n - 1, m - 1}, {n, m - 1}};
  r.valid = true;
  for (int k = 0; k < 4; ++k) {
    r.corners[2 * k] = c.xAt(idx[k][0], idx[k][1]);
    r.corners[2 * k + 1] = c.yAt(idx[k][0], idx[k][1]);
    if (!cornerGiven(r.corners[2 * k])) r.valid = false;
  }
  if (r.valid) r.area = grid::SETPOLYGONAREA(r.corners, 4);
  return r;
}

int32_t GETNROFPARSINMAPFILE(const ZavFiles& files, int mapNr) {
  return files.map[static_cast<size_t>(mapNr - 1)].np;
}

std::string GETPARAMETERFROMMAPFILE(const ZavFiles& files, int mapNr, int i) {
  return files.map[static_cast<size_t>(mapNr - 1)].names[static_cast<size_t>(i - 1)];
}

void READVALUESFROMZAV(frame::Frame& fr, ZavState& state, int object, const std::string& mode,
                       const std::string& parameterName, int32_t timeNumber, int32_t layer, std::vector<float>& out) {
  // The MAP file of the object.
  const int mapNr = GETFILENR(state, "MAP", "ID", GETIDSZAVOBJECT(fr, state, object, "MAP"));
  MapFile& r = state.files.map[static_cast<size_t>(mapNr - 1)];
  (void)mode;  // every call starts from the first block ("START")
  // The time block must be one the file holds.
  if (timeNumber < 1 || timeNumber > r.timeBlocks) {
    frame::stopWithMessage(fr, frame::MessageTo::ErrorUnit,
                           {" ********ERROR", "  For whatever a reason the", "  time number asked for in a",
                            "  MAP file is not available.", " WARN Administrator"},
                           100);
  }
  const uint64_t block = 4 + 4 * static_cast<uint64_t>(r.np) * static_cast<uint64_t>(r.ns);
  std::vector<unsigned char> work(static_cast<size_t>(block));
  if (!r.file->seek(r.dataStart + static_cast<uint64_t>(timeNumber - 1) * block) ||
      !r.file->read(work.data(), work.size())) {
    fileFailure(fr, "MAP", r.fileName, {" This file could not be read."});
  }
  // The parameter by its name among the file's parameters.
  int index = -1;
  const std::string want = frame::trimmed(parameterName);
  for (int32_t i = 0; i < r.np && index < 0; ++i) {
    if (frame::upper(frame::trimmed(r.names[static_cast<size_t>(i)])) == want) index = i;
  }
  // 5. The segments of one layer are those of the object's own LGA file: a MAP file shared
  // by objects with other numbers of segments per layer holds each object's layers alike.
  const int lgaNr = GETFILENR(state, "LGA", "ID", GETIDSZAVOBJECT(fr, state, object, "LGA"));
  const int32_t perLayer = lgaNr > 0 ? state.files.lga[static_cast<size_t>(lgaNr - 1)].segmentsPerLayer : 0;
  const int32_t s = perLayer > 0 && static_cast<int64_t>(layer) * perLayer <= r.ns ? perLayer : 0;
  out.assign(static_cast<size_t>(s), 0.0f);
  if (index < 0) return;
  for (int32_t k = 0; k < s; ++k) {
    const uint64_t seg = static_cast<uint64_t>(layer - 1) * static_cast<uint64_t>(s) + static_cast<uint64_t>(k);
    const uint64_t at = 4 + 4 * (seg * static_cast<uint64_t>(r.np) + static_cast<uint64_t>(index));
    out[static_cast<size_t>(k)] = frame::le::load<float>(work.data() + at);
    // A model value that is not a number would turn the cells it reaches into nothing useful.
    if (!std::isfinite(out[static_cast<size_t>(k)])) {
      fileFailure(fr, "MAP", r.fileName,
                  {" The value of parameter " + frame::trimmed(r.names[static_cast<size_t>(index)]) + " for segment " +
                   std::to_string(seg + 1) + " at time block " + std::to_string(timeNumber) + " is not a number."});
    }
  }
}

}  // namespace zav
