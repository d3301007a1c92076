#include "standin/scenario.h"

#include <cstring>

#include "foundation/asciitext.h"
#include "foundation/winhandles.h"

namespace tarvixstandin {

namespace {

struct SMethodInfo {
  const char* name;
  const char* kinds;  // b bool, i int, s string, one letter per value
  bool list;
};

const SMethodInfo kMethods[kMethodCount] = {
    {"DetectionOfProduct", "b", false},
    {"ActivateAnUpdate", "b", false},
    {"IsProtectionEnabled", "b", false},
    {"EnableProtection", "b", false},
    {"IsUpdateInProgress", "b", false},
    {"IsProductScanning", "b", false},
    {"DisableProtection", "b", false},
    {"DataFileSignatureCount", "s", false},
    {"DataFileVersion", "s", false},
    {"DataFileTime", "s", false},
    {"EngineVersion", "s", false},
    {"RetrieveLastScan", "s", false},
    {"GetUpdateServer", "s", true},
    {"GetGUILanguage", "i", false},
    {"LaunchAFileScan", "bss", false},
    {"ActivateMainGUI", "", false},
    {"LaunchAScan", "", false},
    {"StopAScan", "", false},
    {"DeleteInfection", "", false},
    {"DeleteInfectionKeepBackup", "", false},
    {"IgnoreInfection", "", false},
    {"RestoreInfection", "", false},
    {"ClearThreatHistory", "", false},
    {"RefreshThreatHistory", "", false},
    {"RewindThreatHistory", "", false},
    {"GetThreatHistoryEntry", "sissssi", true},
    {"GetAntispamInfo", "ssss", false},
    {"SwapVirusDatabase", "", false},
    {"SwapAntispamDatabase", "", false},
    {"VerifyAuthenticity", "b", false},
    {"RegisterCallback", "", false},
    {"UnregisterCallback", "", false},
};

const SAnswer kListEnd = {S_FALSE, {}};

// A signed number in decimal or 0x hex; the whole token must be used.
bool ParseNumber(const std::string& token, long long& out) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '-' || token[i] == '+')) negative = token[i++] == '-';
  if (i >= token.size()) return false;
  unsigned long long value = 0;
  if (token.size() - i > 2 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
    i += 2;
    if (token.size() - i > 16) return false;
    for (; i < token.size(); ++i) {
      int d = tarvixlib::HexDigitValue(token[i]);
      if (d < 0) return false;
      value = value * 16 + unsigned(d);
    }
  } else {
    if (token.size() - i > 18) return false;
    for (; i < token.size(); ++i) {
      if (token[i] < '0' || token[i] > '9') return false;
      value = value * 10 + unsigned(token[i] - '0');
    }
  }
  out = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
  return true;
}

bool ParseResult(const std::string& token, HRESULT& out) {
  long long value = 0;
  if (!ParseNumber(token, value) || value < -2147483648LL || value > 0xFFFFFFFFLL) return false;
  out = static_cast<HRESULT>(static_cast<unsigned long>(value & 0xFFFFFFFF));
  return true;
}

// Splits a line into tokens: white-space separated words and "quoted"
// strings (kept with their quotes; escapes are read later).
bool Tokenize(const std::string& line, std::vector<std::string>& tokens, std::string& error) {
  constexpr size_t kMaxTokens = 16;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    if (tokens.size() == kMaxTokens) {
      error = "too many values";
      return false;
    }
    size_t start = i;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') i += (line[i] == '\\' && i + 1 < line.size()) ? 2 : 1;
      if (i >= line.size()) {
        error = "unterminated string";
        return false;
      }
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    }
    tokens.push_back(line.substr(start, i - start));
  }
  return true;
}

// Appends the UTF-16 units of UTF-8 text (invalid bytes become U+FFFD).
void AppendUtf8(std::wstring& out, const std::string& text, size_t from, size_t to) {
  size_t i = from;
  while (i < to) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned long cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else { out.push_back(L'\xFFFD'); ++i; continue; }
    if (i + n > to) { out.push_back(L'\xFFFD'); ++i; continue; }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) { out.push_back(L'\xFFFD'); ++i; continue; }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += n;
  }
}

