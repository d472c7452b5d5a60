// Replacing the process, the administrator test and the elevated start.
#include "platform/process.h"

#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "platform/win32/elevated_start.h"
#include "platform/win32/wide_text.h"

namespace {

// The built-in Administrators group is the NT authority's identifier with the
// sub-authorities of the built-in domain and of its administrators alias.
constexpr BYTE ADMINISTRATORS_SUB_AUTHORITY_COUNT = 2;

// Most arguments an image is started with; the launcher passes one.
constexpr int MAX_EXEC_ARGUMENTS = 32;

// The UTF-16 forms of the null-terminated argument vector |argv|, for the
// life of the object.
class wide_arguments {
 public:
  explicit wide_arguments(char *const argv[]) {
    for (int i = 0; argv[i] != nullptr; i++) {
      if (i == MAX_EXEC_ARGUMENTS) {
        errno = E2BIG;
        return;
      }
      texts_[i] = win32_wide_copy(argv[i]);
      if (texts_[i] == nullptr) {
        return;  // errno tells why
      }
    }
    complete_ = true;
  }
  ~wide_arguments() {
    for (wchar_t *text : texts_) {
      std::free(text);
    }
  }
  wide_arguments(const wide_arguments &) = delete;
  wide_arguments &operator=(const wide_arguments &) = delete;

  // vector returns the null-terminated UTF-16 vector, or null when one of
  // the arguments could not be converted (errno says why).
  const wchar_t *const *vector() const { return complete_ ? texts_ : nullptr; }

 private:
  bool complete_ = false;
  wchar_t *texts_[MAX_EXEC_ARGUMENTS + 1] = {};  // owned; null after the last
};

}  // namespace

int platform_exec(const char *path, char *const argv[]) {
  if (path == nullptr || argv == nullptr) {
    errno = EFAULT;
    return -1;
  }
  win32_wide_text wide_path(path);
  wide_arguments wide_argv(argv);
  if (wide_path.text() == nullptr || wide_argv.vector() == nullptr) {
    return -1;
  }
  // _wexecv starts the image as a new process and ends this one with exit
  // code 0; it comes back only when the start failed.
  return static_cast<int>(_wexecv(wide_path.text(), wide_argv.vector()));
}

int platform_is_user_admin() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&authority, ADMINISTRATORS_SUB_AUTHORITY_COUNT,
                                SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                0, 0, 0, &administrators)) {
    return 0;
  }
  BOOL is_member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &is_member)) {
    is_member = FALSE;
  }
  FreeSid(administrators);
  return is_member ? 1 : 0;
}

int platform_start_elevated(const char *program, const char *parameters) {
  return win32_start_elevated(win32_shell_start_with_shell_execute, program, parameters);
}
