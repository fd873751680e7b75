// The frei0r exports of the Granulix mixer. Each checks its arguments and
// hands over to Mixer; nothing is thrown to the host.
#include <cstdint>
#include <string>
#include <vector>

#include "frei0r_mixer.h"

// The header declares the calls without C linkage.
extern "C" {
#include <frei0r.h>
}

using granulix::SettingsField;
using namespace granulix::frei0r;

namespace {

Mixer* mixerOf(f0r_instance_t instance) { return static_cast<Mixer*>(instance); }

std::string explanationOf(const SettingsField& f) {
    std::string text = f.meaning + ". Whole values " + std::to_string(f.minimum) + ".." +
                       std::to_string(f.maximum) + ": value v is v / " + std::to_string(f.maximum) +
                       "; default " + std::to_string(f.defaultValue);
    if (f.isKind) {
        text += " (";
        for (int k = 0; k <= int(granulix::kLastSourceKind); ++k) {
            text += (k ? ", " : "") + std::to_string(k) + " " + granulix::kSourceKindNames[k];
        }
        text += ")";
    }
    return text;
}

// Built once, kept for the life of the library: hosts hold on to the texts.
const std::vector<std::string>& explanations() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> list;
        for (const SettingsField* f : fieldParameters()) list.push_back(explanationOf(*f));
        return list;
    }();
    return texts;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int f0r_init() {
    try {
        explanations();
        return 1;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) void f0r_deinit() {}

__attribute__((visibility("default"))) void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = kPluginName;
    info->author = "Granulix";
    info->plugin_type = F0R_PLUGIN_TYPE_MIXER2;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = parameterCount();
    info->explanation = kPluginExplanation;
}

__attribute__((visibility("default"))) void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (!info || index < 0 || index >= parameterCount()) return;
    if (index == kProgressParam) {
        info->name = kProgressParamName;
        info->type = F0R_PARAM_DOUBLE;
        info->explanation =
            "Point of the transition: 0 shows the first input, 1 the second; counted in "
            "steps of 1/65536";
    } else if (index == kSettingsFileParam) {
        info->name = kSettingsFileParamName;
        info->type = F0R_PARAM_STRING;
        info->explanation =
            "A .qlb settings file, read when the name changes and applied before the single "
            "fields; a field left at its default keeps the file's value";
    } else {
        const size_t i = size_t(index - kFirstFieldParam);
        info->name = fieldParameters()[i]->paramName.c_str();
        info->type = F0R_PARAM_DOUBLE;
        info->explanation = explanations()[i].c_str();
    }
}

__attribute__((visibility("default"))) f0r_instance_t f0r_construct(unsigned int width,
                                                                    unsigned int height) {
    try {
        return new Mixer(width, height);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) void f0r_destruct(f0r_instance_t instance) {
    delete mixerOf(instance);
}

__attribute__((visibility("default"))) void f0r_set_param_value(f0r_instance_t instance,
                                                                f0r_param_t param, int index) {
    Mixer* mixer = mixerOf(instance);
    if (!mixer || !param) return;
    try {
        if (index == kProgressParam) {
            mixer->setProgress(*static_cast<const double*>(param));
        } else if (index == kSettingsFileParam) {
            mixer->setSettingsFile(*static_cast<const char* const*>(param));
        } else {
            mixer->setField(index - kFirstFieldParam, *static_cast<const double*>(param));
        }
    } catch (...) {
    }
}

__attribute__((visibility("default"))) void f0r_get_param_value(f0r_instance_t instance,
                                                                f0r_param_t param, int index) {
    const Mixer* mixer = mixerOf(instance);
    if (!mixer || !param) return;
    if (index == kProgressParam) {
        *static_cast<double*>(param) = mixer->progress();
    } else if (index == kSettingsFileParam) {
        *static_cast<const char**>(param) = mixer->settingsFile();
    } else if (index >= kFirstFieldParam && index < parameterCount()) {
        *static_cast<double*>(param) = mixer->field(index - kFirstFieldParam);
    }
}

__attribute__((visibility("default"))) void f0r_update(f0r_instance_t, double, const uint32_t*,
                                                       uint32_t*) {}

__attribute__((visibility("default"))) void f0r_update2(f0r_instance_t instance, double,
                                                        const uint32_t* inframe1,
                                                        const uint32_t* inframe2, const uint32_t*,
                                                        uint32_t* outframe) {
    Mixer* mixer = mixerOf(instance);
    if (!mixer) return;
    try {
        mixer->update(inframe1, inframe2, outframe);
    } catch (...) {
    }
}

}  // extern "C"
