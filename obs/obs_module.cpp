// The OBS module granulix-obs: registers the Granulix transition.
#include <obs-module.h>

#include "obs_transition.h"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE("granulix-obs", "en-US")

MODULE_EXPORT const char* obs_module_description(void) {
    return "Granulix: a particle-dissolve scene transition";
}

bool obs_module_load(void) {
    obs_register_source(&granulix::obs::transitionInfo());
    return true;
}
