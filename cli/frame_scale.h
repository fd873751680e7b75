// Resizes a host frame with libswscale (for the contact sheet's tiles).
#pragma once

#include "host_frame.h"

namespace granulix::cli {

HostFrame scaleFrame(const HostFrame& frame, int32_t width, int32_t height);

}  // namespace granulix::cli
