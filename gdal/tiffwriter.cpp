// GeoTIFF output through GDAL.
#include "gdal/tiffwriter.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frame/files.h"
#include "gdal/internal.h"
#include "gdal/lazy.h"

namespace gdalroom {

struct TiffWriter::Impl {
  GDALDatasetH ds = nullptr;
  GDALRasterBandH band = nullptr;
  TiffLayout layout;
  std::string target;
  // The tiled file GDAL writes, and for a Cloud-Optimized GeoTIFF the copy laid out from it.
  frame::TemporaryBeside temp, cogTemp;
  int64_t rowsWritten = 0;
};

namespace {

std::string lastError(const char* otherwise) {
  const char* m = CPLGetLastErrorMsg();
  return m && *m ? std::string(m) : std::string(otherwise);
}

}  // namespace

TiffWriter::TiffWriter() : impl_(std::make_unique<Impl>()) {}
TiffWriter::~TiffWriter() {
  abandon();
}

void TiffWriter::abandon() {
  if (impl_->ds) GDALClose(impl_->ds);
  impl_->ds = nullptr;
  impl_->band = nullptr;
  impl_->temp.remove();
  impl_->cogTemp.remove();
}

bool TiffWriter::open(const std::string& path, const TiffLayout& layout, std::string& message) {
  if (!ensureStarted(&message)) return false;
  abandon();
  if (layout.ncols < 1 || layout.nrows < 1 || layout.ncols > INT32_MAX || layout.nrows > INT32_MAX) {
    message = "a GeoTIFF needs at least one column and one row";
    return false;
  }
  impl_->layout = layout;
  impl_->target = path;
  impl_->rowsWritten = 0;
  if (const int e = impl_->temp.create(path); e != 0) {
    message = std::strerror(e);
    return false;
  }
  GDALDriverH gtiff = GDALGetDriverByName("GTiff");
  if (!gtiff) {
    message = "GDAL has no GeoTIFF driver";
    abandon();
    return false;
  }
  // Tiles of 256 cells, lossless DEFLATE with the floating-point predictor, compressed on
  // every core; BigTIFF when the file might pass 4 GiB.
  char** options = nullptr;
  options = CSLSetNameValue(options, "TILED", "YES");
  options = CSLSetNameValue(options, "BLOCKXSIZE", "256");
  options = CSLSetNameValue(options, "BLOCKYSIZE", "256");
  options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
  options = CSLSetNameValue(options, "PREDICTOR", layout.integerBits != 0 ? "2" : "3");
  options = CSLSetNameValue(options, "BIGTIFF", "IF_SAFER");
  const std::string threads = layout.threads > 0 ? std::to_string(layout.threads) : "ALL_CPUS";
  options = CSLSetNameValue(options, "NUM_THREADS", threads.c_str());
  CPLErrorReset();
  impl_->ds =
      GDALCreate(gtiff, impl_->temp.path().c_str(), static_cast<int>(layout.ncols), static_cast<int>(layout.nrows), 1,
                 layout.integerBits == 16   ? GDT_Int16
                 : layout.integerBits == 32 ? GDT_Int32
                                            : GDT_Float32,
                 options);
  CSLDestroy(options);
  if (!impl_->ds) {
    message = lastError("GDAL could not create it");
    abandon();
    return false;
  }
  double gt[6] = {layout.xll, layout.cellsize, 0.0, layout.yll + static_cast<double>(layout.nrows) * layout.cellsize,
                  0.0,        -layout.cellsize};
  GDALSetGeoTransform(impl_->ds, gt);
  if (!layout.crsWkt.empty()) GDALSetProjection(impl_->ds, layout.crsWkt.c_str());
  impl_->band = GDALGetRasterBand(impl_->ds, 1);
  GDALSetRasterNoDataValue(impl_->band, static_cast<double>(layout.nodata));
  return true;
}

namespace {

bool writeBand(GDALRasterBandH band, const TiffLayout& layout, int64_t& rowsWritten, void* rows, GDALDataType type,
               int64_t count, std::string& message) {
  if (!band || rowsWritten + count > layout.nrows) {
    message = "more rows than the grid has";
    return false;
  }
  if (count <= 0) return true;
  CPLErrorReset();
  const int nc = static_cast<int>(layout.ncols);
  const CPLErr e = GDALRasterIO(band, GF_Write, 0, static_cast<int>(rowsWritten), nc, static_cast<int>(count), rows, nc,
                                static_cast<int>(count), type, 0, 0);
  if (e != CE_None) {
    message = lastError("GDAL could not write it");
    return false;
  }
  rowsWritten += count;
  return true;
}

}  // namespace

bool TiffWriter::writeRows(const float* rows, int64_t count, std::string& message) {
  return writeBand(impl_->band, impl_->layout, impl_->rowsWritten, const_cast<float*>(rows), GDT_Float32, count,
                   message);
}

bool TiffWriter::writeRows(const int32_t* rows, int64_t count, std::string& message) {
  return writeBand(impl_->band, impl_->layout, impl_->rowsWritten, const_cast<int32_t*>(rows), GDT_Int32, count,
                   message);
}

bool TiffWriter::commit(std::string& message) {
  if (!impl_->ds || impl_->rowsWritten != impl_->layout.nrows) {
    message = "the grid was not written whole";
    abandon();
    return false;
  }
  CPLErrorReset();
  GDALClose(impl_->ds);
  impl_->ds = nullptr;
  impl_->band = nullptr;
  if (CPLGetLastErrorType() == CE_Failure) {
    message = lastError("GDAL could not complete it");
    abandon();
    return false;
  }
  frame::TemporaryBeside* ready = &impl_->temp;
  if (impl_->layout.cloudOptimized) {
    // The COG driver lays out a finished file: the tiled GeoTIFF just written is its source.
    if (const int e = impl_->cogTemp.create(impl_->target); e != 0) {
      message = std::strerror(e);
      abandon();
      return false;
    }
    GDALDriverH cog = GDALGetDriverByName("COG");
    GDALDatasetH src =
        GDALOpenEx(impl_->temp.path().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (!cog || !src) {
      message = cog ? lastError("GDAL could not read back the tiled GeoTIFF") : "GDAL has no COG driver";
      if (src) GDALClose(src);
      abandon();
      return false;
    }
    char** options = nullptr;
    options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
    options = CSLSetNameValue(options, "PREDICTOR", "YES");
    options = CSLSetNameValue(options, "BIGTIFF", "IF_SAFER");
    const std::string threads =
        impl_->layout.threads > 0 ? std::to_string(impl_->layout.threads) : std::string("ALL_CPUS");
    options = CSLSetNameValue(options, "NUM_THREADS", threads.c_str());
    CPLErrorReset();
    GDALDatasetH out = GDALCreateCopy(cog, impl_->cogTemp.path().c_str(), src, FALSE, options, nullptr, nullptr);
    CSLDestroy(options);
    GDALClose(src);
    bool ok = out != nullptr;
    if (out) GDALClose(out);
    if (!ok || CPLGetLastErrorType() == CE_Failure) {
      message = lastError("GDAL could not write the Cloud-Optimized GeoTIFF");
      abandon();
      return false;
    }
    impl_->temp.remove();
    ready = &impl_->cogTemp;
  }
  // In place in one step; with SYNC the file and its folder are on the disk first.
  if (const int e = ready->commit(impl_->target, impl_->layout.sync); e != 0) {
    message = std::strerror(e);
    abandon();
    return false;
  }
  return true;
}

}  // namespace gdalroom
