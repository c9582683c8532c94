// Measures kou3upd.exe under Wine and prints ratios, not verdicts:
//   unpacking time of /extractSetup against a minimal uncompress-and-write program (1, 16, 64 MiB),
//   peak working set of /extractSetup against body size + image size,
//   start-up time with no job against an empty Windows program,
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

Run runOnce(const std::string& commandLine, const std::string& environment) {
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
  WaitForSingleObject(info.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(info.hProcess, &memory, sizeof memory)) run.peakWorkingSet = memory.PeakWorkingSetSize;
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

  std::printf("unpacking: /extractSetup against uncompress + one write (median of %d runs)\n", runs);
  std::printf("%10s %12s %12s %12s %8s %14s %10s\n", "image MiB", "body bytes", "kou3upd s", "reference s", "ratio",
              "peak MiB", "peak/need");
  for (const size_t mebibytes : {1, 16, 64}) {
    const Bytes image = executableLike(mebibytes << 20);
    const Bytes packed = vpuPack(image);
    writeWholeFile(package, packed);
    std::vector<double> ours, reference;
    SIZE_T peak = 0;
    for (int i = 0; i < runs; ++i) {
      const Run run = runOnce("\"" + kou3upd + "\" /extractSetup", environment);
      if (run.exitCode != 0) {
        std::fprintf(stderr, "/extractSetup failed with 0x%08lX\n", run.exitCode);
        return 1;
      }
      ours.push_back(run.seconds);
      peak = std::max(peak, run.peakWorkingSet);
      reference.push_back(
          runOnce("\"" + bin + "\\reference_unpack.exe\" \"" + package + "\" \"" + host + "\\reference.exe\"", "")
              .seconds);
    }
    const double need = static_cast<double>(packed.size() - 24 + image.size());
    std::printf("%10zu %12zu %12.3f %12.3f %8.2f %14.1f %10.3f\n", mebibytes, packed.size() - 24, median(ours),
                median(reference), median(ours) / median(reference), static_cast<double>(peak) / 1048576.0,
                static_cast<double>(peak) / need);
  }

  std::vector<double> ours, empty;
  for (int i = 0; i < runs * 3; ++i) {
    ours.push_back(runOnce("\"" + kou3upd + "\"", environment).seconds);
    empty.push_back(runOnce("\"" + bin + "\\empty_program.exe\"", "").seconds);
  }
  std::printf("\nstart-up, no job: kou3upd %.4f s, empty program %.4f s, ratio %.2f (median of %d)\n", median(ours),
              median(empty), median(ours) / median(empty), runs * 3);

  Bytes self;
  readWholeFile(kou3upd, self);
  std::printf("size: kou3upd.exe %zu bytes\n", self.size());

  DeleteFileA(package.c_str());
  DeleteFileA((host + "\\setup.exe").c_str());
  DeleteFileA((host + "\\reference.exe").c_str());
  RemoveDirectoryA(host.c_str());
  RemoveDirectoryA(drive.c_str());
  RemoveDirectoryA(root.c_str());
  return 0;
}
