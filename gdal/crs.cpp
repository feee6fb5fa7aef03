// Coordinate reference systems through OGR.
#include "gdal/crs.h"

#include <cpl_conv.h>
#include <ogr_spatialref.h>

#include "gdal/gdalroom.h"
#include "gdal/internal.h"

namespace gdalroom {
namespace {

// GDAL's own messages since the last call, joined, or the fallback.
std::string reasonOr(const std::string& fallback) {
  std::string r;
  for (const auto& m : takeMessages()) r += (r.empty() ? "" : "; ") + m;
  return r.empty() ? fallback : r;
}

bool describe(const OGRSpatialReference& srs, CoordinateSystem& out, std::string& message) {
  char* wkt = nullptr;
  const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
  const OGRErr e = srs.exportToWkt(&wkt, options);
  if (e != OGRERR_NONE || !wkt || !*wkt) {
    CPLFree(wkt);
    message = reasonOr("it has no ESRI form for a .prj file");
    return false;
  }
  out.esriWkt = wkt;
  CPLFree(wkt);
  const char* name = srs.GetName();
  out.name = name && *name ? name : "unnamed";
  const char* authority = srs.GetAuthorityName(nullptr);
  const char* code = srs.GetAuthorityCode(nullptr);
  if (authority && code) out.name += std::string(" (") + authority + ":" + code + ")";
  takeMessages();
  return true;
}

}  // namespace

bool crsFromEpsg(int code, CoordinateSystem& out, std::string& message) {
  ensureStarted();
  takeMessages();
  OGRSpatialReference srs;
  if (srs.importFromEPSG(code) != OGRERR_NONE) {
    message = reasonOr("EPSG:" + std::to_string(code) + " is not known");
    return false;
  }
  return describe(srs, out, message);
}

bool crsFromText(const std::string& text, CoordinateSystem& out, std::string& message) {
  ensureStarted();
  takeMessages();
  OGRSpatialReference srs;
  // importFromWkt reads the ESRI dialect of .prj files too.
  if (srs.importFromWkt(text.c_str()) != OGRERR_NONE) {
    message = reasonOr("it is not a coordinate reference system in WKT");
    return false;
  }
  return describe(srs, out, message);
}

Sameness sameCrs(const std::string& a, const std::string& b) {
  ensureStarted();
  OGRSpatialReference x, y;
  if (x.importFromWkt(a.c_str()) != OGRERR_NONE || y.importFromWkt(b.c_str()) != OGRERR_NONE) {
    takeMessages();
    return a == b ? Sameness::Same : Sameness::Unknown;
  }
  const bool same = x.IsSame(&y);
  takeMessages();
  return same ? Sameness::Same : Sameness::Different;
}

}  // namespace gdalroom
