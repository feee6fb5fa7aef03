#pragma once
// Little-endian numbers in bytes: the byte order of BIL rasters and of the model's LGA, CCO and
// MAP files, whatever the order of the machine that reads or writes them. Loads and stores of
// single items, whole arrays, and a checked reader over bytes whose short read is an error that
// the caller sees, never a value made up of whatever lay beyond the end.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace frame::le {

// True where the floats and integers as they lie in memory are already the files' bytes.
inline constexpr bool nativeIsLittle = std::endian::native == std::endian::little;

namespace detail {
template <typename U>
constexpr U swapped(U v) {
  if constexpr (sizeof(U) == 1) {
    return v;
  } else {
    U out = 0;
    for (size_t k = 0; k < sizeof(U); ++k) {
      out = static_cast<U>((out << 8) | (v & 0xff));
      v = static_cast<U>(v >> 8);
    }
    return out;
  }
}
template <size_t N>
struct UnsignedOf;
template <>
struct UnsignedOf<1> {
  using type = uint8_t;
};
template <>
struct UnsignedOf<2> {
  using type = uint16_t;
};
template <>
struct UnsignedOf<4> {
  using type = uint32_t;
};
template <>
struct UnsignedOf<8> {
  using type = uint64_t;
};
}  // namespace detail

// The item of type T (an integer, float or double) stored little-endian at p.
template <typename T>
inline T load(const void* p) {
  static_assert(std::is_arithmetic_v<T>);
  using U = typename detail::UnsignedOf<sizeof(T)>::type;
  U bits;
  std::memcpy(&bits, p, sizeof(U));
  if constexpr (!nativeIsLittle) bits = detail::swapped(bits);
  return std::bit_cast<T>(bits);
}

// Stores v little-endian at p.
template <typename T>
inline void store(void* p, T v) {
  static_assert(std::is_arithmetic_v<T>);
  using U = typename detail::UnsignedOf<sizeof(T)>::type;
  U bits = std::bit_cast<U>(v);
  if constexpr (!nativeIsLittle) bits = detail::swapped(bits);
  std::memcpy(p, &bits, sizeof(U));
}

// n items of type T stored little-endian at p, converted to float (a BIL row of 16-bit
// integers or of 32-bit floats).
template <typename T>
inline void loadFloats(const void* p, float* out, size_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  if constexpr (std::is_same_v<T, float> && nativeIsLittle) {
    std::memcpy(out, b, 4 * n);
  } else {
    for (size_t k = 0; k < n; ++k) out[k] = static_cast<float>(load<T>(b + sizeof(T) * k));
  }
}

// n floats stored little-endian from values at p.
inline void storeFloats(void* p, const float* values, size_t n) {
  if constexpr (nativeIsLittle) {
    std::memcpy(p, values, 4 * n);
  } else {
    unsigned char* b = static_cast<unsigned char*>(p);
    for (size_t k = 0; k < n; ++k) store(b + 4 * k, values[k]);
  }
}

// Items read straight from a file into an array: turns their little-endian bytes into the
// machine's numbers, in place (nothing to do on a little-endian machine).
template <typename T>
inline void fromLittleInPlace(T* items, size_t n) {
  if constexpr (!nativeIsLittle) {
    for (size_t k = 0; k < n; ++k) items[k] = load<T>(&items[k]);
  } else {
    (void)items;
    (void)n;
  }
}

// Reads little-endian items from bytes in memory, checked against their end. A read past the
// end gives 0 and marks the reader failed, for good; ok() tells whether every read so far was
// whole, so that a record of several items is checked once after it is read.
class ByteReader {
 public:
  ByteReader(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  size_t position() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool has(size_t n) const { return n <= remaining(); }
  [[nodiscard]] bool ok() const { return ok_; }

  template <typename T>
  T take() {
    if (!ok_ || !has(sizeof(T))) {
      ok_ = false;
      return T{};
    }
    const T v = load<T>(data_ + pos_);
    pos_ += sizeof(T);
    return v;
  }
  int16_t i16() { return take<int16_t>(); }
  int32_t i32() { return take<int32_t>(); }
  uint32_t u32() { return take<uint32_t>(); }
  float f32() { return take<float>(); }
  double f64() { return take<double>(); }
  // n raw bytes (text fields); false, and nothing taken, when fewer remain.
  [[nodiscard]] bool bytes(void* dst, size_t n) {
    if (!ok_ || !has(n)) {
      ok_ = false;
      return false;
    }
    std::memcpy(dst, data_ + pos_, n);
    pos_ += n;
    return true;
  }

 private:
  const unsigned char* data_;
  size_t size_, pos_ = 0;
  bool ok_ = true;
};

// One little-endian item from a source with read(void*, size_t) -> bool that reads exactly
// that many bytes or nothing (BinaryInputFile). False on a short read; v is then left alone.
template <typename T, typename Source>
[[nodiscard]] inline bool read(Source& in, T& v) {
  unsigned char b[sizeof(T)];
  if (!in.read(b, sizeof(T))) return false;
  v = load<T>(b);
  return true;
}

}  // namespace frame::le
