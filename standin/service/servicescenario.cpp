#include "servicescenario.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

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
      ScriptedCommand* c = const_cast<ScriptedCommand*>(scenario.FindCommand(name));
      if (!c) {
        ScriptedCommand fresh;
        fresh.name = name;
        scenario.commands.push_back(fresh);
        c = &scenario.commands.back();
      }
      c->values.push_back(v);
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
