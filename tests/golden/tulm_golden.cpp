// tulm_golden: runs a fixed, seeded set of calls of every plug-in and checks that each output
// has the bits recorded in the reference file, so that a platform or a change that moves a bit
// is caught by name. Dumps of two runs compare element by element.
//
//   tulm_golden [--plugins DIR] [--check REF] [--write REF] [--dump FILE]
//   tulm_golden --compare DUMP_A DUMP_B
//
// Plug-ins load from DIR, else from $TULM_PLUGIN_DIR, else from this build's folder.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "golden_calls.h"
#include "golden_records.h"
#include "harness.h"

namespace {

const char* const kUsage =
    "usage: tulm_golden [--plugins DIR] [--check REF] [--write REF] [--dump FILE]\n"
    "       tulm_golden --compare DUMP_A DUMP_B\n";

// Sizes as int for printf: %zu is not in every C runtime the program is built for.
template <class Container>
int count(const Container& items) {
  return static_cast<int>(items.size());
}

struct Tally {
  std::string routine;
  std::set<std::string> calls;
  int records = 0;
  int differing = 0;
};

// One line per routine (calls and records checked), a total, and the first difference.
bool check(const std::vector<tulm_golden::Record>& records, const std::string& path) {
  const std::vector<std::string> reference = tulm_golden::read_reference(path);
  std::vector<Tally> tallies;
  std::string first;
  int differing = 0;
  for (size_t k = 0; k < records.size(); ++k) {
    const tulm_golden::Record& record = records[k];
    size_t t = 0;
    while (t < tallies.size() && tallies[t].routine != record.routine) ++t;
    if (t == tallies.size()) tallies.push_back(Tally{record.routine, {}, 0, 0});
    tallies[t].calls.insert(record.call);
    ++tallies[t].records;
    const std::string line = tulm_golden::reference_line(record);
    const std::string expected = k < reference.size() ? reference[k] : "(no line)";
    if (line == expected) continue;
    ++tallies[t].differing;
    if (differing++ == 0) {
      first = "first difference: " + record.routine + ", call " + record.call + ", output " +
              record.output + "\n  reference: " + expected + "\n  this run:  " + line + "\n";
    }
  }
  int calls = 0;
  for (const Tally& tally : tallies) {
    std::printf("%-38s %4d calls %5d records  %s\n", tally.routine.c_str(), count(tally.calls),
                tally.records, tally.differing == 0 ? "ok" : "DIFFER");
    calls += count(tally.calls);
  }
  if (reference.size() != records.size()) {
    std::printf("%s has %d lines, this run %d records\n", path.c_str(), count(reference),
                count(records));
  }
  if (differing == 0 && reference.size() == records.size()) {
    std::printf("total: %d calls, %d records, every one as in %s\n", calls, count(records),
                path.c_str());
    return true;
  }
  std::printf("total: %d calls, %d of %d records differ from %s\n%s", calls, differing,
              count(records), path.c_str(), first.c_str());
  std::printf("to see the elements, run --dump here and on a reference platform, then --compare\n");
  return false;
}

// The first differing record of two dumps, element by element.
bool compare(const std::string& pathA, const std::string& pathB) {
  const std::vector<tulm_golden::Record> a = tulm_golden::read_dump(pathA);
  const std::vector<tulm_golden::Record> b = tulm_golden::read_dump(pathB);
  std::string first;
  int differing = 0;
  for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
    const std::string difference = tulm_golden::describe_difference(a[k], b[k]);
    if (difference.empty()) continue;
    if (differing++ == 0) first = difference;
  }
  if (differing == 0 && a.size() == b.size()) {
    std::printf("%s and %s hold the same bits (%d records)\n", pathA.c_str(), pathB.c_str(),
                count(a));
    return true;
  }
  if (a.size() != b.size()) std::printf("%d records against %d\n", count(a), count(b));
  std::printf("%d records differ; the first:\n%s", differing, first.c_str());
  return false;
}

int run(int argc, char** argv) {
  std::string plugins, checkPath, writePath, dumpPath;
  for (int k = 1; k < argc; ++k) {
    const std::string option = argv[k];
    if (option == "--compare" && argc == 4 && k == 1) return compare(argv[2], argv[3]) ? 0 : 1;
    std::string* value = option == "--plugins" ? &plugins
                         : option == "--check" ? &checkPath
                         : option == "--write" ? &writePath
                         : option == "--dump"  ? &dumpPath
                                               : nullptr;
    if (value == nullptr || k + 1 == argc) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    *value = argv[++k];
  }
  if (checkPath.empty() && writePath.empty() && dumpPath.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!plugins.empty()) {
    mexhost::set_plugin_dir(plugins);
  } else if (std::getenv("TULM_PLUGIN_DIR") == nullptr) {
    mexhost::set_plugin_dir(TULM_PLUGIN_DIR);
  }

  const tulm_golden::GoldenRun golden = tulm_golden::run_golden_calls();
  if (!dumpPath.empty()) tulm_golden::write_dump(dumpPath, golden.records);
  if (!writePath.empty()) {
    if (golden.troubledCalls > 0) {
      std::fprintf(stderr, "%d calls failed or damaged memory; no reference written\n",
                   golden.troubledCalls);
      return 1;
    }
    tulm_golden::write_reference(writePath, golden.records);
    std::printf("wrote %d records to %s\n", count(golden.records), writePath.c_str());
  }
  return checkPath.empty() || check(golden.records, checkPath) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tulm_golden: %s\n", error.what());
    return 2;
  }
}
