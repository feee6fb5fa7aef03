// The room's answers in a program built without GDAL.
#include "gdal/gdalroom.h"

namespace gdalroom {

bool builtIn() {
  return false;
}

std::string notBuiltInMessage() {
  return "The program was built without GDAL (-DTERVALA_GDAL=OFF): rebuild it with GDAL to use this.";
}

std::vector<std::string> takeMessages() {
  return {};
}

}  // namespace gdalroom

// Coordinate reference systems: without GDAL a CRS cannot be read, and two are known to be the
// same only when their texts are.
#include "gdal/crs.h"

namespace gdalroom {

bool crsFromEpsg(int, CoordinateSystem&, std::string& message) {
  message = notBuiltInMessage();
  return false;
}

bool crsFromText(const std::string&, CoordinateSystem&, std::string& message) {
  message = notBuiltInMessage();
  return false;
}

Sameness sameCrs(const std::string& a, const std::string& b) {
  return a == b ? Sameness::Same : Sameness::Unknown;
}

}  // namespace gdalroom
