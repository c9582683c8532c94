// Measures kou3upd.exe under Wine and prints ratios, not verdicts:
//   unpacking time of /extractSetup against a minimal uncompress-and-write program (1, 16, 64 MiB),
//   peak working set of /extractSetup against body size + image size,
//   start-up time with no job against an empty Windows program,
//   /checkUpdate with a large fixed package, and /hostConfigure putting back a leftover backup of
//   it, against one flushed copy of the same bytes (64 and 512 MiB),
//   the size of kou3upd.exe and its imports.
// Usage: bench [RUNS]   (run from the bin folder of the windows build; default 7 runs each)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack.h"

namespace {

std::string binFolder() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string full(self, length);
  return full.substr(0, full.find_last_of('\\'));
}

struct Run {
  double seconds = 0;
  SIZE_T peakWorkingSet = 0;
  DWORD exitCode = 0;
};

void notePeak(HANDLE process, SIZE_T& peak) {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(process, &memory, sizeof memory)) peak = std::max(peak, memory.PeakWorkingSetSize);
}

// With sampleMemory the peak working set is read every millisecond while the child runs, since
// Wine forgets it once the process has ended; such a run is not timed.
Run runOnce(const std::string& commandLine, const std::string& environment, bool sampleMemory = false) {
  std::string line = commandLine;
  std::string block = environment;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Run run;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, block.empty() ? nullptr : block.data(),
                      nullptr, &startup, &info)) {
    std::fprintf(stderr, "cannot start %s\n", commandLine.c_str());
    std::exit(1);
  }
  if (sampleMemory) {
    do notePeak(info.hProcess, run.peakWorkingSet);
    while (WaitForSingleObject(info.hProcess, 1) == WAIT_TIMEOUT);
  } else {
    WaitForSingleObject(info.hProcess, INFINITE);
  }
  QueryPerformanceCounter(&end);
  notePeak(info.hProcess, run.peakWorkingSet);
  GetExitCodeProcess(info.hProcess, &run.exitCode);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  run.seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Bytes that compress about as well as program code does: runs of varied instruction-like
// patterns, tables of small numbers, text, and stretches of noise.
Bytes executableLike(size_t length) {
  Bytes image;
  image.reserve(length);
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const char* words[] = {"GetProcAddress", "kernel32.dll", "setup", "install", "%s\\%s", "Software\\Kou"};
  while (image.size() < length) {
    switch (next() % 4) {
      case 0:  // noise
        for (int i = 0; i < 64; ++i) image.push_back(static_cast<uint8_t>(next()));
        break;
      case 1:  // code-like: a few opcodes with varying operands
        for (int i = 0; i < 16; ++i) {
          const uint8_t ops[] = {0x48, 0x89, 0x8B, 0xE8, 0x83, 0xC4, 0xFF, 0x15};
          image.push_back(ops[next() % 8]);
          image.push_back(static_cast<uint8_t>(next() % 32));
        }
        break;
      case 2: {  // text
        const char* word = words[next() % 6];
        image.insert(image.end(), word, word + std::char_traits<char>::length(word));
        break;
      }
      default:  // small numbers and padding
        for (int i = 0; i < 16; ++i) image.push_back(static_cast<uint8_t>(next() % 4));
        break;
    }
  }
  image.resize(length);
  return image;
}

// Bytes that do not compress, as a package's body does not.
Bytes noise(size_t length) {
  Bytes bytes(length);
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (size_t i = 0; i < length; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    for (size_t j = 0; j < 8 && i + j < length; ++j) bytes[i + j] = static_cast<uint8_t>(state >> (8 * j));
  }
  return bytes;
}

template <class Step>
double secondsOf(Step step) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  step();
  QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The least a backup can cost: one copy of the file, flushed to the disk, as a backup leaves it.
double flushedCopy(const std::string& from, const std::string& to) {
  return secondsOf([&] {
    CopyFileA(from.c_str(), to.c_str(), FALSE);
    HANDLE file = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
  });
}

