// The local manifest: loading, the saved bytes, the name index, pruning
// against real files, and saving that never leaves a broken file behind.
#include "updater/file_manifest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "support/file_size_limit.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/local_manifest.h"
#include "tests/common/scratch_directory.h"

namespace {

const char *const HEADER = LOCAL_MANIFEST_HEADER;

const char HASH_A[] = "0123456789abcdef0123456789abcdef";
const char HASH_B[] = "fedcba9876543210fedcba9876543210";

struct listed {
  std::string name;
  std::string hash;
  int64_t size;
  bool operator==(const listed &other) const {
    return name == other.name && hash == other.hash && size == other.size;
  }
};

std::ostream &operator<<(std::ostream &out, const listed &l) {
  return out << "{" << l.name << ", " << l.hash << ", " << l.size << "}";
}

std::vector<listed> entries_of(const ovu_file_manifest &manifest) {
  std::vector<listed> out;
  for (const ovu_manifest_entry *e = manifest.first(); e != nullptr; e = e->next) {
    out.push_back({e->name, e->hash != nullptr ? e->hash : "(null)", e->size});
  }
  return out;
}

ovu_manifest_entry remote_entry(const char *name, const char *hash, int64_t size) {
  return ovu_manifest_entry{const_cast<char *>(name), const_cast<char *>(hash), size, nullptr};
}

class file_manifest_test : public diagnostic_capture_test {
 protected:
  scratch_directory dir;
};

TEST_F(file_manifest_test, a_header_only_file_loads_as_no_entries_and_saves_as_the_header) {
  std::string path = dir.write_file("m.lst", HEADER);
  ovu_file_manifest manifest;
  EXPECT_EQ(manifest.load_file(path.c_str()), 0);
  std::string saved = dir.file("saved.lst");
  EXPECT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), HEADER);
}

TEST_F(file_manifest_test, saves_each_entry_with_its_size_right_aligned_in_ten_columns) {
  std::string path = dir.write_file("m.lst", std::string(HEADER) + HASH_A + " 42 readme.txt\n" + HASH_B +
                                                 " 1234567890 dir/big file.dat \n" + HASH_A + " 0 empty\n");
  ovu_file_manifest manifest;
  EXPECT_EQ(manifest.load_file(path.c_str()), 3);
  std::string saved = dir.file("saved.lst");
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), std::string(HEADER) + HASH_A + "         42 readme.txt\n" + HASH_B +
                                  " 1234567890 dir/big file.dat \n" + HASH_A + "          0 empty\n");
}

// Sizes are 64-bit: the column keeps its ten characters and widens only
// for a longer number, and every saved line reads back as it was written.
TEST_F(file_manifest_test, sizes_beyond_32_bits_widen_the_column_only_when_longer_and_read_back) {
  struct size_case {
    int64_t size;
    const char *column;
  };
  const size_case cases[] = {
      {0, "         0"},
      {42, "        42"},
      {2147483647, "2147483647"},
      {2147483648, "2147483648"},
      {2147483649, "2147483649"},
      {4294967301, "4294967301"},
      {9999999999, "9999999999"},
      {10000000000, "10000000000"},
      {1099511627776, "1099511627776"},
  };
  for (const size_case &c : cases) {
    SCOPED_TRACE(c.size);
    ovu_file_manifest manifest;
    ovu_manifest_entry entry = remote_entry("big file.dat", HASH_A, c.size);
    ASSERT_EQ(manifest.set_entry(&entry), 1);
    std::string saved = dir.file("saved.lst");
    ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
    const std::string expected = std::string(HEADER) + HASH_A + " " + c.column + " big file.dat\n";
    EXPECT_EQ(read_file(saved), expected);

    ovu_file_manifest loaded;
    ASSERT_EQ(loaded.load_file(saved.c_str()), 1);
    EXPECT_EQ(entries_of(loaded), (std::vector<listed>{{"big file.dat", HASH_A, c.size}}));
    std::string again = dir.file("again.lst");
    ASSERT_EQ(loaded.save_file(again.c_str()), 1);
    EXPECT_EQ(read_file(again), expected);
  }
}