bool ParseString(const std::string& token, SValue& value, std::string& error) {
  if (token == "null") {
    value.isNull = true;
    return true;
  }
  if (token.compare(0, 5, "fill:") == 0) {
    size_t colon = token.find(':', 5);
    long long count = 0;
    if (colon == std::string::npos || colon + 2 != token.size() ||
        !ParseNumber(token.substr(5, colon - 5), count) || count < 0 ||
        static_cast<unsigned long long>(count) > CScenario::kMaxFill ||
        static_cast<unsigned char>(token[colon + 1]) >= 0x80) {
      error = "bad fill (fill:N:C, N <= 1048576, C one ASCII character)";
      return false;
    }
    value.text.assign(static_cast<size_t>(count), static_cast<wchar_t>(token[colon + 1]));
    return true;
  }
  if (token.size() < 2 || token.front() != '"' || token.back() != '"') {
    error = "expected a \"string\", null or fill:N:C";
    return false;
  }
  size_t end = token.size() - 1;
  size_t run = 1;
  for (size_t i = 1; i < end;) {
    if (token[i] != '\\') {
      ++i;
      continue;
    }
    AppendUtf8(value.text, token, run, i);
    if (i + 1 >= end) {
      error = "bad escape";
      return false;
    }
    char e = token[i + 1];
    size_t used = 2;
    switch (e) {
      case '"': value.text.push_back(L'"'); break;
      case '\\': value.text.push_back(L'\\'); break;
      case 'n': value.text.push_back(L'\n'); break;
      case 'r': value.text.push_back(L'\r'); break;
      case 't': value.text.push_back(L'\t'); break;
      case 'x':
      case 'u': {
        size_t digits = e == 'x' ? 2 : 4;
        if (i + 2 + digits > end) {
          error = "bad escape";
          return false;
        }
        unsigned unit = 0;
        for (size_t k = 0; k < digits; ++k) {
          int d = tarvixlib::HexDigitValue(token[i + 2 + k]);
          if (d < 0) {
            error = "bad escape";
            return false;
          }
          unit = unit * 16 + unsigned(d);
        }
        value.text.push_back(static_cast<wchar_t>(unit));
        used += digits;
        break;
      }
      default:
        error = "bad escape";
        return false;
    }
    i += used;
    run = i;
  }
  AppendUtf8(value.text, token, run, end);
  return true;
}

bool ParseValue(char kind, const std::string& token, SValue& value, std::string& error) {
  switch (kind) {
    case 'b':
      if (token == "true" || token == "1") value.number = 1;
      else if (token == "false" || token == "0") value.number = 0;
      else {
        error = "expected true or false";
        return false;
      }
      return true;
    case 'i':
      if (token == "keep") {
        value.keep = true;
        return true;
      }
      if (!ParseNumber(token, value.number)) {
        error = "expected a number";
        return false;
      }
      return true;
    default:
      return ParseString(token, value, error);
  }
}

}  // namespace

const char* MethodName(EMethod method) {
  return method >= 0 && method < kMethodCount ? kMethods[method].name : "?";
}

bool CScenario::IsListMethod(EMethod method) const { return kMethods[method].list; }

const SAnswer* CScenario::Answer(EMethod method, size_t call) const {
  const std::vector<SAnswer>& answers = m_answers[method];
  if (kMethods[method].list) return call < answers.size() ? &answers[call] : &kListEnd;
  if (answers.empty()) return nullptr;
  return &answers[call < answers.size() ? call : answers.size() - 1];
}

