#pragma once
// Readers that hand out the rows of an ASC or BIL grid file, north to south: opened with their
// header read into a GridDescription, then a row at a time into the caller's floats. The first
// reading of a TERVALAGRID line and the reading again of its rows band by band go through the
// same reader, so that both decode and check the values alike.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/files.h"
#include "frame/frame.h"
#include "frame/littleendian.h"
#include "frame/pager.h"
#include "grid/griddesc.h"

namespace grid {

class ListReader;

// Why a row could not be read.
enum class RowFault { None, End, ReadError, NotANumber };

class RowReader {
 public:
  virtual ~RowReader() = default;
  // The name of the data file as the messages give it.
  const std::string& dataName() const { return dataName_; }
  int32_t ncols() const { return ncols_; }
  int32_t nrows() const { return nrows_; }
  // The next row, north to south, into row (ncols values). False on a fault: fault(),
  // faultRow() (counted from the north, 0 first) and faultColumn() say what and where.
  [[nodiscard]] virtual bool nextRow(float* row) = 0;
  // Makes row north (0 the northernmost) the next one read. False on a fault.
  [[nodiscard]] virtual bool seekRow(int64_t north) = 0;
  // The message block of the fault, as the first reading of the file reports it.
  virtual std::vector<std::string> faultMessage() const = 0;
  RowFault fault() const { return fault_; }
  int64_t faultRow() const { return faultRow_; }
  int64_t faultColumn() const { return faultColumn_; }

 protected:
  bool failed(RowFault f, int64_t row, int64_t column = 0) {
    fault_ = f;
    faultRow_ = row;
    faultColumn_ = column;
    return false;
  }
  // "row R, column C" of the fault, both counted from 1.
  std::string faultPlace() const;
  std::string dataName_, path_;
  int32_t ncols_ = 0, nrows_ = 0;
  int64_t next_ = 0;  // the row, counted from the north, that nextRow gives
  RowFault fault_ = RowFault::None;
  int64_t faultRow_ = 0, faultColumn_ = 0;
};

// An ASC file: six header lines, then the values list-directed, north row first. A NaN
// nodata_value marks the NaN cells as missing values: they are read as d.nodata.
class AscRowReader : public RowReader {
 public:
  AscRowReader();
  ~AscRowReader() override;
  // Opens the file at path for reading its values of the grid d: the header is skipped. 0, the
  // error number, or -1 when the file has fewer than the six header lines.
  int open(const std::string& path, const std::string& dataName, const GridDescription& d, bool nanNodata);
  // The size and nodata of the grid, once the header gave them.
  void describe(const GridDescription& d, bool nanNodata);
  bool nanNodata() const { return nanNodata_; }
  [[nodiscard]] bool nextRow(float* row) override;
  // A row north of the last one read is reached by reading the file again from its start.
  [[nodiscard]] bool seekRow(int64_t north) override;
  std::vector<std::string> faultMessage() const override;

 private:
  int restart();  // back to the first row: 0, the error number or -1 (see open)
  std::unique_ptr<ListReader> in_;
  std::vector<float> skipped_;
  std::string token_;  // the text of the last value read
  float nodata_ = 0.0f;
  bool nanNodata_ = false;
};

// A BIL file: rows of little-endian 16-bit integers or 32-bit floats, north row first. A 32-bit
// value that is not a number is a fault.
class BilRowReader : public RowReader {
 public:
  // 0 or the error number.
  int open(const std::string& path, const std::string& dataName, const GridDescription& d, bool sixteenBit);
  bool sixteenBit() const { return sixteenBit_; }
  uint64_t fileSize() const { return bin_.size(); }
  [[nodiscard]] bool nextRow(float* row) override;
  [[nodiscard]] bool seekRow(int64_t north) override;
  std::vector<std::string> faultMessage() const override;
  // A 32-bit file on a little-endian machine, whose floats are the grid's bytes: every row
  // straight into its place in d.values (rows south first), the rows shared out among threads,
  // in rounds so that the progress display keeps going. False on a fault, which is the first
  // in file order; the rows north of it are in place.
  [[nodiscard]] bool readInPlace(GridDescription& d, int threads, frame::ProgressCounter& progress);
  bool canReadInPlace() const { return !sixteenBit_ && frame::le::nativeIsLittle; }

 private:
  frame::BinaryInputFile bin_;
  std::vector<unsigned char> raw_;
  bool sixteenBit_ = false;
};

// Opens the ASC or BIL grid file of a TERVALAGRID line on unit, reads its header into d and
// checks the grid it describes; sixteenBit tells whether it is a 16-bit BIL. Returns err after
// the message block; on success reader is ready at the northernmost row.
[[nodiscard]] bool openAscRows(frame::Frame& fr, const std::string& name, frame::UnitLease& unit, GridDescription& d,
                               bool& sixteenBit, std::unique_ptr<AscRowReader>& reader);
[[nodiscard]] bool openBilRows(frame::Frame& fr, const std::string& name, frame::UnitLease& unit, GridDescription& d,
                               bool& sixteenBit, std::unique_ptr<BilRowReader>& reader);

}  // namespace grid