// A manifest as launchers have always written it, sizes up to 2^31 - 1 in
// their ten columns, comes back byte for byte.
TEST_F(file_manifest_test, an_existing_manifest_reads_and_writes_byte_identically) {
  const std::string sha = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
  const std::string content = std::string(HEADER) + sha + "          0 empty.txt\n" + sha +
                              "         24 readme.txt\n" + HASH_A + "      76800 data/maps/level 1.map\n" +
                              HASH_B + " 1234567890 data/sounds/big bell.wav \n" + sha +
                              " 2147483647 data/largest.pak\n" + HASH_A + "          7 BRUXclient.exe\n";
  std::string path = dir.write_file("m.lst", content);
  ovu_file_manifest manifest;
  ASSERT_EQ(manifest.load_file(path.c_str()), 6);
  std::string saved = dir.file("saved.lst");
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), content);
}

// A size no file can have is refused as any malformed line is: the load
// fails at that line.
TEST_F(file_manifest_test, a_size_that_does_not_fit_fails_the_load) {
  for (const char *size : {"-5", "1099511627777", "99999999999999999999"}) {
    SCOPED_TRACE(size);
    const std::string bad = std::string(HASH_B) + " " + size + " bad";
    std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 a\n" + bad + "\n" + HASH_A + " 2 b\n");
    ovu_file_manifest manifest;
    start_capture();
    EXPECT_EQ(manifest.load_file(path.c_str()), -1);
    EXPECT_EQ(stop_capture(), "Syntax error in file manifest - bad or missing file size for line:\n" + bad + "\n");
    EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"a", HASH_A, 1}}));
  }
}

TEST_F(file_manifest_test, reads_any_mix_of_comments_empty_lines_and_line_ends) {
  std::string content = std::string("\n# comment\r\n   \t# indented\n") + HASH_A + " 1 a\r\n" + "\n" + HASH_B +
                        " 2 b" + std::string(1, '\0') + HASH_A + " 3 c";
  std::string path = dir.write_file("m.lst", content);
  ovu_file_manifest manifest;
  EXPECT_EQ(manifest.load_file(path.c_str()), 3);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"a", HASH_A, 1}, {"b", HASH_B, 2}, {"c", HASH_A, 3}}));
}

TEST_F(file_manifest_test, cuts_a_line_longer_than_1023_characters) {
  std::string long_name(2000, 'n');
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 " + long_name + "\n" + HASH_B + " 2 b\n");
  ovu_file_manifest manifest;
  start_capture();
  EXPECT_EQ(manifest.load_file(path.c_str()), 2);
  std::string reports = stop_capture();
  EXPECT_NE(reports.find("Warning in fget_line(), string overflow."), std::string::npos);
  std::vector<listed> entries = entries_of(manifest);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name.size(), 1023u - std::string(HASH_A).size() - 3);
  EXPECT_EQ(entries[1], (listed{"b", HASH_B, 2}));
}

TEST_F(file_manifest_test, load_fails_for_a_missing_file_and_stops_at_a_syntax_error) {
  ovu_file_manifest missing;
  EXPECT_EQ(missing.load_file(dir.file("absent.lst").c_str()), -1);

  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 a\nnot a line\n" + HASH_B + " 2 b\n");
  ovu_file_manifest manifest;
  start_capture();
  EXPECT_EQ(manifest.load_file(path.c_str()), -1);
  EXPECT_EQ(stop_capture(), "Syntax error in file manifest - bad or missing hash field for line:\nnot a line\n");
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"a", HASH_A, 1}}));
}

TEST_F(file_manifest_test, a_name_listed_twice_stays_twice_and_find_returns_the_first) {
  std::string content = std::string(HASH_A) + " 1 same\n" + HASH_B + " 2 same\n";
  std::string path = dir.write_file("m.lst", content);
  ovu_file_manifest manifest;
  start_capture();
  EXPECT_EQ(manifest.load_file(path.c_str()), 2);
  std::string reports = stop_capture();
  EXPECT_NE(reports.find("attempt to store duplicate thing at key 'same'"), std::string::npos) << reports;
  ASSERT_NE(manifest.find("same"), nullptr);
  EXPECT_EQ(manifest.find("same")->size, 1);
  std::string saved = dir.file("saved.lst");
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), std::string(HEADER) + HASH_A + "          1 same\n" + HASH_B + "          2 same\n");
}

TEST_F(file_manifest_test, find_compares_names_exactly) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 Dir/File.txt\n");
  ovu_file_manifest manifest;
  ASSERT_EQ(manifest.load_file(path.c_str()), 1);
  EXPECT_NE(manifest.find("Dir/File.txt"), nullptr);
  EXPECT_EQ(manifest.find("dir/file.txt"), nullptr);
  EXPECT_EQ(manifest.find("Dir/File.txt "), nullptr);
  EXPECT_EQ(manifest.find("Dir"), nullptr);
}

