// Which file names from a manifest may be installed. A name is joined to
// the installation directory, so it must stay inside it and must not name
// a device: no absolute path, no drive or stream colon, no empty or ".."
// component (with "/" or "\" between components), and where the system
// reserves device names, none of them as a component.
#ifndef TORVANE_UPDATER_FILE_NAME_SAFETY_H
#define TORVANE_UPDATER_FILE_NAME_SAFETY_H

enum ovu_name_problem {
  OVU_NAME_SAFE,
  OVU_NAME_ABSOLUTE,          // starts with "/" or "\"
  OVU_NAME_COLON,             // a drive ("C:") or a stream ("a:b")
  OVU_NAME_EMPTY_COMPONENT,   // empty name, "a//b", "a/"
  OVU_NAME_PARENT_COMPONENT,  // ".." anywhere as a component
  OVU_NAME_DEVICE,            // CON, PRN, AUX, NUL, COM1-9, LPT1-9 (any extension)
};

// ovu_check_file_name returns what makes |name| unsafe, or OVU_NAME_SAFE.
// Device names count only when |reserve_device_names| is nonzero. A null
// name is an empty component.
ovu_name_problem ovu_check_file_name(const char *name, int reserve_device_names);

// ovu_name_problem_text returns a short phrase that says what is wrong with
// a name: static text, never null.
const char *ovu_name_problem_text(ovu_name_problem problem);

#endif
