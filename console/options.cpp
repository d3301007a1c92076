#include "console/options.h"

#include <vector>

#include "foundation/asciitext.h"

namespace tarvixconsole {

const SConsoleOption kConsoleOptions[kOptionCount] = {
    {"-?", "", "Displays this help text.", false},
    {"-h", "", "Displays this help text.", false},
    {"-help", "", "Displays this help text.\n", false},
    {"-Detect", "", "Test if ZELVOK ombrix is running.", false},
    {"-Verify", "",
     "Verify the authenticity of the installed executables by checking their digital signatures.\n",
     false},
    {"-Viruslist", "[ALL|EX|NE]",
     "Show [All] all found viruses. Optionally only [Ex]isting or [N]ot[E]xisting infections.",
     true},
    {"-Delete", "<ID>", "Delete infections", true},
    {"-DeleteAndSave", "<ID>", "Delete infections but keep backup", true},
    {"-Restore", "<ID>", "Restore infected files", true},
    {"-Ignore", "<ID>", "Temporarily ignore infections", true},
    {"-ClearViruslist", "", "Clear deleted entries and delete all backups\n", false},
    {"-IsProtectionEnabled", "", "Test if the system protection is enabled.", false},
    {"-EnableProtection", "", "Enable the system protection.", false},
    {"-DisableProtection", "", "Disable the system protection.\n", false},
    {"-StartScan", "[FULL|STANDARD|QUICK|REMOVABLE|(Name)]", "Launch a scan.", true},
    {"-StopScan", "[FULL|STANDARD|QUICK|REMOVABLE|(Name)]", "Stop a scan.", true},
    {"-GetLastScan", "[FULL|STANDARD|QUICK|REMOVABLE|(Name)]", "Display the date of the last scan.",
     true},
    {"-ScanFile", "<Filename>", "Launch a single file scan.", true},
    {"-IsScanning", "", "Test if a system scan is running.\n", false},
    {"-ShowUpdateServers", "", "Display the URLs for the update servers.", false},
    {"-GUILanguage", "", "Display the current language of the GUI.", false},
    {"-ActivateGUI", "", "Start the ombrix main window.", false},
    {"-StartUpdate", "", "Start an update.", false},
    {"-IsUpdateInProgress", "", "Test if an update is running.", false},
    {"-EngineVersion", "", "Display the scan engine version.", false},
    {"-VDBTime", "", "Display the creation time of the signature database.", false},
    {"-VDBVersion", "", "Display the file version of the signature database.", false},
    {"-VDBSignatureCount", "", "Display the number of signatures in the database.", false},
    {"-SwapVDB", "<NewSigs.vdb>", "Swap the virus database file with the given one.\n", true},
    {"-ASInfo", "", "Display all AntiSPAM information", false},
    {"-ASVersion", "", "Display the AntiSPAM engine version.", false},
    {"-SDBTime", "", "Display the creation time of the AntiSPAM database.", false},
    {"-SDBVersion", "", "Display the file version of the AntiSPAM database.", false},
    {"-SDBSignatureCount", "", "Display the number of entries in the AntiSPAM database.", false},
    {"-SwapSDB", "<AntiSPAM.sdb>", "Swap the AntiSPAM database file with the given one.\n", true},
    {"-Callback", "", "Enable the callback functionality.", false},
    {"-ShutdownIfIdle", "", "Shuts the computer down when no scan is running.", false},
};

static_assert(kOptionCount == 37, "the option table has 37 entries");
static_assert(kOptionCount <= 64, "the selection mask has 64 bits");

bool MatchesOption(const char* item, const char* option) {
  if (!item || !option || option[0] != '-') return false;
  if (item[0] != '-' && item[0] != '/') return false;
  return tarvixlib::AsciiEqualsNoCase(item + 1, option + 1);
}

void CConsoleCommandLine::Parse(int argc, const char* const* argv) {
  m_mask = 0;
  m_current = -1;
  for (int i = 0; i < kOptionCount; ++i) {
    m_arguments[i].Assign(nullptr);
    m_hasArgument[i] = false;
  }
  m_programName.Assign(argc > 0 && argv ? argv[0] : nullptr);

  std::vector<const char*> items;
  for (int i = 1; argv && i < argc; ++i) {
    if (argv[i]) items.push_back(argv[i]);
  }
  auto find = [&items](const char* option, size_t from) -> size_t {
    for (size_t i = from; i < items.size(); ++i) {
      if (MatchesOption(items[i], option)) return i;
    }
    return items.size();
  };

  for (int entry = 0; entry < kOptionCount; ++entry) {
    const SConsoleOption& option = kConsoleOptions[entry];
    if (option.takesArgument) {
      // The first occurrence with an item after it: only the last item has
      // none, and an occurrence there is the only one left to look at.
      size_t at = find(option.option, 0);
      if (at < items.size()) {
        if (at + 1 < items.size()) {
          m_arguments[entry].Assign(items[at + 1]);
          m_hasArgument[entry] = true;
          m_current = entry;
          m_mask |= OptionBit(EConsoleOption(entry));
          items.erase(items.begin() + at, items.begin() + at + 2);
        } else {
          m_current = -1;
          m_mask |= kHelpBits;
        }
      }
    }
    size_t at = find(option.option, 0);
    if (at < items.size()) {
      items.erase(items.begin() + at);
      m_mask |= OptionBit(EConsoleOption(entry));
    }
  }
}

bool CConsoleCommandLine::WantsFullUsage() const {
  if (m_mask == 0) return true;
  return m_mask == OptionBit(kOptQuestion) || m_mask == OptionBit(kOptH) ||
         m_mask == OptionBit(kOptHelp);
}

const char* CConsoleCommandLine::GetArgument(EConsoleOption option) const {
  if (option < 0 || option >= kOptionCount || !m_hasArgument[option]) return nullptr;
  return m_arguments[option].GetString();
}

const char* CConsoleCommandLine::GetCurrentArgument() const {
  return m_current < 0 ? nullptr : m_arguments[m_current].GetString();
}

}  // namespace tarvixconsole