TEST_F(file_manifest_test, set_entry_puts_a_new_file_first_and_updates_a_known_one_in_place) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 a\n" + HASH_A + " 2 b\n");
  ovu_file_manifest manifest;
  ASSERT_EQ(manifest.load_file(path.c_str()), 2);
  ovu_manifest_entry changed = remote_entry("b", HASH_B, 20);
  ovu_manifest_entry added = remote_entry("new/file", HASH_B, 3);
  ovu_manifest_entry newest = remote_entry("newest", HASH_A, 4);
  EXPECT_EQ(manifest.set_entry(&changed), 1);
  EXPECT_EQ(manifest.set_entry(&added), 1);
  EXPECT_EQ(manifest.set_entry(&newest), 1);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"newest", HASH_A, 4},
                                                       {"new/file", HASH_B, 3},
                                                       {"a", HASH_A, 1},
                                                       {"b", HASH_B, 20}}));
  EXPECT_EQ(manifest.find("new/file")->size, 3);
  // The manifest keeps copies: the remote entries may go away.
  EXPECT_NE(manifest.find("newest")->name, newest.name);
  std::string saved = dir.file("saved.lst");
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), std::string(HEADER) + HASH_A + "          4 newest\n" + HASH_B +
                                  "          3 new/file\n" + HASH_A + "          1 a\n" + HASH_B + "         20 b\n");
}

TEST_F(file_manifest_test, set_entry_of_an_empty_manifest_becomes_its_only_line) {
  ovu_file_manifest manifest;
  ovu_manifest_entry added = remote_entry("only", HASH_B, 9);
  ASSERT_EQ(manifest.set_entry(&added), 1);
  std::string saved = dir.file("saved.lst");
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), std::string(HEADER) + HASH_B + "          9 only\n");
}

TEST_F(file_manifest_test, saving_reports_a_short_hash_and_writes_the_line_anyway) {
  std::string path = dir.write_file("m.lst", "a1b2c3d4e5 42 readme.txt\n0123456789abcdef0123 1 exact20\n");
  ovu_file_manifest manifest;
  ASSERT_EQ(manifest.load_file(path.c_str()), 2);
  std::string saved = dir.file("saved.lst");
  start_capture();
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(stop_capture(),
            "Error in ovu_file_manifest::save_file(), file 'readme.txt' had short hash len of 10.\n\n");
  EXPECT_EQ(read_file(saved), std::string(HEADER) + "a1b2c3d4e5         42 readme.txt\n" +
                                  "0123456789abcdef0123          1 exact20\n");
}

TEST_F(file_manifest_test, saving_replaces_an_existing_manifest_and_leaves_no_temporary_file) {
  std::string path = dir.write_file("m.lst", std::string(HEADER) + HASH_A + "          1 old\n" +
                                                 std::string(5000, '#') + "\n");
  ovu_file_manifest manifest;
  ovu_manifest_entry added = remote_entry("new", HASH_B, 2);
  ASSERT_EQ(manifest.set_entry(&added), 1);
  ASSERT_EQ(manifest.save_file(path.c_str()), 1);
  EXPECT_EQ(read_file(path), std::string(HEADER) + HASH_B + "          2 new\n");
  EXPECT_FALSE(dir.exists("m.lst.tmp"));
}

// Each way a save can fail leaves the old manifest byte for byte.
TEST_F(file_manifest_test, a_failed_save_reports_and_leaves_the_old_manifest_intact) {
  const std::string old_content = std::string(HEADER) + HASH_A + "          1 old\n";
  ovu_file_manifest manifest;
  ovu_manifest_entry added = remote_entry("new", HASH_B, 2);
  ASSERT_EQ(manifest.set_entry(&added), 1);

  // The temporary name is taken by a directory: nothing can be written.
  std::string blocked = dir.write_file("blocked.lst", old_content);
  std::filesystem::create_directory(dir.file("blocked.lst.tmp"));
  start_capture();
  EXPECT_EQ(manifest.save_file(blocked.c_str()), 0);
  EXPECT_EQ(stop_capture(), "Error in ovu_file_manifest::save_file() - unable to save file '" + blocked + "'.\n");
  EXPECT_EQ(read_file(blocked), old_content);

  // The manifest's own name is a directory: the replacement fails, and
  // the temporary file goes again.
  std::string directory = dir.file("dir.lst");
  std::filesystem::create_directory(directory);
  start_capture();
  EXPECT_EQ(manifest.save_file(directory.c_str()), 0);
  EXPECT_EQ(stop_capture(), "Error in ovu_file_manifest::save_file() - unable to save file '" + directory + "'.\n");
  EXPECT_TRUE(std::filesystem::is_directory(directory));
  EXPECT_FALSE(dir.exists("dir.lst.tmp"));

  // The directory does not exist.
  std::string nowhere = dir.file("no/such/dir/m.lst");
  start_capture();
  EXPECT_EQ(manifest.save_file(nowhere.c_str()), 0);
  stop_capture();
}