// /checkUpdate and a leftover restore with a fixed package of each size, the installer and the
// launcher being programs that return at once.
void backupAndRestore(const std::string& bin, const std::string& kou3upd, const std::string& drive,
                      const std::string& environment, int runs) {
  Bytes empty;
  readWholeFile(bin + "\\empty_program.exe", empty);
  writeWholeFile(drive + "\\setup_ko_u3-1.vpu", vpuPack(empty));
  writeWholeFile(drive + "\\kou3lnch-1.vpu", vpuPack(empty));
  const std::string package = drive + "\\prod-ko_u3.vpu";
  const std::string backup = drive + "\\prod-ko_u3.bak";
  const std::string copy = drive + "\\copy.bin";
  std::printf("\nbackup and restore: median of %d runs; copy: one CopyFile of the package and a flush; rename:\n"
              "one MoveFileEx of such a copy over the package, which the file system pays for dropping the old one\n",
              runs);
  std::printf("%10s %10s %14s %8s %14s %14s %12s %10s\n", "package", "copy s", "/checkUpdate s", "ratio",
              "restore run s", "no restore s", "difference", "rename s");
  for (const size_t mebibytes : {64, 512}) {
    writeWholeFile(package, noise(mebibytes << 20));
    std::vector<double> copied, check, restore, plain, renamed;
    for (int i = 0; i < runs; ++i) {
      copied.push_back(flushedCopy(package, copy));
      DeleteFileA(copy.c_str());
      check.push_back(runOnce("\"" + kou3upd + "\" /checkUpdate", environment).seconds);
      flushedCopy(package, backup);
      restore.push_back(runOnce("\"" + kou3upd + "\" /hostConfigure", environment).seconds);
      plain.push_back(runOnce("\"" + kou3upd + "\" /hostConfigure", environment).seconds);
      flushedCopy(package, copy);
      renamed.push_back(secondsOf([&] {
        MoveFileExA(copy.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      }));
    }
    std::printf("%6zu MiB %10.3f %14.3f %8.2f %14.3f %14.3f %12.3f %10.3f\n", mebibytes, median(copied),
                median(check), median(check) / median(copied), median(restore), median(plain),
                median(restore) - median(plain), median(renamed));
  }
  for (const char* name : {"setup_ko_u3-1.vpu", "kou3lnch-1.vpu", "prod-ko_u3.vpu", "prod-ko_u3.bak"}) {
    DeleteFileA((drive + "\\" + name).c_str());
  }
}

std::string environmentWith(const std::string& drive, const std::string& host) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry != '\0'; entry += std::char_traits<char>::length(entry) + 1) {
    const std::string text = entry;
    if (text.rfind("U3_", 0) != 0) block += text + '\0';
  }
  FreeEnvironmentStringsA(strings);
  block += "U3_APP_DATA_PATH=" + drive + '\0';
  block += "U3_HOST_EXEC_PATH=" + host + '\0';
  block += '\0';
  return block;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
  const std::string bin = binFolder();
  const std::string kou3upd = bin + "\\kou3upd.exe";
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string root = std::string(temp) + "kou3bench-" + std::to_string(GetCurrentProcessId());
  const std::string drive = root + "\\drive";
  const std::string host = root + "\\host";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(drive.c_str(), nullptr);
  CreateDirectoryA(host.c_str(), nullptr);
  const std::string environment = environmentWith(drive, host);
  const std::string package = drive + "\\setup_ko_u3-1.vpu";

  // What any run of the program holds before it does anything, so that the unpacking's own
  // memory can be told apart from the process's start-up.
  const SIZE_T baseline = runOnce("\"" + kou3upd + "\"", environment, true).peakWorkingSet;
  std::printf("unpacking: /extractSetup against uncompress + one write (median of %d runs)\n", runs);
  std::printf("peak: peak working set less the %.1f MiB of a run without a job; need: body + image\n",
              static_cast<double>(baseline) / 1048576.0);
  std::printf("%10s %12s %12s %12s %8s %10s %10s %12s\n", "image MiB", "body bytes", "kou3upd s", "reference s",
              "ratio", "peak MiB", "need MiB", "peak-need");
  for (const size_t mebibytes : {1, 16, 64}) {
    const Bytes image = executableLike(mebibytes << 20);
    const Bytes packed = vpuPack(image);
    writeWholeFile(package, packed);
    const std::string extract = "\"" + kou3upd + "\" /extractSetup";
    const SIZE_T peak = runOnce(extract, environment, true).peakWorkingSet;
    std::vector<double> ours, reference;
    for (int i = 0; i < runs; ++i) {
      const Run run = runOnce(extract, environment);
      if (run.exitCode != 0) {
        std::fprintf(stderr, "/extractSetup failed with 0x%08lX\n", run.exitCode);
        return 1;
      }
      ours.push_back(run.seconds);
      reference.push_back(
          runOnce("\"" + bin + "\\reference_unpack.exe\" \"" + package + "\" \"" + host + "\\reference.exe\"", "")
              .seconds);
    }
    const double need = static_cast<double>(packed.size() - 24 + image.size()) / 1048576.0;
    const double used = static_cast<double>(peak - std::min(peak, baseline)) / 1048576.0;
    std::printf("%10zu %12zu %12.3f %12.3f %8.2f %10.1f %10.1f %12.1f\n", mebibytes, packed.size() - 24, median(ours),
                median(reference), median(ours) / median(reference), used, need, used - need);
  }

  std::vector<double> ours, empty;
  for (int i = 0; i < runs * 3; ++i) {
    ours.push_back(runOnce("\"" + kou3upd + "\"", environment).seconds);
    empty.push_back(runOnce("\"" + bin + "\\empty_program.exe\"", "").seconds);
  }
  std::printf("\nstart-up, no job: kou3upd %.4f s, empty program %.4f s, ratio %.2f (median of %d)\n", median(ours),
              median(empty), median(ours) / median(empty), runs * 3);

  backupAndRestore(bin, kou3upd, drive, environment, runs);

  Bytes self;
  readWholeFile(kou3upd, self);
  std::printf("size: kou3upd.exe %zu bytes\n", self.size());

  DeleteFileA(package.c_str());
  DeleteFileA((host + "\\setup.exe").c_str());
  DeleteFileA((host + "\\reference.exe").c_str());
  DeleteFileA((host + "\\KoU3Launcher.exe").c_str());
  RemoveDirectoryA(host.c_str());
  RemoveDirectoryA(drive.c_str());
  RemoveDirectoryA(root.c_str());
  return 0;
}
