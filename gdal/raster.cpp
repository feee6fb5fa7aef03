// Rasters through GDAL.
#include "gdal/raster.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gdal/internal.h"
#include "gdal/lazy.h"

namespace gdalroom {

struct RasterReader::Impl {
  GDALDatasetH ds = nullptr;
  GDALRasterBandH band = nullptr;
  RasterInfo info;
  bool southUp = false;  // the file's first row is its southern one
  std::vector<float> flip;
  // The rows of blocks (in the file's order) that the last readRows touched.
  int64_t lastBlockLo = -1, lastBlockHi = -1;
};

RasterReader::RasterReader() : impl_(std::make_unique<Impl>()) {}
RasterReader::~RasterReader() {
  close();
}

void RasterReader::close() {
  if (impl_->ds) GDALClose(impl_->ds);
  impl_->ds = nullptr;
  impl_->band = nullptr;
  impl_->lastBlockLo = impl_->lastBlockHi = -1;
}

const RasterInfo& RasterReader::info() const {
  return impl_->info;
}

namespace {

std::string lastError(const char* otherwise) {
  const char* m = CPLGetLastErrorMsg();
  return m && *m ? std::string(m) : std::string(otherwise);
}

}  // namespace

bool RasterReader::open(const std::string& path, int bandNumber, bool geoTiffOnly, std::string& message, int threads) {
  if (!ensureStarted(&message)) return false;
  close();
  CPLErrorReset();
  const char* const tiffDrivers[] = {"GTiff", nullptr};
  // GeoTIFF decompresses its blocks on every core when a read spans several of them.
  CPLSetThreadLocalConfigOption("GDAL_NUM_THREADS", threads > 0 ? std::to_string(threads).c_str() : "ALL_CPUS");
  impl_->ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, geoTiffOnly ? tiffDrivers : nullptr, nullptr,
                         nullptr);
  CPLSetThreadLocalConfigOption("GDAL_NUM_THREADS", nullptr);
  if (!impl_->ds) {
    message = geoTiffOnly ? "it is not a GeoTIFF that GDAL can open (" + lastError("no driver took it") + ")"
                          : "GDAL cannot open it as a raster (" + lastError("no driver took it") + ")";
    return false;
  }
  RasterInfo& in = impl_->info;
  in = RasterInfo();
  in.bandCount = GDALGetRasterCount(impl_->ds);
  if (bandNumber < 1 || bandNumber > in.bandCount) {
    message =
        "it has " + std::to_string(in.bandCount) + " band(s), band " + std::to_string(bandNumber) + " was asked for";
    close();
    return false;
  }
  impl_->band = GDALGetRasterBand(impl_->ds, bandNumber);
  in.driver = GDALGetDriverShortName(GDALGetDatasetDriver(impl_->ds));
  in.ncols = GDALGetRasterXSize(impl_->ds);
  in.nrows = GDALGetRasterYSize(impl_->ds);
  const GDALDataType type = GDALGetRasterDataType(impl_->band);
  in.dataType = GDALGetDataTypeName(type);
  in.int16 = type == GDT_Int16;
  if (GDALDataTypeIsComplex(type)) {
    message = "its values are complex numbers (" + in.dataType + ")";
    close();
    return false;
  }
  double gt[6];
  if (GDALGetGeoTransform(impl_->ds, gt) != CE_None) {
    message = "it has no georeferencing (no corner and cell size)";
    close();
    return false;
  }
  if (gt[2] != 0.0 || gt[4] != 0.0) {
    message = "its grid is rotated (geotransform " + std::to_string(gt[2]) + ", " + std::to_string(gt[4]) +
              "); rotated grids are not read: warp it to a north-up grid first (gdalwarp)";
    close();
    return false;
  }
  if (!(gt[1] > 0.0) || gt[5] == 0.0 || !std::isfinite(gt[0]) || !std::isfinite(gt[3]) || !std::isfinite(gt[5])) {
    message = "its cell size is not positive";
    close();
    return false;
  }
  impl_->southUp = gt[5] > 0.0;
  in.dx = gt[1];
  in.dy = std::fabs(gt[5]);
  in.xll = gt[0];
  in.yll = impl_->southUp ? gt[3] : gt[3] + static_cast<double>(in.nrows) * gt[5];
  int hasNodata = 0;
  const double nd = GDALGetRasterNoDataValue(impl_->band, &hasNodata);
  in.hasNodata = hasNodata != 0;
  in.nodata = in.hasNodata ? nd : 0.0;
  if (const char* wkt = GDALGetProjectionRef(impl_->ds)) in.crsWkt = wkt;
  int bx = 0, by = 0;
  GDALGetBlockSize(impl_->band, &bx, &by);
  in.blockRows = std::max(1, by);
  in.blockCols = std::max(1, bx);
  return true;
}

