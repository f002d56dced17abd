// updater-manifest inspect Updater.exe: the facts a build carries (its
// UPDATERFACTS resource), and the clients' facts for `check --client`.
#include <stdio.h>

#include "check.h"
#include "publisher.h"

namespace {

const char kInspectHelp[] =
    "updater-manifest inspect Updater.exe...\n"
    "\n"
    "Prints the facts each build carries, as its CMake settings made them (the RCDATA resource UPDATERFACTS:\n"
    "scheme, host, installer pins, feed pins, signed releases, ceilings, reports, product), and the file's\n"
    "SHA-256. `check --client Updater.exe` and `release --client Updater.exe` judge a release as that build will.\n";


// The file offset of `rva`; 0 when no section holds it.
size_t OffsetOf(const std::string& image, size_t sections, unsigned count, unsigned long rva) {
  for (unsigned i = 0; i < count; ++i) {
    size_t s = sections + 40 * i;
    unsigned long address = ReadLe32(image, s + 12), size = ReadLe32(image, s + 8), raw = ReadLe32(image, s + 20);
    if (rva >= address && rva < address + size) return raw + (rva - address);
  }
  return 0;
}

// The entry of a resource directory (at `dir`, inside the section at `base`)
// with the id `id`, or named `name`; its offset field, or 0.
unsigned long Entry(const std::string& image, size_t base, size_t dir, unsigned id, const char* name) {
  unsigned named = ReadLe16(image, dir + 12), ids = ReadLe16(image, dir + 14);
  for (unsigned i = 0; i < named + ids && i < 4096; ++i) {
    size_t entry = dir + 16 + 8 * i;
    unsigned long key = ReadLe32(image, entry);
    bool match = false;
    if ((key & 0x80000000ul) && name) {
      size_t text = base + (key & 0x7FFFFFFFul);
      unsigned length = ReadLe16(image, text);
      std::string found;
      for (unsigned k = 0; k < length && k < 64; ++k) found += static_cast<char>(ReadLe16(image, text + 2 + 2 * k));
      match = found == name;
    } else if (!(key & 0x80000000ul) && !name) {
      match = key == id || id == 0xFFFF;  // 0xFFFF: the first one
    }
    if (match) return ReadLe32(image, entry + 4);
  }
  return 0;
}

}  // namespace

std::string ReadFacts(const std::string& image, std::map<std::string, std::string>* facts) {
  if (image.compare(0, 2, "MZ") != 0) return "not a Windows program";
  size_t pe = ReadLe32(image, 0x3C);
  if (pe + 24 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return "no PE header";
  unsigned count = ReadLe16(image, pe + 6);
  size_t optional = pe + 24, sections = optional + ReadLe16(image, pe + 20);
  size_t directories = optional + (ReadLe16(image, optional) == 0x20B ? 112 : 96);
  size_t base = OffsetOf(image, sections, count, ReadLe32(image, directories + 2 * 8));
  unsigned long type = base ? Entry(image, base, base, 10, nullptr) : 0;  // RT_RCDATA
  unsigned long named = type & 0x80000000ul ? Entry(image, base, base + (type & 0x7FFFFFFFul), 0, "UPDATERFACTS") : 0;
  unsigned long language = named & 0x80000000ul ? Entry(image, base, base + (named & 0x7FFFFFFFul), 0xFFFF, nullptr)
                                                 : 0;
  if (!language || (language & 0x80000000ul)) return "no UPDATERFACTS resource: a build older than the facts";
  size_t data = base + language;
  size_t at = OffsetOf(image, sections, count, ReadLe32(image, data)), size = ReadLe32(image, data + 4);
  if (!at || at + size > image.size()) return "a facts resource outside the file";
  std::string text = image.substr(at, size);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    size_t equals = line.find('=');
    if (equals != std::string::npos) (*facts)[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return facts->count("scheme") ? "" : "a facts resource without its facts";
}

int Inspect(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("inspect takes one or more Updater.exe");
  int status = 0;
  for (const std::string& path : args) {
    if (path == "--help") {
      fputs(kInspectHelp, stdout);
      return 0;
    }
    std::string image;
    std::map<std::string, std::string> facts;
    std::string fault = ReadWhole(path, &image) ? ReadFacts(image, &facts) : "cannot read it";
    printf("%s: sha256 %s\n", path.c_str(), image.empty() ? "-" : Sha256Hex(image).c_str());
    if (!fault.empty()) {
      printf("  %s\n", fault.c_str());
      status = 1;
    }
    for (const auto& fact : facts) printf("  %s=%s\n", fact.first.c_str(), Printable(fact.second).c_str());
  }
  return status;
}
