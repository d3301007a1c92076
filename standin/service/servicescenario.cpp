#include "servicescenario.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "commands/commandset.h"
#include "foundation/asciitext.h"
#include "standin/scenariolines.h"

namespace tarvixstandin {

namespace {

constexpr size_t kMaxScenario = CScenarioLines::kMaxTextBytes;

std::string Upper(std::string text) {
  tarvixlib::AsciiUpperInPlace(text.data(), text.size());
  return text;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && tarvixlib::AsciiEqualsNoCase(a.c_str(), b.c_str());
}

// Splits off the next blank-separated word; the rest stays in `line`.
std::string NextWord(std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) {
    line.clear();
    return std::string();
  }
  size_t end = line.find_first_of(" \t", start);
  std::string word = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  line = end == std::string::npos ? std::string() : line.substr(end);
  return word;
}

std::string Rest(const std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  size_t end = line.find_last_not_of(" \t");
  return line.substr(start, end - start + 1);
}

bool Number(const std::string& word, uint32_t* value) {
  if (word.empty()) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(word.c_str(), &end, 0);
  if (errno || *end || v > 0xFFFFFFFFull || word[0] == '-') return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool SignedNumber(const std::string& word, int32_t* value) {
  if (word.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(word.c_str(), &end, 0);
  if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// NAME's value for the key: replaced in place when NAME has the key, else
// appended (NAME is added when the scenario has no entry for it yet).
void SetValue(ServiceScenario& scenario, const std::string& name, const ScriptedValue& value) {
  ScriptedCommand* c = const_cast<ScriptedCommand*>(scenario.FindCommand(name));
  if (!c) {
    ScriptedCommand fresh;
    fresh.name = name;
    scenario.commands.push_back(fresh);
    c = &scenario.commands.back();
  }
  for (ScriptedValue& old : c->values) {
    if (SameNoCase(old.key, value.key)) {
      old.text = value.text;
      return;
    }
  }
  c->values.push_back(value);
}

// A name or key on a wire line: printable, no blank, and neither ":" (the
// parameter separator) nor "=" (the push syntax's).
bool WireWord(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word)
    if (c <= ' ' || c > '~' || c == ':' || c == '=') return false;
  return true;
}

}  // namespace

std::string ListenerPush::Describe() const {
  if (hangup) return "hangup";
  if (!language.empty()) return "language " + language;
  std::string text = name;
  for (const ScriptedValue& p : params) text += " " + p.key + "=" + p.text;
  return text;
}

bool ListenerPush::OneWay() const {
  // The listener matches command names ignoring case, but recognises the
  // update message it drains silently only in its exact spelling.
  return SameNoCase(name, "STATUS_CHANGED") || SameNoCase(name, "STOP_APPLICATION") ||
         name == tarvixlib::commands::kAutoUpdatePostMessage;
}

bool ParsePushWords(const std::string& words, ListenerPush& push, std::string& why) {
  std::string rest = words;
  std::string name = NextWord(rest);
  push.hangup = false;
  push.language.clear();
  push.name.clear();
  push.params.clear();
  if (name.empty()) {
    why = "expected: push <NAME> [KEY=VALUE ...] or push hangup";
    return false;
  }
  if (name == "hangup") {
    if (!Rest(rest).empty()) {
      why = "hangup takes no parameters";
      return false;
    }
    push.hangup = true;
    return true;
  }
  if (name == "language") {
    push.language = NextWord(rest);
    if (push.language.empty() || !Rest(rest).empty() || push.language.size() > 15) {
      why = "expected: language <code>";
      return false;
    }
    return true;
  }
  if (!WireWord(name) || name == ".") {
    why = "not a command name: " + name;
    return false;
  }
  push.name = name;
  for (std::string word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
    size_t equals = word.find('=');
    ScriptedValue p;
    if (equals != std::string::npos) {
      p.key = word.substr(0, equals);
      p.text = word.substr(equals + 1);
    }
    if (equals == std::string::npos || !WireWord(p.key)) {
      why = "expected KEY=VALUE: " + word;
      return false;
    }
    push.params.push_back(p);
  }
  return true;
}

void AddQueryDefaults(ServiceScenario& scenario, const std::string& mainPathUtf8,
                      const std::string& mainPathAnsi) {
  struct Default {
    const char* command;
    const char* key;
    const char* text;
  };
  // Plausible values of a healthy installation; every key is one the
  // add-in's query commands read.
  static const Default kDefaults[] = {
      {"GET_TARVIXSTATUS", "VER_SERVICE", "1503"},
      {"GET_TARVIXSTATUS", "VER_UPDATE", "1502"},
      {"GET_TARVIXSTATUS", "VER_R5", "610"},
      {"GET_TARVIXSTATUS", "VER_VDB", "8812"},
      {"GET_TARVIXSTATUS", "VER_AS", "311"},
      {"GET_TARVIXSTATUS", "VER_VDB_DATE", "1796083200"},
      {"GET_TARVIXSTATUS", "VER_SDB", "4127"},
      {"GET_TARVIXSTATUS", "VER_SDB_DATE", "1796079600"},
      {"GET_TARVIXSTATUS", "SYSSCAN_NEXT", "1796169600"},
      {"GET_TARVIXSTATUS", "SYSSCAN_LAST", "1795996800"},
      {"GET_TARVIXSTATUS", "SCAN_RUNNING", "no"},
      {"GET_TARVIXSTATUS", "UPDATE_NEXT", "1796097600"},
      {"GET_TARVIXSTATUS", "UPDATE_LAST", "1796083200"},
      {"GET_TARVIXSTATUS", "UPDATE_LAST_TRY", "1796083200"},
      {"GET_TARVIXSTATUS", "UPDATE_RUNNING", "no"},
      {"GET_TARVIXSTATUS", "BADLIST_EXIST", "0"},
      {"GET_TARVIXSTATUS", "BADLIST_ALL", "2"},
      {"GET_TARVIXSTATUS", "VDB_SIGNATURE_COUNT", "4718592"},
      {"GET_TARVIXSTATUS", "SDB_SIGNATURE_COUNT", "65536"},
      {"GET_TARVIXSTATUS", "LIVESCAN_STATUS", "yes"},
      {"GET_TARVIXSTATUS", "LIVESCAN_STATUS_PUA", "no"},
      {"GET_TARVIXSTATUS", "EMAILSCAN_STATUS", "yes"},
      {"GET_TARVIXSTATUS", "INTERNETDOWNLOADS_STATUS", "yes"},
      {"GET_TARVIXSTATUS", "SPYWARE_STATUS", "yes"},
      {"GET_TARVIXSTATUS", "DIALER_STATUS", "no"},
      {"GET_TARVIXSTATUS", "AUTOUPDATE_STATUS", "yes"},
      {"GET_TARVIXSTATUS", "SPAMCHECK", "yes"},
      {"GET_TARVIXSTATUS", "SIGQA", "no"},
      {"GET_TARVIXSTATUS", "MAXBADID", "2"},
      {"GET_TARVIXSTATUS", "WRITEALLOWED", "yes"},
      {"GET_TARVIXSTATUS", "HLVX_HOST", "update.zelvok.example"},
      {"GET_TARVIXSTATUS", "DISABLEKICKOFF", "no"},
      {"GET_TARVIXSTATUS", "CONFIGCRC", "3735928559"},
      {"GET_TARVIXSTATUS", "CRCCSID", "305419896"},
      {"GET_TARVIXSTATUS", "STAT_INFECTED", "no"},
      {"GET_TARVIXSTATUS", "STAT_WATCH", "1"},
      {"GET_TARVIXSTATUS", "STAT_UPDATE", "yes"},
      {"GET_TARVIXSTATUS", "STAT_SCANOLD", "0"},
      {"GET_TARVIXSTATUS", "STAT_SYSSCAN", "1"},
      {"GET_TARVIXSTATUS", "MAIN_PATH", nullptr},
      {"GET_TARVIXSTATUS", "MAIN_PATH_W", nullptr},
      {"GET_TARVIXSTATUS", "PASSWD_PROTECTION", "no"},
      {"GET_SPECIFICATION_VALUE", "PRODUCT", "tarvix"},
      {"GET_SPECIFICATION_VALUE", "PRODUCT_LONG", "Tarvix Internet Security"},
      {"GET_SPECIFICATION_VALUE", "PRODUCTTYPE", "IS"},
      {"GET_SPECIFICATION_VALUE", "PRODUCTSUBTYPE", "HOME"},
      {"GET_SPECIFICATION_VALUE", "URL", "https://www.zelvok.example/"},
      {"GET_SPECIFICATION_VALUE", "ContactAdress", "Zelvok Software GmbH, Am Hafen 4, 20457 Hamburg"},
      {"GET_SPECIFICATION_VALUE", "ContactPhone", "+49 40 5550100"},
      {"GET_SPECIFICATION_VALUE", "ContactHomepage", "https://www.zelvok.example/tarvix"},
      {"GET_SPECIFICATION_VALUE", "OFFICE", "Hamburg"},
      {"GET_SPECIFICATION_VALUE", "ContactCost", "local rate"},
      {"GET_SPECIFICATION_VALUE", "MAIL", "support@zelvok.example"},
      {"GET_SPECIFICATION_VALUE", "NAME", "Zelvok Software GmbH"},
      {"GET_SPECIFICATION_VALUE", "ContactVirushotline", "+49 40 5550199"},
      {"GET_SPECIFICATION_VALUE", "ContactAnalysislab", "lab@zelvok.example"},
      {"GET_SPECIFICATION_VALUE", "VirusFoundPageUrl", "https://www.zelvok.example/found"},
      {"GET_SPECIFICATION_VALUE", "RightToLeft", "no"},
      {"GET_MAPISETTINGS", "SAVETOQU", "no"},
      {"GET_MAPISETTINGS", "SCANEMAIL", "yes"},
      {"GET_MAPISETTINGS", "SHOWWINDOW", "yes"},
      {"GET_MAPISETTINGS", "BUILDNR", "4242"},
      {"GET_MAPISETTINGS", "LANGUAGE", "1033"},
      {"GET_MAPISETTINGS", "VDBDATE", "20261201"},
      {"GET_MAPISETTINGS", "DISCLR", "1"},
      {"GET_MAPISETTINGS", "DISCLS", "1"},
      {"GET_MAPISETTINGS", "SPAMCHECK", "yes"},
      {"GET_MAPISETTINGS", "SPAMACTION", "1"},
      {"GET_MAPISETTINGS", "CLOSEWIN", "yes"},
  };
  for (const Default& d : kDefaults) {
    ScriptedValue v;
    v.key = d.key;
    if (d.text)
      v.text = d.text;
    else
      v.text = std::string(d.key) == "MAIN_PATH_W" ? mainPathUtf8 : mainPathAnsi;
    SetValue(scenario, d.command, v);
  }
}

const ScriptedCommand* ServiceScenario::FindCommand(const std::string& name) const {
  for (const ScriptedCommand& c : commands)
    if (SameNoCase(c.name, name)) return &c;
  return nullptr;
}

const FileVerdict* ServiceScenario::FindFile(const std::string& file) const {
  for (const FileVerdict& f : files)
    if (SameNoCase(f.file, file)) return &f;
  return nullptr;
}

const ServiceFault* ServiceScenario::FindFault(const std::string& name, FaultKind kind) const {
  for (const ServiceFault& f : faults)
    if (f.kind == kind && SameNoCase(f.command, name)) return &f;
  for (const ServiceFault& f : faults)
    if (f.kind == kind && f.command == "*") return &f;
  return nullptr;
}

bool ParseServiceScenario(const std::string& text, ServiceScenario& scenario,
                          std::string& error) {
  CScenarioLines lines(text.data(), text.size());
  std::string line;
  while (lines.Next(line)) {
    auto fail = [&](const char* why) {
      error = lines.Error(why);
      return false;
    };
    std::string rest = line;
    std::string keyword = NextWord(rest);

    if (keyword == "apptype" || keyword == "handshake-version" || keyword == "record-length" ||
        keyword == "spamlevel" || keyword == "lifetime") {
      uint32_t v = 0;
      if (!Number(Rest(rest), &v)) return fail("expected a number");
      if (keyword == "apptype") scenario.appType = v;
      if (keyword == "handshake-version") scenario.handshakeVersion = v;
      if (keyword == "record-length") scenario.recordLength = v;
      if (keyword == "spamlevel") scenario.spamLevel = v;
      if (keyword == "lifetime") scenario.lifetimeSeconds = v;
    } else if (keyword == "command") {
      ScriptedCommand c;
      c.name = Upper(NextWord(rest));
      if (c.name.empty() || !SignedNumber(Rest(rest), &c.code))
        return fail("expected: command <NAME> <code>");
      if (ScriptedCommand* old = const_cast<ScriptedCommand*>(scenario.FindCommand(c.name)))
        old->code = c.code;
      else
        scenario.commands.push_back(c);
    } else if (keyword == "value") {
      std::string name = Upper(NextWord(rest));
      ScriptedValue v;
      v.key = NextWord(rest);
      v.text = Rest(rest);
      if (name.empty() || v.key.empty()) return fail("expected: value <NAME> <KEY> <text>");
      SetValue(scenario, name, v);
    } else if (keyword == "clear") {
      std::string name = Upper(NextWord(rest));
      if (name.empty() || !Rest(rest).empty()) return fail("expected: clear <NAME>");
      if (ScriptedCommand* c = const_cast<ScriptedCommand*>(scenario.FindCommand(name)))
        c->values.clear();
    } else if (keyword == "push") {
      ListenerPush push;
      std::string why;
      if (!Number(NextWord(rest), &push.atMs)) return fail("expected: push <ms> <NAME>|hangup");
      if (!ParsePushWords(rest, push, why)) return fail(why.c_str());
      scenario.pushes.push_back(push);
    } else if (keyword == "answer-wait") {
      if (!Number(Rest(rest), &scenario.answerWaitMs)) return fail("expected a number");
    } else if (keyword == "file") {
      FileVerdict f;
      f.file = NextWord(rest);
      f.scanRet = NextWord(rest);
      f.text = Rest(rest);
      if (f.file.empty() || f.scanRet.empty()) return fail("expected: file <name> <SCANRET> [text]");
      scenario.files.push_back(f);
    } else if (keyword == "spam") {
      // The subject is everything up to the last word, the level.
      std::string all = Rest(rest);
      size_t blank = all.find_last_of(" \t");
      SpamRule r;
      if (blank == std::string::npos || !Number(all.substr(blank + 1), &r.level))
        return fail("expected: spam <subject> <level>");
      r.subject = Rest(all.substr(0, blank));
      scenario.spam.push_back(r);
    } else if (keyword == "fault") {
      ServiceFault f;
      f.command = Upper(NextWord(rest));
      std::string kind = NextWord(rest);
      if (kind == "delay" || kind == "trickle") {
        f.kind = kind == "delay" ? FaultKind::kDelay : FaultKind::kTrickle;
        if (!Number(Rest(rest), &f.delayMs)) return fail("expected: fault <NAME> delay|trickle <ms>");
      } else if (kind == "noreply") {
        f.kind = FaultKind::kNoReply;
      } else if (kind == "close-mid-reply") {
        f.kind = FaultKind::kCloseMidReply;
      } else if (kind == "close-mid-data") {
        f.kind = FaultKind::kCloseMidData;
      } else if (kind == "malformed-status") {
        f.kind = FaultKind::kMalformedStatus;
      } else {
        return fail("unknown fault");
      }
      if (f.command.empty()) return fail("fault without a command");
      scenario.faults.push_back(f);
    } else {
      return fail("unknown keyword");
    }
  }
  return !lines.Failed(error);
}

bool LoadServiceScenario(const std::string& path, ServiceScenario& scenario, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open " + path;
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() <= kMaxScenario)
    text.append(buffer, n);
  std::fclose(f);
  return ParseServiceScenario(text, scenario, error);
}

}  // namespace tarvixstandin