class prune_test : public file_manifest_test {
 protected:
  // A manifest of four files, each recorded with 10 bytes.
  void load_four() {
    std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 10 kept.txt\n" + HASH_A + " 10 sub/kept.txt\n" +
                                                   HASH_A + " 10 missing.txt\n" + HASH_A + " 10 longer.txt\n" +
                                                   HASH_A + " 10 now_a_dir\n");
    ASSERT_EQ(manifest.load_file(path.c_str()), 5);
    dir.write_filled_file("kept.txt", 10);
    std::filesystem::create_directory(dir.file("sub"));
    dir.write_filled_file("sub/kept.txt", 10);
    dir.write_filled_file("longer.txt", 11);
    std::filesystem::create_directory(dir.file("now_a_dir"));
  }
  ovu_file_manifest manifest;
};

TEST_F(prune_test, drops_missing_files_directories_and_other_sizes) {
  load_four();
  EXPECT_EQ(manifest.prune_missing(dir.path().string().c_str()), 2);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"kept.txt", HASH_A, 10}, {"sub/kept.txt", HASH_A, 10}}));
  EXPECT_EQ(manifest.find("missing.txt"), nullptr);
  EXPECT_EQ(manifest.find("longer.txt"), nullptr);
  EXPECT_NE(manifest.find("sub/kept.txt"), nullptr);
  // Nothing on disk changed.
  EXPECT_TRUE(dir.exists("longer.txt"));
  EXPECT_TRUE(dir.exists("now_a_dir"));
}

// A player who moved a directory of the game elsewhere and left a link in
// its place keeps the entries of its files; a file missing there is still
// missing.
TEST_F(prune_test, a_directory_replaced_by_a_link_to_a_directory_is_followed) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 10 data/one.dat\n" + HASH_A +
                                                 " 10 data/gone.dat\n" + HASH_A + " 10 top.dat\n" + HASH_A +
                                                 " 10 data/deeper/two.dat\n");
  ASSERT_EQ(manifest.load_file(path.c_str()), 4);
  std::filesystem::create_directories(dir.file("installation"));
  std::filesystem::create_directories(dir.file("elsewhere/data/deeper"));
  dir.write_filled_file("elsewhere/data/one.dat", 10);
  dir.write_filled_file("elsewhere/data/deeper/two.dat", 10);
  dir.write_filled_file("installation/top.dat", 10);
  std::error_code error;
  std::filesystem::create_directory_symlink(dir.file("elsewhere/data"), dir.file("installation/data"), error);
  if (error) {
    GTEST_SKIP() << "no links here: " << error.message();
  }
  EXPECT_EQ(manifest.prune_missing(dir.file("installation").c_str()), 3);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"data/one.dat", HASH_A, 10},
                                                       {"top.dat", HASH_A, 10},
                                                       {"data/deeper/two.dat", HASH_A, 10}}));
}

TEST_F(prune_test, an_empty_base_path_checks_names_from_the_current_directory) {
  load_four();
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  int32_t kept = manifest.prune_missing("");
  std::filesystem::current_path(previous);
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"kept.txt", HASH_A, 10}, {"sub/kept.txt", HASH_A, 10}}));
}

TEST_F(prune_test, a_pruned_manifest_saves_and_grows_again) {
  load_four();
  manifest.prune_missing(dir.path().string().c_str());
  ovu_manifest_entry added = remote_entry("missing.txt", HASH_B, 3);
  ASSERT_EQ(manifest.set_entry(&added), 1);
  std::string saved = dir.file("saved.lst");
  ASSERT_EQ(manifest.save_file(saved.c_str()), 1);
  EXPECT_EQ(read_file(saved), std::string(HEADER) + HASH_B + "          3 missing.txt\n" + HASH_A +
                                  "         10 kept.txt\n" + HASH_A + "         10 sub/kept.txt\n");
}

