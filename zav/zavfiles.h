#pragma once
// The LGA, CCO and MAP files of the model: reading and the queries on them.
#include <string>

#include "frame/frame.h"
#include "zav/zav.h"

namespace zav {

// Each reader appends a record; a file that cannot be opened or is shorter than its header
// says stops the run with code 100.
void READLGAFILE(frame::Frame& fr, ZavFiles& files, const std::string& id, const std::string& fileName);
void READCCOFILE(frame::Frame& fr, ZavFiles& files, const std::string& id, const std::string& fileName);
void READMAPFILE(frame::Frame& fr, ZavFiles& files, const std::string& id, const std::string& fileName);

// kind "LGA" or "CCO", index "N" or "M".
int32_t GETMAXINDEX(const ZavFiles& files, int fileNr, const std::string& kind, const std::string& index);
int32_t GETSEGMENTNRFORINDICES(const ZavFiles& files, int lgaNr, int32_t n, int32_t m);
int32_t GETMAXSEGMENTINLGAID(const ZavFiles& files, const std::string& id);
// X minimum, X maximum, Y minimum, Y maximum.
void GETGRIDEXTENT(const ZavFiles& files, float extent[4], int ccoNr);
CellCorners GETCELLCORNERS(const ZavFiles& files, int ccoNr, int32_t n, int32_t m);
// Whether model cell (n, m) has all four corners: GETCELLCORNERS's valid, without the rest.
bool CELLHASCORNERS(const ZavFiles& files, int ccoNr, int32_t n, int32_t m);
int32_t GETNROFPARSINMAPFILE(const ZavFiles& files, int mapNr);
std::string GETPARAMETERFROMMAPFILE(const ZavFiles& files, int mapNr, int i);
// The values of a parameter for the segments of one layer at one time block.
void READVALUESFROMZAV(frame::Frame& fr, ZavState& state, int object, const std::string& mode,
                       const std::string& parameterName, int32_t timeNumber, int32_t layer, std::vector<float>& out);

}  // namespace zav
