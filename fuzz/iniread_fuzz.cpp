// The settings reader on any text: the map always holds sections of texts,
// keys and values come out trimmed and free of comments, and reading the same
// bytes from a file gives the same map.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "settings.h"
#include "veltro/table.h"

using veltro::fuzz::check;

namespace {

std::string gDir;

void writeFile(const std::string& name, std::string_view text) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

bool trimmed(std::string_view s) {
  if (s.empty()) return true;
  const char first = s.front();
  return first != ' ' && first != '\t' && first != '\r' && first != '\n' && s.back() != ' ';
}

bool sameMap(const veltro::Table& a, const veltro::Table& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a.keyAt(i) != b.keyAt(i)) return false;
    const auto x = a.valueAt(i).asTable(), y = b.valueAt(i).asTable();
    if (!x || !y || x->size() != y->size()) return false;
    for (std::size_t k = 0; k < x->size(); ++k)
      if (x->keyAt(k) != y->keyAt(k) || !(x->valueAt(k) == y->valueAt(k))) return false;
  }
  return true;
}

}  // namespace

// Include lines resolve against the working directory: a private folder with
// a few files to include, one of them including itself.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/veltro-fuzz-iniXXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir || chdir(dir) != 0) std::abort();
  gDir = dir;
  writeFile("a.ini", "[mysql]\r\nhost=a\r\n");
  writeFile("self.ini", "k=v\ninclude self.ini\n[s]\n");
  writeFile("b.ini", "x=1\ninclude a.ini\ny=2 ||\n3\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Names with a slash could reach any file of the machine (a FIFO would block).
  if (text.find('/') != std::string_view::npos && text.find("include ") != std::string_view::npos) return 0;

  const veltro::TablePtr map = veltro::INIREADTEXT(text);
  check(map && map->has("MAIN"), "MAIN section");
  for (const auto& section : *map) {
    check(trimmed(section.key) && !section.key.empty(), "section name trimmed", section.key);
    check(section.key.find('#') == std::string::npos, "no comment in a section name", section.key);
    const veltro::TablePtr keys = section.value.asTable();
    check(keys != nullptr, "section is a table", section.key);
    for (const auto& entry : *keys) {
      check(entry.value.isText(), "value is text", entry.key);
      const std::string& value = entry.value.str();
      check(trimmed(entry.key) && trimmed(value), "key and value trimmed", entry.key);
      check(entry.key.find('#') == std::string::npos && value.find('#') == std::string::npos,
            "no comment in a key or value", entry.key);
      check(entry.key.find('=') == std::string::npos && value.find('=') == std::string::npos,
            "no '=' in a key or value", entry.key);
    }
  }

  if (size <= 4096) {
    writeFile("input.ini", text);
    check(sameMap(*map, *veltro::INIREAD("input.ini")), "file and text read alike");
  }
  return 0;
}
