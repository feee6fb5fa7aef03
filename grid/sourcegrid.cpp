#include "grid/sourcegrid.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "frame/format.h"
#include "frame/text.h"
#include "gdal/tiffwriter.h"
#include "grid/gdalgrids.h"
#include "grid/writer.h"

namespace grid {
namespace {

std::string integer(int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string count(int32_t n) {
  std::string t = frame::fmtI(n, 6);
  return t.find('*') == std::string::npos ? t : integer(n);
}

// The GeoTIFF's rows go to GDAL a row of its 256 x 256 tiles at a time.
constexpr int32_t kStripRows = 256;

}  // namespace

std::string sourceGridName(const Structure& s, const std::string& type, const std::string& name) {
  const std::string trimmed = frame::trimRight(name);
  if (s.tileCount > 0) {
    const std::string tile = tileName(trimmed, type, s.tileNumber, s.tileCount);
    return type == "TIF" ? geoTiffName(tile) : tile;
  }
  return type == "TIF" ? geoTiffName(trimmed) : frame::GUMEXT(trimmed, type);
}

SourceGridWriter::SourceGridWriter() = default;
SourceGridWriter::~SourceGridWriter() {
  abandon();
}

int SourceGridWriter::open(const Structure& s, const std::string& type, const std::string& name, int bits, bool sync,
                           int32_t top, int32_t bottom) {
  abandon();
  const GridDescription& g = s.grid;
  type_ = type;
  error_ = 0;
  reason_.clear();
  rowsLeft_ = top - bottom + 1;
  fileName_ = sourceGridName(s, type, name);
  failedName_ = fileName_;
  const double cs = s.cellsize;
  // The lower-left corner of the rows written: the structure's, or a tile's.
  const double yll = static_cast<double>(g.yll) + static_cast<double>(bottom - 1) * cs;
  const int32_t nrows = rowsLeft_;
  if (type == "TIF") {
    gdalroom::TiffLayout layout;
    layout.ncols = g.ncols;
    layout.nrows = nrows;
    layout.xll = static_cast<double>(g.xll);
    layout.yll = yll;
    layout.cellsize = cs;
    layout.nodata = 0.0f;
    layout.crsWkt = s.crsWkt;
    layout.sync = sync;
    layout.integerBits = bits == 32 ? 32 : 16;
    tiff_ = std::make_unique<gdalroom::TiffWriter>();
    stripRows_ = 0;
    if (!tiff_->open(frame::nativeName(fileName_), layout, reason_)) error_ = EIO;
    return error_;
  }
  if (type == "ASC") {
    error_ = data_.open(frame::nativeName(fileName_), sync);
    if (error_ != 0) return error_;
    // The header as the grid's own, so that the two lie on one another in a GIS.
    std::string text;
    text += "ncols " + count(g.ncols) + "\n";
    text += "nrows " + count(nrows) + "\n";
    text += "xllcorner " + ascHeaderNumber(g.xll, 10, 2) + "\n";
    text += "yllcorner " + ascHeaderNumber(yll, 10, 2) + "\n";
    text += "cellsize " + ascHeaderNumber(cs, 10, 2) + "\n";
    text += "nodata_value 0\n";
    data_.write(text.data(), text.size());
    return 0;
  }
  // BIL: the data, then the header; both or neither.
  const std::string stem = frame::GUMEXT(fileName_, " ");
  hdrName_ = s.tileCount > 0 ? stem + ".HDR" : frame::GUMEXT(frame::trimRight(name), "HDR");
  bytes_ = bits == 32 ? 4 : 2;
  failedName_ = hdrName_;
  error_ = hdr_.open(frame::nativeName(hdrName_), sync);
  if (error_ != 0) return error_;
  const std::string dim = hdrRealNumber(cs);
  std::string text;
  text += "ByteOrder I\n";
  text += "Layout BIL\n";
  text += "nRows " + integer(nrows) + "\n";
  text += "nCols " + integer(g.ncols) + "\n";
  text += "nBands 1\n";
  text += "nBlocks 1\n";
  text += "nBits " + integer(static_cast<int64_t>(bytes_) * 8) + "\n";
  text += "BandRowBytes " + integer(static_cast<int64_t>(bytes_) * g.ncols) + "\n";
  text += "TotalRowBytes " + integer(static_cast<int64_t>(bytes_) * g.ncols) + "\n";
  text += "BandGapBytes 0\n";
  text += "NoData 0\n";
  text += "ULXmap " + hdrRealNumber(static_cast<double>(g.xll) + 0.5 * cs) + "\n";
  text += "ULYmap " + hdrRealNumber(yll + nrows * cs - 0.5 * cs) + "\n";
  text += "Xdim " + dim + "\n";
  text += "Ydim " + dim + "\n";
  text += "PixelType SIGNEDINT\n";
  hdr_.write(text.data(), text.size());
  failedName_ = fileName_;
  error_ = data_.open(frame::nativeName(fileName_), sync);
  if (error_ != 0) hdr_.abandon();
  return error_;
}

void SourceGridWriter::rows(const Structure& s, int32_t from, int32_t to) {
  if (error_ != 0) return;
  const GridDescription& g = s.grid;
  const size_t nc = static_cast<size_t>(g.ncols);
  for (int32_t r = from; r >= to && rowsLeft_ > 0; --r, --rowsLeft_) {
    const int32_t* row = s.source.data() + g.index(1, r);
    if (tiff_) {
      if (strip_.size() < static_cast<size_t>(kStripRows) * nc) strip_.resize(static_cast<size_t>(kStripRows) * nc);
      std::copy(row, row + nc, strip_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(stripRows_) * nc));
      if (++stripRows_ == kStripRows) flushStrip();
    } else if (type_ == "ASC") {
      for (size_t c = 0; c < nc; ++c) {
        if (c > 0) text_ += ' ';
        char buf[16];
        auto res = std::to_chars(buf, buf + sizeof buf, row[c]);
        text_.append(buf, res.ptr);
      }
      text_ += '\n';
      if (text_.size() > (1 << 20)) {
        data_.write(text_.data(), text_.size());
        text_.clear();
      }
    } else {
      // Little-endian codes of 2 or 4 bytes; on a little-endian machine a 32-bit row is its own
      // bytes and a 16-bit row is the codes narrowed.
      raw_.resize(nc * bytes_);
      if constexpr (std::endian::native == std::endian::little) {
        if (bytes_ == 4) {
          data_.write(row, nc * 4);
          continue;
        }
        for (size_t c = 0; c < nc; ++c) {
          const int16_t v = static_cast<int16_t>(row[c]);
          std::memcpy(&raw_[2 * c], &v, 2);
        }
      } else {
        for (size_t c = 0; c < nc; ++c) {
          const uint32_t v = static_cast<uint32_t>(row[c]);
          for (size_t b = 0; b < bytes_; ++b) raw_[bytes_ * c + b] = static_cast<unsigned char>(v >> (8 * b));
        }
      }
      data_.write(raw_.data(), raw_.size());
    }
  }
}

void SourceGridWriter::flushStrip() {
  if (stripRows_ > 0 && error_ == 0 && !tiff_->writeRows(strip_.data(), stripRows_, reason_)) error_ = EIO;
  stripRows_ = 0;
}

int SourceGridWriter::commit() {
  if (error_ != 0) {
    abandon();
    return error_;
  }
  if (tiff_) {
    flushStrip();
    if (error_ == 0 && !tiff_->commit(reason_)) error_ = EIO;
    const int e = error_;
    abandon();
    return e;
  }
  if (type_ == "ASC") {
    data_.write(text_.data(), text_.size());
    text_.clear();
    error_ = data_.commit();
    return error_;
  }
  // Both are completed before either is put in place, so that the two appear one right after
  // the other.
  failedName_ = fileName_;
  int e = data_.complete();
  if (e != 0) {
    hdr_.abandon();
    return error_ = e;
  }
  failedName_ = hdrName_;
  e = hdr_.complete();
  if (e != 0) {
    data_.abandon();
    return error_ = e;
  }
  failedName_ = fileName_;
  e = data_.commit();
  if (e != 0) {
    hdr_.abandon();
    return error_ = e;
  }
  failedName_ = hdrName_;
  e = hdr_.commit();
  if (e != 0) frame::removeFile(frame::nativeName(fileName_));
  return error_ = e;
}

void SourceGridWriter::abandon() {
  data_.abandon();
  hdr_.abandon();
  if (tiff_) tiff_->abandon();
  tiff_.reset();
  text_.clear();
  stripRows_ = 0;
}

}  // namespace grid
