#pragma once
// Coordinate reference systems. A CRS is carried as the ESRI-style WKT that a .prj file beside
// an ASC or BIL grid holds (what GDAL itself writes for those formats), so that GDAL, QGIS and
// ArcGIS place the grid without asking.
#include <string>

namespace gdalroom {

struct CoordinateSystem {
  std::string esriWkt;  // the text of a .prj file
  std::string name;     // for the listing, with its EPSG code when it has one
};

// From an EPSG code. False, with the reason in message, when the code is unknown (or GDAL is
// not built in).
bool crsFromEpsg(int code, CoordinateSystem& out, std::string& message);
// From the text of a .prj or WKT file (ESRI or OGC WKT).
bool crsFromText(const std::string& text, CoordinateSystem& out, std::string& message);

enum class Sameness { Same, Different, Unknown };
// Whether two .prj texts name the same CRS. Without GDAL only identical texts are known to be.
Sameness sameCrs(const std::string& a, const std::string& b);

}  // namespace gdalroom
