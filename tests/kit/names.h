// Names and scratch files of their own for each test, so that tests (and
// test programs) can run side by side.
#pragma once

#include <string>

namespace testkit {

// "tarvix-<what>-<process id>-<serial>": a pipe name no other test uses.
std::string UniquePipeName(const std::string& what);
// "<temporary folder>\<stem>-<process id>.txt".
std::string TempPath(const std::string& stem);
// The whole file, or "" when it cannot be read.
std::string ReadFileText(const std::string& path);
// Writes the text; false when the file cannot be written.
bool WriteFileText(const std::string& path, const std::string& text);

}  // namespace testkit
