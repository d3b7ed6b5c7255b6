// The world-access descriptor shared by every named object this backend creates.
#include "platform/win32/world_access.h"

namespace platform::win32 {
namespace {

struct WorldAccess {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  unsigned char acl[64];  // sizeof(ACL) + ACE + SID of one sub-authority

  WorldAccess() {
    sa.nLength = sizeof sa;
    sa.bInheritHandle = FALSE;
    sa.lpSecurityDescriptor = &sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) return;
    const DWORD aclSize = GetLengthSid(sid) + 16 + sizeof(ACL);
    if (aclSize <= sizeof acl && InitializeAcl(reinterpret_cast<ACL*>(acl), aclSize, ACL_REVISION) &&
        AddAccessAllowedAce(reinterpret_cast<ACL*>(acl), ACL_REVISION, GENERIC_ALL, sid)) {
      SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<ACL*>(acl), FALSE);
    }
    FreeSid(sid);
  }
};

}  // namespace

SECURITY_ATTRIBUTES* WorldAccessAttributes() {
  static WorldAccess access;
  return &access.sa;
}

}  // namespace platform::win32
