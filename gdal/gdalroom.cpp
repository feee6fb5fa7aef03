// GDAL's loading, start-up and message channel.
#include "gdal/gdalroom.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "gdal/internal.h"
#include "gdal/lazy.h"

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

// GDAL's library, opened once: the file TERVALA_GDAL_LIBRARY names when it is set (a GDAL
// elsewhere), else by the name its version answers to (the one the program was built with),
// else by the file the build found. Empty, with the loader's reason, when none opens.
struct Library {
  void* handle = nullptr;
  std::string why;
};

const Library& library() {
  static const Library lib = [] {
    Library l;
    const char* own = std::getenv("TERVALA_GDAL_LIBRARY");
    const bool given = own && *own;
    for (const char* name : {given ? own : TERVALA_GDAL_SONAME, given ? "" : TERVALA_GDAL_LIBRARY}) {
      if (!*name) continue;
      l.handle = ::dlopen(name, RTLD_NOW | RTLD_GLOBAL);
      if (l.handle) return l;
      const char* e = ::dlerror();
      if (l.why.empty()) l.why = e ? e : name;
    }
    return l;
  }();
  return lib;
}

}  // namespace

namespace lazy {

void* symbol(const char* name) {
  void* p = library().handle ? ::dlsym(library().handle, name) : nullptr;
  if (!p) {
    std::fprintf(stderr,
                 "TervalaGridCreate: GDAL's function %s is missing from %s: the program was built with another GDAL.\n",
                 name, TERVALA_GDAL_SONAME);
    std::abort();
  }
  return p;
}

}  // namespace lazy

// Loads GDAL, registers its drivers and routes its messages, once, before the first use.
bool ensureStarted(std::string* why) {
  if (!library().handle) {
    if (why) *why = notBuiltInMessage();
    return false;
  }
  static std::once_flag once;
  std::call_once(once, [] {
    CPLSetErrorHandler(collect);
    GDALAllRegister();
  });
  return true;
}

bool builtIn() {
  return ensureStarted();
}

std::string notBuiltInMessage() {
  return "GDAL's library could not be loaded (apt-get install gdal-bin): " + library().why;
}

std::vector<std::string> takeMessages() {
  std::lock_guard<std::mutex> hold(messagesLock);
  std::vector<std::string> out;
  out.swap(messages);
  return out;
}

}  // namespace gdalroom
