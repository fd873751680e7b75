// Granulix as an OBS Studio scene transition.
//
// OBS hands the transition both scenes as RGBA textures each frame. The
// transition copies them into memory, mixes them on the CPU through the
// engine's renderer with the engine's threads (the same bits as every other
// way in, for the same picture, settings and progress), uploads the mix and
// draws it, opaque. To keep the graphics thread from waiting on the readback
// of the textures it has just drawn, each frame stages its scenes and mixes
// the ones staged the frame before: the picture is one frame late, and the
// first frame of a run shows the scene being left as it is (at time 0 the
// mix is that scene). The sound is crossfaded at equal power.
//
// Settings: one property per field of the settings table in its own whole
// values, a settings file (.qlb or JSON) whose fields are copied into those
// properties when it is chosen, and a button that puts everything back to
// the defaults. A file that cannot be read is reported once in OBS's log and
// the settings in force stay. Nothing thrown crosses into OBS.
#pragma once

struct obs_source_info;

namespace granulix::obs {

// The transition's description for obs_register_source.
const obs_source_info& transitionInfo();

}  // namespace granulix::obs
