// An edit: the transition placed inside its clips by --offset and
// --duration, timed as FFmpeg's xfade, each clip cut to its --from/--to,
// with the clips' sound crossfaded over it.
#pragma once

#include <memory>
#include <optional>

#include "audio_mix.h"
#include "command_line.h"
#include "transition_setup.h"

namespace granulix::cli {

struct Edit {
    double offset = 0, duration = 0;
};

// --offset and --duration, checked against the rest of the command line;
// none for the plain transition.
std::optional<Edit> editOf(const CommandLine& line);

// Places the edit in the plan; with `soundKept`, its sound, none when
// neither clip has any.
std::unique_ptr<SoundTrack> planEditWithSound(const CommandLine& line, Transition& t,
                                              const Edit& edit, bool soundKept);

}  // namespace granulix::cli
