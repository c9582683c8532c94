#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/path.h"
#include "pack.h"
#include "package/backup.h"
#include "package/newest.h"
#include "package/reader.h"

namespace {

namespace fs = std::filesystem;

// The two packages kou3upd unpacks (the installer and the launcher); the two it keeps are
// kFixedPackages.
const char* const kNeededPackages[] = {"setup_ko_u3", "kou3lnch"};

struct Command {
  const char* name;
  const char* synopsis;
  const char* help;
};

// The same words as the page on making packages, which shows this help.
constexpr Command kCommands[] = {
    {"create", "vpupack create IN OUT",
     "  Packs the file IN as the package OUT, named <package>-<hex version>.vpu (setup_ko_u3-1a.vpu).\n"
     "  Warns when IN is no Windows program (no MZ/PE header): kou3upd would fail to start it with 193.\n"},
    {"info", "vpupack info FILE",
     "  Shows the magic, both sizes, whether the body inflates and whether its checksum holds.\n"
     "  Exits 1 for a package that kou3upd would refuse.\n"},
    {"extract", "vpupack extract PKG OUT",
     "  Writes into OUT the image that kou3upd would unpack from PKG.\n"
     "  Exits 1, saying why, for a package that does not read.\n"},
    {"check", "vpupack check FOLDER",
     "  Says which package kou3upd would take from a drive folder, and what a stopped run left there.\n"
     "  Exits 1 when the one taken for setup_ko_u3 or kou3lnch is missing, does not read or holds\n"
     "  no Windows program.\n"},
    {"plan", "vpupack plan [OPTIONS] [-- KOU3UPD-COMMAND-LINE]",
     "  Says what kou3upd would do, started with that command line: the package it takes, the files it\n"
     "  writes, the programs it starts with their exact command lines, its log lines and its exit code.\n"
     "  Starts nothing and writes nothing; vpupack plan --help lists its options.\n"},
};

constexpr const char* kExitCodes =
    "Exit codes: 0 done; 1 a file that cannot be read, written or listed, or a bad package;\n"
    "2 a command line that vpupack does not know.\n";

int usage(std::FILE* to, int code) {
  const char* lead = "usage: ";
  for (const Command& command : kCommands) {
    std::fprintf(to, "%s%s\n", lead, command.synopsis);
    lead = "       ";
  }
  return code;
}

// vpupack --help: every command, what it does and the exit codes.
int help(std::FILE* out) {
  usage(out, 0);
  for (const Command& command : kCommands) std::fprintf(out, "\n%s\n%s", command.synopsis, command.help);
  std::fprintf(out, "\n%s", kExitCodes);
  return 0;
}

// vpupack COMMAND --help: that command alone; 2 for a command it does not know.
int commandHelp(const char* name, std::FILE* out, std::FILE* err) {
  for (const Command& command : kCommands) {
    if (std::strcmp(command.name, name) != 0) continue;
    std::fprintf(out, "usage: %s\n%s%s", command.synopsis, command.help, kExitCodes);
    return 0;
  }
  return usage(err, 2);
}

// The system's reason for the last failed file call.
const char* reason() { return std::strerror(errno); }

bool isFixedPackage(const std::string& name) {
  for (const FixedPackage& fixed : kFixedPackages) {
    if (pkgSameName(name, fixed.package)) return true;
  }
  return false;
}

std::string versionText(int32_t version) {
  char text[16];
  std::snprintf(text, sizeof text, version < 0 ? "-0x%X" : "0x%X",
                version < 0 ? 0u - static_cast<uint32_t>(version) : static_cast<uint32_t>(version));
  return text;
}

// What kou3upd would make of a package: whether it reads and, for a program to start, whether it
// holds one. good tells whether kou3upd would unpack it (and could start it).
std::string describe(const std::string& path, bool program, bool& good) {
  good = false;
  Bytes package;
  if (!readWholeFile(path, package)) return std::string("does not read: cannot be read: ") + reason();
  const VpuInfo found = vpuInspect(package);
  if (!found.magicOk) return "does not read: wrong magic";
  if (!found.headerComplete) return "does not read: ends inside the size fields";
  if (!found.ok()) return std::string("does not read: body ") + pkgBodyText(found.body);
  const std::string reads = "reads, inflates to " + std::to_string(found.inflatedLength) + " bytes";
  if (program && !vpuIsWindowsProgram(found.head)) {
    return reads + ", but holds no Windows program (no MZ/PE header): kou3upd would fail to start it with 193";
  }
  good = true;
  return reads;
}

// Whether the version text of fileName reads as it looks: hexadecimal digits alone, after an
// optional "0x", within the 31 bits that kou3upd's reading keeps.
bool versionReadsAsItLooks(const std::string& fileName, const std::string& package) {
  const std::string text = fileName.substr(package.size() + 1, fileName.size() - package.size() - 5);
  const std::size_t digitsAt = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
  if (digitsAt == text.size()) return false;
  uint64_t value = 0;
  for (std::size_t i = digitsAt; i < text.size(); ++i) {
    const char digit = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    const char* at = std::strchr("0123456789abcdef", digit);
    if (at == nullptr) return false;
    value = value * 16 + static_cast<uint64_t>(at - "0123456789abcdef");
    if (value > INT32_MAX) return false;
  }
  return true;
}

// A package-like name that kou3upd does not take as package's: the same name but for case,
// dashes, underscores, blanks and dots (setup_ko_u3_1a.vpu, setup_ko_u3.vpu, setup_ko_u3-1.vpu.bak).
bool isNearMiss(const std::string& fileName, const std::string& package) {
  const auto squeezed = [](const std::string& text) {
    std::string kept;
    for (const char c : text) {
      if (std::strchr("-_ .", c) == nullptr) kept += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return kept;
  };
  const std::string name = squeezed(fileName);
  const std::string head = squeezed(package);
  return !pkgIsFileOf(fileName, package) && name.compare(0, head.size(), head) == 0 &&
         name.find("vpu", head.size()) != std::string::npos;
}

// The file kou3upd takes for package among names, skipped aside; empty when none.
std::string take(const std::vector<std::string>& names, const std::string& package, const std::string& skipped) {
  NewestVpu newest(package.c_str());
  for (const std::string& name : names) {
    if (pkgIsFileOf(name, package) && name != skipped) newest.offer(name.c_str());
  }
  return newest.version() < 0 ? std::string() : newest.fileName();
}

// Lists each package's versions and the one kou3upd takes, as the program's own rule chooses
// it, with warnings for names kou3upd reads otherwise than they look. For a package the program
// needs (program true) whose file taken is bad, the summary line that says so; else empty.
std::string checkPackage(const std::string& folder, const std::vector<std::string>& names, const std::string& package,
                         bool program, std::FILE* out) {
  std::fprintf(out, "package %s:", package.c_str());
  const char* separator = " ";
  std::string warnings;
  for (const std::string& name : names) {
    if (program && isNearMiss(name, package)) {
      warnings += "  warning: " + name + " is not taken: kou3upd takes only " + package + "-<hex version>.vpu\n";
    }
    if (!pkgIsFileOf(name, package)) continue;
    const int32_t version = pkgFileVersion(name.c_str(), package.c_str());
    std::fprintf(out, "%s%s (%s)", separator, name.c_str(), versionText(version).c_str());
    separator = ", ";
    if (!versionReadsAsItLooks(name, package)) {
      warnings += "  warning: " + name + ": kou3upd reads its version as " + versionText(version) +
                  (version < 0 ? " and never takes it\n" : "\n");
    }
  }
  const std::string taken = take(names, package, "");
  bool good = false;
  if (taken.empty()) {
    std::fprintf(out, " none taken\n%s", warnings.c_str());
  } else {
    const std::string what = describe((fs::path(folder) / taken).string(), program, good);
    std::fprintf(out, "\n  takes %s: %s\n%s", taken.c_str(), what.c_str(), warnings.c_str());
  }
  if (!program || good) return "";
  if (taken.empty()) return "no " + package + "-<hex version>.vpu for kou3upd to take";
  // What taking the bad one away would give: the next version down, which may be good.
  const std::string next = take(names, package, taken);
  std::string instead = "nothing";
  if (!next.empty()) {
    const std::string what = describe((fs::path(folder) / next).string(), program, good);
    instead = next + (good ? ", which is good" : ", which is bad too: " + what);
  }
  return taken + " (" + package + ") is bad; without it kou3upd would take " + instead;
}

// The file of names that is wanted, letter case aside, and its size; false when there is none.
bool findFile(const std::string& folder, const std::vector<std::string>& names, const std::string& wanted,
              std::string& found, unsigned long long& size) {
  for (const std::string& name : names) {
    if (!pkgSameName(name, wanted)) continue;
    std::error_code error;
    const uintmax_t bytes = fs::file_size(fs::path(folder) / name, error);
    found = name;
    size = error ? 0 : bytes;
    return true;
  }
  return false;
}

void checkFixed(const std::string& folder, const std::vector<std::string>& names, const FixedPackage& fixed,
                std::FILE* out) {
  std::string found;
  unsigned long long size = 0;
  if (findFile(folder, names, fixed.package, found, size)) {
    std::fprintf(out, "fixed %s: %llu bytes\n", found.c_str(), size);
  } else {
    std::fprintf(out, "fixed %s: missing\n", fixed.package);
  }
  if (findFile(folder, names, fixed.backup, found, size)) {
    std::fprintf(out, "  %s left over (%llu bytes): the next /hostConfigure, /appStart, /installScan or "
                 "/checkUpdate puts it back\n", found.c_str(), size);
  }
}

int check(const char* folder, std::FILE* out, std::FILE* err) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  if (error) {
    std::fprintf(err, "vpupack: cannot list %s: %s\n", folder, error.message().c_str());
    return 1;
  }
  std::fprintf(out, "folder: %s\n", folder);
  // Besides the two the program needs, any other "<name>-*.vpu" found, named by its first dash.
  std::vector<std::string> packages(std::begin(kNeededPackages), std::end(kNeededPackages));
  for (const std::string& name : names) {
    const std::string package = name.substr(0, name.find('-'));
    if (package.empty() || package == name || isFixedPackage(name) || !pkgIsFileOf(name, package)) continue;
    bool known = false;
    for (const std::string& seen : packages) known = known || pkgSameName(seen, package);
    if (!known) packages.push_back(package);
  }
  std::vector<std::string> bad;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    const std::string fault = checkPackage(folder, names, packages[i], i < std::size(kNeededPackages), out);
    if (!fault.empty()) bad.push_back(fault);
  }
  for (const FixedPackage& fixed : kFixedPackages) checkFixed(folder, names, fixed, out);
  for (const std::string& name : names) {
    if (filIsTemporaryName(name.c_str())) std::fprintf(out, "temporary file left by a stopped run: %s\n", name.c_str());
  }
  if (bad.empty()) std::fprintf(out, "check: ok\n");
  for (const std::string& line : bad) std::fprintf(out, "check: bad, %s\n", line.c_str());
  return bad.empty() ? 0 : 1;
}

