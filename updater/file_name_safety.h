// Which file names from a manifest may be installed. A name is joined to
// the installation directory, so it must stay inside it, must name one
// file by one spelling only, must not name a device, and must leave the
// launcher's own files alone:
//
//   everywhere   no absolute path, no drive or stream colon, no empty, "."
//                or ".." component (with "/" or "\" between components),
//                no carriage return (the local manifest's lines end at
//                one), and no name of the launcher's own files and folder
//                or under one of them, in any case;
//   on Windows   also valid UTF-8, no device name (CON, NUL, COM1, CONIN$,
//                ...) as a component, no control character or one of
//                < > " | ? *, and no component that ends in a dot or a
//                blank (Windows drops those, so "a." would be "a").
//
// A name of the launcher's own files is refused in any case on every
// system: on a file system that ignores case, which a Linux installation
// can have too, "TMP/x" lands in the launcher's own folder.
#ifndef TORVANE_UPDATER_FILE_NAME_SAFETY_H
#define TORVANE_UPDATER_FILE_NAME_SAFETY_H

enum ovu_name_problem {
  OVU_NAME_SAFE,
  OVU_NAME_ABSOLUTE,              // starts with "/" or "\"
  OVU_NAME_COLON,                 // a drive ("C:") or a stream ("a:b")
  OVU_NAME_EMPTY_COMPONENT,       // empty name, "a//b", "a/"
  OVU_NAME_PARENT_COMPONENT,      // ".." anywhere as a component
  OVU_NAME_DEVICE,                // CON, PRN, AUX, NUL, COM0-9, LPT0-9, COM and LPT with ¹²³,
                                  // CONIN$, CONOUT$ (any extension)
  OVU_NAME_DOT_COMPONENT,         // "." anywhere as a component: "./a" is "a"
  OVU_NAME_CARRIAGE_RETURN,       // the local manifest could not keep it
  OVU_NAME_LAUNCHER_FILE,         // the launcher's own file or folder, or under one
  OVU_NAME_NOT_UTF8,              // Windows has no name for it
  OVU_NAME_CONTROL_CHARACTER,     // bytes 1 to 31
  OVU_NAME_RESERVED_CHARACTER,    // < > " | ? *
  OVU_NAME_TRAILING_DOT_OR_BLANK, // a component ends in "." or " "
};

// The rules a name must follow: those of every system, or Windows' too.
enum ovu_name_rules {
  OVU_NAME_RULES_EVERYWHERE,
  OVU_NAME_RULES_WINDOWS,
};

// ovu_check_file_name returns what makes |name| unsafe under |rules|, or
// OVU_NAME_SAFE. A null name is an empty component.
ovu_name_problem ovu_check_file_name(const char *name, ovu_name_rules rules);

// ovu_name_problem_text returns a short phrase that says what is wrong with
// a name: static text, never null.
const char *ovu_name_problem_text(ovu_name_problem problem);

#endif
