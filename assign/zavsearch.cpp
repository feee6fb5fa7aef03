// The Zav uses in the run: the table check, the preparation before the cell loop and the
// searches that carry the model's values onto the output cells.
#include "assign/zavsearch.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "assign/tablefeed.h"
#include "assign/zavspill.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/oncores.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "grid/bigblocks.h"
#include "grid/general.h"
#include "grid/grids.h"
#include "zav/zavfiles.h"
#include "zav/zavobjects.h"

namespace assign {

using zav::ZavUse;

namespace {

// Bucket of a coordinate along one axis of the index.
int32_t bucketOf(float v, float origin, float size, int32_t count) {
  const double b = std::floor((static_cast<double>(v) - origin) / size);
  if (!(b >= 0)) return 0;
  if (b >= count) return count - 1;
  return static_cast<int32_t>(b);
}

// The scan index of model cell (n, m): the cells row after row from (2, 2).
size_t scanOf(const ZavUse& u, int32_t n, int32_t m) {
  return static_cast<size_t>(n - 2) * static_cast<size_t>(u.m - 1) + static_cast<size_t>(m - 2);
}

}  // namespace

// The table check: which use owns the table file that it writes or reads, and the files opened.
bool checkZavTables(Run& run) {
  frame::Frame& fr = run.fr;
  auto& uses = run.zav.uses;
  const size_t n = uses.size();
  std::vector<bool> opens(n, false);
  for (size_t i = 0; i < n; ++i) {
    ZavUse& u = uses[i];
    u.tableOwner = -1;
    if (i == 0) {
      if (u.tableMode == zav::TableMode::Create || u.tableMode == zav::TableMode::Use) {
        u.tableOwner = 1;
        opens[i] = true;
      }
      continue;
    }
    if (u.tableMode == zav::TableMode::Create) {
      for (size_t j = 0; j < i; ++j) {
        if (uses[j].tableName != u.tableName) continue;
        if (uses[j].tableMode == zav::TableMode::Use) {
          frame::endWithError(fr, {" You use table " + frame::trimmed(u.tableName) + " before it is created."});
          return true;
        }
        if (uses[j].tableMode == zav::TableMode::Create) {
          frame::endWithError(
              fr, {" You already created table " + frame::trimmed(u.tableName), " in a previous USE-ZAV-OBJECT line."});
          return true;
        }
      }
      u.tableOwner = static_cast<int>(i) + 1;
      opens[i] = true;
    } else if (u.tableMode == zav::TableMode::Use) {
      size_t j = 0;
      while (j < i && uses[j].tableName != u.tableName) ++j;
      if (j < i) {
        if (uses[j].related != u.related) {
          frame::endWithError(fr, {" You used table " + frame::trimmed(u.tableName) + " already for",
                                   " a file with a different data related to."});
          return true;
        }
        u.tableOwner = static_cast<int>(j) + 1;
      } else {
        u.tableOwner = static_cast<int>(i) + 1;
        opens[i] = true;
      }
    } else {
      u.tableOwner = static_cast<int>(i) + 1;
    }
  }
  run.tableFiles.clear();
  run.tableFiles.resize(n);
  run.tableReaders.clear();
  run.tableReaders.resize(n);
  for (size_t i = 0; i < n; ++i) {
    ZavUse& u = uses[i];
    u.tableUnit = -1;
    if (!opens[i]) continue;
    u.tableUnit = fr.units.FREEFILE(100);
    const std::string name = frame::trimmed(u.tableName);
    int e = 0;
    if (u.tableMode == zav::TableMode::Create) {
      // Written whole: the table appears under its name only when the run has succeeded.
      auto f = std::make_unique<frame::AtomicOutputFile>();
      e = frame::isDirectory(frame::nativeName(name)) ? EISDIR : f->open(frame::nativeName(name), fr.syncOutputs);
      if (e == 0) run.tableFiles[i] = std::move(f);
    } else {
      auto r = std::make_unique<zav::TableReader>();
      e = r->open(frame::resolveInputName(name));
      if (e == 0) run.tableReaders[i] = std::move(r);
    }
    if (e != 0) {
      frame::endWithError(fr, {" The Table file " + name + " could not be opened.",
                               u.tableMode == zav::TableMode::Create ? " This file must be created (anew)."
                                                                     : " It must be an existing file.",
                               " Error number=" + frame::fmtI(e, 6, 6)});
      return true;
    }
    fr.units.connectName(u.tableUnit, name);
  }
  return false;
}

namespace {

// Fills a bucket index: each item listed in every bucket its box touches, in item order;
// counted first and then placed, so that little but the index itself is allocated. A long list
// of items is split into one run of items per core, each counted and placed by its own core:
// in every bucket the first run's items come first, so the order is the one of one core.
template <typename Box>
void buildBuckets(const ZavUse& u, size_t count, Box box, std::vector<uint32_t>& start, std::vector<uint32_t>& items,
                  int threads) {
  const size_t buckets = static_cast<size_t>(u.bucketsX) * static_cast<size_t>(u.bucketsY);
  const size_t cores = count >= 65536 ? static_cast<size_t>(std::clamp(threads, 1, 2)) : 1;
  auto each = [&](size_t from, size_t to, auto fn) {
    for (size_t k = from; k < to; ++k) {
      float b[4];
      uint32_t item;
      if (!box(k, b, item)) continue;
      const int32_t x0 = bucketOf(b[0], u.bucketOrigin[0], u.bucketSize[0], u.bucketsX);
      const int32_t x1 = bucketOf(b[1], u.bucketOrigin[0], u.bucketSize[0], u.bucketsX);
      const int32_t y0 = bucketOf(b[2], u.bucketOrigin[1], u.bucketSize[1], u.bucketsY);
      const int32_t y1 = bucketOf(b[3], u.bucketOrigin[1], u.bucketSize[1], u.bucketsY);
      for (int32_t by = y0; by <= y1; ++by) {
        for (int32_t bx = x0; bx <= x1; ++bx)
          fn(static_cast<size_t>(by) * static_cast<size_t>(u.bucketsX) + static_cast<size_t>(bx), item);
      }
    }
  };
  auto run = [&](size_t t) { return std::make_pair(count * t / cores, count * (t + 1) / cores); };
  // Per run, its count in each bucket, then where its next item in each bucket goes.
  std::vector<std::vector<uint32_t>> next(cores, std::vector<uint32_t>(buckets, 0));
  frame::onCores(cores, [&](size_t t) {
    const auto [from, to] = run(t);
    each(from, to, [&](size_t bucket, uint32_t) { ++next[t][bucket]; });
  });
  start.assign(buckets + 1, 0);
  for (size_t b = 0; b < buckets; ++b) {
    uint32_t at = start[b];
    for (auto& n : next) {
      const uint32_t c = n[b];
      n[b] = at;
      at += c;
    }
    start[b + 1] = at;
  }
  grid::roomForFill(items, start.back());
  items.assign(start.back(), 0);
  frame::onCores(cores, [&](size_t t) {
    const auto [from, to] = run(t);
    each(from, to, [&](size_t bucket, uint32_t item) { items[next[t][bucket]++] = item; });
  });
}

}  // namespace

namespace {

// The valid model cells of a use in scan order (n outer, m inner), relative to the
// structure's corner, with their boxes. The model's rows are shared among the cores: each
// counts its rows' valid cells, then puts them in their places after those of the rows before.
void collectValidCells(const grid::Structure& str, const zav::ZavState& state, ZavUse& u, int threads) {
  u.cells.clear();
  const size_t scanCount = u.n >= 2 && u.m >= 2 ? static_cast<size_t>(u.n - 1) * static_cast<size_t>(u.m - 1) : 0;
  // Room for every cell at once, on huge pages where the kernel has them, first touched by the
  // cores that fill it.
  grid::roomForFill(u.cells, scanCount);
  grid::roomForFill(u.validScan, scanCount);
  u.validScan.assign(scanCount, -1);
  const int32_t rows = std::max(0, u.n - 1);  // n = 2 .. u.n
  const size_t cores = scanCount >= 65536 ? static_cast<size_t>(std::clamp(threads, 1, 2)) : 1;
  auto rowsOf = [&](size_t t) {
    return std::make_pair(
        2 + static_cast<int32_t>(int64_t{rows} * static_cast<int64_t>(t) / static_cast<int64_t>(cores)),
        2 + static_cast<int32_t>(int64_t{rows} * static_cast<int64_t>(t + 1) / static_cast<int64_t>(cores)));
  };
  std::vector<size_t> start(cores + 1, 0);
  frame::onCores(cores, [&](size_t t) {
    const auto [from, to] = rowsOf(t);
    size_t count = 0;
    for (int32_t n = from; n < to; ++n) {
      for (int32_t m = 2; m <= u.m; ++m) count += zav::CELLHASCORNERS(state.files, u.ccoNr, n, m);
    }
    start[t + 1] = count;
  });
  for (size_t t = 0; t < cores; ++t) start[t + 1] += start[t];
  u.cells.resize(start[cores]);
  frame::onCores(cores, [&](size_t t) {
    const auto [from, to] = rowsOf(t);
    size_t at = start[t];
    for (int32_t n = from; n < to; ++n) {
      for (int32_t m = 2; m <= u.m; ++m) {
        const zav::CellCorners cc = zav::GETCELLCORNERS(state.files, u.ccoNr, n, m);
        if (!cc.valid) continue;
        zav::ZavCell& z = u.cells[at++];
        for (int k = 0; k < 4; ++k) {
          z.corners[2 * k] = str.relX(cc.corners[2 * k]);
          z.corners[2 * k + 1] = str.relY(cc.corners[2 * k + 1]);
        }
        z.xmin = z.xmax = z.corners[0];
        z.ymin = z.ymax = z.corners[1];
        for (int k = 1; k < 4; ++k) {
          z.xmin = std::min(z.xmin, z.corners[2 * k]);
          z.xmax = std::max(z.xmax, z.corners[2 * k]);
          z.ymin = std::min(z.ymin, z.corners[2 * k + 1]);
          z.ymax = std::max(z.ymax, z.corners[2 * k + 1]);
        }
        z.n = n;
        z.m = m;
        z.big = std::max(std::max(-z.xmin, z.xmax), std::max(-z.ymin, z.ymax));
        z.turn = grid::quadTurn(z.corners);
        z.limited = grid::coordinatesLimited(z.corners, 4);
      }
    }
  });
}

// The valid cells sorted ascending by X minimum (USRTWI's order, ties as it leaves them), and
// their X minima for the walk's binary search.
void sortCellsByXmin(ZavUse& u, int threads) {
  auto& scanCells = u.cells;
  std::vector<float> xmins;
  std::vector<int32_t> positions;
  grid::roomForFill(xmins, scanCells.size());
  grid::roomForFill(positions, scanCells.size());
  xmins.resize(scanCells.size());
  positions.resize(scanCells.size());
  for (size_t k = 0; k < scanCells.size(); ++k) {
    xmins[k] = scanCells[k].xmin;
    positions[k] = static_cast<int32_t>(k);
  }
  frame::USRTWI(xmins.data(), static_cast<int64_t>(xmins.size()), positions.data(), threads);
  {
    // Into the sorted order, one cell at a time along the permutation's cycles.
    std::vector<uint8_t> placed(scanCells.size(), 0);
    for (size_t start = 0; start < scanCells.size(); ++start) {
      if (placed[start]) continue;
      zav::ZavCell first = scanCells[start];
      size_t k = start;
      for (;;) {
        placed[k] = 1;
        const size_t from = static_cast<size_t>(positions[k]);
        if (from == start) {
          scanCells[k] = first;
          break;
        }
        scanCells[k] = scanCells[from];
        k = from;
      }
    }
  }
  u.widestCell = 0.0f;
  for (const auto& z : u.cells) u.widestCell = std::max(u.widestCell, z.xmax - z.xmin);
  u.cellXmin = std::move(xmins);
}

// Each scan index's place in the list of valid cells.
void indexValidCells(ZavUse& u) {
  for (size_t k = 0; k < u.cells.size(); ++k) {
    u.validScan[scanOf(u, u.cells[k].n, u.cells[k].m)] = static_cast<int32_t>(k);
  }
}

// The bucket grid over all valid cells' boxes: per bucket the cells a point in it may lie in,
// and for GRID-POINT uses the grid points with a segment.
void buildUseBuckets(const zav::ZavState& state, ZavUse& u, int threads) {
  const auto& scanCells = u.cells;
  float bx0 = u.extent[0], bx1 = u.extent[1], by0 = u.extent[2], by1 = u.extent[3];
  for (const auto& z : scanCells) {
    bx0 = std::min(bx0, z.xmin);
    bx1 = std::max(bx1, z.xmax);
    by0 = std::min(by0, z.ymin);
    by1 = std::max(by1, z.ymax);
  }
  const int32_t side =
      std::max<int32_t>(1, static_cast<int32_t>(std::sqrt(static_cast<double>(scanCells.size()) / 2.0)));
  u.bucketsX = side;
  u.bucketsY = side;
  u.bucketOrigin[0] = bx0;
  u.bucketOrigin[1] = by0;
  u.bucketSize[0] = bx1 > bx0 ? (bx1 - bx0) / static_cast<float>(side) : 1.0f;
  u.bucketSize[1] = by1 > by0 ? (by1 - by0) / static_cast<float>(side) : 1.0f;
  // A cell is listed, by its position in the walk, in every bucket its box touches, widened a
  // little: the point-in-polygon test counts a point on the border, and rounding may put it
  // a hair outside.
  buildBuckets(
      u, u.cells.size(),
      [&](size_t k, float b[4], uint32_t& pos) {
        const auto& z = u.cells[k];
        const float wx = 1e-6f * (std::fabs(z.xmin) + std::fabs(z.xmax)) + 1e-6f * (z.xmax - z.xmin);
        const float wy = 1e-6f * (std::fabs(z.ymin) + std::fabs(z.ymax)) + 1e-6f * (z.ymax - z.ymin);
        b[0] = z.xmin - wx;
        b[1] = z.xmax + wx;
        b[2] = z.ymin - wy;
        b[3] = z.ymax + wy;
        pos = static_cast<uint32_t>(k);
        return true;
      },
      u.walkBucketStart, u.walkBucketItems, threads);
  // The grid points (n, m) of valid cells with a segment, for GRID-POINT uses.
  if (u.related == zav::UseRelated::GridPoint)
    buildBuckets(
        u, scanCells.size(),
        [&](size_t k, float b[4], uint32_t& scan) {
          const auto& z = scanCells[k];
          if (zav::GETSEGMENTNRFORINDICES(state.files, u.lgaNr, z.n, z.m) < 1) return false;
          b[0] = b[1] = z.corners[0];
          b[2] = b[3] = z.corners[1];
          scan = static_cast<uint32_t>(scanOf(u, z.n, z.m));
          return true;
        },
        u.pointBucketStart, u.pointBucketItems, threads);
}

}  // namespace

// The Zav preparation of the cell loop: segment values at the first time block, and per use
// its grid, extent and valid cells (sorted ascending by X minimum for a structure of cells),
// with the indices that find the cell holding a point and the nearest grid point.
void prepareZavUses(Run& run) {
  frame::Frame& fr = run.fr;
  zav::ZavState& state = run.zav;
  for (ZavUse& u : state.uses) {
    const std::string lgaId = zav::GETIDSZAVOBJECT(fr, state, u.object, "LGA");
    u.segmentValues.assign(static_cast<size_t>(std::max(0, zav::GETMAXSEGMENTINLGAID(state.files, lgaId))), 0.0f);
    zav::READVALUESFROMZAV(fr, state, u.object, "START", u.parameterName, 1, 1, u.segmentValues);
  }
  for (ZavUse& u : state.uses) {
    u.ccoNr = zav::GETFILENR(state, "CCO", "ID", zav::GETIDSZAVOBJECT(fr, state, u.object, "CCO"));
    u.lgaNr = zav::GETFILENR(state, "LGA", "ID", zav::GETIDSZAVOBJECT(fr, state, u.object, "LGA"));
    u.mapNr = zav::GETFILENR(state, "MAP", "ID", zav::GETIDSZAVOBJECT(fr, state, u.object, "MAP"));
    u.n = zav::GETMAXINDEX(state.files, u.ccoNr, "CCO", "N");
    u.m = zav::GETMAXINDEX(state.files, u.ccoNr, "CCO", "M");
    zav::GETGRIDEXTENT(state.files, u.extent, u.ccoNr);
    // The searches work relative to the structure's corner, as the cell geometry is.
    const grid::Structure& str = run.structure;
    u.extent[0] = str.relX(u.extent[0]);
    u.extent[1] = str.relX(u.extent[1]);
    u.extent[2] = str.relY(u.extent[2]);
    u.extent[3] = str.relY(u.extent[3]);
    // A use that reads its cells' segments from a table never searches the model: it needs
    // neither the model's cells nor their indexes.
    if (u.tableMode == zav::TableMode::Use) continue;
    // The valid cells in scan order, then sorted by X minimum for the walk over the cells that
    // meet a structure cell, and the buckets that find them. A structure of middles only looks
    // for the cell that holds a point, through the buckets: its cells stay in scan order.
    const int threads = std::max(1, fr.cores());
    collectValidCells(str, state, u, threads);
    if (str.grid.cellValues()) sortCellsByXmin(u, threads);
    indexValidCells(u);
    u.scanSegment.clear();
    if (!str.grid.cellValues() && u.related == zav::UseRelated::Cell && threads >= 2) {
      u.scanSegment.assign(u.validScan.size(), 0);
      for (const zav::ZavCell& z : u.cells)
        u.scanSegment[scanOf(u, z.n, z.m)] = zav::GETSEGMENTNRFORINDICES(state.files, u.lgaNr, z.n, z.m);
    }
    buildUseBuckets(state, u, threads);
  }
}

namespace {

// Whether model cell (n, m) holds the point: a valid cell whose corners contain it.
bool holds(const Run& run, const ZavUse& u, int32_t n, int32_t m, const float p[2]) {
  (void)run;
  if (n < 2 || n > u.n || m < 2 || m > u.m) return false;
  const int32_t k = u.validScan[scanOf(u, n, m)];
  if (k < 0) return false;
  // The corners as GETCELLCORNERS gives them, kept from the preparation.
  return grid::pointInQuad(p, u.cells[static_cast<size_t>(k)].corners);
}

}  // namespace

// GETCELL: the model cell that holds the point: the hinted cell, else one of its eight
// neighbours, else the first in scan order; the hint then holds the cell found.
bool GETCELL(const Run& run, const ZavUse& u, const float p[2], ZavCellState& h) {
  if (h.hintFound) {
    if (holds(run, u, h.hintN, h.hintM, p)) return true;
    h.hintFound = false;
  }
  for (int32_t n = h.hintN - 1; n <= h.hintN + 1; ++n) {
    for (int32_t m = h.hintM - 1; m <= h.hintM + 1; ++m) {
      if (n == h.hintN && m == h.hintM) continue;
      if (holds(run, u, n, m, p)) {
        h.hintN = n;
        h.hintM = m;
        h.hintFound = true;
        return true;
      }
    }
  }
  // The first in scan order among the cells listed where the point lies.
  if (u.bucketsX == 0 || u.walkBucketStart.empty()) return false;
  const size_t b = static_cast<size_t>(bucketOf(p[1], u.bucketOrigin[1], u.bucketSize[1], u.bucketsY)) *
                       static_cast<size_t>(u.bucketsX) +
                   static_cast<size_t>(bucketOf(p[0], u.bucketOrigin[0], u.bucketSize[0], u.bucketsX));
  // The bucket's cells in scan order (n outer, m inner).
  uint32_t best = UINT32_MAX;
  for (uint32_t k = u.walkBucketStart[b]; k < u.walkBucketStart[b + 1]; ++k) {
    const zav::ZavCell& z = u.cells[u.walkBucketItems[k]];
    const uint32_t scan = static_cast<uint32_t>(scanOf(u, z.n, z.m));
    if (scan < best && grid::pointInQuad(p, z.corners)) best = scan;
  }
  if (best != UINT32_MAX) {
    const int32_t n = static_cast<int32_t>(best / static_cast<uint32_t>(u.m - 1)) + 2;
    const int32_t m = static_cast<int32_t>(best % static_cast<uint32_t>(u.m - 1)) + 2;
    {
      h.hintN = n;
      h.hintM = m;
      h.hintFound = true;
      return true;
    }
  }
  return false;
}

namespace {

bool inExtent(const ZavUse& u, const float p[2]) {
  // Strictly within the box every cross product has the box's sense (or is too small to
  // count): inside, as the general test finds.
  if (p[0] > u.extent[0] && p[0] < u.extent[1] && p[1] > u.extent[2] && p[1] < u.extent[3]) return true;
  const float box[8] = {u.extent[0], u.extent[2], u.extent[1], u.extent[2],
                        u.extent[1], u.extent[3], u.extent[0], u.extent[3]};
  return grid::POINTINPOLYGON(p, box, 4);
}

// The segment of the grid point nearest to p among the valid cells with a segment; on equal
// distances the first in scan order. The buckets are searched in growing rings until no
// nearer point can be left.
int32_t nearestGridPoint(const Run& run, const ZavUse& u, const float p[2]) {
  if (u.pointBucketStart.empty() || u.pointBucketItems.empty()) return -1;
  const int32_t cx = bucketOf(p[0], u.bucketOrigin[0], u.bucketSize[0], u.bucketsX);
  const int32_t cy = bucketOf(p[1], u.bucketOrigin[1], u.bucketSize[1], u.bucketsY);
  bool any = false;
  float best = 0.0f;
  uint32_t bestScan = 0;
  const zav::CcoFile& c = run.zav.files.cco[static_cast<size_t>(u.ccoNr - 1)];
  for (int32_t ring = 0;; ++ring) {
    for (int32_t by = cy - ring; by <= cy + ring; ++by) {
      for (int32_t bx = cx - ring; bx <= cx + ring; ++bx) {
        if (std::max(std::abs(bx - cx), std::abs(by - cy)) != ring) continue;
        if (bx < 0 || by < 0 || bx >= u.bucketsX || by >= u.bucketsY) continue;
        const size_t b = static_cast<size_t>(by) * static_cast<size_t>(u.bucketsX) + static_cast<size_t>(bx);
        for (uint32_t k = u.pointBucketStart[b]; k < u.pointBucketStart[b + 1]; ++k) {
          const uint32_t scan = u.pointBucketItems[k];
          const int32_t n = static_cast<int32_t>(scan / static_cast<uint32_t>(u.m - 1)) + 2;
          const int32_t m = static_cast<int32_t>(scan % static_cast<uint32_t>(u.m - 1)) + 2;
          const float q[2] = {run.structure.relX(c.xAt(n, m)), run.structure.relY(c.yAt(n, m))};
          const float d = grid::DISTANCE(p, q);
          if (!any || d < best || (d == best && scan < bestScan)) {
            best = d;
            bestScan = scan;
            any = true;
          }
        }
      }
    }
    // Points outside the rings searched lie at least this far away.
    const double left =
        (static_cast<double>(p[0]) - u.bucketOrigin[0]) - (cx - ring) * static_cast<double>(u.bucketSize[0]);
    const double right =
        (cx + ring + 1) * static_cast<double>(u.bucketSize[0]) - (static_cast<double>(p[0]) - u.bucketOrigin[0]);
    const double down =
        (static_cast<double>(p[1]) - u.bucketOrigin[1]) - (cy - ring) * static_cast<double>(u.bucketSize[1]);
    const double up =
        (cy + ring + 1) * static_cast<double>(u.bucketSize[1]) - (static_cast<double>(p[1]) - u.bucketOrigin[1]);
    const double reach = std::min(std::min(left, right), std::min(down, up));
    const bool allSearched =
        cx - ring <= 0 && cy - ring <= 0 && cx + ring >= u.bucketsX - 1 && cy + ring >= u.bucketsY - 1;
    if (allSearched || (any && best * (1.0 + 1e-5) + 1e-6 < reach)) break;
  }
  if (!any) return -1;
  const int32_t n = static_cast<int32_t>(bestScan / static_cast<uint32_t>(u.m - 1)) + 2;
  const int32_t m = static_cast<int32_t>(bestScan % static_cast<uint32_t>(u.m - 1)) + 2;
  return zav::GETSEGMENTNRFORINDICES(run.zav.files, u.lgaNr, n, m);
}

std::string tableLine(int32_t column, int32_t row, int32_t segment) {
  return frame::fmtI(column, 5) + "," + frame::fmtI(row, 5) + "," + frame::fmtI(segment, 9);
}

// The next table line of a TABLE-USE use: column, row, segment and, when asked, the area.
// False at the end of the table; a line not of the written form is a fatal finding.
bool readTableLine(const Run& run, int use, ZavCellState& st, bool withArea) {
  std::string& l = st.line;
  TableItems items;
  bool ok;
  size_t number;
  if (static_cast<size_t>(use) < run.tableFeeds.size() && run.tableFeeds[static_cast<size_t>(use)]) {
    // Read ahead on threads of its own.
    if (!run.tableFeeds[static_cast<size_t>(use)]->next(items, ok, l, number)) return false;
  } else {
    zav::TableReader& reader = *run.tableReaders[static_cast<size_t>(use)];
    do {
      if (!reader.next(l)) return false;
    } while (blankTableLine(l));
    ok = parseTableLine(l, withArea, items);
    number = reader.lineNumber();
  }
  if (!ok) {
    const ZavUse& u = run.zav.uses[static_cast<size_t>(use)];
    throw frame::Failure::errorFlag(
        {" ", " ERROR", " *****", " ",
         " The Table file " + frame::trimmed(u.tableName) + " has a line that is not of the written form",
         " (line " + std::to_string(number) + "): " + l});
  }
  st.kept = true;
  st.keptColumn = items.column;
  st.keptRow = items.row;
  st.keptSegment = items.segment;
  st.keptArea = items.area;
  return true;
}

// TABLE-CREATE lines go to the table file, or to the column's buffer in a parallel pass.
void writeTable(const Run& run, Worker& w, int use, const std::string& text) {
  if (w.column) {
    w.column->out[static_cast<size_t>(use)] += text;
  } else {
    run.tableFiles[static_cast<size_t>(use)]->write(text.data(), text.size());
  }
}

ZavCellState& stateOf(Worker& w, int use, size_t uses) {
  if (w.zav.size() < uses) w.zav.resize(uses);
  return w.zav[static_cast<size_t>(use)];
}

}  // namespace

void SEARCHFORMIDDLEINZAV(const Run& run, Worker& w, int use, int32_t i, int32_t j, bool& first) {
  const ZavUse& u = run.zav.uses[static_cast<size_t>(use)];
  ZavCellState& st = stateOf(w, use, run.zav.uses.size());
  const int owner = u.tableOwner - 1;
  int32_t segment = -1;
  bool found = false;
  if (owner != use && owner >= 0) {
    // The table is shared: the owner has found this cell's segment already.
    const ZavCellState& o = w.zav[static_cast<size_t>(owner)];
    found = o.found;
    segment = o.pieces.empty() ? -1 : o.pieces.front().first;
  } else if (run.zavGiven) {
    // Found by the column pass before the cell loop.
    const auto p = run.zavGiven->at(use, i, j);
    found = !p.empty();
    segment = found ? p.front().first : -1;
  } else if (u.tableMode == zav::TableMode::Use && w.column) {
    found = w.column->tableFound[static_cast<size_t>(use)][static_cast<size_t>(j - 1)] != 0;
    segment = w.column->tableSegment[static_cast<size_t>(use)][static_cast<size_t>(j - 1)];
  } else if (u.tableMode == zav::TableMode::Use) {
    // 1. From the table, read in the order it was written.
    if (st.kept || readTableLine(run, use, st, false)) {
      if (st.keptColumn == i && st.keptRow == j) {
        st.kept = false;
        found = true;
        segment = st.keptSegment;
      }
    }
  } else {
    // 2., 3. The cell that holds the middle: searched here, or found by the ordered pass.
    const float* middle = w.cell.middle;
    bool holding, segmentKnown = false;
    if (w.column) {
      const int32_t scan = w.column->found[static_cast<size_t>(use)][static_cast<size_t>(j - 1)];
      holding = scan >= 0;
      if (holding && !u.scanSegment.empty()) {
        // The segment straight from the cell's scan index (a worker's hint is not searched
        // from, so the indices are not needed).
        segment = u.scanSegment[static_cast<size_t>(scan)];
        segmentKnown = true;
      } else if (holding) {
        st.hintN = scan / (u.m - 1) + 2;
        st.hintM = scan % (u.m - 1) + 2;
      }
    } else {
      holding = inExtent(u, middle) && GETCELL(run, u, middle, st);
    }
    if (holding) {
      found = true;
      // The segment of the model cell that holds the middle, or of its nearest grid point.
      if (u.related == zav::UseRelated::Cell) {
        if (!segmentKnown) segment = zav::GETSEGMENTNRFORINDICES(run.zav.files, u.lgaNr, st.hintN, st.hintM);
        if (segment < 1) segment = -1;
      } else {
        segment = nearestGridPoint(run, u, middle);
      }
      if (u.tableMode == zav::TableMode::Create)
        writeTable(run, w, use, tableLine(i, j, segment < 1 ? -1 : segment) + "\n");
    }
  }
  st.found = found;
  st.pieces.clear();
  if (found) st.pieces.push_back({segment, 0.0f});
  ValueRecord rec;
  if (found && segmentRecord(u, segment, rec)) ADDAVALUE(w.values, rec, first);
}

namespace {

// The model cells of the walk from position k that meet the X range x0..x1, in walk order with
// their Y ranges, from the buckets the range meets in X and by0..by1 in Y (the others cannot
// meet the range).
// Made again only when the range or the buckets change: the rows of a column within one
// bucket walk the same list.
void listColumnWalk(Worker& w, const ZavUse& u, size_t k, float x0, float x1, int32_t by0, int32_t by1,
                    ZavCellState& st) {
  if (st.columnX0 == x0 && st.columnX1 == x1 && st.columnFrom == k && st.columnBy0 == by0 && st.columnBy1 == by1)
    return;
  st.columnX0 = x0;
  st.columnX1 = x1;
  st.columnFrom = k;
  st.columnBy0 = by0;
  st.columnBy1 = by1;
  if (!(st.bucketX0 == x0 && st.bucketX1 == x1)) {
    st.walkBx0 = bucketOf(x0, u.bucketOrigin[0], u.bucketSize[0], u.bucketsX);
    st.walkBx1 = bucketOf(x1, u.bucketOrigin[0], u.bucketSize[0], u.bucketsX);
    st.bucketX0 = x0;
    st.bucketX1 = x1;
  }
  const int32_t bx0 = st.walkBx0, bx1 = st.walkBx1;
  auto bucket = [&](int32_t bx, int32_t by) {
    const size_t b = static_cast<size_t>(by) * static_cast<size_t>(u.bucketsX) + static_cast<size_t>(bx);
    return std::span<const uint32_t>(u.walkBucketItems.data() + u.walkBucketStart[b],
                                     u.walkBucketStart[b + 1] - u.walkBucketStart[b]);
  };
  // A bucket lists its cells once each and in walk order: a cell within one bucket (most are)
  // walks that list as it stands; the lists of several buckets are joined in walk order.
  std::span<const uint32_t> cells;
  if (bx0 == bx1 && by0 == by1) {
    cells = bucket(bx0, by0);
  } else {
    auto& walk = w.zavWalk;
    auto& merged = w.zavMerge;
    walk.clear();
    for (int32_t by = by0; by <= by1; ++by) {
      for (int32_t bx = bx0; bx <= bx1; ++bx) {
        const auto items = bucket(bx, by);
        merged.resize(walk.size() + items.size());
        std::merge(walk.begin(), walk.end(), items.begin(), items.end(), merged.begin());
        walk.swap(merged);
      }
    }
    walk.erase(std::unique(walk.begin(), walk.end()), walk.end());
    cells = walk;
  }
  st.columnWalk.clear();
  for (uint32_t pos : cells) {
    if (pos < k) continue;  // before the binary search's start: no overlap in X
    const zav::ZavCell& z = u.cells[pos];
    if (!(z.xmin < x1)) break;
    if (!(z.xmax > x0)) continue;
    st.columnWalk.push_back({pos, z.ymin, z.ymax});
  }
}

// The CELL walk in X minimum order from position k, over the model cells whose boxes meet the
// output cell (the others give no piece, so skipping them changes nothing): each clipped to
// the cell, walking on until the pieces cover more than 99.99 per cent.
void clipModelCells(const Run& run, Worker& w, const ZavUse& u, size_t k, int32_t j, ZavCellState& st) {
  const float* cell = w.cell.corners;
  const float x0 = cell[0], x1 = cell[4], y0 = cell[1], y1 = cell[5];
  if (st.rowBuckets.size() <= static_cast<size_t>(j)) st.rowBuckets.resize(static_cast<size_t>(j) + 1);
  ZavCellState::RowBuckets& row = st.rowBuckets[static_cast<size_t>(j)];
  if (!(row.y0 == y0 && row.y1 == y1)) {
    row.by0 = bucketOf(y0, u.bucketOrigin[1], u.bucketSize[1], u.bucketsY);
    row.by1 = bucketOf(y1, u.bucketOrigin[1], u.bucketSize[1], u.bucketsY);
    row.y0 = y0;
    row.y1 = y1;
  }
  listColumnWalk(w, u, k, x0, x1, row.by0, row.by1, st);
  const float cross =
      (cell[2] - cell[0]) * (w.cell.middle[1] - cell[1]) - (cell[3] - cell[1]) * (w.cell.middle[0] - cell[0]);
  const float s = cross >= 0.0f ? 1.0f : -1.0f;
  const float cellArea = grid::SETPOLYGONAREA(cell, 4);
  w.intersects.overlapTotal = 0.0f;
  w.intersects.pieces.clear();
  bool storeFirst = true;
  // A model cell plainly apart from the cell gives nothing, one plainly around it the cell's
  // own corners: their area, when the corners' order cannot change it (found at the first).
  std::optional<float> insideArea;
  const grid::AxisCell axis = grid::axisCell(cell, s);
  int8_t axisClip = -1;
  for (const ZavCellState::WalkCell& c : st.columnWalk) {
    if (c.ymax <= y0 || c.ymin >= y1) continue;  // the clipping's box test would give nothing
    const zav::ZavCell& z = u.cells[c.pos];
    const grid::QuadOnCell place = grid::placeQuad(z.corners, z.turn, z.big, axis);
    if (place == grid::QuadOnCell::Apart) continue;
    if (place == grid::QuadOnCell::CellInside && !insideArea) insideArea = grid::cornerArea(cell);
    const size_t before = w.intersects.pieces.size();
    const float segment = static_cast<float>(zav::GETSEGMENTNRFORINDICES(run.zav.files, u.lgaNr, z.n, z.m));
    if (place == grid::QuadOnCell::CellInside && !std::isnan(*insideArea)) {
      addPiece(w, storeFirst, *insideArea, segment);
    } else {
      // The model cell's box meets the cell's (the walk's tests): a cell parallel to the axes
      // and a model cell of plain coordinates go straight to the passes.
      if (axisClip < 0) axisClip = grid::axisClipCell(cell, s) ? 1 : 0;
      if (axisClip == 1 && z.limited) {
        w.clipper.CLIPQUADINAXISCELL(cell, z.corners, s);
      } else {
        w.clipper.CLIPPOLYGON(cell, z.corners, 4, s);
      }
      ADDINTERSECT(w, storeFirst, segment);
    }
    if (w.intersects.pieces.size() > before && coversTheCell(w.intersects.overlapTotal, cellArea)) break;
  }
  for (const auto& [area, segment] : w.intersects.pieces) st.pieces.push_back({static_cast<int32_t>(segment), area});
  w.intersects.pieces.clear();
}

// The values of the pieces found: those with a segment whose value is not the exclusion value,
// averaged per set or each a record of its own.
void addPieceValues(const Run& run, Worker& w, const ZavUse& u, const ZavCellState& st, bool cellUse, bool& first) {
  double sum = 0.0, areaSum = 0.0;
  int64_t count = 0;
  ValueRecord rec;
  rec.distance = 0.0f;
  rec.related = Related::Cell;
  rec.priority = u.priority;
  auto& valued = w.zavValued;
  valued.clear();
  for (const auto& [segment, area] : st.pieces) {
    if (segment < 1 || static_cast<size_t>(segment) > u.segmentValues.size()) continue;
    const float v = u.segmentValues[static_cast<size_t>(segment - 1)];
    if (!(std::fabs(v - u.exclusion) > 0.0001f)) continue;
    valued.push_back({v, area});
    ++count;
  }
  // A use gives values when at least max(#VALUES, 1) valued pieces were found.
  if (count < std::max<int64_t>(1, u.numberOfValues)) return;
  if (run.settings.perSetAverage) {
    for (const auto& [v, a] : valued) {
      sum += cellUse ? static_cast<double>(v) * a : v;
      areaSum += cellUse ? a : 1.0;
    }
    rec.value = static_cast<float>(sum / areaSum);
    rec.weight = 1.0f;
    ADDAVALUE(w.values, rec, first);
    return;
  }
  for (const auto& [v, a] : valued) {
    rec.value = v;
    rec.weight = cellUse ? a : 1.0f;
    ADDAVALUE(w.values, rec, first);
  }
}

}  // namespace

void SEARCHFORCELLINZAV(const Run& run, Worker& w, int use, int32_t i, int32_t j, bool& first) {
  const ZavUse& u = run.zav.uses[static_cast<size_t>(use)];
  ZavCellState& st = stateOf(w, use, run.zav.uses.size());
  const int owner = u.tableOwner - 1;
  const bool cellUse = u.related == zav::UseRelated::Cell;
  st.pieces.clear();
  st.found = false;
  const float* cell = w.cell.corners;
  if (owner != use && owner >= 0) {
    st.pieces = w.zav[static_cast<size_t>(owner)].pieces;
  } else if (run.zavGiven) {
    const auto p = run.zavGiven->at(use, i, j);
    st.pieces.assign(p.begin(), p.end());
  } else if (u.tableMode == zav::TableMode::Use && w.column) {
    const auto& starts = w.column->pieceStart[static_cast<size_t>(use)];
    const auto& all = w.column->pieces[static_cast<size_t>(use)];
    st.pieces.assign(all.begin() + starts[static_cast<size_t>(j - 1)], all.begin() + starts[static_cast<size_t>(j)]);
  } else if (u.tableMode == zav::TableMode::Use) {
    // 1. The pieces of this cell from the table.
    while (st.kept || readTableLine(run, use, st, cellUse)) {
      if (st.keptColumn != i || st.keptRow != j) break;
      st.kept = false;
      if (st.keptSegment >= 0) st.pieces.push_back({st.keptSegment, cellUse ? st.keptArea : 0.0f});
    }
  } else {
    // 2. A corner of the cell in the grid's extent.
    bool inside = false;
    for (int k = 0; k < 4 && !inside; ++k) inside = inExtent(u, cell + 2 * k);
    if (!inside) return;
    // 3. The model cells whose X range overlaps the cell's: from the binary search on X
    // minimum, less the widest cell, up to the cell's largest x.
    const float x0 = cell[0], x1 = cell[4];
    if (!(st.walkX0 == x0)) {
      const double from = static_cast<double>(x0) - u.widestCell - 1e-3 * u.widestCell - 1e-6 * std::fabs(x0);
      st.walkFrom = static_cast<size_t>(
          std::lower_bound(u.cellXmin.begin(), u.cellXmin.end(), static_cast<float>(from)) - u.cellXmin.begin());
      st.walkX0 = x0;
    }
    size_t k = st.walkFrom;
    if (!cellUse) {
      for (; k < u.cells.size() && u.cells[k].xmin < x1; ++k) {
        const zav::ZavCell& z = u.cells[k];
        if (!(z.xmax > x0)) continue;
        if (grid::POINTINPOLYGON(z.corners, cell, 4)) {
          st.pieces.push_back({zav::GETSEGMENTNRFORINDICES(run.zav.files, u.lgaNr, z.n, z.m), 0.0f});
        }
      }
    } else {
      clipModelCells(run, w, u, k, j, st);
    }
    // TABLE-CREATE: the cell's line of the table, with the segments and areas found.
    if (u.tableMode == zav::TableMode::Create) {
      std::string text;
      if (st.pieces.empty()) {
        text = tableLine(i, j, -1) + "\n";
      } else {
        for (const auto& [segment, area] : st.pieces) {
          text += tableLine(i, j, segment);
          if (cellUse) text += "," + frame::fmtE(area, 14, 8);
          text += "\n";
        }
      }
      writeTable(run, w, use, text);
    }
  }
  // 5. The values of the pieces.
  addPieceValues(run, w, u, st, cellUse, first);
}

namespace {

// Whether the structure's cell (i, j) is to be computed: from the column's mask where the
// structure is not held whole, else from the structure's own.
bool cellToCompute(const grid::Structure& st, const uint8_t* mask, int32_t i, int32_t j) {
  return mask ? mask[j - 1] != 0 : st.computes(st.grid.index(i, j));
}

// The scan index of the model cell that holds the middle (i, j), searched from the hint in h
// (which then holds it), or -1 when none does.
int32_t middleHolder(const Run& run, const ZavUse& u, int32_t i, int32_t j, ZavCellState& h) {
  const float p[2] = {run.structure.middle(i), run.structure.middle(j)};
  if (!inExtent(u, p) || !GETCELL(run, u, p, h)) return -1;
  return static_cast<int32_t>(scanOf(u, h.hintN, h.hintM));
}

// The uses searched ahead: from the hint the ordered pass brings, the column's rows are
// searched again until one finds the cell the search ahead found. Both hints then hold that
// cell, so every row after it finds what the search ahead found, and the column ends with its
// hint. From a fresh hint the search ahead is the pass itself.
void mendSearchedAhead(const Run& run, int32_t i, ZavColumn& out, std::vector<ZavCellState>& s, const uint8_t* mask) {
  const grid::Structure& st = run.structure;
  const int32_t nr = st.grid.nrows;
  for (size_t k = 0; k < run.zav.uses.size(); ++k) {
    if (!searchableAhead(run, k)) continue;
    const ZavUse& u = run.zav.uses[k];
    ZavCellState& h = s[k];
    bool same = h.hintN == 0 && h.hintM == 0 && !h.hintFound;
    for (int32_t j = 1; j <= nr && !same; ++j) {
      if (!cellToCompute(st, mask, i, j)) continue;
      const int32_t scan = middleHolder(run, u, i, j, h);
      int32_t& ahead = out.found[k][static_cast<size_t>(j - 1)];
      same = scan >= 0 && scan == ahead;
      ahead = scan;
    }
    if (same) {
      h.hintN = out.aheadEnd[k].n;
      h.hintM = out.aheadEnd[k].m;
      h.hintFound = out.aheadEnd[k].found;
    }
  }
}

}  // namespace

void orderedZavColumn(const Run& run, int32_t i, ZavColumn& out, std::vector<ZavCellState>& s, const uint8_t* mask) {
  const grid::Structure& st = run.structure;
  const int32_t nr = st.grid.nrows;
  const size_t uses = run.zav.uses.size();
  const bool cellStructure = st.grid.cellValues();
  if (s.size() < uses) s.resize(uses);
  out.column = i;
  out.found.resize(uses);
  out.tableFound.resize(uses);
  out.tableSegment.resize(uses);
  out.pieceStart.resize(uses);
  out.pieces.resize(uses);
  out.out.assign(uses, std::string());
  // Each use's part of the column, as the workers read it: what the table gives, or the cells
  // that hold the middles; the uses with none of them take no turn at the rows.
  std::vector<size_t>& rowUses = out.rowUses;
  rowUses.clear();
  for (size_t k = 0; k < uses; ++k) {
    const ZavUse& u = run.zav.uses[k];
    const bool shared = sharesTable(u, k);
    if (u.tableMode == zav::TableMode::Use && !shared) {
      if (cellStructure) {
        out.pieceStart[k].assign(static_cast<size_t>(nr) + 1, 0);
        out.pieces[k].clear();
      } else {
        out.tableFound[k].assign(static_cast<size_t>(nr), 0);
        out.tableSegment[k].assign(static_cast<size_t>(nr), -1);
      }
      rowUses.push_back(k);
    } else if (searchableAhead(run, k) && !out.searchedAhead) {
      out.found[k].assign(static_cast<size_t>(nr), -1);
      rowUses.push_back(k);
    }
  }
  if (out.searchedAhead) mendSearchedAhead(run, i, out, s, mask);
  for (int32_t j = 1; j <= nr && !rowUses.empty(); ++j) {
    out.rowsOrdered = j - 1;
    const bool active = cellToCompute(st, mask, i, j);
    for (const size_t k : rowUses) {
      const ZavUse& u = run.zav.uses[k];
      ZavCellState& h = s[k];
      if (u.tableMode != zav::TableMode::Use) {
        if (active) out.found[k][static_cast<size_t>(j - 1)] = middleHolder(run, u, i, j, h);
      } else if (!cellStructure) {
        if (active && (h.kept || readTableLine(run, static_cast<int>(k), h, false))) {
          if (h.keptColumn == i && h.keptRow == j) {
            h.kept = false;
            out.tableFound[k][static_cast<size_t>(j - 1)] = 1;
            out.tableSegment[k][static_cast<size_t>(j - 1)] = h.keptSegment;
          }
        }
      } else {
        auto& starts = out.pieceStart[k];
        starts[static_cast<size_t>(j)] = starts[static_cast<size_t>(j - 1)];
        const bool cellUse = u.related == zav::UseRelated::Cell;
        while (active && (h.kept || readTableLine(run, static_cast<int>(k), h, cellUse))) {
          if (h.keptColumn != i || h.keptRow != j) break;
          h.kept = false;
          if (h.keptSegment >= 0) {
            out.pieces[k].push_back({h.keptSegment, cellUse ? h.keptArea : 0.0f});
            ++starts[static_cast<size_t>(j)];
          }
        }
      }
    }
  }
  out.rowsOrdered = nr;
}

bool searchableAhead(const Run& run, size_t use) {
  const ZavUse& u = run.zav.uses[use];
  const bool shared = sharesTable(u, use);
  return !run.structure.grid.cellValues() && u.tableMode != zav::TableMode::Use && !shared;
}

void searchColumnAhead(const Run& run, int32_t i, ZavColumn& out, const uint8_t* mask) {
  const grid::Structure& st = run.structure;
  const int32_t nr = st.grid.nrows;
  const size_t uses = run.zav.uses.size();
  out.found.resize(uses);
  out.aheadEnd.assign(uses, {});
  for (size_t k = 0; k < uses; ++k) {
    if (!searchableAhead(run, k)) continue;
    const ZavUse& u = run.zav.uses[k];
    auto& found = out.found[k];
    found.assign(static_cast<size_t>(nr), -1);
    ZavCellState h;
    // The hinted cell's corners while the hint holds a cell: most middles lie in the cell of
    // the middle below, and this asks it as GETCELL would first, without finding it again.
    const float* hinted = nullptr;
    int32_t hintedScan = -1;
    float p[2] = {st.middle(i), 0.0f};
    const size_t stride = static_cast<size_t>(st.grid.ncols);
    size_t at = mask ? 0 : st.grid.index(i, 1);
    for (int32_t j = 1; j <= nr; ++j, at += stride) {
      if (!(mask ? mask[j - 1] != 0 : st.computes(at))) continue;
      p[1] = st.middle(j);
      if (!inExtent(u, p)) continue;
      int32_t& holder = found[static_cast<size_t>(j - 1)];
      if (hinted && grid::pointInQuad(p, hinted)) {
        holder = hintedScan;
        continue;
      }
      // GETCELL without asking the hinted cell again.
      h.hintFound = false;
      if (!GETCELL(run, u, p, h)) {
        hinted = nullptr;
        continue;
      }
      hintedScan = static_cast<int32_t>(scanOf(u, h.hintN, h.hintM));
      hinted = u.cells[static_cast<size_t>(u.validScan[static_cast<size_t>(hintedScan)])].corners;
      holder = hintedScan;
    }
    out.aheadEnd[k] = {h.hintN, h.hintM, h.hintFound};
  }
  out.searchedAhead = true;
}

}  // namespace assign
