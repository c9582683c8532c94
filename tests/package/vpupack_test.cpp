#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../support/memory_stream.h"
#include "../support/temp_folder.h"
#include "pack.h"
#include "plan.h"
#include "package/reader.h"

namespace {

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

class Vpupack : public ::testing::Test {
 protected:
  Outcome run(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"vpupack"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const std::string outPath = folder.file("stdout.txt");
    const std::string errPath = folder.file("stderr.txt");
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    std::FILE* err = std::fopen(errPath.c_str(), "wb");
    Outcome outcome;
    outcome.code = vpupackMain(static_cast<int>(argv.size()), argv.data(), out, err);
    std::fclose(out);
    std::fclose(err);
    Bytes bytes;
    readWholeFile(outPath, bytes);
    outcome.out.assign(bytes.begin(), bytes.end());
    readWholeFile(errPath, bytes);
    outcome.err.assign(bytes.begin(), bytes.end());
    return outcome;
  }
  std::string put(const std::string& name, const Bytes& content) {
    const std::string path = folder.file(name);
    writeWholeFile(path, content);
    return path;
  }
  TempFolder folder;
};

const Bytes kImage = {'h', 'e', 'l', 'l', 'o', ',', ' ', 'p', 'a', 'c', 'k', 'a', 'g', 'e', '\n'};

// The least a Windows program begins with: "MZ", and "PE\0\0" where its DOS header points ('@', 0x40).
const std::string kPe = "MZ" + std::string(58, '\0') + "@" + std::string(3, '\0') + "PE" + std::string(2, '\0');
const Bytes kProgram(kPe.begin(), kPe.end());

std::string missingFile(const std::string& path) { return path + ": " + std::strerror(ENOENT) + "\n"; }

TEST_F(Vpupack, CreateWritesAPackageThatTheProgramReadsBack) {
  const std::string in = put("image.exe", kImage);
  const std::string out = folder.file("setup_ko_u3-1.vpu");
  const Outcome created = run({"create", in, out});
  EXPECT_EQ(created.code, 0);
  EXPECT_EQ(created.out, "");
  // Packed all the same: kou3upd would unpack it and fail to start it.
  EXPECT_EQ(created.err, "vpupack: warning: " + in +
                             " is not a Windows program (no MZ/PE header); kou3upd would fail to start it with 193\n");
  EXPECT_EQ(run({"create", put("program.exe", kProgram), folder.file("program.vpu")}).err, "");

  std::unique_ptr<uint8_t[]> image;
  uint32_t length = 0;
  ASSERT_TRUE(pkgReadFile(out.c_str(), image, length));
  EXPECT_EQ(Bytes(image.get(), image.get() + length), kImage);

  Bytes package;
  ASSERT_TRUE(readWholeFile(out, package));
  const std::string body = std::to_string(package.size() - 24);
  const Outcome info = run({"info", out});
  EXPECT_EQ(info.code, 0);
  EXPECT_EQ(info.out, "file: " + out + " (" + std::to_string(package.size()) + " bytes)\n" +
                          "magic: ok\n"
                          "image size: 15\n"
                          "body size: " + body + " (" + body + " present)\n" +
                          "body: inflates to 15 bytes, checksum ok\n"
                          "package: ok\n");
  EXPECT_EQ(info.err, "");

  const Outcome extracted = run({"extract", out, folder.file("extracted.exe")});
  EXPECT_EQ(extracted.code, 0);
  Bytes image2;
  ASSERT_TRUE(readWholeFile(folder.file("extracted.exe"), image2));
  EXPECT_EQ(image2, kImage);
}

TEST_F(Vpupack, InfoTellsWhatIsWrongAndFailsForABadPackage) {
  const Bytes good = vpuPack(kImage);
  Bytes badChecksum(good.begin(), good.end() - 1);
  badChecksum.push_back(static_cast<uint8_t>(good.back() ^ 0x10));
  Bytes shortImage = good;
  shortImage[16] = 14;
  Bytes lowerCase = good;
  lowerCase[0] = 'z';

  const struct {
    const char* what;
    Bytes package;
    std::string tail;
  } table[] = {
      {"truncated body", Bytes(good.begin(), good.end() - 1), "body: ends before its zlib stream does\npackage: bad\n"},
      {"wrong checksum", badChecksum, "body: damaged (zlib header, deflate data or checksum)\npackage: bad\n"},
      {"image size one short", shortImage, "body: unpacks to more than the image size\npackage: bad\n"},
      {"magic in the wrong case", lowerCase, "body: inflates to 15 bytes, checksum ok\npackage: bad\n"},
      {"ends in the sizes", Bytes(good.begin(), good.begin() + 20),
       "magic: ok\nheader: ends inside the size fields\npackage: bad\n"},
  };
  for (const auto& row : table) {
    const Outcome info = run({"info", put("bad.vpu", row.package)});
    EXPECT_EQ(info.code, 1) << row.what;
    ASSERT_GE(info.out.size(), row.tail.size()) << row.what;
    EXPECT_EQ(info.out.substr(info.out.size() - row.tail.size()), row.tail) << row.what;
    const Outcome extract = run({"extract", folder.file("bad.vpu"), folder.file("bad.exe")});
    EXPECT_EQ(extract.code, 1) << row.what;
    EXPECT_EQ(extract.err.rfind("vpupack: " + folder.file("bad.vpu") + " does not read as a package: ", 0), 0u) << extract.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("bad.exe"))) << row.what;
  }
  const Outcome lower = run({"info", put("bad.vpu", lowerCase)});
  EXPECT_NE(lower.out.find("\nmagic: wrong\n"), std::string::npos);
}

