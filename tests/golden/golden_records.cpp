#include "golden_records.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tulm_golden {
namespace {

const char kDumpMagic[8] = {'T', 'U', 'L', 'M', 'G', 'L', 'D', '1'};

std::string hex(uint64_t value, int digits) {
  std::string text(static_cast<size_t>(digits), '0');
  for (int k = digits - 1; k >= 0; --k, value >>= 4) text[k] = "0123456789abcdef"[value & 15];
  return text;
}

std::string dims_text(const Record& record) {
  if (record.dims.empty()) return "-";
  std::string text;
  for (size_t k = 0; k < record.dims.size(); ++k) {
    text += (k > 0 ? "x" : "") + std::to_string(record.dims[k]);
  }
  return text;
}

size_t element_size(const std::string& className) {
  if (className == "double") return 8;
  if (className == "single" || className == "int32") return 4;
  return 1;
}

// Element k of a record as a number and as its bits.
std::string element_text(const Record& record, size_t k) {
  const unsigned char* at = record.bytes.data() + k * element_size(record.className);
  char number[64];
  uint64_t bits = 0;
  int digits = 2;
  if (record.className == "double") {
    double value;
    std::memcpy(&value, at, sizeof value);
    std::memcpy(&bits, at, sizeof value);
    std::snprintf(number, sizeof number, "%.17g", value);
    digits = 16;
  } else if (record.className == "single") {
    float value;
    uint32_t word;
    std::memcpy(&value, at, sizeof value);
    std::memcpy(&word, at, sizeof word);
    std::snprintf(number, sizeof number, "%.9g", static_cast<double>(value));
    bits = word;
    digits = 8;
  } else if (record.className == "int32") {
    int32_t value;
    uint32_t word;
    std::memcpy(&value, at, sizeof value);
    std::memcpy(&word, at, sizeof word);
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(value));
    bits = word;
    digits = 8;
  } else {
    std::snprintf(number, sizeof number, "%d", static_cast<int>(*at));
    bits = *at;
  }
  return std::string(number) + " (0x" + hex(bits, digits) + ")";
}

// 1-based subscripts of element k, as MATLAB shows them.
std::string subscripts(const Record& record, size_t k) {
  std::string text = "(";
  for (size_t d = 0; d < record.dims.size(); ++d) {
    const uint64_t extent = record.dims[d] > 0 ? record.dims[d] : 1;
    text += (d > 0 ? ", " : "") + std::to_string(k % extent + 1);
    k /= extent;
  }
  return text + ")";
}

// The line of text around byte k, for a text record.
std::string line_at(const Record& record, size_t k) {
  const std::string text(record.bytes.begin(), record.bytes.end());
  size_t from = k < text.size() ? k : text.size();
  while (from > 0 && text[from - 1] != '\n') --from;
  size_t end = from;
  while (end < text.size() && text[end] != '\n') ++end;
  return "\"" + text.substr(from, end - from) + "\"";
}

void put_u64(std::ostream& out, uint64_t value) {
  char bytes[8];
  for (int k = 0; k < 8; ++k) bytes[k] = static_cast<char>((value >> (8 * k)) & 0xff);
  out.write(bytes, 8);
}

uint64_t get_u64(std::istream& in) {
  unsigned char bytes[8];
  if (!in.read(reinterpret_cast<char*>(bytes), 8)) throw std::runtime_error("dump cut short");
  uint64_t value = 0;
  for (int k = 7; k >= 0; --k) value = (value << 8) | bytes[k];
  return value;
}

void put_string(std::ostream& out, const std::string& text) {
  put_u64(out, text.size());
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string get_string(std::istream& in) {
  const uint64_t size = get_u64(in);
  if (size > (uint64_t{1} << 32)) throw std::runtime_error("dump damaged");
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(&text[0], static_cast<std::streamsize>(size)))
    throw std::runtime_error("dump cut short");
  return text;
}

}  // namespace

