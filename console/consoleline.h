// The console output model: every text the client prints goes through the
// line classes below and, at the bottom, through one process-wide writer.
//
// Fill rule (block alignment): a text printed against a width gets
// width - length + 3 fill characters when its length is at most the width,
// none otherwise. With dots, a fill character is "." when an odd number of
// fill characters still follows it and " " otherwise, so the last one is a
// space and the dots of all lines of a block share their columns. Header
// texts and values use the same rule with width 0: a non-empty text gets no
// fill, an empty one gets three fill characters. Texts are written as they
// are, never used as format strings.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "foundation/mystring.h"

namespace tarvixconsole {

// Where console text ends up. The default writes to the standard output and
// flushes at once (callbacks print from other threads while the main thread
// waits for input). Tests install a capturing writer.
class CConsoleWriter {
public:
  virtual ~CConsoleWriter() = default;
  virtual void Write(const char* text, size_t length) = 0;
};

// The writer in use (never null).
CConsoleWriter& ConsoleWriter();
// Installs `writer` (null: the standard output again); returns the previous.
CConsoleWriter* SetConsoleWriter(CConsoleWriter* writer);

void WriteText(const char* text);
void WriteText(const char* text, size_t length);
// Writes `text` followed by its fill against `width` (see above).
void WritePadded(const char* text, size_t width, bool dots);

// An owned narrow text; the empty text is the library's shared empty string.
class CMyFormattedConsoleString {
public:
  CMyFormattedConsoleString() = default;
  explicit CMyFormattedConsoleString(const char* text) { m_text.Assign(text); }
  void Assign(const char* text) { m_text.Assign(text); }
  // Formats into a 4096-byte buffer: at most 4095 characters are kept.
  void FormatV(const char* format, va_list args);
  const char* GetText() const { return m_text.GetString(); }
  size_t GetLength() const { return m_text.GetLength(); }

  static constexpr size_t kFormatBufferSize = 4096;

private:
  tarvixlib::CMyStringA m_text;
};

enum EConsoleLineKind { kLineEmpty = 0, kLineRegular = 1, kLineAttribute = 2, kLineValue = 3 };

class CMyConsoleLine {
public:
  explicit CMyConsoleLine(EConsoleLineKind kind) : m_kind(kind) {}
  CMyConsoleLine(const CMyConsoleLine&) = delete;
  CMyConsoleLine& operator=(const CMyConsoleLine&) = delete;
  virtual ~CMyConsoleLine() = default;
  virtual void Print(size_t width, bool newline, bool dots) const = 0;
  virtual size_t GetAttributeLength() const { return 0; }
  EConsoleLineKind GetKind() const { return m_kind; }

private:
  EConsoleLineKind m_kind;
};

// One line feed, and a second one when the newline flag is set.
class CMyConsoleLineEmpty : public CMyConsoleLine {
public:
  CMyConsoleLineEmpty() : CMyConsoleLine(kLineEmpty) {}
  void Print(size_t width, bool newline, bool dots) const override;
};

// One text, then a line feed when asked.
class CMyConsoleLineRegular : public CMyConsoleLine {
public:
  CMyConsoleLineRegular() : CMyConsoleLine(kLineRegular) {}
  // Formats once (at most 4095 characters) and keeps the result.
  static CMyConsoleLineRegular* Format(const char* format, ...);
  static CMyConsoleLineRegular* FormatV(const char* format, va_list args);
  // Keeps `text` as it is.
  static CMyConsoleLineRegular* Text(const char* text);

  void Print(size_t width, bool newline, bool dots) const override;
  const char* GetText() const { return m_text.GetText(); }

protected:
  explicit CMyConsoleLineRegular(EConsoleLineKind kind) : CMyConsoleLine(kind) {}
  CMyFormattedConsoleString m_text;
};

// "  " + attribute padded to the width + ": ".
class CMyConsoleLineAttribute : public CMyConsoleLineRegular {
public:
  explicit CMyConsoleLineAttribute(const char* attribute)
      : CMyConsoleLineAttribute(kLineAttribute, attribute) {}
  void Print(size_t width, bool newline, bool dots) const override;
  size_t GetAttributeLength() const override { return m_attribute.GetLength(); }

protected:
  CMyConsoleLineAttribute(EConsoleLineKind kind, const char* attribute);
  void PrintHead(size_t width, bool dots) const;
  CMyFormattedConsoleString m_attribute;
};

// An attribute line with a value after the ": ".
class CMyConsoleLineValue : public CMyConsoleLineAttribute {
public:
  CMyConsoleLineValue(const char* attribute, const char* value);
  void Print(size_t width, bool newline, bool dots) const override;

private:
  CMyFormattedConsoleString m_value;
};

// A block of lines printed with one width (the longest attribute). Owns its
// lines; the list grows 16 entries at a time.
class CMyConsoleLineContainer {
public:
  explicit CMyConsoleLineContainer(bool dots = false) : m_dots(dots) {}
  CMyConsoleLineContainer(const CMyConsoleLineContainer&) = delete;
  CMyConsoleLineContainer& operator=(const CMyConsoleLineContainer&) = delete;
  ~CMyConsoleLineContainer();

  // Takes ownership of `line` in every case (deleted when it cannot be kept).
  bool Add(CMyConsoleLine* line);
  bool AddHeader(const char* format, ...);  // a Regular line, formatted once
  bool AddText(const char* text);           // a Regular line, kept as it is
  bool AddValue(const char* attribute, const char* value);
  bool AddYesNo(const char* attribute, bool yes);
  bool AddEmpty();

  size_t GetCount() const { return m_count; }
  size_t GetWidth() const;
  // Every line with the block's width and dots flag, then one line feed.
  void Print() const;

  static constexpr size_t kGrowBy = 16;

private:
  CMyConsoleLine** m_lines = nullptr;
  size_t m_count = 0;
  size_t m_capacity = 0;
  bool m_dots;
};

// The single message lines of the client. Holds no state of its own.
class CMyConsoleLog {
public:
  static CMyConsoleLog& Instance();
  // Formats once into at most 4095 characters and prints a Regular line.
  void Message(const char* format, ...);
  void MessageV(const char* format, va_list args);
  // "  label: value" without alignment.
  void Value(const char* label, const char* value);
  void YesNo(const char* label, bool yes);
};

inline const char* YesNoText(bool yes) { return yes ? "YES" : "NO"; }

}  // namespace tarvixconsole