TEST_F(Vpupack, MissingFilesAndBadCommandsFail) {
  const std::string missing = folder.file("missing.bin");
  const Outcome create = run({"create", missing, folder.file("out.vpu")});
  EXPECT_EQ(create.code, 1);
  EXPECT_EQ(create.err, "vpupack: cannot read " + missingFile(missing));
  EXPECT_FALSE(std::filesystem::exists(folder.file("out.vpu")));

  const Outcome unwritable = run({"create", put("image.exe", kImage), folder.file("no/such/out.vpu")});
  EXPECT_EQ(unwritable.code, 1);
  EXPECT_EQ(unwritable.err, "vpupack: cannot write " + missingFile(folder.file("no/such/out.vpu")));

  const Outcome info = run({"info", missing});
  EXPECT_EQ(info.code, 1);
  EXPECT_EQ(info.out, "");
  EXPECT_EQ(info.err, "vpupack: cannot read " + missingFile(missing));
  EXPECT_EQ(run({"extract", missing, folder.file("out.exe")}).err, "vpupack: cannot open " + missingFile(missing));
  const Outcome list = run({"check", missing});
  EXPECT_EQ(list.err.rfind("vpupack: cannot list " + missing + ": ", 0), 0u);
  EXPECT_GT(list.err.size(), ("vpupack: cannot list " + missing + ": \n").size());

  const std::string usage =
      "usage: vpupack create IN OUT\n       vpupack info FILE\n       vpupack extract PKG OUT\n"
      "       vpupack check FOLDER\n"
      "       vpupack plan [OPTIONS] [-- KOU3UPD-COMMAND-LINE]\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"create", "a"}, {"info"}, {"info", "a", "b"}, {"pack", "a", "b"}, {"INFO", "a"}, {"extract", "a"},
           {"check"}, {"pack", "--help"}}) {
    const Outcome bad = run(args);
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err, usage);
  }
  // The whole text is checked against the page on making packages.
  const Outcome help = run({"--help"});
  EXPECT_EQ(std::to_string(help.code) + help.out.substr(0, usage.size()) + help.err, "0" + usage);
  const Outcome one = run({"extract", "--help"});
  EXPECT_EQ(std::to_string(one.code) + one.out.substr(0, 39) + one.err, "0usage: vpupack extract PKG OUT\n  Writes");
}