int64_t RasterReader::rowsPerRead() const {
  const RasterInfo& in = impl_->info;
  const int64_t rowBytes = std::max<int64_t>(1, in.ncols) * 4;
  int64_t rows = in.blockRows;
  while (rows * 2 * rowBytes <= (16 << 20) && rows * 2 <= std::max<int64_t>(in.nrows, 1)) rows *= 2;
  return std::max<int64_t>(1, std::min(rows, std::max<int64_t>(in.nrows, 1)));
}

bool RasterReader::readWindow(int64_t col, int64_t first, int64_t ncols, int64_t count, float* out,
                              std::string& message, int64_t rowStep) {
  const RasterInfo& in = impl_->info;
  if (!impl_->band || col < 0 || first < 0 || ncols < 0 || count < 0 || col + ncols > in.ncols ||
      first + count > in.nrows) {
    message = "a window outside the raster was asked for";
    return false;
  }
  if (ncols == 0 || count == 0) return true;
  // Rows are counted from the north; a south-up file holds them the other way round, so GDAL
  // fills the rows from the last one back. The values go straight to their place.
  const int64_t step = rowStep != 0 ? rowStep : ncols;
  const int64_t fileFirst = impl_->southUp ? in.nrows - first - count : first;
  float* start = impl_->southUp ? out + (count - 1) * step : out;
  const GSpacing line = static_cast<GSpacing>(impl_->southUp ? -step : step) * 4;
  CPLErrorReset();
  const CPLErr e = GDALRasterIOEx(impl_->band, GF_Read, static_cast<int>(col), static_cast<int>(fileFirst),
                                  static_cast<int>(ncols), static_cast<int>(count), start, static_cast<int>(ncols),
                                  static_cast<int>(count), GDT_Float32, 4, line, nullptr);
  if (e != CE_None) {
    message = "GDAL could not read rows " + std::to_string(first + 1) + " to " + std::to_string(first + count) + " (" +
              lastError("read error") + ")";
    return false;
  }
  return true;
}

bool RasterReader::readRows(int64_t first, int64_t count, float* out, std::string& message, int64_t rowStep) {
  // Rows are read north to south: once a read touches none of the rows of blocks the last one
  // touched, those blocks are not asked for again, and GDAL's block cache would only hold a
  // second copy of the file. Blocks shared with the last read (bands of a few rows within one
  // row of tiles) stay decoded.
  const RasterInfo& in = impl_->info;
  if (count > 0 && first >= 0 && first + count <= in.nrows) {
    const int64_t fileFirst = impl_->southUp ? in.nrows - first - count : first;
    const int64_t lo = fileFirst / in.blockRows, hi = (fileFirst + count - 1) / in.blockRows;
    if (impl_->band && (hi < impl_->lastBlockLo || lo > impl_->lastBlockHi)) GDALFlushRasterCache(impl_->band);
    impl_->lastBlockLo = lo;
    impl_->lastBlockHi = hi;
  }
  return readWindow(0, first, in.ncols, count, out, message, rowStep);
}

std::string memoryFile(const unsigned char* data, size_t size, const std::string& name) {
  const std::string path = "/vsimem/" + name;
  if (!ensureStarted()) return path;
  VSILFILE* f = VSIFileFromMemBuffer(path.c_str(), const_cast<GByte*>(data), static_cast<vsi_l_offset>(size), FALSE);
  if (f) VSIFCloseL(f);
  return path;
}

void removeMemoryFile(const std::string& name) {
  VSIUnlink(name.c_str());
}

namespace {

OGRSpatialReferenceH crsOf(const std::string& wkt) {
  OGRSpatialReferenceH s = OSRNewSpatialReference(nullptr);
  if (OSRSetFromUserInput(s, wkt.c_str()) != OGRERR_NONE) {
    OSRDestroySpatialReference(s);
    return nullptr;
  }
  OSRSetAxisMappingStrategy(s, OAMS_TRADITIONAL_GIS_ORDER);
  return s;
}

}  // namespace

std::string crsName(const std::string& wkt) {
  if (wkt.empty()) return "none";
  if (!ensureStarted()) return "unknown";
  OGRSpatialReferenceH s = crsOf(wkt);
  if (!s) return "unknown";
  const char* n = OSRGetName(s);
  std::string name = n && *n ? n : "unknown";
  const char* auth = OSRGetAuthorityName(s, nullptr);
  const char* code = OSRGetAuthorityCode(s, nullptr);
  if (auth && code) name += " (" + std::string(auth) + ":" + code + ")";
  OSRDestroySpatialReference(s);
  return name;
}

}  // namespace gdalroom
