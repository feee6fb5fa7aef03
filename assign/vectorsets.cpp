// Point and polygon sets from vector layers (GeoPackage, shapefile, GeoJSON, FlatGeobuf, CSV
// with coordinate columns, ...), read through GDAL. They give what the same points and
// polygons in the text formats give.
#include <cfloat>
#include <cmath>

#include "assign/run.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/text.h"
#include "gdal/vector.h"
#include "grid/gdalgrids.h"
#include "grid/general.h"
#include "grid/structure.h"

namespace assign {
namespace {

// Item n of the line unless it is absent, empty or a named item (NAME=value).
bool positional(frame::Frame& fr, const std::string& line, int n) {
  std::string item;
  return frame::PARAM(fr, line, n, item, ",=") > 0 && item.find('=') == std::string::npos;
}

std::string named(frame::Frame& fr, const std::string& line, const char* name) {
  std::string value;
  int length = 0;
  if (!frame::NAMEDS(fr, line, name, value, length) || length <= 0) return {};
  return frame::trimmed(value);
}

// The set's name in messages: the file, and the layer when one was named.
std::string setName(const std::string& name, const gdalroom::LayerInfo& info) {
  return info.name.empty() ? name : name + " (layer " + info.name + ")";
}

void noteWithoutGeometry(frame::Frame& fr, const std::string& what, int64_t count) {
  if (count == 0) return;
  frame::writeListing(
      fr, {" ", " WARNING", " *******", " ",
           " " + std::to_string(count) + " feature(s) of " + what + " have no geometry; they are left out."});
}

bool beyondLimit(double v) {
  return !(std::fabs(v) <= grid::kCoordinateLimit);
}

}  // namespace

bool namesVectorLayer(frame::Frame& fr, const std::string& line, const std::string& name) {
  for (const char* key : {"LAYER", "VALUE", "RADIUS"}) {
    std::string v;
    int length = 0;
    if (frame::NAMEDS(fr, line, key, v, length)) return true;
  }
  const std::string file = frame::trimRight(name);
  const size_t dot = file.rfind('.');
  const size_t slash = file.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  const std::string ext = frame::upper(file.substr(dot + 1));
  for (const char* known : {"GPKG", "SHP", "GEOJSON", "JSON", "GEOJSONSEQ", "FGB", "GML", "KML", "SQLITE", "TAB"}) {
    if (ext == known) return true;
  }
  return false;
}

bool handleVectorPointFile(Run& run, const std::string& line, const std::string& name) {
  frame::Frame& fr = run.fr;
  frame::UnitLease unit(fr.units);
  ALLOCATEAPOINTFILE(run);
  PointSet& p = run.pointSets.back();
  // Priority and radius stand where they stand for a text point file; named items do not count.
  if (positional(fr, line, 3)) frame::UNFORM(fr, line, 3, "I4", p.priority);
  p.setRadius = -1.0f;
  if (positional(fr, line, 4)) frame::UNFORM(fr, line, 4, "R4", p.setRadius);
  const bool lineRadius = p.setRadius > -0.0001f;
  if (lineRadius && p.setRadius < 0.0001f) p.setRadius = 0.0001f;
  gdalroom::LayerRequest request{frame::resolveInputName(name), named(fr, line, "LAYER"), named(fr, line, "VALUE"),
                                 named(fr, line, "RADIUS")};
  if (request.valueField.empty()) {
    return frame::endWithError(fr, {" The Point file " + name + " is a vector layer: name the field that holds",
                                    " the values with VALUE=field.", "   Command line: " + line});
  }
  p.buffered = lineRadius || !request.radiusField.empty();
  std::vector<gdalroom::VectorPoint> points;
  gdalroom::LayerInfo info;
  std::string message;
  const bool ok = gdalroom::readPoints(request, points, info, message);
  grid::listGdalMessages(fr);
  if (!ok)
    return frame::endWithError(fr, {" The Point file " + name + " could not be read: " + grid::sentence(message)});
  unit.connect(name);
  const std::string what = setName(name, info);
  grid::warnOtherCrs(fr, run.structure, what, info.crsWkt);
  noteWithoutGeometry(fr, what, info.withoutGeometry);
  // A feature without a value is NODATA: the structure's, so that it never gives a value.
  p.nodata = run.structure.grid.nodata;
  for (const gdalroom::VectorPoint& v : points) {
    // The radius: the feature's own; where it has none, the line's; else the smallest buffer.
    double r = p.setRadius;
    if (!request.radiusField.empty()) r = v.hasRadius ? v.radius : (lineRadius ? p.setRadius : 0.0001);
    if (beyondLimit(v.x) || beyondLimit(v.y) || beyondLimit(r) || (v.hasValue && !(std::fabs(v.value) <= FLT_MAX))) {
      return frame::endWithError(fr, {" The Point file " + what + " has a point, radius or value beyond range:",
                                      " x " + frame::trimmed(frame::fmtG(v.x, 12, 6)) + ", y " +
                                          frame::trimmed(frame::fmtG(v.y, 12, 6)) + "."});
    }
    // Relative to the structure's corner, as the points of a text file are kept.
    p.x.push_back(run.structure.relX(v.x));
    p.y.push_back(run.structure.relY(v.y));
    p.value.push_back(v.hasValue ? static_cast<float>(v.value) : p.nodata);
    p.radius.push_back(static_cast<float>(r));
  }
  p.count = static_cast<int32_t>(p.x.size());
  unit.release();
  return false;
}

bool handleVectorPolygonFile(Run& run, const std::string& line, const std::string& name) {
  frame::Frame& fr = run.fr;
  frame::UnitLease unit(fr.units);
  PolygonUse use = PolygonUse::Clear;
  float value = 0.0f;
  std::string item;
  if (positional(fr, line, 3)) {
    frame::PARAM(fr, line, 3, item);
    const std::string type = frame::upper(item);
    if (type == "RESET") {
      use = PolygonUse::Reset;
    } else if (type == "CLEAR") {
      use = PolygonUse::Clear;
    } else if (type == "ASSIGN") {
      use = PolygonUse::Assign;
      if (positional(fr, line, 4)) frame::UNFORM(fr, line, 4, "R4", value);
    } else {
      return frame::endWithError(
          fr, {" No correct type of use for a Polygon file.", " It must be CLEAR, ASSIGN or RESET."});
    }
  }
  gdalroom::LayerRequest request{frame::resolveInputName(name), named(fr, line, "LAYER"), named(fr, line, "VALUE"), {}};
  if (!request.valueField.empty() && use != PolygonUse::Assign) {
    return frame::endWithError(
        fr, {" The Polygon file " + name + " names a value field (VALUE=) but does not ASSIGN:",
             " the values of a field are assigned; write ASSIGN as the type of use.", "   Command line: " + line});
  }
  // The mask is made beside the reading: the polygons will take cells from it.
  if (run.structure.whole && run.fr.cores() > 1 && polygonsKeepMask(run)) {
    grid::holdMask(run.structure, grid::Fill::Beside);
  }
  std::vector<gdalroom::VectorPolygon> polygons;
  gdalroom::LayerInfo info;
  std::string message;
  const bool ok = gdalroom::readPolygons(request, polygons, info, message);
  grid::listGdalMessages(fr);
  if (!ok)
    return frame::endWithError(fr, {" The Polygon file " + name + " could not be read: " + grid::sentence(message)});
  unit.connect(name);
  const std::string what = setName(name, info);
  grid::warnOtherCrs(fr, run.structure, what, info.crsWkt);
  noteWithoutGeometry(fr, what, info.withoutGeometry);
  std::vector<PolygonShape> shapes;
  shapes.reserve(polygons.size());
  for (const gdalroom::VectorPolygon& v : polygons) {
    PolygonShape shape;
    // A feature without a value takes the line's ASSIGN value.
    shape.value = v.hasValue ? static_cast<float>(v.value) : value;
    if (v.hasValue && !(std::fabs(v.value) <= FLT_MAX)) {
      return frame::endWithError(fr, {" The Polygon file " + what + " has a value beyond single precision."});
    }
    for (size_t r = 0; r < v.rings.size(); ++r) {
      std::vector<float> ring;
      ring.reserve(v.rings[r].size());
      for (size_t k = 0; k < v.rings[r].size(); ++k) {
        const double c = v.rings[r][k];
        if (beyondLimit(c)) {
          return frame::endWithError(fr, {" The Polygon file " + what + " has a vertex beyond 1.0E+15."});
        }
        // Relative to the structure's corner, as the polygons of a generate file are kept.
        ring.push_back(k % 2 == 0 ? run.structure.relX(c) : run.structure.relY(c));
      }
      if (r == 0) {
        shape.outer = std::move(ring);
      } else {
        shape.holes.push_back(std::move(ring));
      }
    }
    shapes.push_back(std::move(shape));
  }
  if (run.structure.whole) {
    applyPolygonShapes(run, shapes, use, 1, run.structure.grid.nrows);
  } else {
    // The structure is held a band at a time: the shapes are kept and applied to each band.
    PolygonSet set;
    set.use = use;
    set.value = value;
    set.shapes = std::move(shapes);
    run.polygonSets.push_back(std::move(set));
  }
  unit.release();
  return false;
}

}  // namespace assign