// The folder as kou3upd sees it: the newest version is taken even when it is broken.
TEST_F(Vpupack, CheckNamesWhatTheProgramWouldTakeAndWhatARunLeft) {
  const std::string drive = folder.file("drive");
  std::filesystem::create_directory(drive);
  const Bytes good = vpuPack(kProgram);
  writeWholeFile(drive + "/setup_ko_u3-9.vpu", good);
  // Read otherwise than they look, or not taken at all: warned of.
  writeWholeFile(drive + "/setup_ko_u3-zz.vpu", good);
  writeWholeFile(drive + "/setup_ko_u3_1a.vpu", good);
  writeWholeFile(drive + "/KOU3LNCH-1G.VPU", good);
  writeWholeFile(drive + "/SETUP_KO_U3-1a.VPU", Bytes(good.begin(), good.end() - 1));
  // Beyond 32 bits: clamped as the Windows run-time's strtol does, not cut to its low bits (2).
  writeWholeFile(drive + "/kou3lnch-100000002.vpu", good);
  writeWholeFile(drive + "/kou3lnch-3.vpu", good);
  writeWholeFile(drive + "/prod-ko_u3.vpu", good);
  writeWholeFile(drive + "/prod-ko_u3.bak", kImage);
  writeWholeFile(drive + "/prod-ko_u3.vpu.kou3upd-1234.tmp", kImage);
  const Outcome checked = run({"check", drive});
  EXPECT_EQ(checked.code, 1);
  for (const std::string& line : std::vector<std::string>
       {"  takes SETUP_KO_U3-1a.VPU: does not read: body ends before its zlib stream does\n",
        "  warning: setup_ko_u3-zz.vpu: kou3upd reads its version as 0x0\n",
        "  warning: setup_ko_u3_1a.vpu is not taken: kou3upd takes only setup_ko_u3-<hex version>.vpu\n",
        "  warning: KOU3LNCH-1G.VPU: kou3upd reads its version as 0x1\n",
        "  warning: kou3lnch-100000002.vpu: kou3upd reads its version as 0x7FFFFFFF\n",
        "kou3lnch-100000002.vpu (0x7FFFFFFF)", "  takes kou3lnch-100000002.vpu: reads, inflates to 68 bytes\n",
        "fixed prod-ko_u3.vpu: " + std::to_string(good.size()) + " bytes\n  prod-ko_u3.bak left over (15 bytes)",
        "fixed silverfern.vpu: missing\n", "temporary file left by a stopped run: prod-ko_u3.vpu.kou3upd-1234.tmp\n"}) {
    EXPECT_NE(checked.out.find(line), std::string::npos) << line << "\nin:\n" << checked.out;
  }
  EXPECT_NE(checked.out.find("setup_ko_u3-9.vpu (0x9)"), std::string::npos);
  EXPECT_EQ(checked.out.find("package prod"), std::string::npos);
  const std::string without = " (setup_ko_u3) is bad; without it kou3upd would take setup_ko_u3-9.vpu, which is good\n";
  EXPECT_EQ(checked.out.substr(checked.out.rfind("check: ")), "check: bad, SETUP_KO_U3-1a.VPU" + without);

  std::filesystem::remove(drive + "/SETUP_KO_U3-1a.VPU");
  EXPECT_EQ(run({"check", drive}).code, 0);

  // Reads, but holds no program: kou3upd would unpack it and fail to start it.
  writeWholeFile(drive + "/setup_ko_u3-a.vpu", vpuPack(kImage));
  const Outcome text = run({"check", drive});
  EXPECT_EQ(text.code, 1);
  EXPECT_NE(text.out.find("  takes setup_ko_u3-a.vpu: reads, inflates to 15 bytes, but holds no Windows program (no "
                          "MZ/PE header): kou3upd would fail to start it with 193\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.substr(text.out.rfind("check: ")), "check: bad, setup_ko_u3-a.vpu" + without);
}

// The tool's verdict is the program's: for every prefix of a package and every package with one
// byte changed, info calls it good exactly when the reader unpacks it.
TEST(VpuInspect, AgreesWithTheReaderOnEveryTruncationAndEveryChangedByte) {
  Bytes image(200);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * i);
  const Bytes package = vpuPack(image);
  std::vector<Bytes> variants;
  for (std::size_t length = 0; length <= package.size(); ++length) {
    variants.emplace_back(package.begin(), package.begin() + length);
  }
  for (std::size_t at = 0; at < package.size(); ++at) {
    for (const uint8_t mask : {0x01, 0x80, 0xFF}) {
      Bytes changed = package;
      changed[at] ^= mask;
      variants.push_back(changed);
    }
  }
  int good = 0;
  for (const Bytes& variant : variants) {
    MemoryStream stream(variant);
    std::unique_ptr<uint8_t[]> unpacked;
    uint32_t length = 0;
    PkgReadNote note;
    const bool reads = pkgReadFromStream(stream, unpacked, length, &note);
    const VpuInfo info = vpuInspect(variant);
    EXPECT_EQ(info.ok(), reads) << "size " << variant.size();
    EXPECT_EQ(note.refused == nullptr, reads) << "size " << variant.size();
    // One wording for what is wrong with a body, whoever tells it.
    if (!reads && info.magicOk && info.headerComplete) {
      EXPECT_EQ(std::string(note.refused), std::string("body ") + pkgBodyText(info.body)) << "size " << variant.size();
    }
    if (reads) {
      ++good;
      EXPECT_EQ(info.inflatedLength, length);
    }
  }
  EXPECT_GT(good, 1);  // the whole package, and larger image or body sizes
}

}  // namespace

