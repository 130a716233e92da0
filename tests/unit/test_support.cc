#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "common/transmit.h"

namespace testsupport {
namespace {

std::mutex g_capture_mu;
std::string g_captured;

void capture_writer(const char* data, size_t len) {
  std::lock_guard<std::mutex> lock(g_capture_mu);
  g_captured.append(data, len);
}

}  // namespace

OutputCapture::OutputCapture() {
  clear();
  set_output_writer(&capture_writer);
}

OutputCapture::~OutputCapture() {
  set_output_writer(nullptr);
}

std::string OutputCapture::text() const {
  std::lock_guard<std::mutex> lock(g_capture_mu);
  return g_captured;
}

void OutputCapture::clear() {
  std::lock_guard<std::mutex> lock(g_capture_mu);
  g_captured.clear();
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/memtest_test.XXXXXX";
  const char* made = mkdtemp(tmpl);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

std::string data_dir() {
  const char* dir = std::getenv("MEMTEST_DATA_DIR");
  return dir ? dir : "data";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace testsupport
