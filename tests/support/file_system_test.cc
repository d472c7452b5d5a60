#include "support/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "support/bounded_string.h"
#include "support/random_generator.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace fs = std::filesystem;

namespace {

constexpr int ACCESS_DENIED = EACCES;

// What the recording directory creation saw, and how it answers.
struct mkdir_recorder {
  std::vector<std::string> tried;
  int fail_at = -1;        // index of the call that fails, -1 for none
  int fail_errno = 0;      // errno of that failure
  bool create = false;     // pass the other calls on to the platform
};
mkdir_recorder g_recorder;

int recording_mkdir(const char *path, int mode) {
  g_recorder.tried.push_back(path);
  if (static_cast<int>(g_recorder.tried.size()) - 1 == g_recorder.fail_at) {
    errno = g_recorder.fail_errno;
    return -1;
  }
  return g_recorder.create ? platform_mkdir(path, mode) : 0;
}

// Every test runs in a fresh, empty current directory of its own.
class file_system_test : public diagnostic_capture_test {
 protected:
  void SetUp() override {
    diagnostic_capture_test::SetUp();
    g_recorder = mkdir_recorder();
    original_ = fs::current_path();
    fs::current_path(scratch_.path());
  }
  // The scratch directory goes after TearDown; Windows cannot remove the
  // current directory, so the original one is back before.
  void TearDown() override {
    qarn_set_mkdir_function(nullptr);
    fs::current_path(original_);
    diagnostic_capture_test::TearDown();
  }

  // unique_name returns a name that no other test run uses: the scratch
  // directory's own.
  std::string unique_name() const { return scratch_.path().filename().string(); }

  void record_mkdir(bool create) {
    g_recorder.create = create;
    qarn_set_mkdir_function(recording_mkdir);
  }

  // Everything under the current directory, relative, with "/" separators;
  // directories end with "/".
  std::set<std::string> entries() const {
    std::set<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(".")) {
      std::string name = entry.path().lexically_relative(".").generic_string();
      found.insert(entry.is_directory() ? name + "/" : name);
    }
    return found;
  }

 private:
  fs::path original_;
  scratch_directory scratch_;
};

using strings = std::vector<std::string>;

// ---- qarn_recursive_mkdir on relative paths, with real directories ----

struct relative_case {
  const char *path;
  strings tried;
};

class recursive_mkdir_relative_test : public file_system_test,
                                      public testing::WithParamInterface<relative_case> {};

