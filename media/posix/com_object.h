// The shape of every object of the Linux COM runtime: a COM object (media/com_object.h)
// counted among the runtime's live objects.
#pragma once

#include "media/com_object.h"
#include "media/posix/runtime.h"

namespace media {

template <typename... Interfaces>
class RuntimeComObject : public RuntimeObject, public ComObject<Interfaces...> {};

// The runtime's enumerators over snapshots: the fetched count may be missing only for one
// item, as the system's rule has it.
inline constexpr EnumRules kRuntimeEnumRules{true, false, E_OUTOFMEMORY};
template <typename Enum, typename Stored>
using RuntimeEnum = Enumerator<Snapshot<Enum, Stored>, RuntimeObject, kRuntimeEnumRules>;

}  // namespace media
