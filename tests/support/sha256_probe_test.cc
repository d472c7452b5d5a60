// The probe that decides whether the x86 SHA extensions may run, checked
// against probes that are not ours: the compiler's CPU model and, on Linux,
// the flags the kernel found. A wrong bit or leaf in our probe would either
// leave the extensions unused or run instructions that fault.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/sha256_compress.h"

#if defined(__x86_64__) || defined(__i386__)

namespace {

bool compiler_sees_sha_extensions() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
}

TEST(sha256_probe_test, agrees_with_the_compilers_cpu_model) {
  bool ours = qarn_sha256_extensions_available() == 1;
  std::printf("SHA extensions, SSSE3 and SSE4.1: %s\n", ours ? "present" : "absent");
  EXPECT_EQ(ours, compiler_sees_sha_extensions());
}

#if defined(__linux__)
// The flags of the first processor in /proc/cpuinfo, each between blanks.
std::string kernel_cpu_flags() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.compare(0, 5, "flags") == 0) {
      return " " + line.substr(line.find(':') + 1) + " ";
    }
  }
  return "";
}

TEST(sha256_probe_test, agrees_with_the_flags_the_kernel_found) {
  const std::string flags = kernel_cpu_flags();
  ASSERT_FALSE(flags.empty()) << "no flags line in /proc/cpuinfo";
  bool kernel = flags.find(" sha_ni ") != std::string::npos && flags.find(" ssse3 ") != std::string::npos &&
                flags.find(" sse4_1 ") != std::string::npos;
  EXPECT_EQ(qarn_sha256_extensions_available() == 1, kernel) << flags;
}
#endif

}  // namespace

#endif
