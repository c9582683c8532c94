// A fresh folder under the system's temporary folder, removed with its content when the object
// goes. Portable, for the tests that build natively and for Windows alike.
#pragma once
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    do {
      path_ = base / ("kou3test-" + std::to_string(random()) + "-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string path() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};