TEST(PlanOptions, ReadsFoldersCodesAndKou3updsWordsAndRefusesWhatIsNoCode) {
  struct Case {
    std::vector<const char*> args;
    std::string expected;  // the options read, or why they are refused
  };
  const auto read = [](std::vector<const char*> args) {
    args.insert(args.begin(), "plan");
    PlanOptions options;
    std::string why;
    if (!planParseOptions(static_cast<int>(args.size()), args.data(), options, why)) return why;
    std::string text = std::string(options.drive ? options.drive : "-") + "|" + (options.host ? options.host : "-") +
                       "|" + (options.temp ? options.temp : "-") + "|" + (options.json ? "json" : "text") + "|";
    for (const uint32_t code : options.results) text += std::to_string(code) + ",";
    return text + "|" + options.commandLine;
  };
  for (const Case& c : std::vector<Case>{
           {{}, "-|-|-|text||"},
           {{"--drive", "/d", "--host", "C:\\H", "--temp", "C:\\T", "--json", "--", "/appStart"},
            "/d|C:\\H|C:\\T|json||/appStart"},
           {{"--result", "0xFFFFFFFF", "--result", "4294967295", "--result", "-1", "--result", "0x20000010",
             "--result", "-2147483648", "--result", "0"},
            "-|-|-|text|4294967295,4294967295,4294967295,536870928,2147483648,0,|"},
           {{"--", "/runSetup", "/a b", "", "--json"}, "-|-|-|text||/runSetup \"/a b\" \"\" --json"},
           {{"--result", "0x100000000"}, "--result 0x100000000: not a 32-bit code in decimal or 0x hex"},
           {{"--result", "4294967296"}, "--result 4294967296: not a 32-bit code in decimal or 0x hex"},
           {{"--result", "-2147483649"}, "--result -2147483649: not a 32-bit code in decimal or 0x hex"},
           {{"--result", "0x"}, "--result 0x: not a 32-bit code in decimal or 0x hex"},
           {{"--result", "12a"}, "--result 12a: not a 32-bit code in decimal or 0x hex"},
           {{"--result"}, "--result needs a value"},
           {{"/appStart"}, "unknown option /appStart"},
       }) {
    EXPECT_EQ(read(c.args), c.expected);
  }
}
