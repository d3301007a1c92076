// The line reader both stand-ins read their scenario files with (the
// engine's, standin/scenario.h, and the service's,
// standin/service/servicescenario.h): a text of at most 1 MiB, lines ending
// in LF (a CR before it is dropped) of at most 64 KiB, blank lines and
// comment lines (the first word begins with "#") skipped, and errors that
// name their line.
//
//   CScenarioLines lines(text, length);
//   std::string line;
//   while (lines.Next(line)) {
//     if (!Understood(line)) {
//       error = lines.Error("unknown keyword");
//       return false;
//     }
//   }
//   if (lines.Failed(error)) return false;   // too large, a line too long
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace tarvixstandin {

class CScenarioLines {
public:
  static constexpr size_t kMaxTextBytes = 1 << 20;
  static constexpr size_t kMaxLineBytes = 64 * 1024;

  // `text` stays the caller's and must outlive the reader.
  CScenarioLines(const char* text, size_t length) : m_text(text), m_length(length) {
    if (length > kMaxTextBytes) m_problem = "scenario larger than 1 MiB";
  }

  // The next line that is neither blank nor a comment, without its line
  // end. False at the end of the text and once a problem was found.
  bool Next(std::string& line) {
    while (m_problem.empty() && m_pos < m_length) {
      const void* lf = std::memchr(m_text + m_pos, '\n', m_length - m_pos);
      size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - m_text) : m_length;
      size_t start = m_pos;
      m_pos = end + 1;
      ++m_number;
      if (end > start && m_text[end - 1] == '\r') --end;
      if (end - start > kMaxLineBytes) {
        m_problem = Error("line longer than 64 KiB");
        return false;
      }
      line.assign(m_text + start, end - start);
      size_t first = line.find_first_not_of(" \t");
      if (first != std::string::npos && line[first] != '#') return true;
    }
    return false;
  }

  // "line N: why" for the line Next returned last.
  std::string Error(const std::string& why) const {
    return "line " + std::to_string(m_number) + ": " + why;
  }

  // True, with the reader's own problem in `error`, when the text was too
  // large or a line too long.
  bool Failed(std::string& error) const {
    if (m_problem.empty()) return false;
    error = m_problem;
    return true;
  }

private:
  const char* m_text;
  size_t m_length;
  size_t m_pos = 0;
  size_t m_number = 0;
  std::string m_problem;
};

}  // namespace tarvixstandin
