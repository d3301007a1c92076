// The client's option table and command-line parser.
//
// Matching: an option "-Name" matches an item "-name" or "/NAME" (the
// remainder compared without regard to ASCII case); whole items only.
// Parsing walks the table in order on a working copy of the items and
// removes what it consumes: an argument-taking option takes the item after
// its first occurrence that has one (whatever it looks like, even "-x");
// standing last it sets the help request (all three help bits) and is
// selected so that the usage lists it. Each entry is selected at most once;
// unknown and left-over items are ignored.
#pragma once

#include <cstdint>

#include "foundation/mystring.h"

namespace tarvixconsole {

enum EConsoleOption {
  kOptQuestion = 0,  // -?
  kOptH,             // -h
  kOptHelp,          // -help
  kOptDetect,
  kOptVerify,
  kOptViruslist,
  kOptDelete,
  kOptDeleteAndSave,
  kOptRestore,
  kOptIgnore,
  kOptClearViruslist,
  kOptIsProtectionEnabled,
  kOptEnableProtection,
  kOptDisableProtection,
  kOptStartScan,
  kOptStopScan,
  kOptGetLastScan,
  kOptScanFile,
  kOptIsScanning,
  kOptShowUpdateServers,
  kOptGUILanguage,
  kOptActivateGUI,
  kOptStartUpdate,
  kOptIsUpdateInProgress,
  kOptEngineVersion,
  kOptVDBTime,
  kOptVDBVersion,
  kOptVDBSignatureCount,
  kOptSwapVDB,
  kOptASInfo,
  kOptASVersion,
  kOptSDBTime,
  kOptSDBVersion,
  kOptSDBSignatureCount,
  kOptSwapSDB,
  kOptCallback,
  kOptShutdownIfIdle,
  kOptionCount
};

struct SConsoleOption {
  const char* option;        // always begins with "-"
  const char* argumentText;  // shown in the usage; "" without argument
  const char* help;          // printed unchanged
  bool takesArgument;
};

extern const SConsoleOption kConsoleOptions[kOptionCount];

constexpr uint64_t OptionBit(EConsoleOption option) { return uint64_t(1) << option; }
constexpr uint64_t kHelpBits = OptionBit(kOptQuestion) | OptionBit(kOptH) | OptionBit(kOptHelp);

// True when `item` selects `option` (see the matching rule above).
bool MatchesOption(const char* item, const char* option);

class CConsoleCommandLine {
public:
  // argv[0] is the program name; argv[1..argc-1] the items. The texts are
  // copied, so the arguments need not outlive the parse result.
  void Parse(int argc, const char* const* argv);

  uint64_t GetMask() const { return m_mask; }
  bool IsSelected(EConsoleOption option) const { return (m_mask & OptionBit(option)) != 0; }
  bool IsHelpRequested() const { return (m_mask & kHelpBits) != 0; }
  // Usage instead of a run: a help request or nothing selected.
  bool WantsUsage() const { return IsHelpRequested() || m_mask == 0; }
  // The usage lists all entries: nothing selected, or one help option alone.
  bool WantsFullUsage() const;

  // The argument an entry received, or null.
  const char* GetArgument(EConsoleOption option) const;
  // The process-wide current argument: the one received last in table
  // order (null after a missing argument).
  const char* GetCurrentArgument() const;
  const char* GetProgramName() const { return m_programName.GetString(); }

private:
  uint64_t m_mask = 0;
  tarvixlib::CMyStringA m_programName;
  tarvixlib::CMyStringA m_arguments[kOptionCount];
  bool m_hasArgument[kOptionCount] = {};
  int m_current = -1;  // entry whose argument is current, -1: none
};

}  // namespace tarvixconsole
