#include "console/consoleline.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/myprintf.h"

namespace tarvixconsole {

namespace {

class CStdoutWriter : public CConsoleWriter {
public:
  void Write(const char* text, size_t length) override {
    if (length == 0) return;
    fwrite(text, 1, length, stdout);
    fflush(stdout);
  }
};

CStdoutWriter g_stdoutWriter;
CConsoleWriter* g_writer = &g_stdoutWriter;

}  // namespace

CConsoleWriter& ConsoleWriter() { return *g_writer; }

CConsoleWriter* SetConsoleWriter(CConsoleWriter* writer) {
  CConsoleWriter* previous = g_writer;
  g_writer = writer ? writer : &g_stdoutWriter;
  return previous;
}

void WriteText(const char* text) { WriteText(text, text ? strlen(text) : 0); }

void WriteText(const char* text, size_t length) {
  if (text && length) ConsoleWriter().Write(text, length);
}

void WritePadded(const char* text, size_t width, bool dots) {
  size_t length = text ? strlen(text) : 0;
  WriteText(text, length);
  if (length > width) return;
  size_t fill = width - length + 3;
  // Built in pieces of a fixed buffer: widths come from texts of any length.
  char chunk[64];
  while (fill) {
    size_t n = fill < sizeof(chunk) ? fill : sizeof(chunk);
    for (size_t i = 0; i < n; ++i) {
      size_t following = fill - 1 - i;
      chunk[i] = (dots && (following & 1)) ? '.' : ' ';
    }
    WriteText(chunk, n);
    fill -= n;
  }
}

void CMyFormattedConsoleString::FormatV(const char* format, va_list args) {
  char buffer[kFormatBufferSize];
  buffer[0] = '\0';
  tarvixlib::FormatToBufferV(buffer, sizeof(buffer), format, args);
  m_text.Assign(buffer);
}

void CMyConsoleLineEmpty::Print(size_t, bool newline, bool) const {
  WriteText(newline ? "\n\n" : "\n");
}

CMyConsoleLineRegular* CMyConsoleLineRegular::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CMyConsoleLineRegular* line = FormatV(format, args);
  va_end(args);
  return line;
}

CMyConsoleLineRegular* CMyConsoleLineRegular::FormatV(const char* format, va_list args) {
  CMyConsoleLineRegular* line = new (std::nothrow) CMyConsoleLineRegular();
  if (line) line->m_text.FormatV(format, args);
  return line;
}

CMyConsoleLineRegular* CMyConsoleLineRegular::Text(const char* text) {
  CMyConsoleLineRegular* line = new (std::nothrow) CMyConsoleLineRegular();
  if (line) line->m_text.Assign(text);
  return line;
}

void CMyConsoleLineRegular::Print(size_t, bool newline, bool dots) const {
  WritePadded(m_text.GetText(), 0, dots);
  if (newline) WriteText("\n");
}

CMyConsoleLineAttribute::CMyConsoleLineAttribute(EConsoleLineKind kind, const char* attribute)
    : CMyConsoleLineRegular(kind), m_attribute(attribute) {
  m_text.Assign("  ");
}

void CMyConsoleLineAttribute::PrintHead(size_t width, bool dots) const {
  WritePadded(m_text.GetText(), 0, dots);
  WritePadded(m_attribute.GetText(), width, dots);
  WriteText(": ");
}

void CMyConsoleLineAttribute::Print(size_t width, bool newline, bool dots) const {
  PrintHead(width, dots);
  if (newline) WriteText("\n");
}

CMyConsoleLineValue::CMyConsoleLineValue(const char* attribute, const char* value)
    : CMyConsoleLineAttribute(kLineValue, attribute), m_value(value) {}

void CMyConsoleLineValue::Print(size_t width, bool newline, bool dots) const {
  PrintHead(width, dots);
  WritePadded(m_value.GetText(), 0, dots);
  if (newline) WriteText("\n");
}

CMyConsoleLineContainer::~CMyConsoleLineContainer() {
  for (size_t i = 0; i < m_count; ++i) delete m_lines[i];
  delete[] m_lines;
}

bool CMyConsoleLineContainer::Add(CMyConsoleLine* line) {
  if (!line) return false;
  if (m_count == m_capacity) {
    CMyConsoleLine** grown = new (std::nothrow) CMyConsoleLine*[m_capacity + kGrowBy];
    if (!grown) {
      delete line;
      return false;
    }
    for (size_t i = 0; i < m_count; ++i) grown[i] = m_lines[i];
    delete[] m_lines;
    m_lines = grown;
    m_capacity += kGrowBy;
  }
  m_lines[m_count++] = line;
  return true;
}

bool CMyConsoleLineContainer::AddHeader(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CMyConsoleLineRegular* line = CMyConsoleLineRegular::FormatV(format, args);
  va_end(args);
  return Add(line);
}

bool CMyConsoleLineContainer::AddText(const char* text) {
  return Add(CMyConsoleLineRegular::Text(text));
}

bool CMyConsoleLineContainer::AddValue(const char* attribute, const char* value) {
  return Add(new (std::nothrow) CMyConsoleLineValue(attribute, value));
}

bool CMyConsoleLineContainer::AddYesNo(const char* attribute, bool yes) {
  return AddValue(attribute, YesNoText(yes));
}

bool CMyConsoleLineContainer::AddEmpty() { return Add(new (std::nothrow) CMyConsoleLineEmpty()); }

size_t CMyConsoleLineContainer::GetWidth() const {
  size_t width = 0;
  for (size_t i = 0; i < m_count; ++i) {
    size_t length = m_lines[i]->GetAttributeLength();
    if (length > width) width = length;
  }
  return width;
}

void CMyConsoleLineContainer::Print() const {
  size_t width = GetWidth();
  for (size_t i = 0; i < m_count; ++i) {
    const CMyConsoleLine* line = m_lines[i];
    line->Print(width, line->GetKind() != kLineEmpty, m_dots);
  }
  WriteText("\n");
}

CMyConsoleLog& CMyConsoleLog::Instance() {
  static CMyConsoleLog log;
  return log;
}

void CMyConsoleLog::Message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  MessageV(format, args);
  va_end(args);
}

void CMyConsoleLog::MessageV(const char* format, va_list args) {
  CMyConsoleLineRegular* line = CMyConsoleLineRegular::FormatV(format, args);
  if (!line) return;
  line->Print(0, true, false);
  delete line;
}

void CMyConsoleLog::Value(const char* label, const char* value) {
  CMyConsoleLineValue line(label, value);
  line.Print(0, true, false);
}

void CMyConsoleLog::YesNo(const char* label, bool yes) { Value(label, YesNoText(yes)); }

}  // namespace tarvixconsole
