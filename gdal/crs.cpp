// Coordinate reference systems through OGR.
#include "gdal/crs.h"

#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include "gdal/gdalroom.h"
#include "gdal/internal.h"
#include "gdal/lazy.h"

namespace gdalroom {
namespace {

// GDAL's own messages since the last call, joined, or the fallback.
std::string reasonOr(const std::string& fallback) {
  std::string r;
  for (const auto& m : takeMessages()) r += (r.empty() ? "" : "; ") + m;
  return r.empty() ? fallback : r;
}

// A spatial reference of OGR's, released on every way out.
class Srs {
 public:
  Srs() : h_(OSRNewSpatialReference(nullptr)) {}
  ~Srs() {
    if (h_) OSRDestroySpatialReference(h_);
  }
  Srs(const Srs&) = delete;
  Srs& operator=(const Srs&) = delete;
  OGRSpatialReferenceH get() const { return h_; }
  // Reads WKT, the ESRI dialect of .prj files too.
  bool fromWkt(const std::string& text) {
    char* cursor = const_cast<char*>(text.c_str());
    return h_ && OSRImportFromWkt(h_, &cursor) == OGRERR_NONE;
  }

 private:
  OGRSpatialReferenceH h_;
};

bool describe(const Srs& srs, CoordinateSystem& out, std::string& message) {
  char* wkt = nullptr;
  const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
  const OGRErr e = OSRExportToWktEx(srs.get(), &wkt, options);
  if (e != OGRERR_NONE || !wkt || !*wkt) {
    CPLFree(wkt);
    message = reasonOr("it has no ESRI form for a .prj file");
    return false;
  }
  out.esriWkt = wkt;
  CPLFree(wkt);
  const char* name = OSRGetName(srs.get());
  out.name = name && *name ? name : "unnamed";
  const char* authority = OSRGetAuthorityName(srs.get(), nullptr);
  const char* code = OSRGetAuthorityCode(srs.get(), nullptr);
  if (authority && code) out.name += std::string(" (") + authority + ":" + code + ")";
  takeMessages();
  return true;
}

}  // namespace

bool crsFromEpsg(int code, CoordinateSystem& out, std::string& message) {
  if (!ensureStarted(&message)) return false;
  takeMessages();
  Srs srs;
  if (!srs.get() || OSRImportFromEPSG(srs.get(), code) != OGRERR_NONE) {
    message = reasonOr("EPSG:" + std::to_string(code) + " is not known");
    return false;
  }
  return describe(srs, out, message);
}

bool crsFromText(const std::string& text, CoordinateSystem& out, std::string& message) {
  if (!ensureStarted(&message)) return false;
  takeMessages();
  Srs srs;
  if (!srs.fromWkt(text)) {
    message = reasonOr("it is not a coordinate reference system in WKT");
    return false;
  }
  return describe(srs, out, message);
}

Sameness sameCrs(const std::string& a, const std::string& b) {
  if (!ensureStarted()) return a == b ? Sameness::Same : Sameness::Unknown;
  Srs x, y;
  if (!x.fromWkt(a) || !y.fromWkt(b)) {
    takeMessages();
    return a == b ? Sameness::Same : Sameness::Unknown;
  }
  const bool same = OSRIsSame(x.get(), y.get()) != 0;
  takeMessages();
  return same ? Sameness::Same : Sameness::Different;
}

}  // namespace gdalroom
