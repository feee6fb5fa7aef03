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

// ---------------------------------------------------------------- rasters, GeoTIFF output, vector layers

#include "gdal/raster.h"
#include "gdal/tiffwriter.h"
#include "gdal/vector.h"

namespace gdalroom {

struct RasterReader::Impl {
  RasterInfo info;
};
RasterReader::RasterReader() : impl_(std::make_unique<Impl>()) {}
RasterReader::~RasterReader() = default;
bool RasterReader::open(const std::string&, int, bool, std::string& message, int) {
  message = notBuiltInMessage();
  return false;
}
const RasterInfo& RasterReader::info() const {
  return impl_->info;
}
bool RasterReader::readRows(int64_t, int64_t, float*, std::string& message, int64_t) {
  message = notBuiltInMessage();
  return false;
}
bool RasterReader::readWindow(int64_t, int64_t, int64_t, int64_t, float*, std::string& message, int64_t) {
  message = notBuiltInMessage();
  return false;
}
int64_t RasterReader::rowsPerRead() const {
  return 1;
}
void RasterReader::close() {}

std::string memoryFile(const unsigned char*, size_t, const std::string& name) {
  return name;
}
void removeMemoryFile(const std::string&) {}
std::string crsName(const std::string& wkt) {
  return wkt.empty() ? "none" : "unknown";
}

struct TiffWriter::Impl {};
TiffWriter::TiffWriter() : impl_(std::make_unique<Impl>()) {}
TiffWriter::~TiffWriter() = default;
bool TiffWriter::open(const std::string&, const TiffLayout&, std::string& message) {
  message = notBuiltInMessage();
  return false;
}
bool TiffWriter::writeRows(const int32_t*, int64_t, std::string& message) {
  message = notBuiltInMessage();
  return false;
}
bool TiffWriter::writeRows(const float*, int64_t, std::string& message) {
  message = notBuiltInMessage();
  return false;
}
bool TiffWriter::commit(std::string& message) {
  message = notBuiltInMessage();
  return false;
}
void TiffWriter::abandon() {}

bool readPoints(const LayerRequest&, std::vector<VectorPoint>&, LayerInfo&, std::string& message) {
  message = notBuiltInMessage();
  return false;
}
bool readPolygons(const LayerRequest&, std::vector<VectorPolygon>&, LayerInfo&, std::string& message) {
  message = notBuiltInMessage();
  return false;
}

}  // namespace gdalroom
