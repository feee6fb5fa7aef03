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
