// What tulm_golden keeps of a call: every output as its class, dimensions and raw bytes, and
// the text the call printed, warned or failed with. Records are hashed for the reference file
// and written whole to a dump, so two platforms' runs can be compared element by element.
#ifndef TULM_TESTS_GOLDEN_GOLDEN_RECORDS_H
#define TULM_TESTS_GOLDEN_GOLDEN_RECORDS_H

#include <cstdint>
#include <string>
#include <vector>

namespace tulm_golden {

struct Record {
  std::string call;       // label of the call, unique in the run
  std::string routine;    // the plug-in called, or the core routine
  std::string output;     // "1", "2", ... (as MATLAB counts outputs) or "text"
  std::string className;  // "double", "single", "int32", "text", "handle" or "none"
  std::vector<uint64_t> dims;
  std::vector<unsigned char> bytes;  // elements as the host stores them; none for a handle
};

// 64-bit FNV-1a over the class name, the dimensions and the bytes.
uint64_t hash_of(const Record& record);

// One line per record: call, routine, output, class, dims, hash.
std::string reference_line(const Record& record);

// The reference lines of a file, comments and blank lines left out. Throws when unreadable.
std::vector<std::string> read_reference(const std::string& path);
void write_reference(const std::string& path, const std::vector<Record>& records);

// Dumps: every record whole, integers little-endian.
void write_dump(const std::string& path, const std::vector<Record>& records);
std::vector<Record> read_dump(const std::string& path);

// Where a and b first differ, as lines for a reader: the call, the output, the element (index
// and subscripts) with both values as numbers and as hex bits; empty when they are equal.
std::string describe_difference(const Record& a, const Record& b);

}  // namespace tulm_golden

#endif  // TULM_TESTS_GOLDEN_GOLDEN_RECORDS_H