int extract(const char* in, const char* outPath, std::FILE* err) {
  if (std::FILE* file = std::fopen(in, "rb")) {
    std::fclose(file);
  } else {
    std::fprintf(err, "vpupack: cannot open %s: %s\n", in, reason());
    return 1;
  }
  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0;
  PkgReadNote note;
  if (!pkgReadFile(in, image, length, &note)) {
    std::fprintf(err, "vpupack: %s does not read as a package: %s", in, note.refused);
    if (note.code != 0) std::fprintf(err, " (code %d)", note.code);
    std::fputc('\n', err);
    return 1;
  }
  if (!writeWholeFile(outPath, Bytes(image.get(), image.get() + length))) {
    std::fprintf(err, "vpupack: cannot write %s: %s\n", outPath, reason());
    return 1;
  }
  return 0;
}

int create(const char* in, const char* out, std::FILE* err) {
  Bytes image;
  if (!readWholeFile(in, image)) {
    std::fprintf(err, "vpupack: cannot read %s: %s\n", in, reason());
    return 1;
  }
  if (image.size() > 0xFFFFFFFFu) {
    std::fprintf(err, "vpupack: %s is larger than a package can hold\n", in);
    return 1;
  }
  if (!writeWholeFile(out, vpuPack(image))) {
    std::fprintf(err, "vpupack: cannot write %s: %s\n", out, reason());
    return 1;
  }
  // Packed all the same: a package may carry anything, but kou3upd starts what it unpacks.
  if (!vpuIsWindowsProgram(image)) {
    std::fprintf(err, "vpupack: warning: %s is not a Windows program (no MZ/PE header); kou3upd would fail to "
                 "start it with 193\n", in);
  }
  return 0;
}

