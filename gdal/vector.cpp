// Vector layers through GDAL (OGR).
#include "gdal/vector.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <cctype>
#include <cmath>

#include "gdal/internal.h"
#include "gdal/lazy.h"

namespace gdalroom {
namespace {

std::string lastError(const char* otherwise) {
  const char* m = CPLGetLastErrorMsg();
  return m && *m ? std::string(m) : std::string(otherwise);
}

// An open source and its chosen layer, with the fields asked for.
struct OpenLayer {
  GDALDatasetH ds = nullptr;
  OGRLayerH layer = nullptr;
  int valueField = -1, radiusField = -1;
  ~OpenLayer() {
    if (ds) GDALClose(ds);
  }
};

bool numericField(OGRFeatureDefnH defn, int index) {
  const OGRFieldType t = OGR_Fld_GetType(OGR_FD_GetFieldDefn(defn, index));
  return t == OFTInteger || t == OFTInteger64 || t == OFTReal;
}

bool isCsv(const std::string& path) {
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == "CSV";
}

bool openLayer(const LayerRequest& r, OpenLayer& o, LayerInfo& info, std::string& message) {
  if (!ensureStarted(&message)) return false;
  CPLErrorReset();
  // A CSV file gives points from its coordinate columns, polygons from a WKT column, and
  // numbers from columns of numbers (otherwise every field is text).
  const char* const csvDrivers[] = {"CSV", nullptr};
  const char* const csvOptions[] = {"X_POSSIBLE_NAMES=X,LON,LONG,LONGITUDE,EASTING",
                                    "Y_POSSIBLE_NAMES=Y,LAT,LATITUDE,NORTHING",
                                    "GEOM_POSSIBLE_NAMES=WKT,GEOMETRY",
                                    "KEEP_GEOM_COLUMNS=NO",
                                    "AUTODETECT_TYPE=YES",
                                    nullptr};
  const bool csv = isCsv(r.path);
  o.ds = GDALOpenEx(r.path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, csv ? csvDrivers : nullptr,
                    csv ? csvOptions : nullptr, nullptr);
  if (!o.ds) {
    message = "GDAL cannot open it as a vector source (" + lastError("no driver took it") + ")";
    return false;
  }
  const int count = GDALDatasetGetLayerCount(o.ds);
  if (!r.layer.empty()) {
    // GDAL finds a layer by its exact name first and then regardless of case; command lines
    // arrive upper-cased.
    o.layer = GDALDatasetGetLayerByName(o.ds, r.layer.c_str());
    if (!o.layer) {
      message = "it has no layer " + r.layer;
      return false;
    }
  } else if (count == 1) {
    o.layer = GDALDatasetGetLayer(o.ds, 0);
  } else {
    message = "it has " + std::to_string(count) + " layers: name one with LAYER= (";
    for (int k = 0; k < count; ++k)
      message += (k ? ", " : "") + std::string(OGR_L_GetName(GDALDatasetGetLayer(o.ds, k)));
    message += ")";
    return false;
  }
  info.name = OGR_L_GetName(o.layer);
  if (OGRSpatialReferenceH s = OGR_L_GetSpatialRef(o.layer)) {
    char* wkt = nullptr;
    if (OSRExportToWkt(s, &wkt) == OGRERR_NONE && wkt) info.crsWkt = wkt;
    CPLFree(wkt);
  }
  OGRFeatureDefnH defn = OGR_L_GetLayerDefn(o.layer);
  for (auto [name, index] : {std::pair{&r.valueField, &o.valueField}, std::pair{&r.radiusField, &o.radiusField}}) {
    if (name->empty()) continue;
    *index = OGR_FD_GetFieldIndex(defn, name->c_str());
    if (*index < 0) {
      message = "layer " + info.name + " has no field " + *name;
      return false;
    }
    if (!numericField(defn, *index)) {
      message = "field " + *name + " of layer " + info.name + " is not numeric";
      return false;
    }
  }
  OGR_L_ResetReading(o.layer);
  return true;
}

// A field's value, when the feature has one.
bool fieldValue(OGRFeatureH f, int index, double& v) {
  if (index < 0 || !OGR_F_IsFieldSetAndNotNull(f, index)) return false;
  v = OGR_F_GetFieldAsDouble(f, index);
  return true;
}

std::string featureText(OGRFeatureH f) {
  return "feature " + std::to_string(OGR_F_GetFID(f));
}

}  // namespace

bool readPoints(const LayerRequest& request, std::vector<VectorPoint>& points, LayerInfo& info, std::string& message) {
  points.clear();
  info = LayerInfo();
  OpenLayer o;
  if (!openLayer(request, o, info, message)) return false;
  while (OGRFeatureH f = OGR_L_GetNextFeature(o.layer)) {
    VectorPoint p;
    p.hasValue = fieldValue(f, o.valueField, p.value);
    p.hasRadius = fieldValue(f, o.radiusField, p.radius);
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    if (!g || OGR_G_IsEmpty(g)) {
      ++info.withoutGeometry;
      OGR_F_Destroy(f);
      continue;
    }
    const OGRwkbGeometryType t = OGR_GT_Flatten(OGR_G_GetGeometryType(g));
    if (t == wkbPoint) {
      p.x = OGR_G_GetX(g, 0);
      p.y = OGR_G_GetY(g, 0);
      points.push_back(p);
    } else if (t == wkbMultiPoint) {
      for (int k = 0; k < OGR_G_GetGeometryCount(g); ++k) {
        OGRGeometryH m = OGR_G_GetGeometryRef(g, k);
        if (OGR_G_IsEmpty(m)) continue;
        p.x = OGR_G_GetX(m, 0);
        p.y = OGR_G_GetY(m, 0);
        points.push_back(p);
      }
    } else {
      message = featureText(f) + " of layer " + info.name + " is a " + OGRGeometryTypeToName(t) +
                ", not a point or multipoint";
      OGR_F_Destroy(f);
      return false;
    }
    OGR_F_Destroy(f);
  }
  return true;
}

namespace {

void addPolygon(OGRGeometryH poly, const VectorPolygon& attributes, std::vector<VectorPolygon>& out) {
  VectorPolygon p = attributes;
  for (int r = 0; r < OGR_G_GetGeometryCount(poly); ++r) {
    OGRGeometryH ring = OGR_G_GetGeometryRef(poly, r);
    const int n = OGR_G_GetPointCount(ring);
    std::vector<double> v;
    v.reserve(2 * static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
      v.push_back(OGR_G_GetX(ring, k));
      v.push_back(OGR_G_GetY(ring, k));
    }
    // The closing vertex repeats the first.
    if (v.size() >= 4 && v[0] == v[v.size() - 2] && v[1] == v[v.size() - 1]) v.resize(v.size() - 2);
    p.rings.push_back(std::move(v));
  }
  if (!p.rings.empty()) out.push_back(std::move(p));
}

}  // namespace

bool readPolygons(const LayerRequest& request, std::vector<VectorPolygon>& polygons, LayerInfo& info,
                  std::string& message) {
  polygons.clear();
  info = LayerInfo();
  OpenLayer o;
  if (!openLayer(request, o, info, message)) return false;
  while (OGRFeatureH f = OGR_L_GetNextFeature(o.layer)) {
    VectorPolygon attributes;
    attributes.hasValue = fieldValue(f, o.valueField, attributes.value);
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    if (!g || OGR_G_IsEmpty(g)) {
      ++info.withoutGeometry;
      OGR_F_Destroy(f);
      continue;
    }
    OGRGeometryH linear = nullptr;
    if (OGR_G_HasCurveGeometry(g, TRUE)) {
      linear = OGR_G_GetLinearGeometry(g, 0.0, nullptr);
      g = linear;
    }
    const OGRwkbGeometryType t = g ? OGR_GT_Flatten(OGR_G_GetGeometryType(g)) : wkbUnknown;
    if (t == wkbPolygon) {
      addPolygon(g, attributes, polygons);
    } else if (t == wkbMultiPolygon) {
      for (int k = 0; k < OGR_G_GetGeometryCount(g); ++k) addPolygon(OGR_G_GetGeometryRef(g, k), attributes, polygons);
    } else {
      message = featureText(f) + " of layer " + info.name + " is a " + OGRGeometryTypeToName(t) +
                ", not a polygon or multipolygon";
      if (linear) OGR_G_DestroyGeometry(linear);
      OGR_F_Destroy(f);
      return false;
    }
    if (linear) OGR_G_DestroyGeometry(linear);
    OGR_F_Destroy(f);
  }
  return true;
}

}  // namespace gdalroom
