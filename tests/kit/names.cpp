#include "kit/names.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace testkit {

std::string UniquePipeName(const std::string& what) {
  static std::atomic<unsigned> serial{0};
  return "tarvix-" + what + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++serial);
}

std::string TempPath(const std::string& stem) {
  char dir[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, dir);
  std::string folder(dir, n > 0 && n < MAX_PATH ? n : 0);
  return folder + stem + "-" + std::to_string(GetCurrentProcessId()) + ".txt";
}

std::string ReadFileText(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return text;
}

bool WriteFileText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace testkit
