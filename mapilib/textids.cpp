#include "mapilib/textids.h"

#include <cstdio>
#include <cstring>

namespace mapilib {
namespace {

struct NamedText {
  int id;
  const char* name;
  const WChar* english;
};

#define TEXT_ENTRY(name, english) {TEXT_##name, #name, TARVIX_WTEXT("" english)}

// The ids the add-in shows, in id order.
constexpr NamedText kNamedTexts[] = {
    TEXT_ENTRY(NativeLanguageName, "English"),
    TEXT_ENTRY(MainViruslistInfoDateiname, "File Name:"),
    TEXT_ENTRY(MainViruslistInfoVirusname, "Detection Name:"),
    TEXT_ENTRY(WINTEXT_FROM, "From"),
    TEXT_ENTRY(WINTEXT_INFECTED, "Potential Threat Found!"),
    TEXT_ENTRY(WINTEXT_INFECTED_REMOVED, "The attachment has been deleted."),
    TEXT_ENTRY(WINTEXT_INFECTED_REMOVED_QU, "The attachment has been quarantined."),
    TEXT_ENTRY(WINTEXT_MSGBOX_T_VIRUS_FOUND_READ,
               "A potential threat was found in an attachment.\nThe attachment has been deleted:"),
    TEXT_ENTRY(WINTEXT_MSGBOX_T_VIRUS_FOUND_READ_QU,
               "A potential threat was found in an attachment!\nThe attachment has been "
               "quarantined:"),
    TEXT_ENTRY(WINTEXT_MSGBOX_T_VIRUS_FOUND_SEND,
               "This attachment is potentially infected and has been blocked.\nRemove it to send "
               "the e-mail."),
    TEXT_ENTRY(WINTEXT_MSGBOX_VIRUS_FOUND, "%s - Potential Threat Found!"),
    TEXT_ENTRY(WINTEXT_SCANWINDOW_TITEL, "%s - Scanning Mail ..."),
    TEXT_ENTRY(WINTEXT_SCAN_COMPLETE, "Scan complete"),
    TEXT_ENTRY(WINTEXT_SCAN_FILE, "File: %s"),
    TEXT_ENTRY(WINTEXT_SCAN_RESULT_CLEAN, "\u2713 Scanned by %s"),
    TEXT_ENTRY(WINTEXT_SCAN_RESULT_INFECTED, "Attention! Potential threat found by %s!"),
    TEXT_ENTRY(WINTEXT_SCAN_SUBMAIL, "Embeddded message scan: \"%s\""),
    TEXT_ENTRY(WINTEXT_SUBJECT, "Subject"),
};
#undef TEXT_ENTRY

constexpr char kGenericPrefix[] = "TEXT_";
constexpr size_t kGenericNameLength = 8;  // "TEXT_" + three digits

// Names and texts of every id, made once: index = id, index 0 unused.
struct Table {
  char names[kTextIdCount + 1][40];
  WChar generic[kTextIdCount + 1][kGenericNameLength + 1];
  const WChar* texts[kTextIdCount + 1];

  Table() {
    for (int id = 1; id <= kTextIdCount; ++id) {
      std::snprintf(names[id], sizeof names[id], "%s%03d", kGenericPrefix, id);
      for (size_t i = 0; i <= kGenericNameLength; ++i)
        generic[id][i] = static_cast<WChar>(static_cast<unsigned char>(names[id][i]));
      texts[id] = generic[id];
    }
    for (const NamedText& named : kNamedTexts) {
      std::snprintf(names[named.id], sizeof names[named.id], "%s", named.name);
      texts[named.id] = named.english;
    }
  }
};

const Table& TheTable() {
  static const Table table;
  return table;
}

bool NameEquals(const char* ascii, const WChar* name, size_t length) {
  size_t i = 0;
  for (; i < length; ++i)
    if (ascii[i] == '\0' || static_cast<WChar>(static_cast<unsigned char>(ascii[i])) != name[i])
      return false;
  return ascii[i] == '\0';
}

}  // namespace

int TextIdOfName(const WChar* name, size_t length) {
  if (!name || length == 0) return 0;
  // "TEXT_nnn" names map by their digits; a named id's generic name is
  // not a name of it.
  if (length == kGenericNameLength && NameEquals(kGenericPrefix, name, 5)) {
    int id = 0;
    for (size_t i = 5; i < length; ++i) {
      if (name[i] < '0' || name[i] > '9') return 0;
      id = id * 10 + (name[i] - '0');
    }
    if (id < 1 || id > kTextIdCount) return 0;
    return NameEquals(TheTable().names[id], name, length) ? id : 0;
  }
  for (const NamedText& named : kNamedTexts)
    if (NameEquals(named.name, name, length)) return named.id;
  return 0;
}

const char* TextIdName(int id) {
  if (id < 1 || id > kTextIdCount) return nullptr;
  return TheTable().names[id];
}

const WChar* BuiltInText(int id) {
  if (id < 1 || id > kTextIdCount) return TARVIX_WTEXT("DefaultText");
  return TheTable().texts[id];
}

}  // namespace mapilib
