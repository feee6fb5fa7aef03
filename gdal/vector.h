#pragma once
// Vector layers through GDAL (OGR): points and polygons from GeoPackage, shapefile, GeoJSON,
// CSV with coordinate columns, FlatGeobuf and every other vector format GDAL opens.
#include <cstdint>
#include <string>
#include <vector>

namespace gdalroom {

// Which layer and which attribute fields to take. Empty layer: the only layer of the source.
struct LayerRequest {
  std::string path, layer, valueField, radiusField;
};

struct LayerInfo {
  std::string name;             // the layer read
  std::string crsWkt;           // its coordinate reference system; empty when it has none
  int64_t withoutGeometry = 0;  // features left out because they have no geometry
};

// One point; a multipoint gives one per member, each with the feature's attributes.
struct VectorPoint {
  double x = 0.0, y = 0.0;
  bool hasValue = false, hasRadius = false;
  double value = 0.0, radius = 0.0;
};

// One polygon: its outer ring, then its holes, each ring as x,y pairs without the closing
// vertex. A multipolygon gives one per member, each with the feature's value.
struct VectorPolygon {
  std::vector<std::vector<double>> rings;
  bool hasValue = false;
  double value = 0.0;
};

// The points of the layer in feature order. False with the reason in message: the source
// or layer cannot be opened, a named field is missing or not numeric, a feature is not a
// point or multipoint.
bool readPoints(const LayerRequest& request, std::vector<VectorPoint>& points, LayerInfo& info, std::string& message);
// The polygons of the layer in feature order (curved ones as straight segments).
bool readPolygons(const LayerRequest& request, std::vector<VectorPolygon>& polygons, LayerInfo& info,
                  std::string& message);

}  // namespace gdalroom
