#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/path.h"
#include "pack.h"
#include "package/newest.h"
#include "package/reader.h"

namespace {

namespace fs = std::filesystem;

// The two packages kou3upd unpacks (the installer and the launcher), and the two it keeps.
const char* const kNeededPackages[] = {"setup_ko_u3", "kou3lnch"};
const char* const kFixedPackages[] = {"prod-ko_u3", "silverfern"};

int usage(std::FILE* err) {
  std::fputs("usage: vpupack create IN OUT\n       vpupack info FILE\n       vpupack extract PKG OUT\n"
             "       vpupack check FOLDER\n",
             err);
  return 2;
}

bool isFixedPackage(const std::string& name) {
  for (const char* fixed : kFixedPackages) {
    if (pkgSameName(name, std::string(fixed) + ".vpu")) return true;
  }
  return false;
}

std::string versionText(int32_t version) {
  char text[16];
  std::snprintf(text, sizeof text, version < 0 ? "-0x%X" : "0x%X",
                version < 0 ? 0u - static_cast<uint32_t>(version) : static_cast<uint32_t>(version));
  return text;
}

// Why a package would not be unpacked, or empty when it would be.
std::string packageFault(const std::string& path, uint64_t& inflated) {
  Bytes package;
  if (!readWholeFile(path, package)) return "cannot be read";
  const VpuInfo found = vpuInspect(package);
  inflated = found.inflatedLength;
  if (!found.magicOk) return "wrong magic";
  if (!found.headerComplete) return "ends inside the size fields";
  return found.ok() ? "" : std::string("body ") + pkgBodyText(found.body);
}

// Lists each package's versions and the one kou3upd takes, as the program's own rule chooses
// it; false when that one is missing or does not read for a package the program needs.
bool checkPackage(const std::string& folder, const std::vector<std::string>& names, const std::string& package,
                  std::FILE* out) {
  std::fprintf(out, "package %s:", package.c_str());
  NewestVpu newest(package.c_str());
  const char* separator = " ";
  for (const std::string& name : names) {
    if (!pkgIsFileOf(name, package)) continue;
    std::fprintf(out, "%s%s (%s)", separator, name.c_str(), versionText(newest.offer(name.c_str())).c_str());
    separator = ", ";
  }
  if (newest.version() < 0) {
    std::fprintf(out, " none taken\n");
    return false;
  }
  uint64_t inflated = 0;
  const std::string fault = packageFault((fs::path(folder) / newest.fileName()).string(), inflated);
  if (fault.empty()) {
    std::fprintf(out, "\n  takes %s: reads, inflates to %llu bytes\n", newest.fileName().c_str(),
                 static_cast<unsigned long long>(inflated));
  } else {
    std::fprintf(out, "\n  takes %s: does not read: %s\n", newest.fileName().c_str(), fault.c_str());
  }
  return fault.empty();
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

void checkFixed(const std::string& folder, const std::vector<std::string>& names, const std::string& package,
                std::FILE* out) {
  std::string found;
  unsigned long long size = 0;
  if (findFile(folder, names, package + ".vpu", found, size)) {
    std::fprintf(out, "fixed %s: %llu bytes\n", found.c_str(), size);
  } else {
    std::fprintf(out, "fixed %s.vpu: missing\n", package.c_str());
  }
  if (findFile(folder, names, package + ".bak", found, size)) {
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
    std::fprintf(err, "vpupack: cannot list %s\n", folder);
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
  bool sound = true;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    const bool reads = checkPackage(folder, names, packages[i], out);
    if (i < std::size(kNeededPackages)) sound = sound && reads;
  }
  for (const char* fixed : kFixedPackages) checkFixed(folder, names, fixed, out);
  for (const std::string& name : names) {
    if (filIsTemporaryName(name.c_str())) std::fprintf(out, "temporary file left by a stopped run: %s\n", name.c_str());
  }
  std::fprintf(out, "check: %s\n", sound ? "ok" : "bad, kou3upd cannot unpack setup_ko_u3 or kou3lnch from here");
  return sound ? 0 : 1;
}

int extract(const char* in, const char* outPath, std::FILE* err) {
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
    std::fprintf(err, "vpupack: cannot write %s\n", outPath);
    return 1;
  }
  return 0;
}

int create(const char* in, const char* out, std::FILE* err) {
  Bytes image;
  if (!readWholeFile(in, image)) {
    std::fprintf(err, "vpupack: cannot read %s\n", in);
    return 1;
  }
  if (image.size() > 0xFFFFFFFFu) {
    std::fprintf(err, "vpupack: %s is larger than a package can hold\n", in);
    return 1;
  }
  if (!writeWholeFile(out, vpuPack(image))) {
    std::fprintf(err, "vpupack: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int info(const char* path, std::FILE* out, std::FILE* err) {
  Bytes package;
  if (!readWholeFile(path, package)) {
    std::fprintf(err, "vpupack: cannot read %s\n", path);
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
  if (argc == 4 && std::strcmp(argv[1], "create") == 0) return create(argv[2], argv[3], err);
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2], out, err);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3], err);
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(argv[2], out, err);
  return usage(err);
}
