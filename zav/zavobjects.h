#pragma once
// Declarations of the model files, ZAV-OBJECT blocks and USE-ZAV-OBJECT lines.
#include <string>

#include "frame/frame.h"
#include "zav/zav.h"

namespace zav {

void DEFINEZAV(frame::Frame& fr, ZavState& state, int unit);
void DECLAREBASICFILES(frame::Frame& fr, ZavState& state, int unit, const std::string& kind);
bool NEWFILEFOUND(frame::Frame& fr, ZavState& state, int unit, const std::string& kind);
// The number (from 1) of the first file of the kind with that ID; -1 when there is none.
int GETFILENR(const ZavState& state, const std::string& kind, const std::string& mode, const std::string& value);
void DECLAREZAVOBJECTS(frame::Frame& fr, ZavState& state, int unit);
bool NEWZAVOBJECTFOUND(frame::Frame& fr, ZavState& state, int unit);
int GETZAVNR(const ZavState& state, const std::string& mode, const std::string& value);
std::string GETIDSZAVOBJECT(frame::Frame& fr, const ZavState& state, int object, const std::string& kind);
void CHECKZAVOBJECT(frame::Frame& fr, ZavState& state, int object);
// HANDLEZAVFILE: one USE-ZAV-OBJECT line (upper-cased) into a new Zav use; errors stop.
void HANDLEZAVFILE(frame::Frame& fr, ZavState& state, const std::string& line);
void ALLOCATEAZAVOBJECT(ZavState& state);

}  // namespace zav
