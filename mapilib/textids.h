// Text ids: the numbers 1 to 652 by which every user-visible text is looked
// up, their symbolic names in language files, and the built-in English
// texts that stand behind any language file.
//
// The ids the add-in shows have the names and texts below; every other id
// is named "TEXT_" followed by its number in three digits ("TEXT_002") and
// its built-in text is that name, so a text that no file supplies is still
// recognisable where it appears.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/platform.h"

namespace mapilib {

using tarvixlib::WChar;

constexpr int kTextIdCount = 652;

enum TextId : int {
  TEXT_NativeLanguageName = 1,
  TEXT_MainViruslistInfoDateiname = 277,
  TEXT_MainViruslistInfoVirusname = 283,
  TEXT_WINTEXT_FROM = 549,
  TEXT_WINTEXT_INFECTED = 555,
  TEXT_WINTEXT_INFECTED_REMOVED = 556,
  TEXT_WINTEXT_INFECTED_REMOVED_QU = 557,
  TEXT_WINTEXT_MSGBOX_T_VIRUS_FOUND_READ = 576,
  TEXT_WINTEXT_MSGBOX_T_VIRUS_FOUND_READ_QU = 577,
  TEXT_WINTEXT_MSGBOX_T_VIRUS_FOUND_SEND = 578,
  TEXT_WINTEXT_MSGBOX_VIRUS_FOUND = 579,
  TEXT_WINTEXT_SCANWINDOW_TITEL = 583,
  TEXT_WINTEXT_SCAN_COMPLETE = 584,
  TEXT_WINTEXT_SCAN_FILE = 587,
  TEXT_WINTEXT_SCAN_RESULT_CLEAN = 588,
  TEXT_WINTEXT_SCAN_RESULT_INFECTED = 589,
  TEXT_WINTEXT_SCAN_SUBMAIL = 590,
  TEXT_WINTEXT_SUBJECT = 591,
};

// The id of a symbolic name (matched exactly, letter case counts), 0 when
// the name is unknown. The name is given as `length` UTF-16 units.
int TextIdOfName(const WChar* name, size_t length);
// The symbolic name of an id 1..652 (ASCII), null outside.
const char* TextIdName(int id);
// The built-in English text of an id; "DefaultText" outside 1..652. Never
// null; the texts live as long as the process.
const WChar* BuiltInText(int id);

}  // namespace mapilib
