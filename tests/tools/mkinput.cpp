// Writes binary test inputs from readable text, so that every binary case can be reviewed.
//
//   mkinput bil <text> <bil>   "nbits 16|32", then the values, north row first
//   mkinput lga <text> <lga>   "N M segmentsPerLayer", then M rows of N segment numbers
//   mkinput cco <text> <cco>   "N M", then "X" and M rows of N values, then "Y" and M rows of N
//   mkinput map <text> <map>   "parameters NAME ...", "segments NS", then per time block
//                              "time T" and NS rows of one value per parameter; "partial B"
//                              adds B bytes of a block cut short
//   mkinput unnamed <folder>   exits 0 when the folder's file system takes unnamed files
//                              (O_TMPFILE), so that a test knows which way outputs are written
//
// Little-endian 4-byte items, no record markers. Anything after "#" on a line is a comment.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/littleendian.h"

namespace {

std::vector<std::string> tokens(const std::string& textName) {
  std::ifstream in(textName);
  if (!in) throw std::runtime_error("cannot read " + textName);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    for (std::string w; words >> w;) out.push_back(w);
  }
  return out;
}

struct Writer {
  std::ofstream out;
  explicit Writer(const std::string& name) : out(name, std::ios::binary) {}
  template <typename T>
  void item(T v) {
    unsigned char b[sizeof(T)];
    frame::le::store(b, v);
    out.write(reinterpret_cast<const char*>(b), sizeof(T));
  }
  void i16(int v) { item(static_cast<int16_t>(v)); }
  void i32(long v) { item(static_cast<int32_t>(v)); }
  void f32(double v) { item(static_cast<float>(v)); }
  void text(const std::string& s, size_t width) {
    std::string t = s.substr(0, width);
    t.resize(width, ' ');
    out.write(t.data(), static_cast<std::streamsize>(width));
  }
};

int bil(const std::vector<std::string>& t, const std::string& outName) {
  Writer w(outName);
  int nbits = 32;
  for (size_t k = 0; k < t.size(); ++k) {
    if (t[k] == "nbits") {
      nbits = std::stoi(t[++k]);
      continue;
    }
    if (nbits == 16) {
      w.i16(std::stoi(t[k]));
    } else {
      w.f32(std::stod(t[k]));
    }
  }
  return 0;
}

int lga(const std::vector<std::string>& t, const std::string& outName) {
  Writer w(outName);
  size_t k = 0;
  const long n = std::stol(t[k++]), m = std::stol(t[k++]), perLayer = std::stol(t[k++]);
  w.i32(n);
  w.i32(m);
  w.i32(perLayer);
  for (int i = 0; i < 4; ++i) w.i32(0);
  for (; k < t.size(); ++k) w.i32(std::stol(t[k]));
  return 0;
}

int cco(const std::vector<std::string>& t, const std::string& outName) {
  Writer w(outName);
  size_t k = 0;
  const long n = std::stol(t[k++]), m = std::stol(t[k++]);
  w.i32(m);
  w.i32(n);
  for (int i = 0; i < 3; ++i) w.i32(0);
  w.i32(0);  // P
  w.i32(0);
  for (int i = 0; i < 9; ++i) w.f32(0.0);
  for (; k < t.size(); ++k) {
    if (t[k] == "X" || t[k] == "Y") continue;
    w.f32(std::stod(t[k]));
  }
  return 0;
}

int map(const std::vector<std::string>& t, const std::string& outName) {
  Writer w(outName);
  std::vector<std::string> names;
  long ns = 0;
  size_t k = 0;
  bool header = false;
  auto writeHeader = [&] {
    if (header) return;
    header = true;
    for (int i = 0; i < 4; ++i) w.text("test MAP file", 40);
    w.i32(static_cast<long>(names.size()));
    w.i32(ns);
    for (const auto& name : names) w.text(name, 20);
  };
  while (k < t.size()) {
    if (t[k] == "parameters") {
      ++k;
      while (k < t.size() && t[k] != "segments") names.push_back(t[k++]);
    } else if (t[k] == "segments") {
      ns = std::stol(t[k + 1]);
      k += 2;
    } else if (t[k] == "time") {
      writeHeader();
      w.i32(std::stol(t[k + 1]));
      k += 2;
      for (long v = 0; v < ns * static_cast<long>(names.size()); ++v) w.f32(std::stod(t[k++]));
    } else if (t[k] == "partial") {
      writeHeader();
      const long b = std::stol(t[k + 1]);
      k += 2;
      for (long i = 0; i < b; ++i) w.out.put('\0');
    } else {
      throw std::runtime_error("unexpected " + t[k]);
    }
  }
  writeHeader();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "unnamed") == 0) {
    const int fd = ::open(argv[2], O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return 1;
    ::close(fd);
    return 0;
  }
  if (argc < 4) {
    std::cerr << "usage: mkinput bil|lga|cco|map <text> <out>\n";
    return 2;
  }
  try {
    const std::string kind = argv[1];
    const auto t = tokens(argv[2]);
    if (kind == "bil") return bil(t, argv[3]);
    if (kind == "lga") return lga(t, argv[3]);
    if (kind == "cco") return cco(t, argv[3]);
    if (kind == "map") return map(t, argv[3]);
  } catch (const std::exception& e) {
    std::cerr << "mkinput: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "mkinput: unknown kind " << argv[1] << "\n";
  return 2;
}
