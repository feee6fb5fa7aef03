// GeoTIFF files of arbitrary bytes, through GDAL's in-memory files: the raster reader gives a
// header and rows north to south, or refuses the file with a reason; it never crashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gdal/gdalroom.h"
#include "gdal/raster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = gdalroom::memoryFile(data, size, "fuzz.tif");
  {
    gdalroom::RasterReader reader;
    std::string message;
    if (reader.open(name, 1, true, message)) {
      const gdalroom::RasterInfo& in = reader.info();
      if (!(in.dx > 0.0) || !(in.dy > 0.0)) std::abort();  // the reader refuses such grids
      // Grids larger than this are the cell loop's memory question, not the reader's.
      if (in.ncols > 0 && in.nrows > 0 && in.ncols * in.nrows <= (int64_t{1} << 22)) {
        const int64_t step = reader.rowsPerRead();
        if (step < 1) std::abort();
        std::vector<float> strip;
        for (int64_t first = 0; first < in.nrows; first += step) {
          const int64_t count = std::min(step, in.nrows - first);
          strip.resize(static_cast<size_t>(count * in.ncols));
          if (!reader.readRows(first, count, strip.data(), message)) {
            if (message.empty()) std::abort();
            break;
          }
        }
        // A window in the middle, as a reader of bands of rows asks for one.
        const int64_t w = in.ncols / 2 + 1, h = in.nrows / 2 + 1;
        strip.resize(static_cast<size_t>(w * h));
        reader.readWindow(in.ncols - w, in.nrows - h, w, h, strip.data(), message);
      }
    } else if (message.empty()) {
      std::abort();  // a refusal always says why
    }
  }
  gdalroom::removeMemoryFile(name);
  gdalroom::takeMessages();
  return 0;
}
