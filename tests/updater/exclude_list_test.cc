#include "updater/exclude_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/scratch_directory.h"

namespace {

std::vector<std::string> names_of(const ovu_manifest_entry *list) {
  std::vector<std::string> names;
  for (; list != nullptr; list = list->next) {
    names.push_back(list->name);
    EXPECT_EQ(list->hash, nullptr);
    EXPECT_EQ(list->size, 0);
  }
  return names;
}

TEST(exclude_list_test, takes_the_rest_of_each_line_and_skips_comments_and_empty_lines) {
  scratch_directory dir;
  std::string path = dir.write_file("x.lst", "# players' own files\n"
                                             "config.ini\n"
                                             "  \t saves/slot 1.dat  \n"
                                             "\n"
                                             "   # indented comment\r\n"
                                             "0123456789 12 looks/like/an/entry\n"
                                             "last");
  ovu_manifest_entry *list = nullptr;
  EXPECT_EQ(load_exclude_file(&list, path.c_str()), 4);
  EXPECT_EQ(names_of(list), (std::vector<std::string>{"config.ini", "saves/slot 1.dat  ",
                                                      "0123456789 12 looks/like/an/entry", "last"}));
  ovu_free_manifest_list(&list);
  EXPECT_EQ(list, nullptr);
}

TEST(exclude_list_test, appends_to_a_list_that_has_entries) {
  scratch_directory dir;
  std::string first = dir.write_file("a.lst", "one\n");
  std::string second = dir.write_file("b.lst", "two\nthree\n");
  ovu_manifest_entry *list = nullptr;
  EXPECT_EQ(load_exclude_file(&list, first.c_str()), 1);
  EXPECT_EQ(load_exclude_file(&list, second.c_str()), 2);
  EXPECT_EQ(names_of(list), (std::vector<std::string>{"one", "two", "three"}));
  ovu_free_manifest_list(&list);
}

TEST(exclude_list_test, a_missing_file_gives_minus_one_and_an_empty_one_zero) {
  scratch_directory dir;
  ovu_manifest_entry *list = nullptr;
  EXPECT_EQ(load_exclude_file(&list, dir.file("absent.lst").c_str()), -1);
  EXPECT_EQ(list, nullptr);
  std::string empty = dir.write_file("empty.lst", "");
  EXPECT_EQ(load_exclude_file(&list, empty.c_str()), 0);
  EXPECT_EQ(list, nullptr);
}

}  // namespace