TEST_F(prune_test, a_negative_size_never_matches) {
  ovu_manifest_entry entry = remote_entry("empty", HASH_A, -1);
  ASSERT_EQ(manifest.set_entry(&entry), 1);
  dir.write_file("empty", "");
  EXPECT_EQ(manifest.prune_missing(dir.path().string().c_str()), 0);
}

// Sizes compare in 64 bits: a file of 2 GiB and more keeps its entry, and
// sizes that agree only in their low 32 bits do not match. The large files
// are sparse.
TEST_F(prune_test, sizes_beyond_32_bits_compare_whole) {
  constexpr int64_t kTwo31 = int64_t{1} << 31;
  constexpr int64_t kTwo32 = int64_t{1} << 32;
  struct file_case {
    const char *name;
    int64_t recorded;
    int64_t on_disk;
    bool kept;
  };
  const file_case cases[] = {
      {"two GiB and one byte", kTwo31 + 1, kTwo31 + 1, true},
      {"four GiB and five bytes", kTwo32 + 5, kTwo32 + 5, true},
      {"five bytes recorded as four GiB and five", kTwo32 + 5, 5, false},
      {"four GiB and five recorded as five bytes", 5, kTwo32 + 5, false},
      {"one byte more than 2^31 - 1", kTwo31 - 1, kTwo31, false},
  };
  for (const file_case &c : cases) {
    ovu_manifest_entry entry = remote_entry(c.name, HASH_A, c.recorded);
    ASSERT_EQ(manifest.set_entry(&entry), 1);
    dir.write_sparse_file(c.name, static_cast<uintmax_t>(c.on_disk));
  }
  EXPECT_EQ(manifest.prune_missing(dir.path().string().c_str()), 2);
  for (const file_case &c : cases) {
    EXPECT_EQ(manifest.find(c.name) != nullptr, c.kept) << c.name;
  }
}

// When the first of two lines with one name is pruned, find answers with
// the second, which is still listed.
TEST_F(prune_test, pruning_the_first_of_a_duplicate_name_keeps_the_second_findable) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 10 twice\n" + HASH_B + " 11 twice\n");
  start_capture();
  ASSERT_EQ(manifest.load_file(path.c_str()), 2);
  stop_capture();
  dir.write_filled_file("twice", 11);
  EXPECT_EQ(manifest.prune_missing(dir.path().string().c_str()), 1);
  ASSERT_NE(manifest.find("twice"), nullptr);
  EXPECT_EQ(manifest.find("twice")->size, 11);
}

TEST_F(file_manifest_test, forget_entries_drops_every_line_of_each_planned_name) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 keep\n" + HASH_A + " 2 twice\n" + HASH_A +
                                                 " 3 gone\n" + HASH_B + " 4 twice\n" + HASH_A + " 5 last\n");
  ovu_file_manifest manifest;
  start_capture();
  ASSERT_EQ(manifest.load_file(path.c_str()), 5);
  stop_capture();
  ovu_manifest_entry planned[] = {remote_entry("twice", HASH_B, 9), remote_entry("gone", HASH_B, 9),
                                  remote_entry("not_installed", HASH_B, 9), remote_entry("last", HASH_B, 9),
                                  remote_entry("twice", HASH_B, 9)};
  qarn_growable_array plan;
  plan.init(sizeof(ovu_manifest_entry *));
  for (ovu_manifest_entry &entry : planned) {
    ovu_manifest_entry *pointer = &entry;
    ASSERT_EQ(plan.append(&pointer), 1);
  }
  start_capture();
  EXPECT_EQ(manifest.forget_entries(plan), 4);
  EXPECT_EQ(stop_capture(), "");
  plan.release();
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"keep", HASH_A, 1}}));
  EXPECT_EQ(manifest.find("twice"), nullptr);
  EXPECT_EQ(manifest.find("last"), nullptr);
  // The tail moved with the removal: a set entry still goes first, and the
  // list stays whole.
  ovu_manifest_entry added = remote_entry("new", HASH_B, 7);
  ASSERT_EQ(manifest.set_entry(&added), 1);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"new", HASH_B, 7}, {"keep", HASH_A, 1}}));
}

