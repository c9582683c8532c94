// Fresh folders and small file helpers for the tests that run under Wine.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pack.h"

// A folder of its own under the Windows temporary folder, removed with everything in it
// (read-only files included) when the sandbox goes.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return root_; }
  // root\name, made as a folder (with its parents) when it is missing.
  std::string folder(const std::string& name) const;
  // root\name for a name with letters outside the ANSI code page, made when it is missing.
  std::wstring folder(const std::wstring& name) const;

 private:
  std::string root_;
};

std::string joinPath(const std::string& folder, const std::string& name);
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
std::string readText(const std::string& path);  // the bytes as they are; empty when missing
void writeText(const std::string& path, const std::string& content);
Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, const Bytes& content);
void makeReadOnly(const std::string& path, bool readOnly = true);
// Whether a read-only file refuses to be written here. Windows always refuses; Wine run by root
// does not, since root may write any file.
bool readOnlyIsHonoured();
void removeTree(const std::string& path);
// The names in a folder, a sub-folder's with a trailing backslash; empty when missing. Sorted,
// or else in the order the directory search delivers them.
std::vector<std::string> folderListing(const std::string& path, bool sorted = true);
std::string shortPath(const std::string& path);  // as GetShortPathNameA gives it
// The short form of a path named outside the ANSI code page, in ANSI; empty when it has none.
std::string shortPath(const std::wstring& path);
std::wstring widen(const std::string& ansi);  // from the ANSI code page
// The folder in which tests/e2e/linked_folder.sh made "temp\kou3_ins" a symbolic link to
// "target" on the Linux side (KOU3_LINKED); empty when the tests do not run under it.
std::string linkedFolders();
std::string binFolder();                         // where this test program and kou3upd.exe are
std::vector<std::string> splitLines(const std::string& text);  // on "\n", a "\r" before it dropped
// The steps a trace file holds (each line after its "kou3upd[id] +ms "), those that begin with
// one of prefixes, in order.
std::vector<std::string> traceSteps(const std::string& path, const std::vector<std::string>& prefixes);
