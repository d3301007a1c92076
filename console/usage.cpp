#include "console/usage.h"

#include "console/consoleline.h"
#include "foundation/myprintf.h"
#include "foundation/textconv.h"
#include "foundation/winhandles.h"

#include <cstring>
#include <new>

namespace tarvixconsole {

namespace {

using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

// Owner of the version data block.
class CVersionData {
public:
  explicit CVersionData(DWORD size) : m_data(new (std::nothrow) BYTE[size]) {}
  CVersionData(const CVersionData&) = delete;
  CVersionData& operator=(const CVersionData&) = delete;
  ~CVersionData() { delete[] m_data; }
  BYTE* Get() const { return m_data; }

private:
  BYTE* m_data;
};

void QueryString(VerQueryValueWFn query, const void* data, DWORD translation, const char* name,
                 char (&out)[SVersionHeader::kValueChars]) {
  out[0] = '\0';
  wchar_t path[128];
  tarvixlib::FormatToBuffer(path, sizeof(path) / sizeof(path[0]), L"\\StringFileInfo\\%08lx\\%S",
                            static_cast<unsigned long>(translation), name);
  void* value = nullptr;
  UINT length = 0;
  if (!query(data, path, &value, &length) || !value || length == 0) return;
  // The value is zero-terminated within `length` characters; copy it bounded.
  wchar_t text[SVersionHeader::kValueChars];
  UINT n = length < SVersionHeader::kValueChars ? length : SVersionHeader::kValueChars - 1;
  memcpy(text, value, n * sizeof(wchar_t));
  text[n] = L'\0';
  if (tarvixlib::WideToAnsi(out, text, SVersionHeader::kValueChars) <= 0) out[0] = '\0';
}

}  // namespace

bool ReadVersionHeader(const wchar_t* modulePath, SVersionHeader& header) {
  header = SVersionHeader();
  if (!modulePath) return false;
  using tarvixlib::ModuleTraits;
  tarvixlib::CUniqueModule version(LoadLibraryExA("version.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  auto getSize = ModuleTraits::Proc<GetFileVersionInfoSizeWFn>(version.Get(), "GetFileVersionInfoSizeW");
  auto getInfo = ModuleTraits::Proc<GetFileVersionInfoWFn>(version.Get(), "GetFileVersionInfoW");
  auto query = ModuleTraits::Proc<VerQueryValueWFn>(version.Get(), "VerQueryValueW");
  if (!getSize || !getInfo || !query) return false;

  DWORD handle = 0;
  DWORD size = getSize(modulePath, &handle);
  if (size == 0) return false;
  CVersionData data(size);
  if (!data.Get() || !getInfo(modulePath, 0, size, data.Get())) return false;

  DWORD translation = 0;
  void* pairs = nullptr;
  UINT pairsLength = 0;
  if (query(data.Get(), L"\\VarFileInfo\\Translation", &pairs, &pairsLength) && pairs &&
      pairsLength >= 4) {
    const WORD* pair = static_cast<const WORD*>(pairs);
    translation = (DWORD(pair[0]) << 16) | pair[1];  // language high, code page low
  }
  QueryString(query, data.Get(), translation, "FileVersion", header.fileVersion);
  QueryString(query, data.Get(), translation, "CompanyName", header.companyName);
  QueryString(query, data.Get(), translation, "LegalCopyright", header.legalCopyright);
  QueryString(query, data.Get(), translation, "FileDescription", header.fileDescription);
  return true;
}

bool ReadOwnVersionHeader(SVersionHeader& header) {
  wchar_t path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    header = SVersionHeader();
    return false;
  }
  path[n] = L'\0';
  return ReadVersionHeader(path, header);
}

void PrintUsage(const CConsoleCommandLine& commandLine, const SVersionHeader* header) {
  CMyConsoleLineContainer block(false);
  if (header) {
    block.AddEmpty();
    block.AddHeader("%s, Version %s", header->fileDescription, header->fileVersion);
    block.AddHeader("%s", header->legalCopyright);
    block.AddEmpty();
  }
  block.AddHeader("USAGE:\r\n    %s [options] [filename]\r\n", commandLine.GetProgramName());
  bool all = commandLine.WantsFullUsage();
  for (int entry = 0; entry < kOptionCount; ++entry) {
    EConsoleOption option = EConsoleOption(entry);
    if (!all && ((OptionBit(option) & kHelpBits) || !commandLine.IsSelected(option))) continue;
    char label[128];
    tarvixlib::FormatToBuffer(label, sizeof(label), "%s %s", kConsoleOptions[entry].option,
                              kConsoleOptions[entry].argumentText);
    block.AddValue(label, kConsoleOptions[entry].help);
  }
  block.Print();
}

}  // namespace tarvixconsole