uint64_t hash_of(const Record& record) {
  uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (char c : record.className) mix(static_cast<unsigned char>(c));
  mix(0);
  for (uint64_t extent : record.dims) {
    for (int k = 0; k < 8; ++k) mix(static_cast<unsigned char>((extent >> (8 * k)) & 0xff));
  }
  for (unsigned char byte : record.bytes) mix(byte);
  return hash;
}

std::string reference_line(const Record& record) {
  return record.call + " " + record.routine + " " + record.output + " " + record.className + " " +
         dims_text(record) + " " + hex(hash_of(record), 16);
}

std::vector<std::string> read_reference(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

void write_reference(const std::string& path, const std::vector<Record>& records) {
  std::ofstream out(path, std::ios::binary);
  out << "# tulm_golden: the bits of every output of a fixed set of calls, one line per output:\n"
      << "# call, routine, output, class, dims, 64-bit FNV-1a hash. Regenerate (make "
         "golden-update)\n"
      << "# only for an intended change of bits, and say so in the commit.\n";
  for (const Record& record : records) out << reference_line(record) << "\n";
  if (!out) throw std::runtime_error("cannot write " + path);
}

void write_dump(const std::string& path, const std::vector<Record>& records) {
  std::ofstream out(path, std::ios::binary);
  out.write(kDumpMagic, sizeof kDumpMagic);
  put_u64(out, records.size());
  for (const Record& record : records) {
    put_string(out, record.call);
    put_string(out, record.routine);
    put_string(out, record.output);
    put_string(out, record.className);
    put_u64(out, record.dims.size());
    for (uint64_t extent : record.dims) put_u64(out, extent);
    put_string(out, std::string(record.bytes.begin(), record.bytes.end()));
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<Record> read_dump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[sizeof kDumpMagic];
  if (!in.read(magic, sizeof magic) || std::memcmp(magic, kDumpMagic, sizeof magic) != 0)
    throw std::runtime_error(path + " is not a tulm_golden dump");
  std::vector<Record> records(static_cast<size_t>(get_u64(in)));
  for (Record& record : records) {
    record.call = get_string(in);
    record.routine = get_string(in);
    record.output = get_string(in);
    record.className = get_string(in);
    record.dims.resize(static_cast<size_t>(get_u64(in)));
    for (uint64_t& extent : record.dims) extent = get_u64(in);
    const std::string bytes = get_string(in);
    record.bytes.assign(bytes.begin(), bytes.end());
  }
  return records;
}

std::string describe_difference(const Record& a, const Record& b) {
  std::ostringstream out;
  if (a.call != b.call || a.routine != b.routine || a.output != b.output) {
    out << "the runs made different calls: " << a.call << " " << a.routine << " output " << a.output
        << " against " << b.call << " " << b.routine << " output " << b.output << "\n";
    return out.str();
  }
  const std::string where = a.routine + ", call " + a.call + ", output " + a.output;
  if (a.className != b.className || a.dims != b.dims) {
    out << where << ": " << a.className << " " << dims_text(a) << " against " << b.className << " "
        << dims_text(b) << "\n";
    return out.str();
  }
  if (a.bytes == b.bytes) return "";
  if (a.bytes.size() != b.bytes.size() || a.className == "text") {
    size_t k = 0;
    while (k < a.bytes.size() && k < b.bytes.size() && a.bytes[k] == b.bytes[k]) ++k;
    out << where << ": the text differs at character " << k << ":\n  " << line_at(a, k) << "\n  "
        << line_at(b, k) << "\n";
    return out.str();
  }
  const size_t size = element_size(a.className);
  size_t first = a.bytes.size(), count = 0;
  for (size_t k = 0; k < a.bytes.size(); k += size) {
    if (std::memcmp(&a.bytes[k], &b.bytes[k], size) == 0) continue;
    if (count++ == 0) first = k / size;
  }
  out << where << ", " << a.className << " " << dims_text(a) << ": " << count << " of "
      << a.bytes.size() / size << " elements differ, the first at index " << first
      << " (0-based), element " << subscripts(a, first) << ":\n  " << element_text(a, first)
      << "\n  " << element_text(b, first) << "\n";
  return out.str();
}

}  // namespace tulm_golden