TEST_F(file_manifest_test, forget_entries_drops_every_spelling_of_a_planned_file) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 data/a\n" + HASH_A + " 2 DATA\\A\n" +
                                                 HASH_A + " 3 \xC3\xA9t\xC3\xA9\n" + HASH_A + " 4 data/b\n");
  ovu_file_manifest manifest;
  ASSERT_EQ(manifest.load_file(path.c_str()), 4);
  ovu_manifest_entry planned[] = {remote_entry("Data/a", HASH_B, 9), remote_entry("\xC3\x89T\xC3\x89", HASH_B, 9)};
  qarn_growable_array plan;
  plan.init(sizeof(ovu_manifest_entry *));
  for (ovu_manifest_entry &entry : planned) {
    ovu_manifest_entry *pointer = &entry;
    ASSERT_EQ(plan.append(&pointer), 1);
  }
  EXPECT_EQ(manifest.forget_entries(plan), 3);
  plan.release();
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"data/b", HASH_A, 4}}));
}

TEST_F(file_manifest_test, forget_case_collisions_drops_every_spelling_of_a_file_recorded_twice) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 Data/a\n" + HASH_A + " 2 keep\n" + HASH_B +
                                                 " 3 data/a\n" + HASH_A + " 4 twice\n" + HASH_A + " 4 twice\n" +
                                                 HASH_B + " 5 DATA/A\n" + HASH_A + " 6 last\n" + HASH_A +
                                                 " 7 Data/a\n");
  ovu_file_manifest manifest;
  start_capture();
  ASSERT_EQ(manifest.load_file(path.c_str()), 8);
  stop_capture();
  EXPECT_EQ(manifest.forget_case_collisions(), 4);
  EXPECT_EQ(entries_of(manifest), (std::vector<listed>{{"keep", HASH_A, 2},
                                                       {"twice", HASH_A, 4},
                                                       {"twice", HASH_A, 4},
                                                       {"last", HASH_A, 6}}));
  EXPECT_EQ(manifest.find("data/a"), nullptr);
  EXPECT_EQ(manifest.find("Data/a"), nullptr);
  EXPECT_EQ(manifest.forget_case_collisions(), 0);
}

// The line length that the updater checks before it records a file is the
// length of the line that save_file writes, and load_file reads back a
// line of the longest such length whole.
TEST_F(file_manifest_test, an_entry_line_of_the_longest_length_reads_back_whole) {
  // Up to ten digits the column keeps its width; from eleven on the line
  // grows by the size's digits, up to the largest file's thirteen.
  const int64_t sizes[] = {0,          7,           999999999,    2147483647,           2147483648,
                           9999999999, 10000000000, 999999999999, QARN_LARGEST_FILE_SIZE};
  for (int64_t size : sizes) {
    size_t fixed = ovu_local_manifest_line_length(std::strlen(HASH_A), size, 0);
    for (size_t extra : {size_t{0}, size_t{1}}) {
      std::string name(OVU_LOCAL_MANIFEST_LINE_MAX - fixed + extra, 'n');
      ovu_file_manifest written;
      ovu_manifest_entry entry = remote_entry(name.c_str(), HASH_A, size);
      ASSERT_EQ(written.set_entry(&entry), 1);
      std::string path = dir.file("long.lst");
      ASSERT_EQ(written.save_file(path.c_str()), 1);
      std::string text = read_file(path);
      EXPECT_EQ(text.size() - std::strlen(HEADER) - 1,
                ovu_local_manifest_line_length(std::strlen(HASH_A), size, name.size()))
          << size;
      ovu_file_manifest loaded;
      start_capture();
      ASSERT_EQ(loaded.load_file(path.c_str()), 1);
      stop_capture();
      EXPECT_EQ(loaded.find(name.c_str()) != nullptr, extra == 0) << size << " " << extra;
    }
  }
}

TEST_F(file_manifest_test, clear_empties_the_list_and_the_index) {
  std::string path = dir.write_file("m.lst", std::string(HASH_A) + " 1 a\n" + HASH_A + " 2 b\n");
  ovu_file_manifest manifest;
  ASSERT_EQ(manifest.load_file(path.c_str()), 2);
  manifest.clear();
  EXPECT_EQ(manifest.first(), nullptr);
  EXPECT_EQ(manifest.find("a"), nullptr);
  EXPECT_EQ(manifest.load_file(path.c_str()), 2);
  EXPECT_NE(manifest.find("b"), nullptr);
}

}  // namespace
