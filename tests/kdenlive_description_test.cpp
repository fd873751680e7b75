// Kdenlive's description of the frei0r plug-in, read as Kdenlive reads it:
// every value its panel can write, turned into the plug-in's units as
// Kdenlive does (shown value / factor, or a list entry as it stands), and
// saved into a project as MLT saves a number ("%g"), must give the plug-in
// exactly that whole value of the field; the ends of each range are the
// settings table's ends and each default is the table's default.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "frei0r_mixer.h"
#include "settings_table.h"

namespace {

using namespace granulix;

using Attributes = std::map<std::string, std::string>;

struct Parameter {
    Attributes attributes;
    std::string body;  // the text between <parameter ...> and </parameter>
    std::string at(const std::string& key) const {
        const auto it = attributes.find(key);
        return it == attributes.end() ? std::string("<missing>") : it->second;
    }
};

std::vector<Parameter> readDescription() {
    std::ifstream in(GRANULIX_KDENLIVE_DESCRIPTION);
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    std::vector<Parameter> list;
    const std::regex parameter(R"(<parameter\s([^>]*)>([\s\S]*?)</parameter>)");
    const std::regex attribute(R"re((\w+)="([^"]*)")re");
    for (std::sregex_iterator p(xml.begin(), xml.end(), parameter), end; p != end; ++p) {
        Parameter row;
        const std::string tag = (*p)[1];
        for (std::sregex_iterator a(tag.begin(), tag.end(), attribute); a != end; ++a) {
            row.attributes[(*a)[1]] = (*a)[2];
        }
        row.body = (*p)[2];
        list.push_back(row);
    }
    return list;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// What the plug-in makes of a value as a project holds it.
int32_t fieldFromProject(const std::string& saved, int index) {
    frei0r::Mixer mixer(16, 16);
    mixer.setField(index, std::strtod(saved.c_str(), nullptr));
    return fieldValue(mixer.settings(), *frei0r::fieldParameters()[size_t(index)]);
}

// A number as MLT writes it into a project.
std::string saved(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

int parameterIndex(const std::string& name) {
    const auto& fields = frei0r::fieldParameters();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i]->paramName == name) return int(i);
    }
    return -1;
}

TEST(KdenliveDescription, EveryShownValueReachesThePluginExactly) {
    const std::vector<Parameter> parameters = readDescription();
    ASSERT_EQ(parameters.size(), size_t(frei0r::parameterCount()));
    for (const Parameter& p : parameters) {
        const std::string name = p.at("name"), type = p.at("type");
        SCOPED_TRACE(name);
        if (name == frei0r::kProgressParamName) {
            EXPECT_EQ(type, "switch");
            EXPECT_EQ(p.at("default"), "0=0;-1=1");
            EXPECT_EQ(p.at("min"), "0=0;-1=1");
            EXPECT_EQ(p.at("max"), "0=1;-1=0");
            continue;
        }
        if (name == frei0r::kSettingsFileParamName) {
            EXPECT_EQ(type, "url");
            EXPECT_EQ(p.at("filter"), "*.qlb");
            EXPECT_EQ(p.at("default"), "");
            continue;
        }
        const int index = parameterIndex(name);
        ASSERT_GE(index, 0) << "not a parameter of the plug-in";
        const SettingsField& f = *frei0r::fieldParameters()[size_t(index)];
        EXPECT_EQ(fieldFromProject(p.at("default"), index), f.defaultValue);
        if (type == "list") {
            const std::vector<std::string> values = split(p.at("paramlist"), ';');
            const std::smatch shown = [&] {
                std::smatch m;
                std::regex_search(p.body, m,
                                  std::regex("<paramlistdisplay>(.*)</paramlistdisplay>"));
                return m;
            }();
            ASSERT_EQ(values.size(), size_t(f.maximum - f.minimum + 1));
            ASSERT_EQ(split(shown[1], ',').size(), values.size());
            for (size_t i = 0; i < values.size(); ++i) {
                EXPECT_EQ(values[i], saved(std::strtod(values[i].c_str(), nullptr)))
                    << "an entry saved and read back is no longer the same entry";
                EXPECT_EQ(fieldFromProject(values[i], index), f.minimum + int32_t(i));
            }
        } else if (type == "bool") {
            ASSERT_EQ(f.minimum, 0);
            ASSERT_EQ(f.maximum, 1);
            EXPECT_EQ(fieldFromProject("0", index), 0);
            EXPECT_EQ(fieldFromProject("1", index), 1);
        } else {
            ASSERT_TRUE(type == "animated" || type == "double") << type;
            EXPECT_EQ(p.at("min"), std::to_string(f.minimum));
            EXPECT_EQ(p.at("max"), std::to_string(f.maximum));
            const double factor = std::strtod(p.at("factor").c_str(), nullptr);
            const std::string decimals = p.at("decimals");
            ASSERT_TRUE(decimals == "0" || decimals == "1") << decimals;
            // What Kdenlive's slider shows for a value it holds: with no
            // decimals the fraction cut off, with one rounded to a tenth.
            auto shownRight = [&](double unit, int32_t whole) {
                const double shown = unit * factor;
                return decimals == "0" ? int32_t(shown) == whole
                                       : std::lround(shown * 10) == int64_t(whole) * 10;
            };
            EXPECT_TRUE(shownRight(std::strtod(p.at("default").c_str(), nullptr), f.defaultValue))
                << "the default is shown as another value";
            for (int32_t v = f.minimum; v <= f.maximum; ++v) {
                const std::string kept = saved(v / factor);
                ASSERT_EQ(fieldFromProject(kept, index), v) << "shown " << v;
                ASSERT_TRUE(shownRight(std::strtod(kept.c_str(), nullptr), v))
                    << v << " saved comes back shown as another value";
            }
        }
    }
}

}  // namespace
