// GDAL's start-up and its message channel.
#include "gdal/gdalroom.h"

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>

#include <mutex>

namespace gdalroom {
namespace {

std::mutex messagesLock;
std::vector<std::string> messages;

void CPL_STDCALL collect(CPLErr level, CPLErrorNum number, const char* text) {
  if (level == CE_None || level == CE_Debug) return;
  std::string line =
      (level == CE_Warning ? "GDAL warning " : "GDAL error ") + std::to_string(number) + ": " + (text ? text : "");
  std::lock_guard<std::mutex> hold(messagesLock);
  messages.push_back(line);
}

}  // namespace

// Registers the drivers and routes GDAL's messages once, before the first use.
void ensureStarted() {
  static std::once_flag once;
  std::call_once(once, [] {
    CPLSetErrorHandler(collect);
    GDALAllRegister();
  });
}

bool builtIn() {
  return true;
}

std::string notBuiltInMessage() {
  return "The program was built without GDAL.";
}

std::vector<std::string> takeMessages() {
  std::lock_guard<std::mutex> hold(messagesLock);
  std::vector<std::string> out;
  out.swap(messages);
  return out;
}

}  // namespace gdalroom
