#include "updater/name_screen.h"

#include <cstdlib>
#include <cstring>

#include "updater/case_collisions.h"
#include "updater/file_manifest.h"
#include "updater/printable_name.h"

namespace {

void start_line(qarn_bounded_string_base &line, const char *name) {
  line.assign("Skipping file '");
  ovu_append_printable_name(line, name);
  line.append("' - ");
}

bool fits_local_manifest(const ovu_manifest_entry *entry) {
  size_t hash_len = entry->hash != nullptr ? std::strlen(entry->hash) : 0;
  return ovu_local_manifest_line_length(hash_len, entry->size, std::strlen(entry->name)) <=
         OVU_LOCAL_MANIFEST_LINE_MAX;
}

}  // namespace

ovu_name_screen::ovu_name_screen(ovu_name_rules rules) : rules_(rules) {
  collisions_.init(sizeof(ovu_case_collision));
}

ovu_name_screen::~ovu_name_screen() {
  std::free(names_);
  collisions_.release();
}

int ovu_name_screen::examine(const ovu_manifest_entry *head) {
  int32_t count = 0;
  for (const ovu_manifest_entry *entry = head; entry != nullptr; entry = entry->next) {
    count++;
  }
  names_ = static_cast<const char **>(std::malloc(sizeof(*names_) * (static_cast<size_t>(count) + 1)));
  if (names_ == nullptr) {
    return 0;
  }
  int32_t position = 0;
  for (const ovu_manifest_entry *entry = head; entry != nullptr; entry = entry->next) {
    names_[position++] = entry->name;
  }
  return ovu_find_case_collisions(names_, count, collisions_);
}

bool ovu_name_screen::refuses(const ovu_manifest_entry *entry, qarn_bounded_string_base &line) {
  bool refused = true;
  ovu_name_problem problem = ovu_check_file_name(entry->name, rules_);
  if (problem != OVU_NAME_SAFE) {
    start_line(line, entry->name);
    line.append("unsafe name (").append(ovu_name_problem_text(problem)).append(").");
  } else if (!fits_local_manifest(entry)) {
    start_line(line, entry->name);
    line.append_format("its line in the local manifest would be longer than %d characters.",
                       static_cast<int>(OVU_LOCAL_MANIFEST_LINE_MAX));
  } else {
    refused = collides(entry, line);
  }
  position_++;
  return refused;
}

// Whether the entry at the current position is a later spelling of an
// earlier entry's file.
bool ovu_name_screen::collides(const ovu_manifest_entry *entry, qarn_bounded_string_base &line) {
  while (next_collision_ < collisions_.count) {
    const ovu_case_collision *collision = static_cast<const ovu_case_collision *>(collisions_.at(next_collision_));
    if (collision->index > position_) {
      return false;
    }
    next_collision_++;
    if (collision->index == position_) {
      start_line(line, entry->name);
      line.append("the same file on Windows as '");
      ovu_append_printable_name(line, names_[collision->earlier]);
      line.append("'.");
      return true;
    }
  }
  return false;
}
