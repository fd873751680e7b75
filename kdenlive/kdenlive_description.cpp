// Writes Kdenlive's description of the frei0r plug-in: the XML file that
// Kdenlive reads from a `transitions` folder to list Granulix among its
// compositions and same-track mixes and to build its panel. Every parameter
// comes from the plug-in's own list, which is the settings table's, so the
// build writes the file afresh whenever the table changes.
//
//   kdenlive_description OUTPUT.xml
//
// Each field is shown in its own whole units: Kdenlive multiplies the
// plug-in's value by `factor` (the field's maximum, as the plug-in maps it)
// and writes back the shown value divided by it. Lists carry the plug-in's
// values written as MLT writes a number into a project ("%g"), so that a
// value Kdenlive saved is one of the list's own.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frei0r_mixer.h"
#include "settings_table.h"

namespace {

using granulix::SettingsField;
namespace frei0r = granulix::frei0r;

// The names the setup pages give each state of the two bits of a flag
// field (bit 0 clear, bit 0 set, bit 1 clear, bit 1 set); an empty name
// says nothing of that state.
struct FlagNames {
    const char* field;
    const char* states[4];
};
constexpr FlagNames kFlagNames[] = {
    {"orderFlags", {"U->D", "D->U", "L->R", "R->L"}},
    {"holdFlags", {"", "Clip 1", "", "Clip 2"}},
};

// Fields whose range is a strength of 0..255 (0..256 for the two centres)
// change smoothly with their value and may be animated over a transition;
// the grid's cell sizes and repeats stay as they are.
bool keyframable(const SettingsField& f) {
    return f.minimum == 0 && (f.maximum == 255 || f.maximum == 256);
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// A number as MLT writes it into a project.
std::string mltNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string pluginValue(const SettingsField& f, int32_t value) {
    return mltNumber(frei0r::unitFromField(f, value));
}

// Decimals a slider shows. Kdenlive keeps a value it has saved to six
// significant digits and shows a whole-number field with the fraction cut
// off, so 4 of 0..4096, kept as 0.000976562, would show as 3. Where some
// whole value of the range comes back below itself, the slider shows one
// decimal, which rounds it back to the whole value.
int sliderDecimals(const SettingsField& f) {
    const double factor = double(f.maximum);
    for (int32_t v = f.minimum; v <= f.maximum; ++v) {
        const double kept = std::strtod(mltNumber(double(v) / factor).c_str(), nullptr);
        if (int32_t(kept * factor) != v) return 1;
    }
    return 0;
}

// A slider's default: Kdenlive shows a whole-number field as the plug-in's
// value times the factor with the fraction cut off, so the default is
// written in full as the least number that shows the whole value.
std::string sliderDefault(const SettingsField& f) {
    const double factor = double(f.maximum);
    double unit = frei0r::unitFromField(f, f.defaultValue);
    while (unit * factor < double(f.defaultValue)) unit = std::nextafter(unit, 2.0);
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", unit);
    return text;
}

// "speed-variance" as "Speed variance", "xy-balance" as "XY balance".
std::string label(const std::string& paramName) {
    std::string out;
    std::istringstream words(paramName);
    for (std::string word; std::getline(words, word, '-');) {
        if (word.size() <= 2) {
            for (char& c : word) c = char(std::toupper(static_cast<unsigned char>(c)));
        }
        out += (out.empty() ? "" : " ") + word;
    }
    out[0] = char(std::toupper(static_cast<unsigned char>(out[0])));
    return out;
}

// The shown name of each value of a list field; empty for a field that is
// not one.
std::vector<std::string> valueNames(const SettingsField& f) {
    std::vector<std::string> names;
    if (f.isKind) {
        for (int32_t v = f.minimum; v <= f.maximum; ++v) {
            names.push_back(granulix::kSourceKindNames[v]);
        }
        return names;
    }
    for (const FlagNames& flags : kFlagNames) {
        if (f.name != flags.field) continue;
        for (int32_t v = f.minimum; v <= f.maximum; ++v) {
            std::string name;
            for (int bit = 0; bit < 2; ++bit) {
                const std::string state = flags.states[2 * bit + (v >> bit & 1)];
                if (state.empty()) continue;
                name += (name.empty() ? "" : " + ") + state;
            }
            names.push_back(name.empty() ? "None" : name);
        }
    }
    return names;
}

void writeField(std::ostream& out, const SettingsField& f) {
    const std::vector<std::string> names = valueNames(f);
    const bool slider = names.empty() && f.maximum > 1;
    const std::string common = "name=\"" + escaped(f.paramName) + "\" default=\"" +
                               (slider ? sliderDefault(f) : pluginValue(f, f.defaultValue)) + "\"";
    if (!names.empty()) {
        std::string values, shown;
        for (int32_t v = f.minimum; v <= f.maximum; ++v) {
            values += (v == f.minimum ? "" : ";") + pluginValue(f, v);
            shown += (v == f.minimum ? "" : ",") + names[size_t(v - f.minimum)];
        }
        out << "    <parameter type=\"list\" " << common << " paramlist=\"" << values << "\">\n"
            << "        <paramlistdisplay>" << escaped(shown) << "</paramlistdisplay>\n";
    } else if (!slider) {
        out << "    <parameter type=\"bool\" " << common << ">\n";
    } else {
        out << "    <parameter type=\"" << (keyframable(f) ? "animated" : "double") << "\" "
            << common << " min=\"" << f.minimum << "\" max=\"" << f.maximum << "\" factor=\""
            << f.maximum << "\" decimals=\"" << sliderDecimals(f) << "\">\n";
    }
    out << "        <name>" << escaped(label(f.paramName)) << "</name>\n"
        << "        <comment>" << escaped(f.meaning) << "</comment>\n"
        << "    </parameter>\n";
}

void writeDescription(std::ostream& out) {
    const std::string tag = std::string("frei0r.") + frei0r::kPluginName;
    out << "<?xml version=\"1.0\"?>\n"
        << "<!DOCTYPE kpartgui>\n"
        << "<!-- Written by kdenlive_description from the settings table. -->\n"
        << "<transition tag=\"" << tag << "\" id=\"" << tag << "\" type=\"short\">\n"
        << "    <name>Granulix</name>\n"
        << "    <description>" << escaped(frei0r::kPluginExplanation) << "</description>\n"
        << "    <author>Granulix</author>\n"
        // Unticked, progress runs from 0 at the composition's first frame to
        // 1 at its last; ticked, from 1 to 0.
        << "    <parameter type=\"switch\" name=\"" << frei0r::kProgressParamName
        << "\" default=\"0=0;-1=1\" min=\"0=0;-1=1\" max=\"0=1;-1=0\">\n"
        << "        <name>Reverse</name>\n"
        << "        <comment>Runs the transition backwards: from the second clip to the "
           "first</comment>\n"
        << "    </parameter>\n"
        << "    <parameter type=\"url\" name=\"" << frei0r::kSettingsFileParamName
        << "\" default=\"\" filter=\"*.qlb\">\n"
        << "        <name>Settings file</name>\n"
        << "        <comment>A .qlb settings file, applied before the fields below; a field "
           "left at its default keeps the file's value</comment>\n"
        << "    </parameter>\n";
    for (const SettingsField* f : frei0r::fieldParameters()) writeField(out, *f);
    out << "</transition>\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kdenlive_description OUTPUT.xml\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        writeDescription(out);
        out.close();
        if (!out) {
            std::fprintf(stderr, "kdenlive_description: cannot write %s\n", temporary.c_str());
            std::remove(temporary.c_str());
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::perror(("kdenlive_description: " + path).c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
