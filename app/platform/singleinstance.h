// One running copy per user session. Free of Qt so that every build of the
// platform layer (and a bare syntax check of the Windows side) can include it.
#pragma once

namespace platform {

// Claims `name` for this process. True when no other live process of the same
// user session holds it; the claim then lasts until this process ends, however
// it ends. False means another instance runs.
bool acquireSingleInstance(const char* name);

} // namespace platform