bool CScenario::Parse(const char* text, size_t length, std::string& error) {
  CScenario parsed;
  CScenarioLines lines(text, length);
  std::string line;
  while (lines.Next(line)) {
    std::string problem;
    auto fail = [&]() {
      error = lines.Error(problem);
      return false;
    };
    std::vector<std::string> tokens;
    if (!Tokenize(line, tokens, problem)) return fail();
    if (tokens.empty()) continue;
    const std::string& keyword = tokens[0];

    if (keyword == "Callback") {
      if (tokens.size() != 1) {
        problem = "Callback takes no values";
        return fail();
      }
      if (parsed.m_events.size() == kMaxEvents) {
        problem = "too many callback events";
        return fail();
      }
      parsed.m_events.emplace_back();
      continue;
    }
    if (keyword == "CallbackValue") {
      long long index = 0;
      SEventValue value;
      if (parsed.m_events.empty()) {
        problem = "CallbackValue before Callback";
        return fail();
      }
      if (tokens.size() != 4 || !ParseNumber(tokens[1], index) || index < 0 ||
          index >= kEventValueCount) {
        problem = "expected CallbackValue <index 0-7> <result> <string>";
        return fail();
      }
      if (!ParseResult(tokens[2], value.result)) {
        problem = "bad result code";
        return fail();
      }
      if (!ParseString(tokens[3], value.value, problem)) return fail();
      value.defined = true;
      parsed.m_events.back().values[index] = value;
      continue;
    }
    if (keyword == "CallbackTrigger") {
      if (tokens.size() != 2 || tokens[1].size() > 200) {
        problem = "expected CallbackTrigger <event-name>";
        return fail();
      }
      parsed.m_callbackMode = kCallbackTrigger;
      parsed.m_callbackTrigger.clear();
      AppendUtf8(parsed.m_callbackTrigger, tokens[1], 0, tokens[1].size());
      continue;
    }
    if (keyword == "CallbackDelay") {
      long long ms = 0;
      if (tokens.size() != 2 || !ParseNumber(tokens[1], ms) || ms < 0 || ms > 600000) {
        problem = "expected CallbackDelay <ms up to 600000>";
        return fail();
      }
      parsed.m_callbackMode = kCallbackDelay;
      parsed.m_callbackDelay = static_cast<DWORD>(ms);
      continue;
    }
    if (keyword == "CallbackManual") {
      parsed.m_callbackMode = kCallbackManual;
      continue;
    }

    int method = 0;
    while (method < kMethodCount && keyword != kMethods[method].name) ++method;
    if (method == kMethodCount) {
      problem = "unknown keyword \"" + keyword.substr(0, 64) + "\"";
      return fail();
    }
    const char* kinds = kMethods[method].kinds;
    size_t count = strlen(kinds);
    if (tokens.size() != 2 + count) {
      problem = std::string(kMethods[method].name) + " takes a result and " +
                std::to_string(count) + " value(s)";
      return fail();
    }
    if (parsed.m_answers[method].size() == kMaxAnswersPerMethod) {
      problem = "too many answers";
      return fail();
    }
    SAnswer answer;
    if (!ParseResult(tokens[1], answer.result)) {
      problem = "bad result code";
      return fail();
    }
    for (size_t k = 0; k < count; ++k) {
      SValue value;
      if (!ParseValue(kinds[k], tokens[2 + k], value, problem)) return fail();
      answer.values.push_back(std::move(value));
    }
    parsed.m_answers[method].push_back(std::move(answer));
  }
  if (lines.Failed(error)) return false;
  *this = std::move(parsed);
  error.clear();
  return true;
}

bool CScenario::LoadFile(const wchar_t* path, std::string& error) {
  tarvixlib::CUniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = "cannot open the scenario file";
    return false;
  }
  LARGE_INTEGER size = {};
  std::string text;
  bool ok = GetFileSizeEx(file.Get(), &size) && size.QuadPart <= LONGLONG(kMaxFileBytes);
  if (ok) {
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = text.empty() ||
         (ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) &&
          read == text.size());
  }
  file.Reset();
  if (!ok) {
    error = "cannot read the scenario file (or it is larger than 1 MiB)";
    return false;
  }
  return Parse(text.data(), text.size(), error);
}

}  // namespace tarvixstandin