TEST_P(recursive_mkdir_relative_test, CreatesExactlyTheDirectoriesBeforeASeparator) {
  const relative_case &c = GetParam();
  record_mkdir(true);
  EXPECT_EQ(qarn_recursive_mkdir(c.path, QARN_DIRECTORY_MODE, nullptr), 1);
  EXPECT_EQ(g_recorder.tried, c.tried);
  std::set<std::string> expected;
  for (const std::string &dir : c.tried) {
    expected.insert(dir + "/");
  }
  EXPECT_EQ(entries(), expected);
  // Doing it again finds everything in place.
  EXPECT_EQ(qarn_recursive_mkdir(c.path, QARN_DIRECTORY_MODE, nullptr), 1);
  EXPECT_EQ(entries(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    paths, recursive_mkdir_relative_test,
    testing::Values(relative_case{"one/two/file.txt", {"one", "one/two"}},
                    relative_case{"one/two/", {"one", "one/two"}},
                    relative_case{"one//two/", {"one", "one/two"}},
                    relative_case{"one\\two\\", {"one", "one/two"}},
                    relative_case{"one/\\two//file", {"one", "one/two"}},
                    relative_case{"one/two", {"one"}}, relative_case{"one/", {"one"}},
                    relative_case{"single", {}}, relative_case{"", {}}));

// ---- prefixes: the exact paths tried, nothing created ----

struct prefix_case {
  const char *path;
  strings tried;
  int result;
  const char *failing_path;
};

class recursive_mkdir_prefix_test : public file_system_test,
                                    public testing::WithParamInterface<prefix_case> {};

TEST_P(recursive_mkdir_prefix_test, TriesTheDirectoriesBelowThePrefix) {
  const prefix_case &c = GetParam();
  record_mkdir(false);
  qarn_bounded_string failing;
  EXPECT_EQ(qarn_recursive_mkdir(c.path, QARN_DIRECTORY_MODE, &failing), c.result);
  EXPECT_EQ(g_recorder.tried, c.tried);
  EXPECT_STREQ(failing.text(), c.failing_path);
}

INSTANTIATE_TEST_SUITE_P(
    drives, recursive_mkdir_prefix_test,
    testing::Values(prefix_case{"C:\\games\\", {"C:/games"}, 1, ""},
                    prefix_case{"C:/games/data/file.dat", {"C:/games", "C:/games/data"}, 1, ""},
                    prefix_case{"C:", {}, 1, ""}, prefix_case{"C:\\", {}, 1, ""},
                    // Drive-relative: no separator after the colon.
                    prefix_case{"D:games\\x", {"D:games"}, 1, ""},
                    // A colon after the first separator is part of a name.
                    prefix_case{"dir/C:/x/", {"dir", "dir/C:", "dir/C:/x"}, 1, ""}));

INSTANTIATE_TEST_SUITE_P(
    network, recursive_mkdir_prefix_test,
    testing::Values(prefix_case{"//server/share/", {"//server/share"}, 1, ""},
                    prefix_case{"\\\\server\\share\\dir\\",
                                {"//server/share", "//server/share/dir"}, 1, ""},
                    prefix_case{"//server/share", {}, 1, ""},
                    prefix_case{"//server", {}, 0, "//server"},
                    prefix_case{"\\\\server", {}, 0, "//server"}));

INSTANTIATE_TEST_SUITE_P(
    absolute, recursive_mkdir_prefix_test,
    testing::Values(prefix_case{"/top/dir/", {"/top", "/top/dir"}, 1, ""},
                    prefix_case{"\\top\\", {"/top"}, 1, ""},
                    // One separator followed by the other kind is not a
                    // network prefix.
                    prefix_case{"/\\top/", {"/top"}, 1, ""}));

TEST_F(file_system_test, FailureStopsAndNamesTheDirectoryThatFailed) {
  record_mkdir(false);
  g_recorder.fail_at = 1;
  g_recorder.fail_errno = ACCESS_DENIED;
  qarn_bounded_string failing("failed: ");
  EXPECT_EQ(qarn_recursive_mkdir("one/two/three/", QARN_DIRECTORY_MODE, &failing), 0);
  EXPECT_EQ(g_recorder.tried, (strings{"one", "one/two"}));
  EXPECT_STREQ(failing.text(), "failed: one/two");
  // Without a string for the failing path the result is the same.
  g_recorder.tried.clear();
  EXPECT_EQ(qarn_recursive_mkdir("one/two/three/", QARN_DIRECTORY_MODE, nullptr), 0);
}

TEST_F(file_system_test, SomethingAlreadyThereIsNoError) {
  record_mkdir(false);
  g_recorder.fail_at = 0;
  g_recorder.fail_errno = EEXIST;
  EXPECT_EQ(qarn_recursive_mkdir("one/two/three/", QARN_DIRECTORY_MODE, nullptr), 1);
  EXPECT_EQ(g_recorder.tried, (strings{"one", "one/two", "one/two/three"}));
}

TEST_F(file_system_test, ARegularFileInTheWayShowsAtTheNextLevel) {
  write_file("blocker", "keep");
  EXPECT_EQ(qarn_recursive_mkdir("blocker/", QARN_DIRECTORY_MODE, nullptr), 1);
  qarn_bounded_string failing;
  EXPECT_EQ(qarn_recursive_mkdir("blocker/sub/", QARN_DIRECTORY_MODE, &failing), 0);
  EXPECT_STREQ(failing.text(), "blocker/sub");
  EXPECT_EQ(entries(), (std::set<std::string>{"blocker"}));
  EXPECT_EQ(read_file("blocker"), "keep");
}

TEST_F(file_system_test, APathTooLongForABoundedStringCreatesNoCutOffName) {
  record_mkdir(false);
  std::string path = "d/" + std::string(QARN_BOUNDED_STRING_CAPACITY, 'x') + "/";
  qarn_heap_bounded_string failing(2 * QARN_BOUNDED_STRING_CAPACITY);
  start_capture();
  EXPECT_EQ(qarn_recursive_mkdir(path.c_str(), QARN_DIRECTORY_MODE, &failing), 0);
  std::string printed = stop_capture();
  EXPECT_EQ(g_recorder.tried, strings{"d"});
  EXPECT_EQ(failing.length(), QARN_BOUNDED_STRING_CAPACITY);
  EXPECT_EQ(printed.rfind("String Buffer overflow, first few chars were ->d/xxx", 0), 0u) << printed;
}

TEST_F(file_system_test, DrivePrefixNamesTheDriveRootOnWindowsAndAPlainNameElsewhere) {
  std::string name = unique_name();
  std::string path = "C:\\" + name + "\\";
  qarn_bounded_string failing;
#ifdef _WIN32
  // The directory lands at the root of drive C, not under the current one.
  EXPECT_EQ(qarn_recursive_mkdir(path.c_str(), QARN_DIRECTORY_MODE, &failing), 1);
  EXPECT_TRUE(fs::is_directory("C:/" + name));
  std::error_code ignored;
  fs::remove("C:/" + name, ignored);
  EXPECT_EQ(entries(), std::set<std::string>{});
#else
  // "C:" is an ordinary relative name: it has to exist before "C:/name" can.
  EXPECT_EQ(qarn_recursive_mkdir(path.c_str(), QARN_DIRECTORY_MODE, &failing), 0);
  EXPECT_EQ(failing.text(), "C:/" + name);
  fs::create_directory("C:");
  EXPECT_EQ(qarn_recursive_mkdir(path.c_str(), QARN_DIRECTORY_MODE, nullptr), 1);
  EXPECT_EQ(entries(), (std::set<std::string>{"C:/", "C:/" + name + "/"}));
#endif
}

TEST_F(file_system_test, PermissionModeAppliesWhereDirectoriesTakeOne) {
  EXPECT_EQ(qarn_recursive_mkdir("private/", QARN_DIRECTORY_MODE, nullptr), 1);
  ASSERT_TRUE(fs::is_directory("private"));
#ifndef _WIN32
  fs::perms others = fs::perms::group_all | fs::perms::others_all;
  EXPECT_EQ(fs::status("private").permissions() & others, fs::perms::none);
#endif
  // Windows directory creation takes no mode; the directory is simply made.
}

TEST_F(file_system_test, RecursiveMkdirReportsANullPath) {
  start_capture();
  EXPECT_EQ(qarn_recursive_mkdir(nullptr, QARN_DIRECTORY_MODE, nullptr), 0);
  EXPECT_EQ(stop_capture(), "Error in qarn_recursive_mkdir(), NULL path.\n");
}

// ---- qarn_create_and_check_writeable_directory ----

// The probe name the next write test will use, from a copy of the
// process-wide generator.
std::string next_probe_name() {
  qarn_random_generator copy = qarn_process_random_generator();
  qarn_bounded_string name(QARN_PROBE_PREFIX);
  qarn_append_random_chars(copy, name, QARN_PROBE_RANDOM_CHARS);
  name.append(QARN_PROBE_SUFFIX);
  return name.text();
}

struct writeable_case {
  const char *path;
  std::set<std::string> entries_after;
};

class writeable_directory_test : public file_system_test,
                                 public testing::WithParamInterface<writeable_case> {};

TEST_P(writeable_directory_test, CreatesTheDirectoryAndLeavesNoProbeBehind) {
  const writeable_case &c = GetParam();
  qarn_bounded_string failing;
  EXPECT_EQ(qarn_create_and_check_writeable_directory(c.path, QARN_DIRECTORY_MODE, &failing), 1);
  EXPECT_STREQ(failing.text(), "");
  EXPECT_EQ(entries(), c.entries_after);
  // A second run finds the directory in place.
  EXPECT_EQ(qarn_create_and_check_writeable_directory(c.path, QARN_DIRECTORY_MODE, &failing), 1);
  EXPECT_EQ(entries(), c.entries_after);
}

INSTANTIATE_TEST_SUITE_P(
    paths, writeable_directory_test,
    testing::Values(writeable_case{"", {}}, writeable_case{"new", {"new/"}},
                    writeable_case{"new/deeper", {"new/", "new/deeper/"}},
                    writeable_case{"new\\deeper\\", {"new/", "new/deeper/"}}));

TEST_F(file_system_test, ProbeNameIsTwoXsSixRandomCharactersAndQqq) {
  std::string probe = next_probe_name();
  ASSERT_EQ(probe.size(), 2u + 6u + 4u);
  EXPECT_EQ(probe.substr(0, 2), "xx");
  EXPECT_EQ(probe.substr(8), ".qqq");
  EXPECT_EQ(probe.find_first_not_of("0123456789abcdefghijklmnopqrstuv", 2), 8u);
  // A directory of exactly that name makes the probe fail and shows that the
  // write test used the name.
  fs::create_directory(probe);
  qarn_bounded_string failing;
  EXPECT_EQ(qarn_create_and_check_writeable_directory("", QARN_DIRECTORY_MODE, &failing), 0);
  EXPECT_EQ(failing.text(), probe);
}

// A regular file where a directory should be makes a directory that cannot
// be written, whoever runs the test (root included).
TEST_F(file_system_test, UnwriteableDirectoryGivesZeroAndLeavesNothingBehind) {
  write_file("blocker", "keep");
  struct {
    const char *path;
    std::string failing_path;
  } const cases[] = {
      {"blocker/sub", "blocker/sub"},
      {"blocker", "blocker/" + next_probe_name()},
  };
  for (const auto &c : cases) {
    qarn_bounded_string failing;
    EXPECT_EQ(qarn_create_and_check_writeable_directory(c.path, QARN_DIRECTORY_MODE, &failing), 0)
        << c.path;
    EXPECT_EQ(failing.text(), c.failing_path);
    EXPECT_EQ(entries(), (std::set<std::string>{"blocker"}));
    EXPECT_EQ(read_file("blocker"), "keep");
  }
}

TEST_F(file_system_test, WriteTestReportsANullPath) {
  start_capture();
  EXPECT_EQ(qarn_create_and_check_writeable_directory(nullptr, QARN_DIRECTORY_MODE, nullptr), 0);
  EXPECT_EQ(stop_capture(), "Error in qarn_create_and_check_writeable_directory(), NULL path.\n");
}

// ---- qarn_filename_get_file_info ----

TEST_F(file_system_test, FileInfoTellsDirectoriesFromFiles) {
  fs::create_directory("dir");
  write_file("file.bin", std::string(1234, 'z'));
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  struct {
    const char *path;
    int32_t is_directory;
    int32_t is_regular_file;
  } const cases[] = {{"dir", 1, 0}, {"file.bin", 0, 1}};
  for (const auto &c : cases) {
    qarn_file_info info = {-1, -1, -1, -1};
    ASSERT_EQ(qarn_filename_get_file_info(c.path, &info), 1) << c.path;
    EXPECT_EQ(info.is_directory, c.is_directory) << c.path;
    EXPECT_EQ(info.is_regular_file, c.is_regular_file) << c.path;
    EXPECT_LE(std::abs(info.modification_time - now), 60) << c.path;
  }
  qarn_file_info info = {};
  ASSERT_EQ(qarn_filename_get_file_info("file.bin", &info), 1);
  EXPECT_EQ(info.size, 1234);
}

// Sizes of 2 GiB and more come whole from the system's status call (on
// Windows a 32-bit size field would cut them). The files are sparse.
TEST_F(file_system_test, FileInfoGivesSizesOf2GiBAndMoreWhole) {
  const int64_t sizes[] = {(int64_t{1} << 31) - 1, int64_t{1} << 31, (int64_t{1} << 31) + 1, int64_t{1} << 32,
                           (int64_t{1} << 32) + 5};
  for (int64_t size : sizes) {
    SCOPED_TRACE(size);
    write_file("large.bin", "");
    fs::resize_file("large.bin", static_cast<uintmax_t>(size));
    qarn_file_info info = {};
    ASSERT_EQ(qarn_filename_get_file_info("large.bin", &info), 1);
    EXPECT_EQ(info.is_regular_file, 1);
    EXPECT_EQ(info.size, size);
  }
  fs::remove("large.bin");
}

TEST_F(file_system_test, FileInfoOnAMissingPathLeavesTheRecordAlone) {
  qarn_file_info info = {7, 8, 9, 10};
  EXPECT_EQ(qarn_filename_get_file_info("missing", &info), 0);
  EXPECT_EQ(info.is_directory, 7);
  EXPECT_EQ(info.is_regular_file, 8);
  EXPECT_EQ(info.size, 9);
  EXPECT_EQ(info.modification_time, 10);
}

TEST_F(file_system_test, FileInfoReportsNullArguments) {
  qarn_file_info info = {};
  start_capture();
  EXPECT_EQ(qarn_filename_get_file_info(".", nullptr), 0);
  EXPECT_EQ(qarn_filename_get_file_info(nullptr, &info), 0);
  EXPECT_EQ(stop_capture(),
            "Error in qarn_filename_get_file_info(), NULL dest.\n"
            "Error in qarn_filename_get_file_info(), NULL path.\n");
}

// ---- fget_line ----

constexpr int32_t LINE_ARRAY_SIZE = 8;
const char OVERFLOW_HEADLINE[] = "Warning in fget_line(), string overflow.  String was:\n";

struct line_result {
  int result;
  std::string line;
};

struct fget_line_case {
  const char *name;
  std::string content;
  std::vector<line_result> lines;  // each call's result, then 0 at the end
  std::string printed;
};

class fget_line_test : public file_system_test,
                       public testing::WithParamInterface<fget_line_case> {};

TEST_P(fget_line_test, ReadsLinesAndReportsOverflows) {
  const fget_line_case &c = GetParam();
  write_file("lines.txt", c.content);
  FILE *file = qarn_fopen("lines.txt", "rb");
  ASSERT_NE(file, nullptr);
  start_capture();
  for (const line_result &expected : c.lines) {
    char line[LINE_ARRAY_SIZE];
    std::memset(line, '#', sizeof(line));
    EXPECT_EQ(fget_line(file, line, LINE_ARRAY_SIZE), expected.result);
    EXPECT_EQ(std::string(line), expected.line);
  }
  char untouched[LINE_ARRAY_SIZE] = "#######";
  EXPECT_EQ(fget_line(file, untouched, LINE_ARRAY_SIZE), 0);
  EXPECT_STREQ(untouched, "#######");
  EXPECT_EQ(stop_capture(), c.printed);
  EXPECT_EQ(qarn_fclose(file), 0);
}

INSTANTIATE_TEST_SUITE_P(
    lines, fget_line_test,
    testing::Values(
        fget_line_case{"Seven", "1234567\nnext\n", {{8, "1234567"}, {5, "next"}},
                       std::string(OVERFLOW_HEADLINE) + "1234567\n"},
        fget_line_case{"Ten", "1234567890\nnext\n", {{8, "1234567"}, {5, "next"}},
                       std::string(OVERFLOW_HEADLINE) + "1234567\n"},
        fget_line_case{"Six", "123456\n", {{7, "123456"}}, ""},
        fget_line_case{"CrLf", "ab\r\ncd\r\n", {{3, "ab"}, {1, ""}, {3, "cd"}, {1, ""}}, ""},
        fget_line_case{"CrOnly", "ab\rcd\r", {{3, "ab"}, {3, "cd"}}, ""},
        fget_line_case{"LastLineWithoutEnd", "one\nlast", {{4, "one"}, {5, "last"}}, ""},
        fget_line_case{"Nul", std::string("a\0b\n", 4), {{2, "a"}, {2, "b"}}, ""},
        fget_line_case{"EmptyFile", "", {}, ""},
        fget_line_case{"EmptyLines", "\n\n", {{1, ""}, {1, ""}}, ""}),
    [](const testing::TestParamInfo<fget_line_case> &info) { return info.param.name; });

TEST_F(file_system_test, FgetLineReportsMisuse) {
  write_file("lines.txt", "abc\n");
  FILE *file = qarn_fopen("lines.txt", "rb");
  ASSERT_NE(file, nullptr);
  char line[LINE_ARRAY_SIZE] = "";
  start_capture();
  EXPECT_EQ(fget_line(nullptr, line, LINE_ARRAY_SIZE), 0);
  EXPECT_EQ(fget_line(file, nullptr, LINE_ARRAY_SIZE), 0);
  EXPECT_EQ(fget_line(file, line, 0), 0);
  std::string printed = stop_capture();
  EXPECT_EQ(printed,
            "Error in fget_line(), NULL file.\n"
            "Error in fget_line(), NULL dest.\n"
            "Error in fget_line(), dest size too small.\n");
  // Nothing was consumed by the refused calls.
  EXPECT_EQ(fget_line(file, line, LINE_ARRAY_SIZE), 4);
  EXPECT_STREQ(line, "abc");
  qarn_fclose(file);
}

// ---- wrappers ----

TEST_F(file_system_test, WrappersOpenCloseAndRemove) {
  FILE *file = qarn_fopen("made.txt", "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("data", file);
  EXPECT_EQ(qarn_fclose(file), 0);
  EXPECT_EQ(read_file("made.txt"), "data");
  EXPECT_EQ(qarn_remove("made.txt"), 0);
  EXPECT_EQ(entries(), std::set<std::string>{});
  EXPECT_NE(qarn_remove("made.txt"), 0);
  EXPECT_EQ(qarn_fopen("missing/file.txt", "rb"), nullptr);
}

TEST_F(file_system_test, WrappersReportNullArguments) {
  start_capture();
  EXPECT_EQ(qarn_fopen(nullptr, "rb"), nullptr);
  EXPECT_EQ(qarn_fopen("x", nullptr), nullptr);
  EXPECT_EQ(qarn_fclose(nullptr), EOF);
  EXPECT_NE(qarn_remove(nullptr), 0);
  EXPECT_EQ(stop_capture(),
            "Error in qarn_fopen(), NULL path or mode.\n"
            "Error in qarn_fopen(), NULL path or mode.\n"
            "Error in qarn_fclose(), NULL file.\n"
            "Error in qarn_remove(), NULL path.\n");
}

}  // namespace

namespace {

struct read_line {
  int result;
  std::string text;
  bool operator==(const read_line &other) const { return result == other.result && text == other.text; }
};

std::ostream &operator<<(std::ostream &out, const read_line &line) {
  return out << "{" << line.result << ", " << line.text.size() << " chars}";
}

// Every line of |content| as fget_line and as qarn_line_reader read it,
// with what each reported.
void read_both_ways(const std::string &content, int32_t size, std::vector<read_line> *by_fget_line,
                    std::vector<read_line> *by_reader, std::string *fget_reports, std::string *reader_reports) {
  scratch_directory dir;
  std::string path = dir.write_file("lines", content);
  std::vector<char> line(static_cast<size_t>(size) + 1);
  FILE *file = std::fopen(path.c_str(), "rb");
  testing::internal::CaptureStdout();
  for (int r = fget_line(file, line.data(), size); r > 0; r = fget_line(file, line.data(), size)) {
    by_fget_line->push_back({r, line.data()});
  }
  *fget_reports = testing::internal::GetCapturedStdout();
  std::fclose(file);
  file = std::fopen(path.c_str(), "rb");
  testing::internal::CaptureStdout();
  {
    qarn_line_reader reader(file);
    for (int r = reader.next_line(line.data(), size); r > 0; r = reader.next_line(line.data(), size)) {
      by_reader->push_back({r, line.data()});
    }
  }
  *reader_reports = testing::internal::GetCapturedStdout();
  std::fclose(file);
}

TEST(line_reader_test, reads_every_file_exactly_as_fget_line_does) {
  const std::string long_line(70000, 'x');  // longer than the reader's buffer
  const std::string contents[] = {
      "",
      "\n",
      "one",
      "one\ntwo\n",
      "a\r\nb\rc\n\nd",
      std::string("nul\0inside\n", 11),
      long_line + "\nafter\n",
      std::string(65535, 'y') + "\nz",
      std::string(65536, 'y') + "\r\n",
      "ends with a carriage return\r",
  };
  for (int32_t size : {1, 2, 5, 1024}) {
    for (const std::string &content : contents) {
      std::vector<read_line> fget_lines;
      std::vector<read_line> reader_lines;
      std::string fget_reports;
      std::string reader_reports;
      read_both_ways(content, size, &fget_lines, &reader_lines, &fget_reports, &reader_reports);
      EXPECT_EQ(reader_lines, fget_lines) << "size " << size << ", content of " << content.size() << " bytes";
      EXPECT_EQ(reader_reports, fget_reports) << "size " << size << ", content of " << content.size() << " bytes";
    }
  }
}

}  // namespace
