// The shape of every object of the Linux COM runtime: a COM object (media/com_object.h)
// counted among the runtime's live objects.
#pragma once

#include "media/com_object.h"
#include "media/posix/runtime.h"

namespace media {

template <typename... Interfaces>
class RuntimeComObject : public RuntimeObject, public ComObject<Interfaces...> {};

}  // namespace media
