// Replacing the process, the administrator test and the elevated start.
#include "platform/process.h"

#include <process.h>
#include <windows.h>
#include <shellapi.h>

namespace {

// The built-in Administrators group is the NT authority's identifier with the
// sub-authorities of the built-in domain and of its administrators alias.
constexpr BYTE ADMINISTRATORS_SUB_AUTHORITY_COUNT = 2;

}  // namespace

int platform_exec(const char *path, char *const argv[]) {
  // _execv starts the image as a new process and ends this one with exit
  // code 0; it comes back only when the start failed.
  return static_cast<int>(_execv(path, const_cast<const char *const *>(argv)));
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
  HINSTANCE result = ShellExecuteA(nullptr, "runas", program, parameters, nullptr, SW_SHOW);
  return static_cast<int>(reinterpret_cast<intptr_t>(result));
}