int info(const char* path, std::FILE* out, std::FILE* err) {
  Bytes package;
  if (!readWholeFile(path, package)) {
    std::fprintf(err, "vpupack: cannot read %s: %s\n", path, reason());
    return 1;
  }
  const VpuInfo found = vpuInspect(package);
  std::fprintf(out, "file: %s (%llu bytes)\n", path, static_cast<unsigned long long>(package.size()));
  std::fprintf(out, "magic: %s\n", found.magicOk ? "ok" : "wrong");
  if (!found.headerComplete) {
    std::fprintf(out, "header: ends inside the size fields\n");
  } else {
    std::fprintf(out, "image size: %u\n", found.imageSize);
    std::fprintf(out, "body size: %u (%llu present)\n", found.bodySize,
                 static_cast<unsigned long long>(found.bodyBytesPresent));
    if (found.body == PkgBody::kOk) {
      std::fprintf(out, "body: inflates to %llu bytes, checksum ok\n",
                   static_cast<unsigned long long>(found.inflatedLength));
    } else {
      std::fprintf(out, "body: %s\n", pkgBodyText(found.body));
    }
  }
  std::fprintf(out, "package: %s\n", found.ok() ? "ok" : "bad");
  return found.ok() ? 0 : 1;
}

}  // namespace

int vpupackMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  const auto isHelp = [](const char* word) { return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0; };
  if (argc == 2 && isHelp(argv[1])) return help(out);
  if (argc == 3 && isHelp(argv[2])) return commandHelp(argv[1], out, err);
  if (argc == 4 && std::strcmp(argv[1], "create") == 0) return create(argv[2], argv[3], err);
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2], out, err);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3], err);
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(argv[2], out, err);
  return usage(err, 2);
}
